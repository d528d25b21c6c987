#include "guard/win32/status_command.h"

#include <windows.h>

#include "guard/control_status.h"
#include "guard/guard_host.h"
#include "guard/win32/guard_commands.h"
#include "guard/win32/guard_win.h"
#include "guard/win32/registry_state_store.h"
#include "guard/win32/status_file.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

constexpr char kUsage[] =
    "用法：dadado.exe /status（后面不接其他参数）\r\n"
    "退出代码：0 控制生效；1 控制未生效；2 用法错误；3 守护服务在运行，但无法读取它的状态\r\n";

class LocalClock : public Clock {
 public:
  LocalDateTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalDateTime{{st.wYear, st.wMonth, st.wDay}, st.wHour * 3600 + st.wMinute * 60 + st.wSecond};
  }
};

bool WriteBytes(HANDLE h, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// A console is written in UTF-16, whatever its code page.
bool WriteConsoleText(HANDLE h, const std::string& utf8) {
  DWORD mode = 0;
  if (!GetConsoleMode(h, &mode)) return false;
  const std::wstring text = Widen(utf8);
  DWORD written = 0;
  return WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

// To the standard handle when it leads anywhere (a file, a pipe, NUL or a
// console), else to the console of the process that started this one; a
// program of the Windows subsystem has none of its own. With neither,
// nothing is written, and the exit code still tells.
void Emit(DWORD which, const std::string& utf8) {
  HANDLE h = GetStdHandle(which);
  if (h && h != INVALID_HANDLE_VALUE) {
    if (WriteConsoleText(h, utf8)) return;
    // Redirected to a file or a pipe: there and nowhere else.
    if (GetFileType(h) != FILE_TYPE_CHAR) {
      WriteBytes(h, utf8);
      return;
    }
    if (WriteBytes(h, utf8)) return;  // NUL, or a console this process may write to
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  UniqueHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (console && !WriteConsoleText(console.get(), utf8)) WriteBytes(console.get(), utf8);
  FreeConsole();
}

// Whether a copy of the program runs in this session: its single-instance
// mutex exists. Opened only to look, never created, so that no copy started
// later takes this process for the program.
bool ProgramRunsInThisSession(const std::string& base_name) {
  const std::wstring name = L"Local\\dadado-instance-" + Widen(base_name);
  UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  if (mutex) return true;
  // A copy of another user (or an elevated one) denies us its mutex: it runs.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

void EmitText(bool standard_error, const std::string& utf8) { Emit(standard_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, utf8); }

int RunStatusCommand(const std::vector<std::wstring>& args) {
  if (args.size() != 1) {
    Emit(STD_ERROR_HANDLE, kUsage);
    return 2;
  }
  const std::wstring exe = WinOperatingSystem::ModulePath();
  const bool installed = GuardServiceInstalled();
  // The running guard's own word, when it is current.
  GuardStatusRead guard;
  if (installed) {
    guard = CurrentGuardStatus();
    if (guard.text) {
      Emit(STD_OUTPUT_HANDLE, *guard.text);
      return 0;
    }
  }

  // No guard, or one that does not run: the settings file and the policy as
  // the program reads them. Under the guard the file may be closed to this
  // user; what only it could tell is then unknown.
  WinOperatingSystem os;
  WinFileStore files;
  const FileContent content = files.Read(Narrow(SettingsPathOf(exe)));
  std::optional<std::string> bytes;
  if (content.status == ReadStatus::kMissing) bytes = std::string();
  else if (content.status == ReadStatus::kOk && content.bytes.size() <= GuardHost::kMaxSettingsBytes) bytes = content.bytes;
  const std::string base = os.ExecutableBaseName();
  RegistryStateStore state;
  StatusSurroundings around;
  around.guard_state = installed ? &state : nullptr;
  around.run_value = RunValuePresent(os, base);
  around.guard_installed = installed;
  around.guard_running = guard.running;
  around.program_running = ProgramRunsInThisSession(base);
  LocalClock clock;
  // A guard that runs, whose status cannot be read or believed, is never
  // reported as enforcing nothing: what it does is unknown.
  const ControlStatus status = guard.running ? StatusWhileGuardUnknown(bytes, os.ReadPolicyValues(), clock, around)
                                             : StatusWithoutGuard(bytes, os.ReadPolicyValues(), clock, around);
  Emit(STD_OUTPUT_HANDLE, StatusJson(status));
  return StatusExitCode(status);
}

}  // namespace dadado::win32
