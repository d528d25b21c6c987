// A timer that wakes the machine from sleep at an instant (a waitable timer
// set to resume the system). Whoever holds it waits on its handle, or lets
// it call back from a thread of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "system/win32/handle.h"

namespace dadado::win32 {

class WakeTimer {
 public:
  WakeTimer();
  ~WakeTimer();
  WakeTimer(const WakeTimer&) = delete;
  WakeTimer& operator=(const WakeTimer&) = delete;

  // Wakes the machine at this UTC second, or never.
  void Arm(std::optional<std::int64_t> utc);
  HANDLE handle() const { return timer_.get(); }
  // Calls `woke` from a thread of its own each time the timer fires.
  void CallBack(std::function<void()> woke);

 private:
  UniqueHandle timer_;
  UniqueHandle stop_;
  HANDLE thread_ = nullptr;
  std::function<void()> woke_;
};

// A local second of the system's own clock as a UTC second.
std::optional<std::int64_t> UtcOfSystemLocal(std::int64_t local_seconds);

}  // namespace dadado::win32
