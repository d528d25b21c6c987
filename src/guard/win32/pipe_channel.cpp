#include "guard/win32/pipe_channel.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace dadado::win32 {

// What the two threads and the owner share. The threads hold it as long as
// they run: the owner may go first, and a thread blocked on a pipe that a
// hostile peer holds open ends only when the pipe does.
struct PipeChannel::Shared {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<protocol::Message> inbox;
  std::deque<std::string> outbox;
  bool broken = false;
  bool closing = false;
  std::optional<protocol::ReadBudget> budget;
  std::function<void()> on_arrival;
  UniqueHandle read, write;

  void Arrived() {
    // Under the lock, so that a closing owner is never called back after.
    if (on_arrival) on_arrival();
    changed.notify_all();
  }
};

namespace {

DWORD WINAPI ReadLoop(void* param) {
  std::unique_ptr<std::shared_ptr<PipeChannel::Shared>> owned(static_cast<std::shared_ptr<PipeChannel::Shared>*>(param));
  auto& s = **owned;
  protocol::FrameReader frames;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(s.read.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.closing) return 0;
    // Decoding costs what was sent, so what was sent is bounded first.
    if (s.budget && !s.budget->Read(got, GetTickCount64())) {
      s.broken = true;
      s.Arrived();
      return 0;
    }
    frames.Feed(std::string_view(buffer, got));
    bool arrived = false;
    while (auto m = frames.Next()) {
      // A flood, at once or kept up: whoever sends it is not our peer.
      if (s.inbox.size() >= PipeChannel::kMaxQueued || (s.budget && !s.budget->Took(GetTickCount64()))) {
        s.broken = true;
        break;
      }
      s.inbox.push_back(std::move(*m));
      arrived = true;
    }
    if (frames.broken()) s.broken = true;
    // Only whole messages wake the owner: a frame dribbled in byte by byte
    // costs it nothing.
    if (arrived || s.broken) s.Arrived();
    if (s.broken) return 0;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  s.broken = true;
  s.Arrived();
  return 0;
}

DWORD WINAPI WriteLoop(void* param) {
  std::unique_ptr<std::shared_ptr<PipeChannel::Shared>> owned(static_cast<std::shared_ptr<PipeChannel::Shared>*>(param));
  auto& s = **owned;
  for (;;) {
    std::string frame;
    {
      std::unique_lock<std::mutex> guard(s.lock);
      s.changed.wait(guard, [&] { return s.closing || s.broken || !s.outbox.empty(); });
      if (s.closing || s.broken) {
        // The other side hears at once that nothing more comes, even while
        // the reading thread still waits on a pipe it keeps open.
        s.write.reset();
        return 0;
      }
      frame = std::move(s.outbox.front());
      s.outbox.pop_front();
    }
    std::size_t at = 0;
    while (at < frame.size()) {
      DWORD put = 0;
      if (!WriteFile(s.write.get(), frame.data() + at, static_cast<DWORD>(frame.size() - at), &put, nullptr) || put == 0) {
        SecureZeroMemory(frame.data(), frame.size());
        std::lock_guard<std::mutex> guard(s.lock);
        s.broken = true;
        s.Arrived();
        return 0;
      }
      at += put;
    }
    // A frame may carry a typed password: written, it is gone from here.
    SecureZeroMemory(frame.data(), frame.size());
  }
}

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, const std::shared_ptr<PipeChannel::Shared>& shared) {
  auto* param = new std::shared_ptr<PipeChannel::Shared>(shared);
  HANDLE thread = CreateThread(nullptr, 0, routine, param, 0, nullptr);
  if (!thread) delete param;
  return thread;
}

}  // namespace

PipeChannel::PipeChannel(UniqueHandle read, UniqueHandle write, std::function<void()> on_arrival,
                         std::optional<protocol::ReadBudget> budget)
    : shared_(std::make_shared<Shared>()) {
  shared_->budget = budget;
  shared_->read = std::move(read);
  shared_->write = std::move(write);
  shared_->on_arrival = std::move(on_arrival);
  reader_ = StartThread(ReadLoop, shared_);
  writer_ = StartThread(WriteLoop, shared_);
  if (!reader_ || !writer_) shared_->broken = true;
}

PipeChannel::~PipeChannel() {
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->closing = true;
    shared_->on_arrival = nullptr;
  }
  shared_->changed.notify_all();
  // A thread blocked on the pipe is let go. A cancel reaches only a call
  // already waiting, so it is repeated while the thread may be on its way
  // into one; a thread that still does not end (a peer holding the pipe in a
  // way no cancel reaches) ends with the pipe, holding only the shared state.
  for (HANDLE thread : {reader_, writer_}) {
    if (!thread) continue;
    for (int attempt = 0; attempt < 10; ++attempt) {
      CancelSynchronousIo(thread);
      if (WaitForSingleObject(thread, 20) != WAIT_TIMEOUT) break;
    }
    CloseHandle(thread);
  }
}

void PipeChannel::Send(const protocol::Message& message) {
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    if (shared_->broken) return;
    if (shared_->outbox.size() >= kMaxQueued) {
      SecureZeroMemory(shared_->outbox.front().data(), shared_->outbox.front().size());
      shared_->outbox.pop_front();
    }
    shared_->outbox.push_back(protocol::Encode(message));
  }
  shared_->changed.notify_all();
}

std::vector<protocol::Message> PipeChannel::Received() {
  std::lock_guard<std::mutex> guard(shared_->lock);
  std::vector<protocol::Message> taken(std::make_move_iterator(shared_->inbox.begin()),
                                       std::make_move_iterator(shared_->inbox.end()));
  shared_->inbox.clear();
  return taken;
}

std::optional<protocol::Message> PipeChannel::WaitFor(const std::function<bool(const protocol::Message&)>& wanted,
                                                      std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(shared_->lock);
  std::optional<protocol::Message> found;
  shared_->changed.wait_for(guard, timeout, [&] {
    for (auto it = shared_->inbox.begin(); it != shared_->inbox.end(); ++it)
      if (wanted(*it)) {
        found = std::move(*it);
        shared_->inbox.erase(it);
        return true;
      }
    return shared_->broken;
  });
  return found;
}

bool PipeChannel::broken() const {
  std::lock_guard<std::mutex> guard(shared_->lock);
  return shared_->broken;
}

}  // namespace dadado::win32
