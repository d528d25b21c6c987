#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "scheduler/time_control_guard.h"
#include "system/win32/wide.h"
#include "system/win32/win_time_zone.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"
#include "ui/start_trace.h"

namespace dadado::win32 {

namespace {

// The window is three rows taller than its first design: the frames hold
// the daily limits, the postponement, catching up, the guard and the time
// zone as well, and the 时间控制 tab the account whose rules it shows, its
// own 启用, 管理员不受限 and 今日加时.
constexpr int kClientWidth = 386, kClientHeight = 359;
constexpr wchar_t kPolicyTip[] = L"此设置由管理员通过组策略管理";
constexpr wchar_t kGuardStartsTip[] = L"守护服务会在每次登录时启动本程序";
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
const wchar_t* const kWeekdayNames[] = {L"星期日", L"星期一", L"星期二", L"星期三", L"星期四", L"星期五", L"星期六"};
const wchar_t* const kIntervals[] = {L"间隔一天", L"间隔二天", L"间隔三天",   L"间隔四天",   L"间隔五天",
                                     L"间隔六天", L"间隔七天", L"间隔八天",   L"间隔九天",   L"间隔十天",
                                     L"间隔十一天", L"间隔十二天", L"间隔十三天", L"间隔十四天", L"间隔十五天"};
const wchar_t* const kTabCaptions[] = {L"常规设置", L"高级设置", L"时间控制", L"计划", L"使用记录", L"关于"};
static_assert(std::size(kTabCaptions) == kTabCount);
constexpr COLORREF kNoticeRed = RGB(176, 32, 32);
// The plan list's columns at 96 DPI: 启用, 时间, 重复, 操作, 提示. They fill the
// list less the width of a scroll bar, which sixteen rows need.
constexpr int kPlanColumnWidths[] = {38, 62, 108, 96, 36};
const wchar_t* const kPlanColumns[] = {L"启用", L"时间", L"重复", L"操作", L"提示"};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kGroup = kChild | BS_GROUPBOX;
constexpr DWORD kLabel = kChild | SS_LEFT;
// The largest notification OnNotify reads.
constexpr std::size_t kLargestNotification =
    std::max({sizeof(NMLISTVIEW), sizeof(NMITEMACTIVATE), sizeof(NMLVGETINFOTIPW), sizeof(NMDATETIMECHANGE)});

// How the 适用于 list marks an account with rules of its own.
constexpr char kOwnRulesMark[] = "（自定义规则）";

}  // namespace

HWND Form1Window::Check(int page, int n, const wchar_t* caption, Rect96 r, const wchar_t* tip) {
  HWND h = AddControl(WC_BUTTONW, caption, kChild | WS_TABSTOP | BS_3STATE, r, kIdCheckFirst + n);
  AddPage(page, h);
  if (tip) AddTip(h, tip);
  return h;
}

void Form1Window::AddTip(HWND control, const wchar_t* tip) {
  if (!tips_) {
    held_tips_.push_back({control, tip});
    return;
  }
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = hwnd();
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = const_cast<wchar_t*>(tip);
  SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

bool Form1Window::Create() {
  if (!CreateTopLevel(WS_EX_CONTROLPARENT, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                      Widen(kProgramCaption), kClientWidth, kClientHeight, nullptr))
    return false;
  tab_ = AddControl(WC_TABCONTROLW, L"", kChild | WS_TABSTOP | WS_CLIPSIBLINGS, {4, 4, 378, 316}, kIdTab);
  SetWindowPos(tab_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

// ---- buttons ----------------------------------------------------------------
void Form1Window::AddButtons() {
  const wchar_t* const buttons[] = {L"确定", L"取消", L"应用", L"退出"};
  const int ids[] = {kIdCommand1, kIdCommand2, kIdCommand3, kIdCommand4};
  for (int i = 0; i < 4; ++i)
    AddControl(WC_BUTTONW, buttons[i], kChild | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON | WS_GROUP : BS_PUSHBUTTON),
               {70 + i * 78, 328, 72, 25}, ids[i]);
}

bool Form1Window::BuildPage(int page, bool in_view) {
  if (page < 0 || page >= kTabCount || built_[page]) return false;
  built_[page] = true;
  // A page out of view is built out of sight. What a control says while it
  // is made is no user's doing.
  const bool was_mirroring = mirroring_;
  mirroring_ = true;
  add_hidden_ = !in_view;
  const std::size_t first = control_count();
  switch (page) {
    case 0: BuildGeneralPage(); break;
    case 1: BuildAdvancedPage(); break;
    case kTimeControlTab: BuildTimeControlPage(); break;
    case kPlansTab: BuildPlanPage(); break;
    case kUsageTab: BuildUsagePage(); break;
    case kAboutTab: BuildAboutPage(); break;
  }
  add_hidden_ = false;
  // The keyboard goes through the controls in the order they were made: the
  // window's buttons follow the first page built, and the controls of a
  // later page go before them, as if they had been made first.
  if (HWND ok = FindControl(kIdCommand1)) {
    HWND after = GetWindow(ok, GW_HWNDPREV);
    for (std::size_t i = first; i < control_count(); ++i) {
      HWND h = control_at(i);
      SetWindowPos(h, after ? after : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      after = h;
    }
  } else {
    AddButtons();
  }
  ShowPictures();
  mirroring_ = was_mirroring;
  TraceMark(page == 0 ? "page 0 built" : "a page built");
  return true;
}

void Form1Window::MakeTips() {
  if (tips_ || !hwnd()) return;
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                          hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 400);
  for (const auto& [control, tip] : held_tips_) AddTip(control, tip);
  held_tips_.clear();
}

void Form1Window::BuildRemainingPages() {
  MakeTips();
  for (int page = 0; page < kTabCount; ++page) BuildPage(page);
  Mirror();
}

HWND Form1Window::Control(int id) {
  if (!FindControl(id)) BuildRemainingPages();
  return FindControl(id);
}

// ---- 常规设置 -----------------------------------------------------------------
void Form1Window::BuildGeneralPage() {
  AddPage(0, AddControl(WC_BUTTONW, L"频率", kGroup, {12, 30, 112, 130}, kIdStatic));
  const int option1_rows[] = {1, 2, 3, 0};  // Option1(0) is on row 2; "取消定时" heads the list
  const wchar_t* const option1_captions[] = {L"每天定时", L"每周定时", L"每隔＆天", L"取消定时"};
  for (int i : {3, 0, 1, 2}) {
    DWORD style = kChild | WS_TABSTOP | BS_RADIOBUTTON | (i == 3 ? WS_GROUP : 0);
    AddPage(0, AddControl(WC_BUTTONW, option1_captions[i], style, {22, 52 + option1_rows[i] * 26, 96, 18},
                          kIdOption1First + i));
  }
  AddPage(0, AddControl(WC_BUTTONW, L"定时", kGroup, {12, 166, 112, 148}, kIdStatic));
  HWND picker = AddControl(DATETIMEPICK_CLASSW, L"", kChild | WS_TABSTOP | WS_GROUP | DTS_TIMEFORMAT | DTS_UPDOWN,
                           {20, 190, 96, 22}, kIdPicker);
  SendMessageW(picker, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"HH':'mm':'ss"));
  AddPage(0, picker);
  HWND combo1 = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                           {20, 226, 96, 200}, kIdCombo1);
  for (auto* w : kWeekdayNames) SendMessageW(combo1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w));
  AddPage(0, combo1);
  HWND combo2 = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                           {20, 262, 96, 240}, kIdCombo2);
  for (auto* w : kIntervals) SendMessageW(combo2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w));
  AddPage(0, combo2);

  AddPage(0, AddControl(WC_BUTTONW, L"操作", kGroup, {130, 30, 244, 130}, kIdStatic));
  HWND combo3 = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_GROUP | CBS_DROPDOWNLIST,
                           {140, 52, 224, 160}, kIdCombo3);
  for (int i = 0; i <= kActionNone; ++i)
    SendMessageW(combo3, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(ActionText(i)).c_str()));
  AddPage(0, combo3);
  const wchar_t* const option2_captions[] = {L"重启", L"关机", L"注销"};
  for (int i = 0; i < 3; ++i)
    AddPage(0, AddControl(WC_BUTTONW, option2_captions[i],
                          kChild | WS_TABSTOP | BS_RADIOBUTTON | (i == 0 ? WS_GROUP : 0), {140 + i * 76, 88, 70, 18},
                          kIdOption2First + i));
  Check(0, 6, L"立即", {140, 122, 70, 18}, L"立即执行关机操作");
  Check(0, 9, L"提示", {216, 122, 70, 18}, L"显示提示关机画面");
  Check(0, 8, L"强制", {292, 122, 70, 18});
  HWND group_start = FindControl(kIdCheckFirst + 6);
  SetWindowLongPtrW(group_start, GWL_STYLE, GetWindowLongPtrW(group_start, GWL_STYLE) | WS_GROUP);

  AddPage(0, AddControl(WC_BUTTONW, L"功能", kGroup, {130, 166, 244, 148}, kIdStatic));
  Check(0, 2, L"随系统自动启动", {140, 186, 180, 18}, L"随系统自动启动");
  Check(0, 7, L"启动后隐藏界面", {140, 210, 180, 18}, L"隐藏界面");
  Check(0, 5, L"启动后锁定计算机", {140, 234, 180, 18}, L"启动后锁定计算机，可配合自动登陆实现！(只对NT有效)");
  Check(0, 1, L"移除系统图标", {140, 258, 180, 18}, L"配置文件(*.ini)：移除系统图标=(0表示显示，1表示隐藏)");
  HWND catch_up = AddControl(WC_BUTTONW, L"错过后两小时内补做", kChild | WS_TABSTOP | BS_3STATE, {140, 282, 200, 18},
                             kIdCatchUp);
  AddPage(0, catch_up);
  AddTip(catch_up, L"计算机在定时的时候处于睡眠或关机状态，两小时内启动或唤醒后补做这次操作");
  HWND image1 = AddControl(WC_STATICW, L"", kChild | SS_ICON | SS_CENTERIMAGE | SS_NOTIFY, {330, 212, 36, 36}, kIdImage1);
  AddPage(0, image1);
  SetWindowSubclass(image1, &Form1Window::PictureProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

// ---- 高级设置 -----------------------------------------------------------------
void Form1Window::BuildAdvancedPage() {
  AddPage(1, AddControl(WC_BUTTONW, L"安全设置", kGroup, {12, 30, 362, 112}, kIdStatic));
  Check(1, 4, L"时间控制", {24, 52, 100, 20}, L"启用时间段控制");
  Check(1, 10, L"密码保护", {136, 52, 100, 20}, L"防止其他人更改设置，每次弹出设置界面都需要输入密码！");
  HWND label7 = AddControl(WC_STATICW, L"更改密码", kChild | SS_NOTIFY | SS_CENTER, {270, 54, 70, 18}, kIdLabel7);
  AddPage(1, label7);
  AddTip(label7, L"更改密码，最长25位，默认密码为：mossgate");
  HWND guard = AddControl(WC_BUTTONW, L"防止被结束(守护服务)", kChild | WS_TABSTOP | BS_3STATE, {24, 84, 180, 20},
                          kIdGuard);
  AddPage(1, guard);
  AddTip(guard, L"安装一个系统服务：程序被结束后自动重新启动，程序不在时由服务执行定时操作和时间控制。需要管理员权限");
  AddPage(1, AddControl(WC_STATICW, L"推迟分钟数(&M)", kLabel, {214, 87, 92, 16}, kIdStatic));
  HWND postpone = AddControl(WC_EDITW, L"10", kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_NUMBER,
                             {308, 84, 54, 22}, kIdPostponeMinutes, WS_EX_CLIENTEDGE);
  SendMessageW(postpone, EM_SETLIMITTEXT, 3, 0);
  AddPage(1, postpone);
  AddTip(postpone, L"倒计时窗口中“推迟”一次推迟的分钟数，5 到 120，默认 10");
  // The zone the times are judged in; under the guard, the one it pinned.
  AddPage(1, AddControl(WC_STATICW, L"", kLabel | SS_NOPREFIX | SS_ENDELLIPSIS, {24, 113, 244, 16}, kIdZoneLine));
  // Shown by MirrorZone, only on this tab and only when it is offered.
  HWND use_zone = AddControl(WC_BUTTONW, L"使用当前时区", (kChild & ~WS_VISIBLE) | WS_TABSTOP, {272, 108, 92, 24},
                             kIdUseCurrentZone);
  AddTip(use_zone, L"守护服务按上面的时区判断时间。按此按钮应用设置，改用系统现在的时区");
  AddPage(1, AddControl(WC_BUTTONW, L"NT系统自动登录设置", kGroup, {12, 148, 362, 166}, kIdStatic));
  Check(1, 3, L"启用(非安全设置)", {24, 170, 150, 18});
  Check(1, 11, L"自动登陆(安全设置、推荐)", {186, 170, 180, 18}, L"设置安全的系统自动登录");
  AddPage(1, AddControl(WC_STATICW, L"用户名(&U)", kLabel, {24, 203, 70, 16}, kIdStatic));
  AddPage(1, AddControl(WC_EDITW, L"Administrator", kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
                        {100, 200, 190, 22}, kIdText1, WS_EX_CLIENTEDGE));
  AddPage(1, AddControl(WC_STATICW, L"密  码(&P)", kLabel, {24, 233, 70, 16}, kIdStatic));
  HWND text2 = AddControl(WC_EDITW, L"", kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD,
                          {100, 230, 190, 22}, kIdText2, WS_EX_CLIENTEDGE);
  SendMessageW(text2, EM_SETPASSWORDCHAR, L'*', 0);
  AddPage(1, text2);
  AddPage(1, AddControl(WC_STATICW, L"", kLabel, {24, 262, 344, 48}, kIdLogonNote));
  SetWindowSubclass(label7, &Form1Window::PictureProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

// ---- 关于 ---------------------------------------------------------------------
void Form1Window::BuildAboutPage() {
  AddPage(kAboutTab, AddControl(WC_BUTTONW, L"", kGroup, {12, 30, 362, 284}, kIdStatic));
  HWND label4 = AddControl(WC_STATICW, Widen(VersionText()), kLabel | SS_CENTER, {24, 56, 338, 18}, kIdLabel4);
  SendMessageW(label4, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font()), FALSE);
  AddPage(kAboutTab, label4);
  AddPage(kAboutTab, AddControl(WC_STATICW, L"", kChild | SS_ICON | SS_CENTERIMAGE, {24, 98, 144, 115}, kIdImage2));
  AddPage(kAboutTab, AddControl(WC_STATICW,
                        L"本程序免费使用。它可以按每天、每周或每隔几天定时重启、关机或注销，"
                        L"并可限制每天允许使用电脑的时间。所有定时操作都是强制执行的，请及时保存工作。"
                        L"如有问题或建议，欢迎来信：",
                        kLabel, {180, 98, 184, 96}, kIdStatic));
  HWND label6 = AddControl(WC_STATICW, Widen(kContactAddress), kChild | SS_NOTIFY | SS_LEFT | SS_ENDELLIPSIS,
                           {180, 198, 184, 18}, kIdLabel6);
  SendMessageW(label6, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font()), FALSE);
  AddPage(kAboutTab, label6);
  AddPage(kAboutTab, AddControl(WC_STATICW, L"dadado 开发者 · 2026年12月", kLabel, {180, 282, 184, 18}, kIdStatic));
  SetWindowSubclass(label6, &Form1Window::PictureProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

// The week's controls show the rules of the account chosen above them; the
// line under the week holds what is the machine's: 管理员不受限 and 今日加时.
// Everything sits in the frame, as on the other tabs, where the labels'
// background is the frame's.
void Form1Window::BuildTimeControlPage() {
  constexpr int page = kTimeControlTab;
  AddPage(page, AddControl(WC_BUTTONW, L"请选择允许使用本机的时间", kGroup, {12, 30, 362, 284}, kIdStatic));
  AddPage(page, AddControl(WC_STATICW, L"适用于(&U):", kLabel, {24, 52, 56, 16}, kIdStatic));
  HWND account = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST,
                            {82, 48, 160, 200}, kIdRulesAccount);
  SendMessageW(account, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(kAllAccounts).c_str()));
  SendMessageW(account, CB_SETCURSEL, 0, 0);
  AddTip(account, L"选择要查看和修改时间控制规则的账户；“所有账户”的规则适用于没有自己规则的账户");
  AddPage(page, account);
  HWND use_default = AddControl(WC_BUTTONW, L"使用默认规则(&D)", kChild | WS_TABSTOP | WS_GROUP | BS_CHECKBOX,
                                {252, 50, 116, 18}, kIdUseDefaultRules);
  AddTip(use_default, L"此账户没有自己的规则，按“所有账户”的规则控制");
  AddPage(page, use_default);

  HWND enabled = AddControl(WC_BUTTONW, L"启用(&N)", kChild | WS_TABSTOP | WS_GROUP | BS_3STATE, {24, 81, 72, 18},
                            kIdRulesEnabled);
  AddTip(enabled, L"启用时间段控制");
  AddPage(page, enabled);
  AddPage(page, AddControl(WC_STATICW, L"允许使用的时间", kLabel, {100, 83, 110, 16}, kIdStatic));
  AddPage(page, AddControl(WC_STATICW, L"每日限时", kLabel, {212, 83, 54, 16}, kIdStatic));
  for (int n = 0; n < kWeekdays; ++n) {
    AddPage(page, AddControl(WC_BUTTONW, kWeekdayNames[n], kChild | WS_TABSTOP | BS_RADIOBUTTON | (n == 0 ? WS_GROUP : 0),
                             {24, 104 + n * 25, 72, 18}, kIdOption3First + n));
    HWND t = AddControl(WC_EDITW, L"24:00", kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | (n == 0 ? WS_GROUP : 0),
                        {100, 102 + n * 25, 108, 22}, kIdText3First + n, WS_EX_CLIENTEDGE);
    AddTip(t, L"24:00表示全天24小时都禁止");
    AddPage(page, t);
    HWND limit = AddControl(WC_EDITW, L"0", kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_NUMBER,
                            {212, 102 + n * 25, 50, 22}, kIdDailyLimitFirst + n, WS_EX_CLIENTEDGE);
    SendMessageW(limit, EM_SETLIMITTEXT, 4, 0);
    AddTip(limit, L"每天最多可以使用的分钟数，0 表示不限");
    AddPage(page, limit);
  }
  HWND list = AddControl(WC_LISTBOXW, L"", kChild | WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_MULTIPLESEL | LBS_NOTIFY |
                                               LBS_NOINTEGRALHEIGHT,
                         {270, 82, 94, 194}, kIdList1, WS_EX_CLIENTEDGE);
  for (int h = 0; h < kHourCount; ++h) {
    wchar_t label[8];
    wsprintfW(label, L"%02d:00", h);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
  }
  AddPage(page, list);

  HWND exempt = AddControl(WC_BUTTONW, L"管理员不受限(&A)", kChild | WS_TABSTOP | WS_GROUP | BS_3STATE,
                           {24, 288, 200, 18}, kIdAdminsExempt);
  AddTip(exempt, L"管理员账户不受时间控制和每日限时，除非它有自己的规则并已启用");
  AddPage(page, exempt);
  HWND extra = AddControl(WC_BUTTONW, L"今日加时(&X)…", kChild | WS_TABSTOP | WS_GROUP, {270, 284, 94, 24},
                          kIdExtraTime);
  AddTip(extra, L"只在今天为一个账户增加可以使用的时间");
  AddPage(page, extra);
}

void Form1Window::OnDpiChanged() {
  // The pictures show the new icons before the old ones go.
  std::array<UniqueIcon, 2> old = std::move(icons_);
  ShowPictures();
  SetPlanColumnWidths();
  // The tips of locked controls cover their new places.
  if (tab_) MirrorPolicyLocks();
}

void Form1Window::ShowPictures() {
  const std::pair<int, int> pictures[] = {{kIdImage1, 32}, {kIdImage2, 112}};
  for (std::size_t i = 0; i < icons_.size(); ++i) {
    HWND h = FindControl(pictures[i].first);
    if (!h) continue;
    if (!icons_[i]) icons_[i] = MakeProgramIcon(Scale(pictures[i].second));
    SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(icons_[i].get()), 0);
  }
  for (int id : {kIdLabel4, kIdLabel6})
    if (HWND h = FindControl(id)) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font()), TRUE);
}

