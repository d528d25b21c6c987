// The yardstick for the start-up benchmark: the smallest program that loads
// the common controls and shows one window with a tab control and three
// buttons. Like dadado.exe it writes the trace that tools/bench startup reads
// (DADADO_TRACE): its entry and the moment its window's first paint was
// handled.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

namespace {

void Mark(const char* what) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"DADADO_TRACE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME now, creation, exit, kernel, user;
  GetSystemTimePreciseAsFileTime(&now);
  auto us = [](const FILETIME& ft) {
    return static_cast<long long>(ULARGE_INTEGER{{ft.dwLowDateTime, ft.dwHighDateTime}}.QuadPart / 10);
  };
  const long long since = GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user) ? us(now) - us(creation) : -1;
  char line[100];
  const int len = std::snprintf(line, sizeof line, "%lld %lld %s\n", since, us(now) - 11'644'473'600'000'000LL, what);
  DWORD written;
  WriteFile(file, line, static_cast<DWORD>(len), &written, nullptr);
  CloseHandle(file);
  // As dadado.exe marks its steps in the wineserver's log, for the count of
  // requests.
  wchar_t name[96] = L"dadado-trace-";
  int k = lstrlenW(name);
  for (const char* c = what; *c && k < 95; ++c) name[k++] = *c == ' ' ? L'_' : static_cast<wchar_t>(*c);
  name[k] = L'\0';
  CloseHandle(OpenEventW(SYNCHRONIZE, FALSE, name));
}

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  static bool painted = false;
  if (m == WM_PAINT) {
    const LRESULT r = DefWindowProcW(h, m, w, l);
    if (!painted) Mark("window painted");
    painted = true;
    return r;
  }
  if (m == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
  Mark("main");
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = inst;
  wc.lpszClassName = L"MinimalWindow";
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  RegisterClassW(&wc);
  // The size of dadado's settings window.
  RECT r{0, 0, 386, 307};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  AdjustWindowRect(&r, style, FALSE);
  HWND h = CreateWindowW(L"MinimalWindow", L"minimal", style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, inst, nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND tab = CreateWindowW(WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 4, 4, 378, 264, h, nullptr,
                           inst, nullptr);
  SendMessageW(tab, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const wchar_t* const tabs[] = {L"常规设置", L"高级设置", L"时间控制"};
  for (int i = 0; i < 3; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(tabs[i]);
    SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  const wchar_t* const buttons[] = {L"确定", L"取消", L"应用"};
  for (int i = 0; i < 3; ++i) {
    HWND b = CreateWindowW(WC_BUTTONW, buttons[i], WS_CHILD | WS_VISIBLE | WS_TABSTOP, 148 + i * 78, 276, 72, 25, h,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + i)), inst, nullptr);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  ShowWindow(h, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
