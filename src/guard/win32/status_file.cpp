#include "guard/win32/status_file.h"

#include <algorithm>
#include <cstdio>

#include "guard/guard_host.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/registry_state_store.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

// A status is a few kilobytes; anything much larger is not the service's.
constexpr std::size_t kLongestStatus = 256 * 1024;

// A FILETIME in UTC as "2026-12-08T06:00:00.1234567Z": to the 100 ns, so
// that two starts of the service never read alike.
std::optional<std::string> UtcText(const FILETIME& time) {
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&time, &st)) return std::nullopt;
  const ULONGLONG ticks = (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%07lluZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, static_cast<unsigned long long>(ticks % 10000000ULL));
  return std::string(buf);
}

}  // namespace

std::wstring StatusPathOf(const std::wstring& exe) {
  std::wstring ini = SettingsPathOf(exe);
  return ini.substr(0, ini.size() - 4) + L".status.json";
}

std::optional<StatusWriter> WriterOfProcess(DWORD pid, HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  auto started = UtcText(created);
  if (!started) return std::nullopt;
  return StatusWriter{pid, *started};
}

StatusPublisher::StatusPublisher(RegistryStateStore& store) : store_(store) {}

void StatusPublisher::Update(GuardHost& host, ULONGLONG now_ms) {
  if (retry_at_ && now_ms < *retry_at_) return;
  WinOperatingSystem os;
  const std::string text = StatusJson(StatusOfGuard(host, RunValuePresent(os, os.ExecutableBaseName())),
                                      WriterOfProcess(GetCurrentProcessId(), GetCurrentProcess()));
  if (text == written_ && !retry_at_) return;
  if (store_.Set(kStatusValue, text)) {
    written_ = text;
    retry_at_.reset();
    pause_ = kFirstRetryMs;
    return;
  }
  retry_at_ = now_ms + pause_;
  pause_ = std::min(2 * pause_, kLongestRetryMs);
}

void StatusPublisher::Withdraw() {
  store_.Remove(kStatusValue);
  written_.clear();
}

GuardStatusRead CurrentGuardStatus() {
  GuardStatusRead result;
  const auto pid = GuardServiceProcess();
  if (!pid) return result;
  result.running = true;
  RegistryStateStore store;
  const auto text = store.Get(kStatusValue, kLongestStatus);
  if (!text) return result;
  const auto writer = WriterOfStatus(*text);
  if (!writer || writer->pid != *pid) return result;
  // A process id is reused once its process has gone: the service's start
  // tells its own process from a later one. A standard user may not be
  // allowed to ask a LocalSystem process when it started; the service
  // manager's process id has to do then.
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid));
  if (process) {
    const auto running = WriterOfProcess(*pid, process.get());
    if (running && running->started != writer->started) return result;
  }
  result.text = text;
  return result;
}

}  // namespace dadado::win32
