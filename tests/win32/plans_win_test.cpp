// The 计划 tab, the plan dialog and the holiday dialog in the real windows,
// driven with window messages; the modal dialogs are driven from a timer
// that fires inside their own message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <thread>

#include "system/win32/wide.h"
#include "system/win32/win_os.h"
#include "support/plans.h"
#include "ui/plan_editor.h"
#include "ui/win32/ids.h"
#include "ui/win32/win_app.h"
#include "win32/fresh_app.h"
#include "win32/win_test_support.h"

namespace dadado::win32 {
namespace {

// What the timer does once the dialog with this title has opened. A script
// that leaves the dialog open has it closed, so that a failing test ends.
struct DialogScript {
  static inline std::wstring title;
  static inline std::function<void(HWND)> step;
  static inline bool ran = false;
  static inline UINT_PTR timer = 0;
  static void Arm(const wchar_t* dialog_title, std::function<void(HWND)> s) {
    title = dialog_title;
    step = std::move(s);
    ran = false;
    timer = SetTimer(nullptr, 0, 50, &DialogScript::Fire);
  }
  static void Disarm() { KillTimer(nullptr, timer); }
  static VOID CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowW(kWindowClass, title.c_str());
    if (!dialog) return;
    KillTimer(nullptr, id);
    ran = true;
    step(dialog);
    if (IsWindow(dialog)) SendMessageW(dialog, WM_CLOSE, 0, 0);
  }
};

bool Shown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND h) { return SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Choose(HWND dialog, int combo, int index) {
  HWND h = GetDlgItem(dialog, combo);
  SendMessageW(h, CB_SETCURSEL, index, 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
}

void PickTime(HWND dialog, int h, int m, int s) {
  NMDATETIMECHANGE change{};
  change.nmhdr.hwndFrom = GetDlgItem(dialog, kIdPlanTime);
  change.nmhdr.idFrom = kIdPlanTime;
  change.nmhdr.code = DTN_DATETIMECHANGE;
  change.dwFlags = GDT_VALID;
  GetLocalTime(&change.st);
  change.st.wHour = static_cast<WORD>(h);
  change.st.wMinute = static_cast<WORD>(m);
  change.st.wSecond = static_cast<WORD>(s);
  SendMessageW(dialog, WM_NOTIFY, kIdPlanTime, reinterpret_cast<LPARAM>(&change));
}

std::wstring Cell(HWND list, int row, int column) {
  wchar_t buf[128] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buf;
  item.cchTextMax = 128;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return buf;
}

Plan Weekly(unsigned days, int time) {
  Plan p;
  p.repeat = PlanRepeat::kWeekly;
  p.weekdays = days;
  p.time_of_day = time;
  return p;
}

using testing::IdlePlan;

struct PlansWin : FreshAppTest {
  HWND Control(int id) { return Form1Control(id); }
  LiveSettings& live() { return app->program().live(); }
  void Click(int id) {
    SendMessageW(Control(id), BM_CLICK, 0, 0);
    Pump(20);
  }
  void SelectRow(int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Control(kIdPlanList), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }
};

TEST_F(PlansWin, ThePlanTabSitsBetweenTimeControlAndUsage) {
  Start();
  HWND tab = Control(kIdTab);
  ASSERT_EQ(TabCtrl_GetItemCount(tab), 6);
  const wchar_t* const captions[] = {L"常规设置", L"高级设置", L"时间控制", L"计划", L"使用记录", L"关于"};
  for (int i = 0; i < 6; ++i) {
    wchar_t caption[32] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 32;
    SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(caption, captions[i]);
  }
  HWND list = Control(kIdPlanList);
  EXPECT_FALSE(IsWindowVisible(list));
  live().SelectTab(kPlansTab);
  app->Refresh();
  EXPECT_TRUE(IsWindowVisible(list));
  EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0), 5);
  for (int id : {kIdPlanAdd, kIdPlanEdit, kIdPlanRemove, kIdPlanCalendar}) EXPECT_TRUE(IsWindowVisible(Control(id)));
  EXPECT_EQ(Text(Control(kIdPlanAdd)), L"添加(&A)…");
  // The tray menu's 关于 opens the last tab.
  app->program().clock_menu5_Click();
  app->Refresh();
  EXPECT_EQ(app->form1().LogicalTabOfItem(TabCtrl_GetCurSel(tab)), kAboutTab);
  EXPECT_TRUE(IsWindowVisible(Control(kIdLabel6)));
  EXPECT_FALSE(IsWindowVisible(list));
}

