// The Application event log: entries written through ReportEventW, their
// texts in the message table compiled into this executable
// (src/app/event_messages.mc), and the source's registration that tells
// the Event Viewer where that table is.
//
// Writing an entry is a side note to whatever the program is doing: no
// failure here ever reaches the caller, and nothing waits for anything.
#include <windows.h>

#include <algorithm>
#include <optional>

#include "system/event_log.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

// The entries have no categories.
constexpr WORD kCategory = 0;
// Information, warning and error: the Event Viewer shows nothing else of ours.
constexpr DWORD kTypesSupported = EVENTLOG_INFORMATION_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_ERROR_TYPE;
constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\dadado";
// ReportEventW refuses an insertion string longer than this.
constexpr std::size_t kLongestString = 31839;

struct EventSourceTraits {
  static bool Valid(HANDLE) { return true; }
  static void Close(HANDLE h) { DeregisterEventSource(h); }
};
using UniqueEventSource = UniqueOf<HANDLE, EventSourceTraits>;

// Registered on the first entry, deregistered when the process ends. An
// unregistered source is fine: the log keeps the entry's strings either way.
HANDLE EventSource() {
  static const UniqueEventSource source(RegisterEventSourceW(nullptr, Widen(events::kSource).c_str()));
  return source.get();
}

WORD ReportType(EventType type) {
  switch (type) {
    case EventType::kWarning: return EVENTLOG_WARNING_TYPE;
    case EventType::kError: return EVENTLOG_ERROR_TYPE;
    case EventType::kInformation: break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

std::optional<std::wstring> QueryText(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  text.resize(bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::optional<DWORD> QueryNumber(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD bytes = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return value;
}

struct SourceState {
  bool message_file_right = false;
  bool types_right = false;
  bool Right() const { return message_file_right && types_right; }
};

SourceState ReadSource(HKEY key, const std::wstring& exe) {
  SourceState s;
  auto file = QueryText(key, L"EventMessageFile");
  s.message_file_right = file && _wcsicmp(file->c_str(), exe.c_str()) == 0;
  s.types_right = QueryNumber(key, L"TypesSupported") == kTypesSupported;
  return s;
}

}  // namespace

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

void WinOperatingSystem::WriteEvent(EventType type, int id, const std::vector<std::string>& strings) {
  HANDLE source = EventSource();
  if (!source) return;
  std::vector<std::wstring> wide;
  wide.reserve(std::min<std::size_t>(strings.size(), 0xFFFF));
  for (const std::string& s : strings) {
    if (wide.size() == 0xFFFF) break;
    std::wstring w = Widen(s);
    if (w.size() > kLongestString) w.resize(kLongestString);
    wide.push_back(std::move(w));
  }
  std::vector<LPCWSTR> pointers;
  pointers.reserve(wide.size());
  for (const std::wstring& w : wide) pointers.push_back(w.c_str());
  // The message table's ids are the plain numbers (severity and facility 0),
  // so the id given here is the Event ID the Event Viewer shows.
  ReportEventW(source, ReportType(type), kCategory, static_cast<DWORD>(id), nullptr, static_cast<WORD>(pointers.size()),
               0, pointers.empty() ? nullptr : pointers.data(), nullptr);
}

void WinOperatingSystem::UpdateEventSource() {
  const std::wstring exe = ModulePath();
  // Reading first: the usual case is a registration that is right already,
  // and that needs no rights to see.
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) == ERROR_SUCCESS) {
    UniqueKey key(raw);
    if (ReadSource(key.get(), exe).Right()) return;
  }
  // Missing or stale. Creating the key for writing fails without
  // administrator rights; then the entries stay without their texts.
  raw = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return;
  UniqueKey key(raw);
  const SourceState now = ReadSource(key.get(), exe);
  if (!now.message_file_right)
    RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe.c_str()),
                   static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t)));
  if (!now.types_right)
    RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                   sizeof kTypesSupported);
}

}  // namespace dadado::win32
