// Looks at and drives another program's windows from outside, as a user
// would, for the end-to-end scenarios. Output is UTF-8, one line per window
// or control:
//   probe dump                         every top-level window and its controls
//   probe click TITLE ID               presses a button or checkbox
//   probe settext TITLE ID TEXT        types a text into a box
//   probe command TITLE ID             sends a command (IDOK = 1) to a window
//   probe select TITLE ID INDEX|TEXT   chooses an item of a drop-down list, by its
//                                      place or by its whole text
//   probe tab TITLE ID INDEX           chooses a tab, as the arrow keys do
//   probe codepage [TEXT]              the code pages and locale Wine gave us,
//                                      and TEXT as it arrived through the command line
//   probe mousemove                    moves the mouse a little, as a hand on it would
// TITLE names a top-level window by its caption, "#class:NAME" by its class,
// "#has:ID" by a control it holds.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring TextOf(HWND h) {
  wchar_t buf[2048] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &got);
  std::wstring t(buf);
  for (auto& c : t)
    if (c == L'\r' || c == L'\n') c = L' ';
  return t;
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

BOOL CALLBACK DumpChild(HWND h, LPARAM) {
  std::wstring cls = ClassOf(h);
  std::printf("  CTRL id=%d class=%s visible=%d enabled=%d", GetDlgCtrlID(h), Utf8(cls).c_str(), IsWindowVisible(h) ? 1 : 0,
              IsWindowEnabled(h) ? 1 : 0);
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    DWORD_PTR check = 0;
    SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    std::printf(" checked=%d", static_cast<int>(check));
  }
  std::printf(" text=%s\n", Utf8(TextOf(h)).c_str());
  return TRUE;
}

BOOL CALLBACK DumpTop(HWND h, LPARAM) {
  std::wstring cls = ClassOf(h);
  if (cls != L"DadadoWindow" && cls != L"#32770") return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  std::printf("WINDOW class=%s pid=%lu visible=%d title=%s\n", Utf8(cls).c_str(), pid, IsWindowVisible(h) ? 1 : 0,
              Utf8(TextOf(h)).c_str());
  EnumChildWindows(h, DumpChild, 0);
  return TRUE;
}

struct Search {
  std::wstring title;
  HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  std::wstring cls = ClassOf(h);
  if (cls != L"DadadoWindow" && cls != L"#32770") return TRUE;
  bool match;
  if (s->title.rfind(L"#class:", 0) == 0) match = cls == s->title.substr(7);
  else if (s->title.rfind(L"#has:", 0) == 0) match = GetDlgItem(h, _wtoi(s->title.c_str() + 5)) != nullptr;
  else match = TextOf(h) == s->title;
  if (match) {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowTitled(const wchar_t* title) {
  Search s{title};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring cmd = argv[1];
  if (cmd == L"dump") {
    EnumWindows(DumpTop, 0);
    return 0;
  }
  if (cmd == L"codepage") {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
    wchar_t system[LOCALE_NAME_MAX_LENGTH] = {};
    GetSystemDefaultLocaleName(system, LOCALE_NAME_MAX_LENGTH);
    std::printf("ACP=%u OEMCP=%u USER=%s SYSTEM=%s UI=%04x ARG=%s\n", GetACP(), GetOEMCP(), Utf8(name).c_str(),
                Utf8(system).c_str(), static_cast<unsigned>(GetUserDefaultUILanguage()),
                argc > 2 ? Utf8(argv[2]).c_str() : "");
    return 0;
  }
  if (cmd == L"mousemove") {
    // Through the system's input queue: under Wine this is input that
    // GetLastInputInfo sees, which an X event sent by xdotool is not.
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = 3;
    in.mi.dy = 3;
    in.mi.dwFlags = MOUSEEVENTF_MOVE;
    return SendInput(1, &in, sizeof in) == 1 ? 0 : 1;
  }
  if (argc < 4) return 2;
  HWND top = FindWindowTitled(argv[2]);
  if (!top) {
    std::printf("no window %s\n", Utf8(argv[2]).c_str());
    return 1;
  }
  const int id = _wtoi(argv[3]);
  HWND control = GetDlgItem(top, id);
  DWORD_PTR r = 0;
  if (cmd == L"click" && control) {
    SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    return 0;
  }
  if (cmd == L"settext" && control && argc >= 5) {
    SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), SMTO_ABORTIFHUNG, 5000, &r);
    return 0;
  }
  if (cmd == L"command") {
    PostMessageW(top, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return 0;
  }
  if (cmd == L"tab" && control && argc >= 5) {
    SendMessageTimeoutW(control, TCM_SETCURFOCUS, _wtoi(argv[4]), 0, SMTO_ABORTIFHUNG, 5000, &r);
    return 0;
  }
  if (cmd == L"endsession") {
    // As an installer's restart manager asks a program to close.
    PostMessageW(top, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    return 0;
  }
  if (cmd == L"select" && control && argc >= 5) {
    DWORD_PTR index = static_cast<DWORD_PTR>(_wtoi(argv[4]));
    if (argv[4][0] < L'0' || argv[4][0] > L'9')
      SendMessageTimeoutW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(argv[4]),
                          SMTO_ABORTIFHUNG, 5000, &index);
    SendMessageTimeoutW(control, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000, &r);
    PostMessageW(top, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  std::printf("cannot %s\n", Utf8(cmd).c_str());
  return 1;
}
