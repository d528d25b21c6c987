// One end of the conversation between the guard service and the program over
// a pair of unnamed pipes: a thread that reads frames into messages, a
// thread that writes what is queued, so that neither side ever waits for the
// other. A peer that is killed, suspended or never reads costs the other
// side nothing but the messages that do not fit.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "guard/protocol.h"
#include "system/win32/handle.h"

namespace dadado::win32 {

class PipeChannel {
 public:
  // Messages kept for the other side before the oldest are dropped, and
  // received messages kept before the peer counts as hostile.
  static constexpr std::size_t kMaxQueued = 512;
  // What a face may send the service in one second; ours sends a few small
  // messages at most, and now and then the settings (a few kilobytes).
  static constexpr std::size_t kFaceMessagesPerSecond = 100;
  static constexpr std::size_t kFaceBytesPerSecond = 2 * protocol::kMaxFrameBytes;
  static protocol::ReadBudget FaceBudget() { return {kFaceMessagesPerSecond, kFaceBytesPerSecond}; }

  // Takes both ends; `on_arrival` runs on the reading thread whenever whole
  // messages arrive or the channel breaks (it must only post or signal).
  // A peer that spends more than `budget` allows in a second (none: no
  // limit) breaks the channel.
  PipeChannel(UniqueHandle read, UniqueHandle write, std::function<void()> on_arrival,
              std::optional<protocol::ReadBudget> budget = std::nullopt);
  ~PipeChannel();
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  void Send(const protocol::Message& message);
  // What has arrived, oldest first.
  std::vector<protocol::Message> Received();
  // Waits up to `timeout` for a message that `wanted` accepts and takes it
  // out; the others stay for Received.
  std::optional<protocol::Message> WaitFor(const std::function<bool(const protocol::Message&)>& wanted,
                                           std::chrono::milliseconds timeout);
  // The other side is gone, or sent what is not a message.
  bool broken() const;

  // What the channel's threads share with it (pipe_channel.cpp).
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  HANDLE reader_ = nullptr, writer_ = nullptr;  // the threads
};

}  // namespace dadado::win32
