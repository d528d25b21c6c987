#include "guard/win32/status_file.h"

#include <sddl.h>

#include <cstdio>

#include "guard/guard_host.h"
#include "guard/win32/guard_win.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

// A status is a few kilobytes; anything much larger is not the service's.
constexpr std::size_t kLongestStatus = 256 * 1024;

// Everyone may read the status; only SYSTEM and Administrators may change
// it, whatever the folder passes on.
class StatusFileSecurity {
 public:
  StatusFileSecurity() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)",
                                                             SDDL_REVISION_1, &sd, nullptr))
      sd_ = UniqueLocal(sd);
  }
  PSECURITY_DESCRIPTOR descriptor() const { return sd_.get(); }

 private:
  UniqueLocal sd_;
};

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

void UpdateStatusFile(GuardHost& host) {
  const std::wstring exe = WinOperatingSystem::ModulePath();
  WinOperatingSystem os;
  const std::string text = StatusJson(StatusOfGuard(host, RunValuePresent(os, os.ExecutableBaseName())),
                                      WriterOfProcess(GetCurrentProcessId(), GetCurrentProcess()));
  const std::string path = Narrow(StatusPathOf(exe));
  WinFileStore reader;
  const FileContent old = reader.Read(path);
  if (old.status == ReadStatus::kOk && old.bytes == text) return;
  StatusFileSecurity security;
  WinFileStore writer(security.descriptor());
  writer.WriteAtomically(path, text);
}

std::optional<std::string> CurrentGuardStatus(const std::wstring& exe) {
  const auto pid = GuardServiceProcess();
  if (!pid) return std::nullopt;
  WinFileStore files;
  const FileContent content = files.Read(Narrow(StatusPathOf(exe)));
  if (content.status != ReadStatus::kOk || content.bytes.size() > kLongestStatus) return std::nullopt;
  const auto writer = WriterOfStatus(content.bytes);
  if (!writer || writer->pid != *pid) return std::nullopt;
  // A process id is reused once its process has gone: the service's start
  // tells its own process from a later one. A standard user may not be
  // allowed to ask a LocalSystem process when it started; the service
  // manager's process id has to do then.
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid));
  if (process) {
    const auto running = WriterOfProcess(*pid, process.get());
    if (running && running->started != writer->started) return std::nullopt;
  }
  return content.bytes;
}

}  // namespace dadado::win32