TEST_F(PlansWin, TheListMirrorsThePlans) {
  Start();
  Plan idle = IdlePlan(30);
  idle.enabled = false;
  Plan working = Weekly(0, 17 * 3600 + 30 * 60);
  working.repeat = PlanRepeat::kWorkingDays;
  live().SetPlans({Weekly(0b0101010, 17 * 3600 + 30 * 60), idle, working});
  app->Refresh();
  HWND list = Control(kIdPlanList);
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(Cell(list, 0, 1), L"17:30:00");
  EXPECT_EQ(Cell(list, 0, 2), L"每周一、三、五");
  EXPECT_EQ(Cell(list, 0, 3), L"关闭计算机");
  EXPECT_EQ(Cell(list, 0, 4), L"是");
  EXPECT_EQ(Cell(list, 1, 2), L"空闲30分钟");
  EXPECT_EQ(Cell(list, 1, 4), L"否");
  EXPECT_TRUE(ListView_GetCheckState(list, 0));
  EXPECT_FALSE(ListView_GetCheckState(list, 1));
  // A working-day plan and a calendar without this year: the line says so.
  EXPECT_EQ(Text(Control(kIdPlanNotice)), Widen(kCalendarOutdated));
  EXPECT_FALSE(IsWindowEnabled(Control(kIdPlanEdit)));  // no row chosen yet
  SelectRow(2);
  EXPECT_EQ(app->form1().selected_plan(), 2);
  EXPECT_TRUE(IsWindowEnabled(Control(kIdPlanEdit)));
  Click(kIdPlanRemove);
  EXPECT_EQ(live().plans().size(), 2u);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(Text(Control(kIdPlanNotice)), L"");

  live().SetPlans(std::vector<Plan>(kMaxPlans, IdlePlan(5)));
  app->Refresh();
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), kMaxPlans);
  EXPECT_FALSE(IsWindowEnabled(Control(kIdPlanAdd)));  // sixteen at most
}

TEST_F(PlansWin, TheEnabledBoxOfARowReachesTheModel) {
  Start();
  live().SetPlans({IdlePlan(30)});
  live().SetApplyEnabled(false);
  app->Refresh();
  ListView_SetCheckState(Control(kIdPlanList), 0, FALSE);
  Pump(20);
  EXPECT_FALSE(live().plans()[0].enabled);
  EXPECT_TRUE(IsWindowEnabled(Control(kIdCommand3)));
}

