// How long the face waits for the service's answer: a real GuardHost behind
// one end of two unnamed pipes made as the service makes them, on a thread of
// its own that wakes on the channel's arrivals as the service's loop does,
// and on the other end the face's side of the conversation as WinApp::Ask
// holds it: send, then PipeChannel::WaitFor the reply. Timed are `cancel`
// with the password while a countdown is open, and `check` (the settings
// gate), which needs none. The host's world is stand-ins: a settings file and
// the service's state in memory (and, for one more row, the file on the disk
// and the state in the registry, as the service keeps them), an operating
// system that records nothing, a clock the benchmark moves, and a platform
// whose SendToFace writes into the pipe.
//
// Each countdown is opened the way the service opens one: the schedule's
// time is set to 121 seconds from the clock's now (its warning is due now),
// the host is told the settings changed, and it is woken. The face sees the
// countdown arrive before it sends its cancel, as a user would.
//
// A benchmark: it prints figures, and FAILED only when the conversation
// itself goes wrong (no reply, a refusal, a countdown that does not open or
// does not close).
//
//   pipe_roundtrip [N]   (1000 of each by default, after 20 of each unmeasured)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "guard/guard_host.h"
#include "guard/guard_settings.h"
#include "guard/protocol.h"
#include "guard/win32/pipe_channel.h"
#include "guard/win32/registry_state_store.h"
#include "protection/password.h"
#include "settings/keys.h"
#include "settings/memory_store.h"
#include "settings/settings_file.h"
#include "settings/text.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"

using namespace dadado;
using namespace dadado::win32;
namespace p = dadado::protocol;

namespace {

constexpr char kPassword[] = "mossgate";
constexpr SessionId kConsole = 1;
// China's zone, as the system would report it: the one the service pins.
const TimeZoneRule kChina{-480, 0, 0, {}, {}};
// How long a step may take before the conversation counts as broken; the
// face itself waits five seconds for a reply.
constexpr auto kReplyWait = std::chrono::seconds(5);
constexpr DWORD kPrepareWaitMs = 10000;
constexpr int kWarmUp = 20;

// An operating system that does what it is asked and keeps nothing.
class QuietOs : public OperatingSystem {
 public:
  std::string ExecutableFolder() override { return "C:\\dadado"; }
  std::string ExecutableBaseName() override { return "dadado"; }
  char PathSeparator() override { return '\\'; }
  std::string SystemFolder() override { return "C:\\Windows\\system32"; }
  bool EnableShutdownPrivilege() override { return true; }
  bool ExitSession(unsigned) override { return true; }
  SystemError LastSystemError() override { return {}; }
  std::optional<RegKey> OpenKey(const std::string&, bool) override { return std::nullopt; }
  std::optional<RegKey> CreateKey(const std::string&) override { return std::nullopt; }
  std::optional<std::string> QueryString(RegKey, const std::string&) override { return std::nullopt; }
  bool SetString(RegKey, const std::string&, const std::string&) override { return true; }
  bool DeleteValue(RegKey, const std::string&) override { return true; }
  void CloseKey(RegKey) override {}
  bool StoreLogonSecret(const std::optional<std::string>&) override { return true; }
  std::optional<bool> LogonSecretStored() override { return false; }
  std::optional<std::string> ReadUserValue(const std::string&) override { return std::nullopt; }
  bool WriteUserValue(const std::string&, const std::string&) override { return true; }
  bool Suspend(bool) override { return true; }
  bool LockSession() override { return true; }
  bool TurnScreenOff() override { return true; }
  void ArmWakeTimer(std::optional<std::int64_t>) override {}
  void KeepAwake(bool) override {}
  int IdleSeconds() override { return 0; }
  std::optional<bool> WakeTimersAllowed() override { return true; }
  bool IsAdministrator() override { return false; }
  PowerSupport PowerCapabilities() override { return {}; }
  bool AllowWakeTimers() override { return true; }
  std::optional<bool> SessionLocked() override { return false; }
  std::optional<Account> CurrentAccount() override { return std::nullopt; }
  std::vector<Account> LocalAccounts() override { return {}; }
  std::optional<std::int64_t> UtcSeconds() override { return std::nullopt; }
  bool StartCommand(const std::string&) override { return true; }
  bool OpenMailLink(const std::string&) override { return true; }
  bool AnotherCopyRunning() override { return false; }
  PolicyValues ReadPolicyValues() override { return {}; }
  void WriteEvent(EventType, int, const std::vector<std::string>&) override {}
  void UpdateEventSource() override {}
};

// The clock the host reads; only the host's thread moves it.
class SteppedClock : public UtcClock {
 public:
  std::int64_t now = 0;
  std::int64_t UtcNow() override { return now; }
};

// Someone at the console, the face running, and what the host sends to the
// face written into the service's end of the pipe.
class PipePlatform : public GuardPlatform {
 public:
  explicit PipePlatform(PipeChannel& channel) : channel_(channel) {}
  std::optional<SessionId> ConsoleUserSession() override { return kConsole; }
  bool SessionLocked(SessionId) override { return false; }
  void StartFace(SessionId) override {}
  bool FaceRunning() override { return true; }
  void ReplaceFace() override {}
  void SendToFace(const p::Message& message) override { channel_.Send(message); }
  bool Perform(unsigned, std::optional<SessionId>) override { return true; }
  std::optional<TimeZoneRule> CurrentTimeZone() override { return kChina; }
  bool Suspend(bool) override { return true; }
  void ArmWake(std::optional<std::int64_t>) override {}
  void KeepAwake(bool) override {}

