#include "ui/win32/window.h"

#include "system/win32/wide.h"

#include <cmath>
#include <utility>
#include <vector>

namespace dadado::win32 {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn UserFunction(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

UINT SystemDpi() {
  HDC dc = GetDC(nullptr);
  UINT dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSY));
  ReleaseDC(nullptr, dc);
  return dpi ? dpi : 96;
}

}  // namespace

UINT DpiOf(HWND hwnd) {
  static auto get_dpi = UserFunction<GetDpiForWindowFn>("GetDpiForWindow");
  if (hwnd && get_dpi) {
    UINT dpi = get_dpi(hwnd);
    if (dpi) return dpi;
  }
  return SystemDpi();
}

void RegisterWindowClass() {
  // The class keeps its icons while the program runs; they go when it ends.
  static UniqueIcon big, small;
  static bool registered = false;
  if (registered) return;
  big = LoadProgramIcon(GetSystemMetrics(SM_CXICON));
  small = LoadProgramIcon(GetSystemMetrics(SM_CXSMICON));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &Window::Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hIcon = big.get();
  wc.hIconSm = small.get();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  WNDCLASSEXW host{};
  host.cbSize = sizeof host;
  host.lpfnWndProc = &Window::Proc;
  host.hInstance = GetModuleHandleW(nullptr);
  host.lpszClassName = kHostWindowClass;
  RegisterClassExW(&host);
  registered = true;
}