int Form1Window::DisplayedTab(int logical) const {
  for (std::size_t i = 0; i < shown_tabs_.size(); ++i)
    if (shown_tabs_[i] == logical) return static_cast<int>(i);
  return -1;
}

// A tab that the settings gate disables is taken out of the row: what is not
// there cannot be chosen.
void Form1Window::MirrorTabs() {
  const LiveSettings& live = program_.live();
  std::vector<int> wanted;
  for (int t = 0; t < kTabCount; ++t)
    if (live.tab_enabled(t)) wanted.push_back(t);
  if (wanted != shown_tabs_) {
    TabCtrl_DeleteAllItems(tab_);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<wchar_t*>(kTabCaptions[wanted[i]]);
      SendMessageW(tab_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    shown_tabs_ = wanted;
  }
  int selected = live.selected_tab();
  int item = DisplayedTab(selected);
  if (item < 0 && !shown_tabs_.empty()) {
    item = 0;
    selected = shown_tabs_[0];
  }
  if (TabCtrl_GetCurSel(tab_) != item) TabCtrl_SetCurSel(tab_, item);
  ShowPage(selected);
}

void Form1Window::ShowPage(int page) {
  BuildPage(page, /*in_view=*/true);
  if (page == page_) return;
  page_ = page;
  for (int p = 0; p < static_cast<int>(pages_.size()); ++p)
    for (HWND h : pages_[p]) ShowWindow(h, p == page ? SW_SHOWNA : SW_HIDE);
  // The frames do not paint their insides; repaint the whole page at once so
  // nothing of the previous one is left.
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The controls that the machine policy holds are greyed out, whatever their
// own rules say, and say why when the pointer rests on them.
void Form1Window::MirrorPolicyLocks() {
  const PolicyLocks& locks = program_.policy_locks();
  const LiveSettings& live = program_.live();
  std::vector<int> locked;
  if (locks.read_only) {
    // Everything that holds a setting; OK, Cancel and Exit stay.
    for (int n = 1; n <= kCheckCount; ++n) locked.push_back(kIdCheckFirst + n);
    for (int i = 0; i < 4; ++i) locked.push_back(kIdOption1First + i);
    for (int i = 0; i < 3; ++i) locked.push_back(kIdOption2First + i);
    for (int n = 0; n < kWeekdays; ++n) {
      locked.push_back(kIdOption3First + n);
      locked.push_back(kIdText3First + n);
      locked.push_back(kIdDailyLimitFirst + n);
    }
    for (int id : {kIdCombo1, kIdCombo2, kIdCombo3, kIdPicker, kIdText1, kIdText2, kIdList1, kIdCatchUp, kIdGuard,
                   kIdPostponeMinutes, kIdLabel7, kIdCommand3, kIdPlanList, kIdPlanAdd, kIdPlanEdit, kIdPlanRemove,
                   kIdPlanCalendar, kIdUseDefaultRules, kIdRulesEnabled, kIdAdminsExempt, kIdRecordUsage})
      locked.push_back(id);
  } else {
    // The policy holds the 所有账户 rules; an account's own are the machine's.
    const bool defaults_shown = !live.rules_account();
    for (int n = 1; n <= kCheckCount; ++n)
      if (locks.check[n] && (n != 4 || defaults_shown)) locked.push_back(kIdCheckFirst + n);
    if (locks.check[4] && defaults_shown) locked.push_back(kIdRulesEnabled);
    if (locks.frequency)
      for (int i = 0; i < 4; ++i) locked.push_back(kIdOption1First + i);
    if (locks.action) {
      locked.push_back(kIdCombo3);
      for (int i = 0; i < 3; ++i) locked.push_back(kIdOption2First + i);
    }
    if (locks.weekday) locked.push_back(kIdCombo1);
    if (locks.interval) locked.push_back(kIdCombo2);
    if (locks.scheduled_time) locked.push_back(kIdPicker);
    for (int n = 0; n < kWeekdays && defaults_shown; ++n) {
      if (locks.allowed_hours[n]) locked.push_back(kIdText3First + n);
      if (locks.daily_limit[n]) locked.push_back(kIdDailyLimitFirst + n);
    }
    // The hours list edits the weekday that is selected.
    const int weekday = live.option3_selected();
    if (defaults_shown && weekday >= 0 && weekday < kWeekdays && locks.allowed_hours[weekday]) locked.push_back(kIdList1);
    if (locks.administrators_exempt) locked.push_back(kIdAdminsExempt);
    if (locks.catch_up) locked.push_back(kIdCatchUp);
    if (locks.guard) locked.push_back(kIdGuard);
    if (locks.postpone) locked.push_back(kIdPostponeMinutes);
    if (locks.password) locked.push_back(kIdLabel7);
    if (locks.plans)
      for (int id : {kIdPlanList, kIdPlanAdd, kIdPlanEdit, kIdPlanRemove}) locked.push_back(id);
    if (locks.holidays || locks.extra_workdays) locked.push_back(kIdPlanCalendar);
  }
  for (int id : locked) EnableControl(FindControl(id), false);

  // A disabled control gets no mouse messages; its parent does, so the tip
  // is a rectangle of the window's, for the controls of the page shown.
  std::vector<TipArea> areas;
  for (int id : locked) {
    HWND h = FindControl(id);
    if (!h || !IsWindowVisible(h)) continue;
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    // With the guard, it is the service that starts the program at logon.
    const bool by_guard = id == kIdCheckFirst + 2 && program_.is_face();
    areas.push_back({r, by_guard ? kGuardStartsTip : kPolicyTip});
  }
  auto same = [](const std::vector<TipArea>& a, const std::vector<TipArea>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (!EqualRect(&a[i].rect, &b[i].rect) || a[i].tip != b[i].tip) return false;
    return true;
  };
  // Until the tips are made (once the window is up) the areas wait.
  if (!tips_ || same(areas, policy_tip_areas_)) return;
  for (std::size_t i = 0; i < policy_tip_areas_.size(); ++i) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = hwnd();
    ti.uId = kPolicyTipFirst + i;
    SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  policy_tip_areas_ = areas;
  for (std::size_t i = 0; i < areas.size(); ++i) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_SUBCLASS;
    ti.hwnd = hwnd();
    ti.uId = kPolicyTipFirst + i;
    ti.rect = areas[i].rect;
    ti.lpszText = const_cast<wchar_t*>(areas[i].tip);
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void Form1Window::SetBorder(HWND control, bool border) {
  LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  LONG_PTR wanted = border ? (style | WS_BORDER) : (style & ~static_cast<LONG_PTR>(WS_BORDER));
  if (wanted == style) return;
  SetWindowLongPtrW(control, GWL_STYLE, wanted);
  SetWindowPos(control, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void Form1Window::Mirror() {
  if (!hwnd()) return;
  mirroring_ = true;
  // The page in view first: it is built now if it was not. The controls of
  // pages not built yet are null below, and the calls on them do nothing;
  // BuildRemainingPages mirrors them once they are made.
  MirrorTabs();
  const LiveSettings& live = program_.live();
  for (int n = 1; n <= kCheckCount; ++n) {
    HWND h = FindControl(kIdCheckFirst + n);
    const int v = live.check(n).value;
    SendMessageW(h, BM_SETCHECK, v == 1 ? BST_CHECKED : v == 2 ? BST_INDETERMINATE : BST_UNCHECKED, 0);
    EnableControl(h, live.check(n).enabled);
  }
  for (int i = 0; i < 4; ++i) {
    HWND h = FindControl(kIdOption1First + i);
    SendMessageW(h, BM_SETCHECK, live.option1_selected(i) ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableControl(h, live.option1_enabled(i));
  }
  for (int i = 0; i < 3; ++i)
    SendMessageW(FindControl(kIdOption2First + i), BM_SETCHECK, live.option2_selected() == i ? BST_CHECKED : BST_UNCHECKED, 0);
  const std::pair<int, const ComboBox*> combos[] = {
      {kIdCombo1, &live.combo1()}, {kIdCombo2, &live.combo2()}, {kIdCombo3, &live.combo3()}};
  for (auto [id, combo] : combos) {
    HWND h = FindControl(id);
    if (SendMessageW(h, CB_GETCURSEL, 0, 0) != combo->index) SendMessageW(h, CB_SETCURSEL, combo->index, 0);
    EnableControl(h, combo->enabled);
  }
  HWND picker = FindControl(kIdPicker);
  SYSTEMTIME shown{};
  SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown));
  const int t = live.scheduled_time();
  if (shown.wHour * 3600 + shown.wMinute * 60 + shown.wSecond != t) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    st.wHour = static_cast<WORD>(t / 3600);
    st.wMinute = static_cast<WORD>(t / 60 % 60);
    st.wSecond = static_cast<WORD>(t % 60);
    st.wMilliseconds = 0;
    SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
  }
  EnableControl(picker, live.time_picker_enabled());
  SetTextIfDifferent(FindControl(kIdText1), Widen(live.text1().text));
  EnableControl(FindControl(kIdText1), live.text1().enabled);
  SetSecretTextIfDifferent(FindControl(kIdText2), live.text2().text);
  EnableControl(FindControl(kIdText2), live.text2().enabled);
  for (int n = 0; n < kWeekdays; ++n) {
    HWND option = FindControl(kIdOption3First + n);
    SendMessageW(option, BM_SETCHECK, live.option3_selected() == n ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableControl(option, live.option3_enabled(n));
    HWND text = FindControl(kIdText3First + n);
    SetTextIfDifferent(text, Widen(live.text3(n).text));
    EnableControl(text, live.text3(n).enabled);
  }
  HWND list = FindControl(kIdList1);
  for (int h = 0; h < kHourCount; ++h)
    if ((SendMessageW(list, LB_GETSEL, h, 0) > 0) != live.hour_marked(h)) SendMessageW(list, LB_SETSEL, live.hour_marked(h), h);
  EnableControl(list, live.list1_enabled());
  for (int n = 0; n < kWeekdays; ++n) {
    HWND limit = FindControl(kIdDailyLimitFirst + n);
    // The box shows what the user typed; what counts is read from it.
    SetTextIfDifferent(limit, Widen(live.daily_limit(n).text));
    EnableControl(limit, live.daily_limit(n).enabled);
  }
  auto set_check = [](HWND h, int v) {
    SendMessageW(h, BM_SETCHECK, v == 1 ? BST_CHECKED : v == 2 ? BST_INDETERMINATE : BST_UNCHECKED, 0);
  };
  set_check(FindControl(kIdCatchUp), live.catch_up().value);
  EnableControl(FindControl(kIdCatchUp), true);
  set_check(FindControl(kIdGuard), live.guard().value);
  EnableControl(FindControl(kIdGuard), true);
  SetTextIfDifferent(FindControl(kIdPostponeMinutes), Widen(live.postpone_minutes_text()));
  EnableControl(FindControl(kIdPostponeMinutes), true);
  EnableControl(FindControl(kIdLabel7), true);
  EnableControl(FindControl(kIdCommand3), live.apply_enabled());
  SetBorder(FindControl(kIdLabel7), program_.label7_pressed());
  SetBorder(FindControl(kIdImage1), program_.image1_pressed());
  // After the page is chosen: what they show depends on it.
  MirrorRules();
  MirrorPlans();
  MirrorUsage();
  MirrorZone();
  MirrorPolicyLocks();
  mirroring_ = false;
}

void Form1Window::Event(const std::function<void()>& f) {
  if (mirroring_ || program_.ended()) return;
  f();
  screen_.Refresh();
}

int Form1Window::PageOf(HWND control) const {
  for (int p = 0; p < static_cast<int>(pages_.size()); ++p)
    for (HWND h : pages_[p])
      if (h == control) return p;
  return -1;
}

void Form1Window::OnCommand(int id, int code, HWND control) {
  if (mirroring_) return;
  // The window acts on what the user does while it is open, and on nothing
  // else: other programs can send it messages while it is hidden, or for
  // tabs the password has not opened.
  HWND source = FindControl(id);
  if (!source) return;
  if (!program_.AcceptsInput(PageOf(source))) return;
  // What is read is read from the control itself, never from whatever
  // window the message names.
  control = source;
  LiveSettings& live = program_.live();
  if (id > kIdCheckFirst && id <= kIdCheckFirst + kCheckCount && code == BN_CLICKED) {
    const int n = id - kIdCheckFirst;
    Event([&] { live.SetCheck(n, live.IsSet(n) ? 0 : 1); });
  } else if (id >= kIdOption1First && id < kIdOption1First + 4 && code == BN_CLICKED) {
    Event([&] { live.SelectOption1(id - kIdOption1First); });
  } else if (id >= kIdOption2First && id < kIdOption2First + 3 && code == BN_CLICKED) {
    Event([&] { live.SelectOption2(id - kIdOption2First); });
  } else if (id >= kIdOption3First && id < kIdOption3First + kWeekdays && code == BN_CLICKED) {
    Event([&] { live.SelectOption3(id - kIdOption3First); });
  } else if (id >= kIdText3First && id < kIdText3First + kWeekdays) {
    const int n = id - kIdText3First;
    if (code == EN_CHANGE) Event([&] { live.SetText3(n, Narrow(TextOf(control))); });
    if (code == EN_SETFOCUS) Event([&] { live.FocusText3(n); });
  } else if (id == kIdCatchUp && code == BN_CLICKED) {
    Event([&] { live.SetCatchUp(live.catch_up().value == 1 ? 0 : 1); });
  } else if (id == kIdGuard && code == BN_CLICKED) {
    Event([&] { live.SetGuard(live.guard().value == 1 ? 0 : 1); });
  } else if (id == kIdPostponeMinutes && code == EN_CHANGE) {
    Event([&] { live.SetPostponeMinutes(Narrow(TextOf(control))); });
  } else if (id >= kIdDailyLimitFirst && id < kIdDailyLimitFirst + kWeekdays && code == EN_CHANGE) {
    const int n = id - kIdDailyLimitFirst;
    Event([&] { live.SetDailyLimit(n, Narrow(TextOf(control))); });
  } else if (id == kIdText1 && code == EN_CHANGE) {
    Event([&] { live.SetText1(Narrow(TextOf(control))); });
  } else if (id == kIdText2 && code == EN_CHANGE) {
    std::string typed = SecretTextOf(control);
    Event([&] { live.SetText2(typed); });
    WipeString(typed);
  } else if ((id == kIdCombo1 || id == kIdCombo2 || id == kIdCombo3) && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    Event([&] {
      if (id == kIdCombo1) live.SetCombo1(index);
      else if (id == kIdCombo2) live.SetCombo2(index);
      else live.SetCombo3(index);
    });
  } else if (id == kIdList1 && code == LBN_SELCHANGE) {
    // The list has toggled an item itself; the hour that differs from the
    // model is the one the user clicked.
    Event([&] {
      for (int h = 0; h < kHourCount; ++h)
        if ((SendMessageW(control, LB_GETSEL, h, 0) > 0) != live.hour_marked(h)) live.ClickHour(h);
    });
  } else if (id == kIdRulesAccount && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    Event([&] { ChooseRules(index); });
  } else if (id == kIdUseDefaultRules && code == BN_CLICKED) {
    Event([&] { live.SetUseDefaultRules(!live.UsesDefaultRules()); });
  } else if (id == kIdRulesEnabled && code == BN_CLICKED) {
    // The same as Check4, which stands for the rules shown; greyed, it
    // changes nothing.
    if (live.check(4).enabled) Event([&] { live.SetCheck(4, live.IsSet(4) ? 0 : 1); });
  } else if (id == kIdAdminsExempt && code == BN_CLICKED) {
    Event([&] { live.SetAdministratorsExempt(live.administrators_exempt().value == 1 ? 0 : 1); });
  } else if (id == kIdExtraTime && code == BN_CLICKED) {
    GrantExtraTime();
  } else if (id == kIdUsageAccount && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    if (index >= 0 && index <= static_cast<int>(usage_accounts_.size())) {
      usage_account_ = index == 0 ? "" : usage_accounts_[index - 1];
      screen_.Refresh();
    }
  } else if (id == kIdRecordUsage && code == BN_CLICKED) {
    Event([&] { live.SetRecordUsage(live.record_usage().value == 1 ? 0 : 1); });
  } else if (id == kIdUsageExport && code == BN_CLICKED) {
    ExportUsage();
  } else if (id == kIdCommand1 && code == BN_CLICKED) {
    Event([&] { program_.Command1_Click(); });
  } else if (id == kIdCommand2 && code == BN_CLICKED) {
    Event([&] { program_.Command2_Click(); });
  } else if (id == kIdCommand3 && code == BN_CLICKED) {
    Event([&] { program_.Command3_Click(); });
  } else if (id == kIdCommand4 && code == BN_CLICKED) {
    Event([&] { program_.Command4_Click(); });
  } else if (id == kIdLabel6 && code == STN_CLICKED) {
    Event([&] { program_.Label6_Click(); });
  } else if (id == kIdPlanAdd && code == BN_CLICKED) {
    AddOrEditPlan(-1);
  } else if (id == kIdPlanEdit && code == BN_CLICKED) {
    AddOrEditPlan(selected_plan_);
  } else if (id == kIdPlanRemove && code == BN_CLICKED) {
    if (PlanTabViewOf(live, program_.policy_locks(), selected_plan_, clock_.Now().date.year).remove_enabled)
      Event([&] { RemovePlan(live, selected_plan_); });
  } else if (id == kIdUseCurrentZone && code == BN_CLICKED) {
    Event([&] { program_.UseCurrentTimeZone_Click(); });
  } else if (id == kIdPlanAllowWake && code == BN_CLICKED) {
    Event([&] { program_.AllowWakeTimers(); });
  } else if (id == kIdPlanCalendar && code == BN_CLICKED) {
    EditCalendar();
  }
}

LRESULT Form1Window::OnNotify(const NMHDR* nm) {
  if (mirroring_) return 0;
  // Only the control the notification names, as it is: for anything else
  // PageOf would say "the window's own buttons", which every gate lets by.
  HWND source = FindControl(static_cast<int>(nm->idFrom));
  if (!source || source != nm->hwndFrom) return 0;
  if (!program_.AcceptsInput(PageOf(source))) return 0;
  if (nm->idFrom == kIdPlanList) {
    OnPlanListNotify(nm);
  } else if (nm->idFrom == kIdTab && nm->code == TCN_SELCHANGE) {
    const int logical = LogicalTabOfItem(TabCtrl_GetCurSel(tab_));
    Event([&] { program_.live().SelectTab(logical); });
  } else if (nm->idFrom == kIdPicker && nm->code == DTN_DATETIMECHANGE) {
    const auto* change = reinterpret_cast<const NMDATETIMECHANGE*>(nm);
    if (change->dwFlags == GDT_VALID) {
      const SYSTEMTIME& st = change->st;
      Event([&] { program_.live().SetScheduledTime(st.wHour * 3600 + st.wMinute * 60 + st.wSecond); });
    }
  }
  return 0;
}

// ---- 时间控制 ---------------------------------------------------------------------

void Form1Window::MirrorRules() {
  const LiveSettings& live = program_.live();
  const std::optional<Account>& shown = live.rules_account();
  // The machine's accounts are asked for while the tab is in view: when it
  // comes into view and when the accounts with sections change.
  std::vector<std::pair<std::string, std::string>> sections;
  for (const AccountSection& a : live.account_sections()) sections.emplace_back(a.name, a.sid);
  if (page_ != kTimeControlTab || !IsWindowVisible(hwnd())) {
    rules_listed_ = false;
  } else if (!rules_listed_ || sections != rules_sections_) {
    rules_choices_ = program_.RulesChoices();
    rules_sections_ = std::move(sections);
    rules_listed_ = true;
  }
  if (rules_choices_.empty()) rules_choices_.push_back({kAllAccounts, "", "", false});
  int index = 0;
  if (shown) {
    index = -1;
    for (std::size_t i = 1; i < rules_choices_.size(); ++i)
      if (rules_choices_[i].name == shown->name && rules_choices_[i].sid == shown->sid) index = static_cast<int>(i);
    // An account that left the list (its section gone) stays while shown.
    if (index < 0) {
      rules_choices_.push_back({shown->name, shown->name, shown->sid, false});
      index = static_cast<int>(rules_choices_.size()) - 1;
    }
  }
  std::vector<std::wstring> labels;
  for (Program::RulesChoice& c : rules_choices_) {
    c.own_rules = !c.name.empty() && live.HasOwnRules(c.name, c.sid);
    labels.push_back(Widen(c.label + (c.own_rules ? kOwnRulesMark : "")));
  }
  HWND combo = FindControl(kIdRulesAccount);
  if (labels != shown_rules_labels_) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& l : labels) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(l.c_str()));
    shown_rules_labels_ = labels;
  }
  if (SendMessageW(combo, CB_GETCURSEL, 0, 0) != index) SendMessageW(combo, CB_SETCURSEL, index, 0);

  HWND use_default = FindControl(kIdUseDefaultRules);
  SetCheckBox(use_default, live.UsesDefaultRules() ? 1 : 0);
  EnableControl(use_default, true);
  if (page_ == kTimeControlTab && (IsWindowVisible(use_default) != FALSE) != shown.has_value())
    ShowWindow(use_default, shown ? SW_SHOWNA : SW_HIDE);
  HWND enabled = FindControl(kIdRulesEnabled);
  SetCheckBox(enabled, live.check(4).value);
  EnableControl(enabled, live.check(4).enabled);
  SetCheckBox(FindControl(kIdAdminsExempt), live.administrators_exempt().value);
  EnableControl(FindControl(kIdAdminsExempt), true);
}

void Form1Window::ChooseRules(int index) {
  if (index < 0 || index >= static_cast<int>(rules_choices_.size())) return;
  LiveSettings& live = program_.live();
  const Program::RulesChoice& c = rules_choices_[index];
  if (c.name.empty()) live.ShowDefaultRules();
  else live.ShowAccountRules(c.name, c.sid);
}

void Form1Window::GrantExtraTime() {
  if (open_dialog() || !program_.AcceptsInput(kTimeControlTab)) return;
  std::vector<Account> accounts;
  for (const Program::RulesChoice& c : program_.RulesChoices())
    if (!c.name.empty()) accounts.push_back({c.name, c.sid, false});
  auto find = [&](const Account& a) {
    for (std::size_t i = 0; i < accounts.size(); ++i)
      if (SameAccount(a.name, a.sid, accounts[i].name, accounts[i].sid)) return static_cast<int>(i);
    return -1;
  };
  // The account whose rules are shown, else the one at the keyboard.
  int chosen = -1;
  if (const auto& shown = program_.live().rules_account()) {
    chosen = find(*shown);
  } else if (const auto& at = program_.console_account()) {
    chosen = find(*at);
    if (chosen < 0) {
      accounts.push_back(*at);
      chosen = static_cast<int>(accounts.size()) - 1;
    }
  }
  if (chosen < 0 && !accounts.empty()) chosen = 0;
  extra_time_dialog_ = std::make_unique<ExtraTimeDialog>(program_, screen_, accounts, chosen);
  const bool granted = extra_time_dialog_->Open(hwnd()) && extra_time_dialog_->RunModal(hwnd(), pre_translate_);
  const std::string who = extra_time_dialog_->granted_account();
  const int minutes = extra_time_dialog_->granted_minutes();
  extra_time_dialog_.reset();
  if (granted && !program_.ended())
    screen_.ShowMessage("已为" + who + "增加今天的使用时间" + DurationText(minutes) + "。", "提示",
                        MessageIcon::kInformation, MessageButtons::kOk);
  screen_.Refresh();
}

// ---- 计划 -------------------------------------------------------------------------

void Form1Window::BuildPlanPage() {
  plan_list_ = AddControl(WC_LISTVIEWW, L"",
                          kChild | WS_TABSTOP | WS_GROUP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                              LVS_NOSORTHEADER,
                          {12, 32, 362, 214}, kIdPlanList, WS_EX_CLIENTEDGE);
  SendMessageW(plan_list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
  for (int c = 0; c < static_cast<int>(std::size(kPlanColumns)); ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(kPlanColumns[c]);
    column.cx = Scale(kPlanColumnWidths[c]);
    column.iSubItem = c;
    SendMessageW(plan_list_, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
  AddPage(kPlansTab, plan_list_);
  AddPage(kPlansTab, AddControl(WC_BUTTONW, L"添加(&A)…", kChild | WS_TABSTOP | WS_GROUP, {12, 252, 76, 25}, kIdPlanAdd));
  AddPage(kPlansTab, AddControl(WC_BUTTONW, L"修改(&E)…", kChild | WS_TABSTOP, {94, 252, 76, 25}, kIdPlanEdit));
  AddPage(kPlansTab, AddControl(WC_BUTTONW, L"删除(&R)", kChild | WS_TABSTOP, {176, 252, 76, 25}, kIdPlanRemove));
  AddPage(kPlansTab,
          AddControl(WC_BUTTONW, L"节假日安排…", kChild | WS_TABSTOP, {274, 252, 100, 25}, kIdPlanCalendar));
  AddPage(kPlansTab, AddControl(WC_STATICW, L"", kLabel | SS_NOPREFIX, {12, 283, 362, 32}, kIdPlanNotice));
  // Shown by MirrorPlans, only on this tab and only when it is offered.
  AddControl(WC_BUTTONW, L"允许唤醒(&W)", (kChild & ~WS_VISIBLE) | WS_TABSTOP, {290, 285, 84, 25}, kIdPlanAllowWake);
}

void Form1Window::MirrorZone() {
  // Under the guard, the zone it judges in; without it, the system's own,
  // which the program's times follow.
  const auto& guard = program_.guard_zone();
  const std::optional<TimeZoneRule> rule = guard ? std::optional<TimeZoneRule>(guard->pinned) : CurrentTimeZoneRule();
  const bool differs = guard && guard->differs;
  std::wstring line = L"时区：";
  if (rule) {
    if (!zone_name_ || zone_name_->first != *rule) zone_name_ = std::make_pair(*rule, TimeZoneNameOf(*rule));
    line += Widen(UtcOffsetText(*rule));
    // The line has room for the name or for the change, not for both.
    if (differs) line += L"，系统时区已更改";
    else if (!zone_name_->second.empty()) line += L" " + zone_name_->second;
  } else {
    line += L"无法读取";
  }
  SetTextIfDifferent(FindControl(kIdZoneLine), line);
  const bool offer = page_ == 1 && differs && !program_.policy_locks().read_only;
  HWND use = FindControl(kIdUseCurrentZone);
  if ((IsWindowVisible(use) != FALSE) != offer) ShowWindow(use, offer ? SW_SHOWNA : SW_HIDE);
  // Under the guard the automatic logon's password is the system's secret.
  SetTextIfDifferent(FindControl(kIdLogonNote),
                     program_.is_face() ? L"注意：\r\n1、选择启用，密码保存在系统的安全存储中。\r\n"
                                          L"2、选择自动登录，为系统安全设置，推荐使用此设置。"
                                        : L"注意：\r\n1、选择启用，输入的用户名密码会被存进系统注册表。\r\n"
                                          L"2、选择自动登录，为系统安全设置，推荐使用此设置。");
}

void Form1Window::SetPlanColumnWidths() {
  if (!plan_list_) return;
  for (int c = 0; c < static_cast<int>(std::size(kPlanColumnWidths)); ++c)
    SendMessageW(plan_list_, LVM_SETCOLUMNWIDTH, c, Scale(kPlanColumnWidths[c]));
}

// The list shows the model's plans; it is rebuilt only when a row differs,
// so that the chosen row and the scroll position stay.
void Form1Window::MirrorPlans() {
  if (!plan_list_) return;
  const bool was_mirroring = mirroring_;
  mirroring_ = true;
  const LiveSettings& live = program_.live();
  const std::vector<PlanRow> rows = PlanRows(live.plans());
  const int count = static_cast<int>(rows.size());
  if (selected_plan_ >= count) selected_plan_ = count - 1;
  if (rows != shown_rows_) {
    int items = static_cast<int>(SendMessageW(plan_list_, LVM_GETITEMCOUNT, 0, 0));
    while (items > count) SendMessageW(plan_list_, LVM_DELETEITEM, --items, 0);
    for (int i = 0; i < count; ++i) {
      const PlanRow& r = rows[i];
      if (i >= items) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(L"");
        SendMessageW(plan_list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      }
      const std::string cells[] = {r.time, r.repeat, r.action, r.warning};
      for (int c = 0; c < 4; ++c) {
        std::wstring text = Widen(cells[c]);
        LVITEMW item{};
        item.iSubItem = c + 1;
        item.pszText = text.data();
        SendMessageW(plan_list_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
      }
    }
    shown_rows_ = rows;
  }
  for (int i = 0; i < count; ++i) {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED | LVIS_FOCUSED;
    item.state = INDEXTOSTATEIMAGEMASK(rows[i].enabled ? 2 : 1) |
                 (i == selected_plan_ ? LVIS_SELECTED | LVIS_FOCUSED : 0);
    const UINT now = static_cast<UINT>(SendMessageW(plan_list_, LVM_GETITEMSTATE, i, item.stateMask));
    if (now != item.state) SendMessageW(plan_list_, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
  }
  const PlanTabView v = PlanTabViewOf(live, program_.policy_locks(), selected_plan_, clock_.Now().date.year);
  EnableControl(plan_list_, v.list_enabled);
  EnableControl(FindControl(kIdPlanAdd), v.add_enabled);
  EnableControl(FindControl(kIdPlanEdit), v.edit_enabled);
  EnableControl(FindControl(kIdPlanRemove), v.remove_enabled);
  EnableControl(FindControl(kIdPlanCalendar), v.calendar_enabled);
  // The power plan is asked only while the tab is in view.
  const WakeTimerNotice wake =
      page_ == kPlansTab ? WakeTimerNoticeOf(live.plans(), os_.WakeTimersAllowed(), os_.IsAdministrator())
                         : WakeTimerNotice{};
  std::string notice = v.calendar_warning;
  if (!wake.text.empty()) notice += (notice.empty() ? "" : "\n") + wake.text;
  SetTextIfDifferent(FindControl(kIdPlanNotice), Widen(notice));
  // The button takes the right end of the line when it is offered.
  HWND allow = FindControl(kIdPlanAllowWake);
  const bool offer = page_ == kPlansTab && wake.offer_to_allow && v.list_enabled;
  if (offer != (IsWindowVisible(allow) != FALSE)) {
    ShowWindow(allow, offer ? SW_SHOWNA : SW_HIDE);
    MoveControl(FindControl(kIdPlanNotice), {12, 283, offer ? 274 : 362, 32});
  }
  mirroring_ = was_mirroring;
}

void Form1Window::OnPlanListNotify(const NMHDR* nm) {
  LiveSettings& live = program_.live();
  const int count = static_cast<int>(live.plans().size());
  if (nm->code == LVN_ITEMCHANGED) {
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(nm);
    if (!(change->uChanged & LVIF_STATE) || change->iItem < 0 || change->iItem >= count) return;
    const UINT changed = change->uNewState ^ change->uOldState;
    if (changed & LVIS_SELECTED) {
      // Which row is chosen is the window's own: it only decides what the
      // buttons can do.
      if (change->uNewState & LVIS_SELECTED) selected_plan_ = change->iItem;
      else if (selected_plan_ == change->iItem) selected_plan_ = -1;
      MirrorPlans();
    }
    if ((changed & LVIS_STATEIMAGEMASK) && (change->uOldState & LVIS_STATEIMAGEMASK)) {
      const bool enabled = (change->uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
      const int row = change->iItem;
      if (PlanTabViewOf(live, program_.policy_locks(), row, clock_.Now().date.year).list_enabled)
        Event([&] { SetPlanEnabled(live, row, enabled); });
      else
        screen_.Refresh();  // the check box goes back to the plan
    }
  } else if (nm->code == NM_DBLCLK) {
    const int row = reinterpret_cast<const NMITEMACTIVATE*>(nm)->iItem;
    if (row >= 0 && row < count) {
      selected_plan_ = row;
      AddOrEditPlan(row);
    }
  } else if (nm->code == LVN_GETINFOTIPW) {
    auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(nm));
    if (tip->iItem < 0 || tip->iItem >= count || !tip->pszText || tip->cchTextMax <= 0) return;
    const std::wstring text = Widen(PlanRowOf(live.plans()[tip->iItem]).summary);
    lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
  }
}

Window* Form1Window::open_dialog() const {
  if (plan_dialog_ && plan_dialog_->IsOpen()) return plan_dialog_.get();
  if (holiday_dialog_ && holiday_dialog_->IsOpen()) return holiday_dialog_.get();
  if (extra_time_dialog_ && extra_time_dialog_->IsOpen()) return extra_time_dialog_.get();
  return nullptr;
}

void Form1Window::CloseDialogs() {
  if (plan_dialog_) plan_dialog_->Close();
  if (holiday_dialog_) holiday_dialog_->Close();
  if (extra_time_dialog_) extra_time_dialog_->Close();
}

void Form1Window::AddOrEditPlan(int row) {
  // One dialog at a time, also when a click is sent while one is open.
  if (plan_dialog_ || holiday_dialog_ || extra_time_dialog_) return;
  LiveSettings& live = program_.live();
  const PlanTabView v = PlanTabViewOf(live, program_.policy_locks(), row, clock_.Now().date.year);
  if (row < 0 ? !v.add_enabled : !v.edit_enabled) return;
  PlanForm form = row < 0 ? PlanForm::ForNew(clock_.Now(), os_.PowerCapabilities())
                          : PlanForm::ForEdit(live.plans()[row], clock_.Now(), os_.PowerCapabilities());
  plan_dialog_ = std::make_unique<PlanDialog>(form, screen_);
  bool ok = plan_dialog_->Open(hwnd(), row < 0 ? L"添加计划" : L"修改计划") && plan_dialog_->RunModal(hwnd(), pre_translate_);
  plan_dialog_.reset();
  // The window may have closed, or the program ended, while the dialog was open.
  const auto plan = form.Result();
  if (!ok || !plan || !program_.AcceptsInput(kPlansTab)) return;
  Event([&] {
    if (row < 0) {
      if (AddPlan(live, *plan)) selected_plan_ = static_cast<int>(live.plans().size()) - 1;
    } else {
      ReplacePlan(live, row, *plan);
    }
  });
}

void Form1Window::EditCalendar() {
  if (plan_dialog_ || holiday_dialog_ || extra_time_dialog_) return;
  LiveSettings& live = program_.live();
  if (!PlanTabViewOf(live, program_.policy_locks(), -1, clock_.Now().date.year).calendar_enabled) return;
  HolidayForm form(live.holidays(), live.extra_workdays());
  holiday_dialog_ = std::make_unique<HolidayDialog>(form, screen_);
  const bool ok = holiday_dialog_->Open(hwnd()) && holiday_dialog_->RunModal(hwnd(), pre_translate_);
  const HolidayForm::Outcome outcome = holiday_dialog_->outcome();
  holiday_dialog_.reset();
  if (!ok || !outcome.ok || !program_.AcceptsInput(kPlansTab)) return;
  Event([&] {
    live.SetHolidays(outcome.holidays);
    live.SetExtraWorkdays(outcome.extra_workdays);
  });
}

LRESULT CALLBACK Form1Window::PictureProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Form1Window*>(data);
  const int id = GetDlgCtrlID(h);
  if (msg != WM_NCDESTROY && msg != WM_SETCURSOR && !self->program_.AcceptsInput(self->PageOf(h)))
    return DefSubclassProc(h, msg, wp, lp);
  const bool down = msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN;
  const bool up = msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP;
  if (down && id == kIdLabel7) {
    SetCapture(h);  // the release counts wherever the pointer is
    self->Event([&] { self->program_.Label7_MouseDown(); });
  } else if (up && id == kIdLabel7 && self->program_.label7_pressed()) {
    ReleaseCapture();
    self->Event([&] { self->program_.Label7_MouseUp(); });
    return 0;
  } else if (down && id == kIdImage1) {
    self->Event([&] { self->program_.Image1_MouseDown(); });
  } else if (up && id == kIdImage1) {
    self->Event([&] { self->program_.Image1_MouseUp(); });
  } else if (msg == WM_SETCURSOR && id != kIdImage1) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(h, &Form1Window::PictureProc, 1);
  }
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT Form1Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return 0;
    case WM_NOTIFY: {
      // Also a tab chosen by another program (an accessibility tool) comes
      // as the tab control's own; OnNotify takes only this window's controls'.
      const NMHDR* nm = NotificationIn(lp, kLargestNotification);
      return nm ? OnNotify(nm) : 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, (id == kIdLabel7 || id == kIdLabel6) ? kLinkBlue
                       : id == kIdPlanNotice                ? kNoticeRed
                                                            : GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_PAINT: {
      const LRESULT result = Window::HandleMessage(msg, wp, lp);
      if (!painted_) {
        painted_ = true;
        TraceMark("settings window painted");
        if (first_paint_) first_paint_();
      }
      return result;
    }
    case WM_CLOSE:
      Event([&] { program_.Form_QueryUnload(false); });
      return 0;
    case WM_QUERYENDSESSION:
      Event([&] { program_.Form_QueryUnload(true); });
      return TRUE;
    case WM_ENDSESSION:
      // An installer's restart manager asks the program itself to close
      // (ENDSESSION_CLOSEAPP) so that the program file can be replaced; the
      // session goes on. Without the guard nobody starts it again but the
      // next logon; with it, the service does.
      if (wp && (lp & ENDSESSION_CLOSEAPP)) screen_.EndProgram();
      return 0;
    case WM_LBUTTONDOWN:
      Event([&] { program_.Form_MouseDown(1); });
      return 0;
    case WM_RBUTTONDOWN:
      Event([&] { program_.Form_MouseDown(2); });
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace dadado::win32