 private:
  PipeChannel& channel_;
};

// 2026-12-07 09:00:00 in China, as UTC seconds.
constexpr std::int64_t kStartUtc = 1796605200;

std::string SettingsText(std::int64_t due_local) {
  return Utf8ToGbk(std::string("[常规设置]\r\n频率= 0\r\n定时时间=") + InstantText(due_local) +
                   "\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n关机画面= 1\r\n[时间控制]\r\n密码=" + EncodePassword(kPassword) +
                   "\r\n");
}

// The service's side: the host, its pipe end, and the thread that runs them.
class ServiceSide {
 public:
  ServiceSide(FileStore& files, std::string settings_path, GuardStateStore& state, UniqueHandle read, UniqueHandle write)
      : files_(files), settings_path_(std::move(settings_path)), state_(state) {
    HANDLE arrival = arrival_.get();
    channel_ = std::make_unique<PipeChannel>(std::move(read), std::move(write), [arrival] { SetEvent(arrival); });
    clock_.now = kStartUtc;
    // A daily shutdown hours away to begin with: nothing is due.
    files_.WriteAtomically(settings_path_, SettingsText(LocalNow() + 5 * 3600));
    thread_ = std::thread([this] { Run(); });
  }
  ~ServiceSide() {
    SetEvent(stop_.get());
    if (thread_.joinable()) thread_.join();
  }

  // Opens a countdown on the host's thread; false when none opened.
  bool OpenCountdown() {
    SetEvent(prepare_.get());
    if (WaitForSingleObject(ready_.get(), kPrepareWaitMs) != WAIT_OBJECT_0) return false;
    return countdown_opened_.load();
  }
  bool failed() const { return failed_.load(); }

 private:
  std::int64_t LocalNow() const { return LocalSeconds(LocalTimeOf(kChina, clock_.now)); }

