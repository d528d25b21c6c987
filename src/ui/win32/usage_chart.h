// The 使用记录 tab's chart: one bar a day with the minutes used, today's bar
// in a colour of its own, each day's limit as a line across its bar, on the
// scale the program chose; the pointer resting on a day tells its figures.
// A child window of its own class, drawn with GDI at the window's DPI in the
// font it is given, into a bitmap first so that it never flickers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/program.h"

namespace dadado::win32 {

struct UsageChartData {
  std::vector<Program::UsageBar> bars;  // oldest first
  ChartScale scale;
  // Said in the chart's middle instead of the bars when not empty.
  std::wstring message;
};

class UsageChart {
 public:
  static constexpr wchar_t kClassName[] = L"DadadoUsageChart";
  static void Register();

  // Ties the chart to a window of its class; the window keeps a pointer to
  // it until it is destroyed.
  void Attach(HWND hwnd);
  HWND hwnd() const { return hwnd_; }
  // Repaints only when something shown has changed.
  void Set(UsageChartData data);
  const UsageChartData& data() const { return data_; }
  // Draws the chart over `area` of `dc` at the window's DPI: what the window
  // paints through its bitmap. False when a GDI call failed.
  bool Draw(HDC dc, const RECT& area) const;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Paint();
  int Scale(int px96) const;
  // The day under the pointer, for the tip: -1 for none.
  int DayAt(int x) const;
  void UpdateTip(int day);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;  // the window's, as WM_SETFONT gives it
  UsageChartData data_;
  HWND tip_ = nullptr;
  int tip_day_ = -1;
  std::wstring tip_text_;
  mutable RECT plot_{};  // where the bars stood when last drawn
};

}  // namespace dadado::win32
