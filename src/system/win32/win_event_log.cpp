// The Application event log. Placeholder until the message table lands:
// errors are reported, nothing is written yet.
#include <windows.h>

#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

SystemError WinOperatingSystem::LastSystemError() {
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  SystemError e{code, text ? Narrow(text) : std::string()};
  if (text) LocalFree(text);
  while (!e.text.empty() && (e.text.back() == '\n' || e.text.back() == '\r')) e.text.pop_back();
  return e;
}

void WinOperatingSystem::WriteEvent(EventType, int, const std::vector<std::string>&) {}

void WinOperatingSystem::UpdateEventSource() {}

}  // namespace dadado::win32