  void Run() {
    PipePlatform platform(*channel_);
    QuietOs os;
    GuardHost host(platform, os, files_, settings_path_, clock_, state_);
    host.Start();
    SettingsFile file(files_, settings_path_);
    HANDLE waits[3] = {stop_.get(), prepare_.get(), arrival_.get()};
    for (;;) {
      const DWORD r = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
      if (r == WAIT_OBJECT_0 + 1) {
        // A new second, its schedule's warning due now: as an administrator
        // setting the time and the service seeing the file change.
        clock_.now += 200;
        if (LocalNow() % 86400 > 86400 - 400) clock_.now += 3600;  // the warning and its due second on one day
        file.WriteIniString(keys::kGeneral, keys::kScheduledTime, InstantText(LocalNow() + kWarningLeadSeconds));
        host.SettingsChanged();
        host.Wake();
        countdown_opened_ = host.engine().countdown().is_open();
        SetEvent(ready_.get());
      } else {
        for (const p::Message& m : channel_->Received()) host.FaceMessage(m);
        if (channel_->broken()) {
          failed_ = true;
          break;
        }
      }
    }
    host.Stop();
  }

  FileStore& files_;
  std::string settings_path_;
  GuardStateStore& state_;
  SteppedClock clock_;
  UniqueHandle arrival_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle prepare_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle ready_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::unique_ptr<PipeChannel> channel_;
  std::atomic<bool> countdown_opened_{false};
  std::atomic<bool> failed_{false};
  std::thread thread_;
};

struct Pipes {
  UniqueHandle service_read, service_write, face_read, face_write;
};

// Two pipes as the service makes them for its face: 64 KiB each way.
std::optional<Pipes> MakePipes() {
  HANDLE to_face_read = nullptr, to_face_write = nullptr, from_face_read = nullptr, from_face_write = nullptr;
  if (!CreatePipe(&to_face_read, &to_face_write, nullptr, 64 * 1024)) return std::nullopt;
  UniqueHandle face_in(to_face_read), ours_out(to_face_write);
  if (!CreatePipe(&from_face_read, &from_face_write, nullptr, 64 * 1024)) return std::nullopt;
  return Pipes{UniqueHandle(from_face_read), std::move(ours_out), std::move(face_in), UniqueHandle(from_face_write)};
}

// The face's side: its end of the pipes, asking as WinApp::Ask does.
class FaceSide {
 public:
  FaceSide(UniqueHandle read, UniqueHandle write) : channel_(std::move(read), std::move(write), [] {}) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    ticks_per_us_ = static_cast<double>(f.QuadPart) / 1e6;
  }

  // One request and its reply, timed from before the send to the reply in
  // hand; nullopt when no reply came.
  std::optional<std::pair<double, p::Message>> Ask(p::Message request) {
    const std::string id = std::to_string(++asked_);
    request.Set("id", id);
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    channel_.Send(request);
    auto reply = channel_.WaitFor([&](const p::Message& m) { return m.type == p::kReply && m.Get("id") == id; },
                                  kReplyWait);
    QueryPerformanceCounter(&after);
    if (!reply) return std::nullopt;
    return std::make_pair(static_cast<double>(after.QuadPart - before.QuadPart) / ticks_per_us_, std::move(*reply));
  }

  bool WaitForCountdown(bool open) {
    return channel_
        .WaitFor([&](const p::Message& m) { return m.type == p::kCountdown && m.Get("open") == (open ? "1" : "0"); },
                 kReplyWait)
        .has_value();
  }

  // What else the service sent (the countdown, the tooltip), read as the
  // face reads it between two requests.
  std::vector<p::Message> Drain() { return channel_.Received(); }

 private:
  PipeChannel channel_;
  long long asked_ = 0;
  double ticks_per_us_ = 1;
};

struct Figures {
  std::vector<double> us;
  double first = 0;
};

void Print(const char* what, Figures& f) {
  std::sort(f.us.begin(), f.us.end());
  const std::size_t n = f.us.size();
  const double median = n % 2 ? f.us[n / 2] : (f.us[n / 2 - 1] + f.us[n / 2]) / 2;
  const double p90 = f.us[std::min(n - 1, static_cast<std::size_t>(0.9 * static_cast<double>(n)))];
  std::printf("ROUNDTRIP %s n=%zu min_us=%.0f median_us=%.0f p90_us=%.0f worst_us=%.0f first_us=%.0f\n", what, n,
              f.us.front(), median, p90, f.us.back(), f.first);
  std::fflush(stdout);
}