TEST_F(PlansWin, APlanAddedThroughTheDialogReachesTheModel) {
  Start();
  bool weekly_fields = false, idle_hidden = false, said = false;
  DialogScript::Arm(L"添加计划", [&](HWND d) {
    Choose(d, kIdPlanRepeat, 2);  // 每周
    weekly_fields = Shown(d, kIdPlanWeekdayFirst) && Shown(d, kIdPlanTime) && !Shown(d, kIdPlanDate);
    idle_hidden = !Shown(d, kIdPlanIdle) && !Shown(d, kIdPlanEvery);
    // No day at all: OK says so and the dialog stays.
    for (int day = 0; day < 7; ++day)
      if (Checked(GetDlgItem(d, kIdPlanWeekdayFirst + day)))
        SendMessageW(GetDlgItem(d, kIdPlanWeekdayFirst + day), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    said = !app->shown_messages.empty() && app->shown_messages.back() == "请至少选择星期中的一天！" && IsWindow(d);
    for (int day : {1, 3, 5}) SendMessageW(GetDlgItem(d, kIdPlanWeekdayFirst + day), BM_CLICK, 0, 0);
    PickTime(d, 17, 30, 0);
    // Forged notifications change nothing: one sent by another program (its
    // pointer means nothing here), one that names the time picker but does
    // not come from it.
    std::atomic<bool> sent{false};
    std::thread other([&] {
      SendMessageW(d, WM_NOTIFY, kIdPlanTime, 1);
      sent = true;
    });
    for (int waited = 0; waited < 100 && !sent; ++waited) Pump(20);
    other.join();
    NMDATETIMECHANGE forged{{d, kIdPlanTime, static_cast<UINT>(DTN_DATETIMECHANGE)}, GDT_VALID, {}};
    GetLocalTime(&forged.st);
    forged.st.wHour = 8;
    SendMessageW(d, WM_NOTIFY, kIdPlanTime, reinterpret_cast<LPARAM>(&forged));
    Choose(d, kIdPlanAction, 5);  // 锁定计算机
    SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
  });
  Click(kIdPlanAdd);  // returns when the dialog has closed
  EXPECT_TRUE(DialogScript::ran);
  EXPECT_TRUE(weekly_fields);
  EXPECT_TRUE(idle_hidden);
  EXPECT_TRUE(said);
  Plan want = Weekly(0b0101010, 17 * 3600 + 30 * 60);
  want.action = PlanAction::kLock;
  ASSERT_EQ(live().plans(), std::vector<Plan>{want});
  EXPECT_TRUE(live().apply_enabled());
  EXPECT_EQ(Cell(Control(kIdPlanList), 0, 2), L"每周一、三、五");
  EXPECT_EQ(app->form1().selected_plan(), 0);  // the new row is chosen
  EXPECT_TRUE(IsWindowEnabled(app->form1().hwnd()));

  // Cancel changes nothing.
  DialogScript::Arm(L"添加计划", [&](HWND d) { SendMessageW(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); });
  Click(kIdPlanAdd);
  EXPECT_EQ(live().plans().size(), 1u);
}

TEST_F(PlansWin, EditingAnIdlePlanShowsOnlyItsMinutes) {
  Start();
  live().SetPlans({IdlePlan(30)});
  app->Refresh();
  SelectRow(0);
  std::wstring minutes;
  bool only_minutes = false;
  DialogScript::Arm(L"修改计划", [&](HWND d) {
    only_minutes = Shown(d, kIdPlanIdle) && !Shown(d, kIdPlanTime) && !Shown(d, kIdPlanDate) &&
                   !Shown(d, kIdPlanWeekdayFirst) && !Shown(d, kIdPlanEvery);
    minutes = Text(GetDlgItem(d, kIdPlanIdle));
    SetWindowTextW(GetDlgItem(d, kIdPlanIdle), L"45");
    SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
  });
  Click(kIdPlanEdit);
  EXPECT_TRUE(DialogScript::ran);
  EXPECT_TRUE(only_minutes);
  EXPECT_EQ(minutes, L"30");
  EXPECT_EQ(live().plans(), std::vector<Plan>{IdlePlan(45)});
}

TEST_F(PlansWin, TheHolidayDialogNamesWhatIsNoDateAndKeepsTheRest) {
  Start();
  std::string first_answer;
  DialogScript::Arm(L"节假日安排", [&](HWND d) {
    SetWindowTextW(GetDlgItem(d, kIdHolidayBox), L"2026/10/1-2026/10/8\r\n2026/2/30");
    SetWindowTextW(GetDlgItem(d, kIdExtraWorkdayBox), L"2026/9/27，2026/10/10");
    SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    first_answer = app->shown_messages.empty() ? "" : app->shown_messages.back();
    SetWindowTextW(GetDlgItem(d, kIdHolidayBox), L"2026/10/1-2026/10/8\r\n2027/1/1");
    SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
  });
  Click(kIdPlanCalendar);
  EXPECT_TRUE(DialogScript::ran);
  EXPECT_EQ(first_answer, "以下内容不是日期，请改正后再按“确定”：\n假日：2026/2/30");
  EXPECT_EQ(live().holidays(), "2026/10/1-2026/10/8,2027/1/1");
  EXPECT_EQ(live().extra_workdays(), "2026/9/27,2026/10/10");
  // Opened again, the lists show an entry a line.
  std::wstring shown;
  DialogScript::Arm(L"节假日安排", [&](HWND d) {
    shown = Text(GetDlgItem(d, kIdHolidayBox));
    SendMessageW(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0);
  });
  Click(kIdPlanCalendar);
  EXPECT_EQ(shown, L"2026/10/1-2026/10/8\r\n2027/1/1");
}

TEST_F(PlansWin, TheGateKeepsThePlanTabClosed) {
  Start();
  Click(kIdCheckFirst + 10);  // 密码保护
  app->program().clock_menu5_Click();
  app->Refresh();
  ASSERT_EQ(TabCtrl_GetItemCount(Control(kIdTab)), 1);
  DialogScript::Arm(L"添加计划", [](HWND) {});
  Click(kIdPlanAdd);
  Pump(200);
  EXPECT_FALSE(DialogScript::ran);
  EXPECT_TRUE(live().plans().empty());
  DialogScript::Disarm();
}

TEST_F(PlansWin, APolicyListIsReadFromItsOwnKeyAndLocksTheTab) {
  const std::wstring plans = std::wstring(kPolicyKey) + L"\\Plans";
  SetPolicyText(plans, L"2", L"1,6,6,30,,0");
  SetPolicyText(plans, L"1", L"1,1,4,,17:30:00,1");
  SetPolicyText(kPolicyKey, L"HolidayDates", L"2026/10/1-2026/10/8");
  WinOperatingSystem os;
  const PolicyValues values = os.ReadPolicyValues();
  ASSERT_TRUE(values.count("Plans\\1"));
  EXPECT_EQ(values.at("Plans\\2").text, "1,6,6,30,,0");
  Start();
  ASSERT_EQ(live().plans().size(), 2u);
  EXPECT_EQ(live().plans()[0].repeat, PlanRepeat::kWorkingDays);
  EXPECT_EQ(live().holidays(), "2026/10/1-2026/10/8");
  for (int id : {kIdPlanList, kIdPlanAdd, kIdPlanEdit, kIdPlanRemove, kIdPlanCalendar})
    EXPECT_FALSE(IsWindowEnabled(Control(id))) << id;
}

}  // namespace
}  // namespace dadado::win32
