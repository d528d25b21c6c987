#include "ui/win32/usage_chart.h"

#include <commctrl.h>

#include <algorithm>

#include "scheduler/time_control_guard.h"
#include "system/win32/wide.h"
#include "ui/win32/window.h"

namespace dadado::win32 {

namespace {

constexpr COLORREF kBar = RGB(70, 130, 196);
constexpr COLORREF kTodayBar = RGB(236, 128, 36);
constexpr COLORREF kTodayText = RGB(196, 88, 0);
constexpr COLORREF kLimit = RGB(208, 36, 36);
constexpr COLORREF kGrid = RGB(226, 226, 226);
constexpr COLORREF kAxis = RGB(128, 128, 128);
constexpr wchar_t kLimitLegend[] = L"每日限时";
const char* const kWeekdayNames[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};

bool SameBars(const std::vector<Program::UsageBar>& a, const std::vector<Program::UsageBar>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Program::UsageBar& x, const Program::UsageBar& y) {
    return x.day == y.day && x.minutes == y.minutes && x.limit == y.limit && x.today == y.today;
  });
}

// A rectangle of one colour; false when GDI failed.
bool Fill(HDC dc, const RECT& r, COLORREF colour) {
  SetBkColor(dc, colour);
  return ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr) != FALSE;
}

int TextWidth(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

}  // namespace

void UsageChart::Register() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &UsageChart::Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void UsageChart::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  if (!hwnd_) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // One tool over the whole chart; its text follows the day under the pointer.
  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                         hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  ti.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

int UsageChart::DayAt(int x) const {
  const int n = static_cast<int>(data_.bars.size());
  if (n == 0 || !data_.message.empty() || x < plot_.left || x >= plot_.right) return -1;
  return static_cast<int>((x - plot_.left) * static_cast<LONG>(n) / (plot_.right - plot_.left));
}

void UsageChart::UpdateTip(int day) {
  if (day == tip_day_ || !tip_) return;
  tip_day_ = day;
  tip_text_.clear();
  if (day >= 0) {
    const Program::UsageBar& bar = data_.bars[day];
    std::string text = std::to_string(bar.day.month) + "月" + std::to_string(bar.day.day) + "日（" +
                       kWeekdayNames[WeekdayOf(DayNumber(bar.day))] + "）：" + DurationText(bar.minutes);
    if (bar.limit > 0) text += "，每日限时" + DurationText(bar.limit);
    tip_text_ = Widen(text);
  }
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  ti.lpszText = tip_text_.data();
  SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  // Outside the days the tip has nothing to say.
  SendMessageW(tip_, TTM_ACTIVATE, day >= 0, 0);
}

void UsageChart::Set(UsageChartData data) {
  if (SameBars(data.bars, data_.bars) && data.scale == data_.scale && data.message == data_.message) return;
  data_ = std::move(data);
  // What the tip said may be gone: it is said anew.
  tip_day_ = -2;
  UpdateTip(-1);
  if (hwnd_) {
    // The text says what the chart shows to whoever cannot see it.
    SetTextIfDifferent(hwnd_, data_.message.empty() ? L"最近14天的使用时间" : data_.message);
    InvalidateRect(hwnd_, nullptr, FALSE);
  }
}

int UsageChart::Scale(int px96) const { return MulDiv(px96, static_cast<int>(DpiOf(hwnd_)), 96); }