// `n` cancels (each of a countdown opened for it) and `n` checks against one
// host; false, with a FAILED line, when the conversation goes wrong.
bool Measure(const char* label, FileStore& files, const std::string& settings_path, GuardStateStore& state, int n,
             bool with_checks) {
  auto pipes = MakePipes();
  if (!pipes) {
    std::printf("FAILED the pipes could not be made (%lu)\n", GetLastError());
    return false;
  }
  ServiceSide service(files, settings_path, state, std::move(pipes->service_read), std::move(pipes->service_write));
  FaceSide face(std::move(pipes->face_read), std::move(pipes->face_write));

  Figures cancels, checks;
  for (int i = 0; i < kWarmUp + n; ++i) {
    if (!service.OpenCountdown() || !face.WaitForCountdown(true)) {
      std::printf("FAILED %s: no countdown opened for cancel %d\n", label, i + 1);
      return false;
    }
    // A user takes seconds to type: whatever came with the countdown has
    // arrived and been read before the password is sent.
    Sleep(2);
    face.Drain();
    auto answer = face.Ask(p::Message(p::kCancel).Set("password", kPassword));
    if (!answer || answer->second.Get("result") != p::kOk) {
      std::printf("FAILED %s: cancel %d was answered %s\n", label, i + 1,
                  answer ? answer->second.Get("result").c_str() : "not at all");
      return false;
    }
    // The countdown's closing goes out before the reply: it is here already.
    bool closed = false;
    for (const p::Message& m : face.Drain()) closed = closed || (m.type == p::kCountdown && m.Get("open") == "0");
    if (!closed) {
      std::printf("FAILED %s: cancel %d left the countdown open\n", label, i + 1);
      return false;
    }
    if (i == 0) cancels.first = answer->first;
    if (i >= kWarmUp) cancels.us.push_back(answer->first);
  }
  Print(label, cancels);
  if (!with_checks) return !service.failed();

  for (int i = 0; i < kWarmUp + n; ++i) {
    Sleep(2);
    face.Drain();
    auto answer = face.Ask(p::Message(p::kCheck).Set("password", kPassword));
    if (!answer || answer->second.Get("result") != p::kOk) {
      std::printf("FAILED check %d was answered %s\n", i + 1, answer ? answer->second.Get("result").c_str() : "not at all");
      return false;
    }
    if (i == 0) checks.first = answer->first;
    if (i >= kWarmUp) checks.us.push_back(answer->first);
  }
  Print("check", checks);
  if (service.failed()) {
    std::printf("FAILED %s: the service's end of the pipe broke\n", label);
    return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int n = argc > 1 ? std::max(1, _wtoi(argv[1])) : 1000;
  std::printf("pipe round trips: %d of each after %d unmeasured\n", n, kWarmUp);
  std::fflush(stdout);

  MemoryStore memory;
  MemoryStateStore memory_state;
  if (!Measure("cancel", memory, "C:\\dadado\\dadado.ini", memory_state, n, true)) return 1;

  // The same cancels with the settings file on the disk, written as the
  // service writes it (a temporary file flushed, then renamed over the old),
  // and the state in the registry, as the service keeps it: a cancel stores
  // the occurrence it cancelled before it is answered.
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    std::printf("FAILED no temporary folder\n");
    return 1;
  }
  const std::wstring path = std::wstring(temp) + L"dadado-pipe-roundtrip-" + std::to_wstring(GetCurrentProcessId()) + L".ini";
  WinFileStore disk;
  const std::wstring key = L"Software\\dadado-pipe-roundtrip-" + std::to_wstring(GetCurrentProcessId());
  RegistryStateStore registry(HKEY_CURRENT_USER, key);
  const bool ok = Measure("cancel_file", disk, Narrow(path), registry, n, false);
  DeleteFileW(path.c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  if (!ok) return 1;
  std::printf("DONE\n");
  return 0;
}
