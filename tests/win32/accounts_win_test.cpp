// The rules of each account, 今日加时 and the 使用记录 tab in the real windows,
// driven with window messages; the chart drawn into a bitmap and looked at.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "engine/usage_recorder.h"
#include "scheduler/usage_history.h"
#include "settings/text.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"
#include "ui/win32/ids.h"
#include "ui/win32/usage_chart.h"
#include "win32/fresh_app.h"

namespace dadado::win32 {
namespace {

bool Checked(HWND h) { return SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::string Day(int days_from_today) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return IsoDate(DateOfDayNumber(DayNumber(Date{st.wYear, st.wMonth, st.wDay}) + days_from_today));
}

struct AccountsWin : FreshAppTest {
  WinFileStore files;
  const std::string usage_path = UsageFilePath(SettingsPath());
  void SetUp() override {
    FreshAppTest::SetUp();
    DeleteFileW(Widen(usage_path).c_str());
  }
  void TearDown() override {
    FreshAppTest::TearDown();
    DeleteFileW(Widen(usage_path).c_str());
  }
  LiveSettings& live() { return app->program().live(); }
  std::string Settings() { return GbkToUtf8(files.Read(SettingsPath()).bytes); }
  void Show(int tab) {
    live().SelectTab(tab);
    app->Refresh();
  }
  int IndexOf(int combo, const std::wstring& text) {
    return static_cast<int>(SendMessageW(Form1Control(combo), CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(text.c_str())));
  }
  // False when the list has no such item.
  bool Choose(int combo, const std::wstring& text) {
    HWND h = Form1Control(combo);
    SendMessageW(h, CB_SETCURSEL, IndexOf(combo, text), 0);
    SendMessageW(app->form1().hwnd(), WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
    Pump(20);
    return IndexOf(combo, text) >= 0;
  }
  void Click(int id) {
    SendMessageW(Form1Control(id), BM_CLICK, 0, 0);
    Pump(20);
  }
  // Time control on for someone: the window opens through the password.
  void OpenWithPassword() {
    app->program().ShowSettings(1, kTimeControlTab);
    app->program().CheckPassword_SetText("mossgate");
    app->program().CheckPassword_cmdOK_Click();
    Pump(20);
  }
};

TEST_F(AccountsWin, AnAccountsRulesAreShownEditedAndWrittenWithItsSid) {
  files.WriteAtomically(SettingsPath(), Utf8ToGbk("[时间控制:小明]\r\nSID=S-1-5-21-1-2-3-1001\r\n启用= 1\r\n"
                                                  "1week=16:00+17:00\r\n1limit= 90\r\n"));
  Start();
  OpenWithPassword();
  Show(kTimeControlTab);
  HWND use_default = Form1Control(kIdUseDefaultRules);
  EXPECT_FALSE(IsWindowVisible(use_default));
  ASSERT_TRUE(Choose(kIdRulesAccount, L"小明（自定义规则）"));
  EXPECT_EQ(Text(Form1Control(kIdText3First + 1)), L"16:00+17:00");
  EXPECT_EQ(Text(Form1Control(kIdDailyLimitFirst + 1)), L"90");
  EXPECT_TRUE(Checked(Form1Control(kIdRulesEnabled)));
  EXPECT_TRUE(IsWindowVisible(use_default));
  EXPECT_FALSE(Checked(use_default));
  // Elsewhere Check4 is the machine's time control again.
  Show(1);
  EXPECT_FALSE(live().rules_account());
  EXPECT_FALSE(Checked(Form1Control(kIdCheckFirst + 4)));
  Show(kTimeControlTab);
  EXPECT_EQ(SendMessageW(Form1Control(kIdRulesAccount), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Text(Form1Control(kIdText3First + 1)), L"24:00");

  // The account at the keyboard is on the machine's list and follows the
  // default rules, greyed, until it is given its own.
  const std::optional<Account> me = app->program().console_account();
  ASSERT_TRUE(me && !me->sid.empty());
  ASSERT_TRUE(Choose(kIdRulesAccount, Widen(me->name)));
  EXPECT_TRUE(Checked(use_default));
  EXPECT_FALSE(IsWindowEnabled(Form1Control(kIdRulesEnabled)));
  Click(kIdUseDefaultRules);
  EXPECT_TRUE(IsWindowEnabled(Form1Control(kIdRulesEnabled)));
  SetWindowTextW(Form1Control(kIdDailyLimitFirst + 3), L"45");
  Click(kIdCommand3);
  const std::string section = "[时间控制:" + me->name + "]";
  std::string ini = Settings();
  const auto at = ini.find(section);
  ASSERT_NE(at, std::string::npos) << ini;
  const std::string own = ini.substr(at, ini.find("\r\n[", at + 1) - at);
  EXPECT_NE(own.find("SID=" + me->sid + "\r\n"), std::string::npos) << own;
  EXPECT_NE(own.find("3limit= 45\r\n"), std::string::npos) << own;
  EXPECT_GT(IndexOf(kIdRulesAccount, Widen(me->name + "（自定义规则）")), 0);

  // 使用默认规则 takes the section out again; 小明's stays.
  Click(kIdUseDefaultRules);
  Click(kIdCommand3);
  ini = Settings();
  EXPECT_EQ(ini.find(section), std::string::npos) << ini;
  EXPECT_NE(ini.find("[时间控制:小明]"), std::string::npos) << ini;
}

TEST_F(AccountsWin, ExtraTimeIsGrantedWithinItsRangeOnly) {
  Start();
  const std::optional<Account> me = app->program().console_account();
  ASSERT_TRUE(me);
  ExtraTimeDialog dialog(app->program(), *app, {*me}, 0);
  ASSERT_TRUE(dialog.Open(app->form1().hwnd()));
  HWND minutes = GetDlgItem(dialog.hwnd(), kIdExtraMinutes);
  EXPECT_EQ(Text(minutes), L"30");
  for (const wchar_t* typed : {L"700", L"", L"45"}) {
    SetWindowTextW(minutes, typed);
    SendMessageW(GetDlgItem(dialog.hwnd(), IDOK), BM_CLICK, 0, 0);
  }
  EXPECT_FALSE(dialog.IsOpen());
  EXPECT_EQ(dialog.granted_minutes(), 45);
  const auto& said = app->shown_messages;
  EXPECT_EQ(std::count(said.begin(), said.end(), "加时必须在5到600分钟之间。"), 2);
}

TEST_F(AccountsWin, TheUsageTabShowsAnAccountsDaysAndExportsItsRows) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string rows_of_xiaoming = Day(-1) + ",小明,80\r\n" + Day(0) + ",小明,30\r\n";
  files.WriteAtomically(usage_path, bom + "日期,账户,分钟\r\n" + rows_of_xiaoming + Day(0) + ",小红,50\r\n");
  Start();
  Show(kUsageTab);
  const UsageChart& chart = app->form1().usage_chart();
  // Nothing recorded now, but the file holds days: they are shown.
  EXPECT_TRUE(chart.data().message.empty());
  ASSERT_TRUE(Choose(kIdUsageAccount, L"小明"));
  ASSERT_EQ(chart.data().bars.size(), 14u);
  EXPECT_EQ(chart.data().bars[13].minutes, 30);
  EXPECT_TRUE(chart.data().bars[13].today);
  EXPECT_EQ(chart.data().bars[12].minutes, 80);
  EXPECT_EQ(Text(Form1Control(kIdUsageToday)), L"今天：30分钟");

  const std::string exported = SettingsPath() + ".export.csv";
  ASSERT_TRUE(app->form1().ExportUsageTo(exported));
  EXPECT_EQ(files.Read(exported).bytes, bom + "日期,账户,分钟\r\n" + rows_of_xiaoming);
  // 所有账户: the days added up, every row exported.
  Choose(kIdUsageAccount, L"所有账户");
  EXPECT_GE(chart.data().bars[13].minutes, 80);
  ASSERT_TRUE(app->form1().ExportUsageTo(exported));
  EXPECT_NE(files.Read(exported).bytes.find(Day(0) + ",小红,50\r\n"), std::string::npos);
  DeleteFileW(Widen(exported).c_str());
  EXPECT_FALSE(app->form1().ExportUsageTo(SettingsPath() + ".no-such-folder\\usage.csv"));
  EXPECT_EQ(app->shown_messages.back().rfind("无法保存文件：", 0), 0u);
  // Not over the history itself, however its name is written.
  std::string upper = usage_path;
  CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  EXPECT_FALSE(app->form1().ExportUsageTo(upper));
  EXPECT_EQ(app->shown_messages.back(), "不能导出到使用记录文件本身，请另选一个文件。");

  // Without a history, and none being recorded, the chart says how to start one.
  DeleteFileW(Widen(usage_path).c_str());
  app->Refresh();
  EXPECT_EQ(chart.data().message, L"没有使用记录。勾选“记录使用时间”后开始记录。");
}

// ---- the chart, drawn into a bitmap ----------------------------------------------

struct Drawn {
  bool ok = false;
  int blue = 0, orange = 0, red = 0, ink = 0;
  int top_blue = 9999, top_red = 9999;  // the highest row of each
};

Drawn Draw(const UsageChart& chart, int w, int h) {
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  Drawn d;
  d.ok = chart.Draw(dc, {0, 0, w, h});
  GdiFlush();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const DWORD p = static_cast<const DWORD*>(bits)[y * w + x];
      // The bars and the lines are filled with their colours, no shades.
      const COLORREF c = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
      if (c == RGB(70, 130, 196)) {
        ++d.blue;
        d.top_blue = std::min(d.top_blue, y);
      } else if (c == RGB(236, 128, 36)) {
        ++d.orange;
      } else if (c == RGB(208, 36, 36)) {
        ++d.red;
        d.top_red = std::min(d.top_red, y);
      } else if (c != GetSysColor(COLOR_WINDOW)) {
        ++d.ink;
      }
    }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return d;
}

TEST(UsageChartWin, DrawsNothingAFullDayAndTheLimits) {
  UsageChart::Register();
  constexpr int kW = 340, kH = 170;
  HWND window = CreateWindowExW(0, UsageChart::kClassName, L"", WS_POPUP, 0, 0, kW, kH, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(window);
  UsageChart chart;
  chart.Attach(window);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  struct Case {
    const char* what;
    int minutes, limit;
    bool bars, limits;
  };
  for (const Case& c : {Case{"no use", 0, 0, false, false}, Case{"24 hours", 1440, 0, true, false},
                        Case{"under limits", 60, 120, true, true}}) {
    UsageChartData data;
    for (int i = 0; i < 14; ++i) data.bars.push_back({Date{2026, 12, 1 + i}, c.minutes, c.limit, i == 13});
    data.scale = ScaleFor(std::max(c.minutes, c.limit));
    chart.Set(data);
    const Drawn d = Draw(chart, kW, kH);
    EXPECT_TRUE(d.ok) << c.what;
    EXPECT_EQ(d.blue > 0, c.bars) << c.what;
    EXPECT_EQ(d.orange > 0, c.bars) << c.what << ": today's bar";
    EXPECT_EQ(d.red > 0, c.limits) << c.what;
    EXPECT_GT(d.ink, 100) << c.what << ": the scale and the days";
    EXPECT_TRUE(c.minutes < 1440 || d.top_blue < kH / 4) << "a full day reaches the top";
    EXPECT_TRUE(!c.limits || d.top_red < d.top_blue) << "the limit above the use";
  }
  UsageChartData empty;
  empty.message = L"没有使用记录。";
  chart.Set(empty);
  const Drawn d = Draw(chart, kW, kH);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.blue + d.red, 0);
  EXPECT_GT(d.ink, 20);
  EXPECT_EQ(Text(window), L"没有使用记录。");
  // And through the window's own paint, double-buffered.
  ShowWindow(window, SW_SHOWNA);
  UpdateWindow(window);
  Pump(20);
  DestroyWindow(window);
  EXPECT_FALSE(chart.hwnd());
}

}  // namespace
}  // namespace dadado::win32