bool UsageChart::Draw(HDC dc, const RECT& area) const {
  bool ok = Fill(dc, area, GetSysColor(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old_font = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  const int text_h = tm.tmHeight, pad = Scale(8);
  auto text = [&](const std::wstring& s, RECT r, UINT format, COLORREF colour) {
    SetTextColor(dc, colour);
    ok = DrawTextW(dc, s.c_str(), static_cast<int>(s.size()), &r, format | DT_NOPREFIX) != 0 && ok;
  };

  if (!data_.message.empty()) {
    RECT r{area.left + 2 * pad, area.top + pad, area.right - 2 * pad, area.bottom - pad};
    RECT measured = r;
    DrawTextW(dc, data_.message.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    const int h = measured.bottom - measured.top;
    r.top = std::max(r.top, static_cast<LONG>(area.top + (area.bottom - area.top - h) / 2));
    text(data_.message, r, DT_WORDBREAK | DT_CENTER, GetSysColor(COLOR_WINDOWTEXT));
    SelectObject(dc, old_font);
    return ok;
  }

  std::vector<std::wstring> labels;
  int label_w = 0;
  for (const std::string& l : data_.scale.labels) {
    labels.push_back(Widen(l));
    label_w = std::max(label_w, TextWidth(dc, labels.back()));
  }
  const bool any_limit =
      std::any_of(data_.bars.begin(), data_.bars.end(), [](const Program::UsageBar& b) { return b.limit > 0; });
  // Half a label stands above the top line; the legend's row holds it.
  const RECT plot{area.left + pad + label_w + Scale(6), area.top + pad + text_h, area.right - pad,
                  area.bottom - pad - text_h - Scale(2)};
  plot_ = plot;
  const int n = static_cast<int>(data_.bars.size());
  if (plot.right - plot.left < n || plot.bottom - plot.top < 2 || n == 0) {
    SelectObject(dc, old_font);
    return ok;
  }
  const int top = std::max(1, data_.scale.top);
  const int height = static_cast<int>(plot.bottom - plot.top), width = static_cast<int>(plot.right - plot.left);
  auto y_of = [&](int minutes) { return static_cast<int>(plot.bottom) - MulDiv(std::clamp(minutes, 0, top), height, top); };

  // The scale: a line and its label at each step.
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const int y = y_of(static_cast<int>(i) * data_.scale.step);
    if (i > 0) ok = Fill(dc, {plot.left, y, plot.right, y + 1}, kGrid) && ok;
    text(labels[i], {area.left, y - text_h / 2, plot.left - Scale(6), y - text_h / 2 + text_h},
         DT_RIGHT | DT_SINGLELINE | DT_TOP, GetSysColor(COLOR_WINDOWTEXT));
  }
  // The bars, one in the middle of each day's slot, and the day under it.
  const int line = std::max(2, Scale(2));
  for (int i = 0; i < n; ++i) {
    const Program::UsageBar& bar = data_.bars[i];
    const int x0 = plot.left + MulDiv(i, width, n), x1 = plot.left + MulDiv(i + 1, width, n);
    const int bar_w = std::max(Scale(2), (x1 - x0) * 3 / 5);
    const int bx = x0 + (x1 - x0 - bar_w) / 2;
    if (bar.minutes > 0) {
      // A minute or two still shows as a sliver.
      const int y = std::min(y_of(bar.minutes), static_cast<int>(plot.bottom) - 1);
      ok = Fill(dc, {bx, y, bx + bar_w, plot.bottom}, bar.today ? kTodayBar : kBar) && ok;
    }
    const std::wstring day = bar.today ? L"今天" : std::to_wstring(bar.day.day);
    text(day, {x0 - Scale(10), plot.bottom + Scale(2), x1 + Scale(10), area.bottom},
         DT_CENTER | DT_SINGLELINE | DT_TOP, bar.today ? kTodayText : GetSysColor(COLOR_WINDOWTEXT));
  }
  ok = Fill(dc, {plot.left, plot.bottom, plot.right, plot.bottom + 1}, kAxis) && ok;
  // Each day's limit across its slot, so that days of one limit make one line.
  for (int i = 0; i < n; ++i) {
    const Program::UsageBar& bar = data_.bars[i];
    if (bar.limit <= 0) continue;
    const int x0 = plot.left + MulDiv(i, width, n), x1 = plot.left + MulDiv(i + 1, width, n);
    const int y = y_of(bar.limit) - line / 2;
    ok = Fill(dc, {x0, y, x1, y + line}, kLimit) && ok;
  }
  if (any_limit) {
    const int legend_w = TextWidth(dc, kLimitLegend);
    const int x = plot.right - legend_w, y = area.top + Scale(4);
    ok = Fill(dc, {x - Scale(22), y + text_h / 2 - line / 2, x - Scale(4), y + text_h / 2 - line / 2 + line}, kLimit) && ok;
    text(kLimitLegend, {x, y, plot.right, y + text_h}, DT_LEFT | DT_SINGLELINE | DT_TOP, GetSysColor(COLOR_WINDOWTEXT));
  }
  SelectObject(dc, old_font);
  return ok;
}

void UsageChart::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT client;
  GetClientRect(hwnd_, &client);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    Draw(memory, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
  } else {
    Draw(dc, client);  // without a bitmap, straight onto the screen
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK UsageChart::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<UsageChart*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // the bitmap covers every pixel
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_SETFONT:
      self->font_ = reinterpret_cast<HFONT>(wp);
      if (LOWORD(lp)) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(self->font_);
    case WM_MOUSEMOVE:
      self->UpdateTip(self->DayAt(static_cast<short>(LOWORD(lp))));
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (self->tip_) DestroyWindow(self->tip_);
      self->tip_ = nullptr;
      self->hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace dadado::win32