UniqueIcon LoadProgramIcon(int size) {
  UniqueIcon icon(
      static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
  return icon ? std::move(icon) : MakeProgramIcon(size);
}

void SetTextIfDifferent(HWND control, const std::wstring& text) {
  if (control && TextOf(control) != text) SetWindowTextW(control, text.c_str());
}

void EnableControl(HWND control, bool enabled) {
  if (control) EnableWindow(control, enabled ? TRUE : FALSE);
}

std::string SecretTextOf(HWND control) {
  const int n = GetWindowTextLengthW(control);
  std::wstring wide(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(control, wide.data(), n + 1);
  std::string text = Narrow(std::wstring_view(wide.data(), static_cast<std::size_t>(got > 0 ? got : 0)));
  SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  return text;
}

void SetSecretTextIfDifferent(HWND control, const std::string& text) {
  if (!control) return;
  std::string shown = SecretTextOf(control);
  if (shown != text) {
    std::wstring wide = Widen(text);
    SetWindowTextW(control, wide.c_str());
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  }
  WipeString(shown);
}

std::wstring TextOf(HWND control) {
  int n = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(control, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void SetCheckBox(HWND check_box, int value) {
  SendMessageW(check_box, BM_SETCHECK, value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED, 0);
}

const NMHDR* NotificationIn(LPARAM lp, std::size_t size) {
  const auto* p = reinterpret_cast<const NMHDR*>(lp);
  if (!p) return nullptr;
  if (!InSendMessage()) return p;
  MEMORY_BASIC_INFORMATION m{};
  if (!VirtualQuery(p, &m, sizeof m) || m.State != MEM_COMMIT || (m.Protect & PAGE_GUARD)) return nullptr;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  if (!(m.Protect & kReadable)) return nullptr;
  const auto* end = static_cast<const char*>(m.BaseAddress) + m.RegionSize;
  return static_cast<std::size_t>(end - reinterpret_cast<const char*>(p)) >= size ? p : nullptr;
}

int MetricForDpi(int metric, UINT dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  static auto for_dpi = UserFunction<Fn>("GetSystemMetricsForDpi");
  if (for_dpi) return for_dpi(metric, dpi);
  return MulDiv(GetSystemMetrics(metric), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

Window::~Window() { Destroy(); }

void Window::Destroy() {
  // WM_NCDESTROY lets go of the window; should it not come, nothing of it is
  // kept either.
  if (hwnd_) DestroyWindow(hwnd_);
  if (hwnd_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  hwnd_ = nullptr;
  placed_.clear();
}

bool Window::CreateBare(const wchar_t* window_class, DWORD ex_style, DWORD style, HWND parent) {
  RegisterWindowClass();
  CreateWindowExW(ex_style, window_class, L"", style, 0, 0, 0, 0, parent, nullptr, GetModuleHandleW(nullptr), this);
  if (!hwnd_) return false;
  dpi_ = DpiOf(hwnd_);
  return true;
}

bool Window::CreateTopLevel(DWORD ex_style, DWORD style, const std::wstring& title, int client_w, int client_h,
                            HWND owner) {
  RegisterWindowClass();
  client_w_ = client_w;
  client_h_ = client_h;
  // Proc takes the object from the create parameters at WM_NCCREATE and
  // sets hwnd_ there.
  CreateWindowExW(ex_style, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, owner, nullptr,
                  GetModuleHandleW(nullptr), this);
  if (!hwnd_) return false;
  dpi_ = DpiOf(hwnd_);
  MakeFonts();

  RECT r{0, 0, Scale(client_w), Scale(client_h)};
  static auto adjust = UserFunction<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  if (adjust) adjust(&r, style, FALSE, ex_style, dpi_);
  else AdjustWindowRectEx(&r, style, FALSE, ex_style);
  int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
               w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void Window::MakeFonts() {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  LOGFONTW lf = ncm.lfMessageFont;
  lf.lfHeight = MulDiv(lf.lfHeight ? lf.lfHeight : -12, static_cast<int>(dpi_), static_cast<int>(SystemDpi()));
  font_ = UniqueGdiObject(CreateFontIndirectW(&lf));
  lf.lfWeight = FW_BOLD;
  bold_font_ = UniqueGdiObject(CreateFontIndirectW(&lf));
}

HWND Window::AddControl(const wchar_t* window_class, const std::wstring& text, DWORD style, Rect96 r, int id,
                        DWORD ex_style) {
  if (add_hidden_) style &= ~static_cast<DWORD>(WS_VISIBLE);
  HWND control = CreateWindowExW(ex_style, window_class, text.c_str(), style | WS_CHILD, Scale(r.x), Scale(r.y),
                                 Scale(r.w), Scale(r.h), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font()), FALSE);
    placed_.push_back({control, r, id});
  }
  return control;
}

HWND Window::FindControl(int id) const {
  for (const Placed& p : placed_)
    if (p.id == id) return p.control;
  return nullptr;
}

void Window::MoveControl(HWND control, Rect96 r) {
  for (auto& p : placed_)
    if (p.control == control) p.rect = r;
  SetWindowPos(control, nullptr, Scale(r.x), Scale(r.y), Scale(r.w), Scale(r.h), SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::LayOut() {
  for (const Placed& p : placed_) {
    SetWindowPos(p.control, nullptr, Scale(p.rect.x), Scale(p.rect.y), Scale(p.rect.w), Scale(p.rect.h),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ACTIVATE) {
    // As a dialog does: the keyboard focus goes back to where it was, or to
    // the first control that takes it.
    if (LOWORD(wp) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(hwnd_, focus)) last_focus_ = focus;
    } else {
      HWND target = (last_focus_ && IsWindow(last_focus_) && IsWindowVisible(last_focus_) && IsWindowEnabled(last_focus_))
                        ? last_focus_
                        : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
      if (target) SetFocus(target);
    }
    return 0;
  }
  if (msg == 0x02E0 /* WM_DPICHANGED */) {
    // Fonts first: bold controls are told again by OnDpiChanged.
    UniqueGdiObject old_font = std::move(font_), old_bold = std::move(bold_font_);
    dpi_ = HIWORD(wp);
    MakeFonts();
    for (const Placed& p : placed_) {
      HFONT f = reinterpret_cast<HFONT>(SendMessageW(p.control, WM_GETFONT, 0, 0));
      SendMessageW(p.control, WM_SETFONT,
                   reinterpret_cast<WPARAM>(f == static_cast<HFONT>(old_bold.get()) ? bold_font() : font()), FALSE);
    }
    const RECT* suggested = reinterpret_cast<const RECT*>(lp);
    SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut();
    OnDpiChanged();
    InvalidateRect(hwnd_, nullptr, TRUE);
    return 0;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK Window::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* created = static_cast<Window*>(reinterpret_cast<const CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    if (created) created->hwnd_ = hwnd;
  }
  // A few messages (WM_GETMINMAXINFO) come before WM_NCCREATE.
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  const LRESULT result = self->HandleMessage(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->placed_.clear();
  }
  return result;
}

// A round blue clock face with white hands pointing at ten past ten, drawn
// pixel by pixel with smooth edges.
UniqueIcon MakeProgramIcon(int size) {
  if (size <= 0) size = 32;
  BITMAPV5HEADER bi{};
  bi.bV5Size = sizeof bi;
  bi.bV5Width = size;
  bi.bV5Height = -size;
  bi.bV5Planes = 1;
  bi.bV5BitCount = 32;
  bi.bV5Compression = BI_BITFIELDS;
  bi.bV5RedMask = 0x00FF0000;
  bi.bV5GreenMask = 0x0000FF00;
  bi.bV5BlueMask = 0x000000FF;
  bi.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC dc = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, dc);
  if (!color) return UniqueIcon();
  auto* px = static_cast<DWORD*>(bits);
  const double c = size / 2.0, r = size / 2.0 - 0.5;
  auto seg = [](double x, double y, double ax, double ay, double bx, double by) {
    double dx = bx - ax, dy = by - ay;
    double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    double qx = ax + t * dx - x, qy = ay + t * dy - y;
    return std::sqrt(qx * qx + qy * qy);
  };
  const double pen = size / 14.0 + 0.6;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      double fx = x + 0.5, fy = y + 0.5;
      double d = std::sqrt((fx - c) * (fx - c) + (fy - c) * (fy - c));
      double cover = std::fmin(1.0, std::fmax(0.0, r - d + 0.5));
      double ring = std::fmin(1.0, std::fmax(0.0, r - size / 10.0 - d + 0.5));  // inner face
      // Hands: hour towards 10 o'clock, minute towards 2 o'clock.
      double hand = std::fmin(seg(fx, fy, c, c, c - r * 0.42, c - r * 0.30), seg(fx, fy, c, c, c + r * 0.45, c - r * 0.55));
      double ink = std::fmin(1.0, std::fmax(0.0, pen / 2 - hand + 0.5));
      // Face: light blue inside a dark blue rim; hands white.
      double rr = 0x1E + (0x3A - 0x1E) * ring, gg = 0x5A + (0x8D - 0x5A) * ring, bb = 0xA8 + (0xE0 - 0xA8) * ring;
      rr = rr + (255 - rr) * ink * ring;
      gg = gg + (255 - gg) * ink * ring;
      bb = bb + (255 - bb) * ink * ring;
      auto a = static_cast<DWORD>(cover * 255.0 + 0.5);
      px[y * size + x] = (a << 24) | (static_cast<DWORD>(rr) << 16) | (static_cast<DWORD>(gg) << 8) | static_cast<DWORD>(bb);
    }
  std::vector<BYTE> zeros(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());
  ICONINFO ii{};
  ii.fIcon = TRUE;
  ii.hbmColor = color;
  ii.hbmMask = mask;
  UniqueIcon icon(CreateIconIndirect(&ii));
  DeleteObject(color);
  DeleteObject(mask);
  return icon;
}

}  // namespace dadado::win32
