#include "system/win32/wake_timer.h"

#include "base/calendar.h"

namespace dadado::win32 {

namespace {

constexpr std::int64_t kFileTimeOf1970 = 11644473600LL;  // seconds from 1601 to 1970

}  // namespace

WakeTimer::WakeTimer()
    : timer_(CreateWaitableTimerW(nullptr, FALSE, nullptr)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WakeTimer::~WakeTimer() {
  if (thread_) {
    SetEvent(stop_.get());
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
}

void WakeTimer::Arm(std::optional<std::int64_t> utc) {
  if (!timer_) return;
  if (!utc) {
    CancelWaitableTimer(timer_.get());
    return;
  }
  LARGE_INTEGER due;
  due.QuadPart = (*utc + kFileTimeOf1970) * 10000000LL;
  // fResume: the machine wakes for it. Wake timers left on by the sleep
  // call make it happen.
  SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, TRUE);
}

void WakeTimer::CallBack(std::function<void()> woke) {
  woke_ = std::move(woke);
  if (thread_ || !timer_) return;
  thread_ = CreateThread(
      nullptr, 0,
      [](void* param) -> DWORD {
        auto* self = static_cast<WakeTimer*>(param);
        HANDLE waits[2] = {self->stop_.get(), self->timer_.get()};
        while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
          if (self->woke_) self->woke_();
        return 0;
      },
      this, 0, nullptr);
}

std::optional<std::int64_t> UtcOfSystemLocal(std::int64_t local_seconds) {
  const LocalDateTime t = FromLocalSeconds(local_seconds);
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(t.date.year);
  local.wMonth = static_cast<WORD>(t.date.month);
  local.wDay = static_cast<WORD>(t.date.day);
  local.wHour = static_cast<WORD>(t.second_of_day / 3600);
  local.wMinute = static_cast<WORD>(t.second_of_day / 60 % 60);
  local.wSecond = static_cast<WORD>(t.second_of_day % 60);
  SYSTEMTIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return std::nullopt;
  FILETIME ft{};
  if (!SystemTimeToFileTime(&utc, &ft)) return std::nullopt;
  const std::int64_t ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks / 10000000LL - kFileTimeOf1970;
}

}  // namespace dadado::win32
