// The plan dialog and the holiday dialog: modal, code-created, laid out at
// 96 DPI. They show a PlanForm or HolidayForm and hand it the user's changes;
// what a repetition shows and what OK refuses is the form's to say.
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "system/win32/wide.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

constexpr char kNotice[] = "提示";
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const wchar_t* const kWeekdayLetters[] = {L"日", L"一", L"二", L"三", L"四", L"五", L"六"};

// The plan dialog: the rows under 重复 come and go with the repetition.
constexpr int kPlanClientWidth = 360, kPlanClientHeight = 298;
constexpr int kFieldW = 256, kWideW = 336;  // a drop-down; 提示 and the summary
constexpr int kWeekdayStep = 36;            // a box and its day, apart from the next
constexpr int kLabelX = 12, kLabelW = 78, kFieldX = 92;
constexpr int kFirstFieldRow = 100, kRowStep = 30;

std::wstring WithCrLf(const std::string& text) {
  std::wstring w = Widen(text), out;
  for (wchar_t c : w) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out;
}

std::string WithoutCr(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text)
    if (c != L'\r') out += c;
  return Narrow(out);
}

SYSTEMTIME SystemTimeOf(const Date& date, int second_of_day) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(date.year);
  st.wMonth = static_cast<WORD>(date.month);
  st.wDay = static_cast<WORD>(date.day);
  st.wDayOfWeek = static_cast<WORD>(WeekdayOf(DayNumber(date)));
  st.wHour = static_cast<WORD>(second_of_day / 3600);
  st.wMinute = static_cast<WORD>(second_of_day / 60 % 60);
  st.wSecond = static_cast<WORD>(second_of_day % 60);
  return st;
}

}  // namespace

// ---- the modal loop ---------------------------------------------------------------

bool ModalWindow::RunModal(HWND owner, const std::function<bool(MSG*)>& pre_translate) {
  if (!hwnd()) return false;
  accepted_ = false;
  if (owner) EnableWindow(owner, FALSE);
  MSG msg;
  while (hwnd()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the outer loop ends too
      Finish(false);
      break;
    }
    if (pre_translate && pre_translate(&msg)) continue;
    if (hwnd() && (msg.hwnd == hwnd() || IsChild(hwnd(), msg.hwnd)) && IsDialogMessageW(hwnd(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (owner && IsWindow(owner)) {
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
  }
  return accepted_;
}

void ModalWindow::Finish(bool accepted) {
  if (!hwnd()) return;
  accepted_ = accepted;
  // The owner takes the activation back before this window goes, or the
  // system would hand it to another program's window.
  HWND owner = GetWindow(hwnd(), GW_OWNER);
  if (owner && IsWindow(owner)) EnableWindow(owner, TRUE);
  Destroy();
}

// ---- 添加计划 / 修改计划 ------------------------------------------------------------

bool PlanDialog::Open(HWND owner, const std::wstring& title) {
  if (!CreateTopLevel(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, WS_POPUP | WS_CAPTION | WS_SYSMENU, title,
                      kPlanClientWidth, kPlanClientHeight, owner))
    return false;
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                          hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 400);

  AddControl(WC_BUTTONW, L"启用(&E)", kChild | WS_TABSTOP | WS_GROUP | BS_CHECKBOX, {kLabelX, 12, 200, 18},
             kIdPlanEnabled);
  AddControl(WC_STATICW, L"操作(&O):", kChild | SS_LEFT, {kLabelX, 43, kLabelW, 16}, kIdStatic);
  HWND action = AddControl(WC_COMBOBOXW, L"",
                           kChild | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED |
                               CBS_HASSTRINGS,
                           {kFieldX, 40, kFieldW, 300}, kIdPlanAction);
  for (PlanAction a : PlanForm::Actions())
    SendMessageW(action, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(PlanActionText(a)).c_str()));
  AddControl(WC_STATICW, L"重复(&R):", kChild | SS_LEFT, {kLabelX, 73, kLabelW, 16}, kIdStatic);
  HWND repeat = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST,
                           {kFieldX, 70, kFieldW, 300}, kIdPlanRepeat);
  for (PlanRepeat r : PlanForm::Repeats())
    SendMessageW(repeat, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(PlanForm::RepeatChoiceText(r)).c_str()));

  // The rows LayOutFields places; created in the order Tab moves through them.
  AddControl(WC_STATICW, L"日期(&D):", kChild | SS_LEFT, {kLabelX, 0, kLabelW, 16}, kIdPlanDateLabel);
  HWND date = AddControl(DATETIMEPICK_CLASSW, L"", kChild | WS_TABSTOP | WS_GROUP | DTS_SHORTDATEFORMAT,
                         {kFieldX, 0, 150, 23}, kIdPlanDate);
  SendMessageW(date, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"yyyy'年'M'月'd'日'"));
  AddControl(WC_STATICW, L"星期(&W):", kChild | SS_LEFT, {kLabelX, 0, kLabelW, 16}, kIdPlanWeekdayLabel);
  for (int d = 0; d < kWeekdays; ++d)
    AddControl(WC_BUTTONW, kWeekdayLetters[d], kChild | WS_TABSTOP | BS_CHECKBOX | (d == 0 ? WS_GROUP : 0),
               {kFieldX + d * kWeekdayStep, 0, kWeekdayStep - 4, 18}, kIdPlanWeekdayFirst + d);
  // A number typed or spun within its range, with its unit after it.
  auto add_number = [&](const wchar_t* label, int label_id, int edit_id, int spin_id, int digits, int low, int high,
                        const wchar_t* unit, int unit_w, int unit_id) {
    AddControl(WC_STATICW, label, kChild | SS_LEFT, {kLabelX, 0, kLabelW, 16}, label_id);
    HWND edit = AddControl(WC_EDITW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_BORDER | ES_AUTOHSCROLL | ES_NUMBER,
                           {kFieldX, 0, 44, 23}, edit_id, WS_EX_CLIENTEDGE);
    SendMessageW(edit, EM_SETLIMITTEXT, digits, 0);
    HWND spin = AddControl(UPDOWN_CLASSW, L"",
                           kChild | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                           {kFieldX + 44, 0, 18, 23}, spin_id);
    SendMessageW(spin, UDM_SETRANGE32, low, high);
    AddControl(WC_STATICW, unit, kChild | SS_LEFT, {kFieldX + 68, 0, unit_w, 16}, unit_id);
  };
  add_number(L"重复周期(&N):", kIdPlanEveryLabel, kIdPlanEvery, kIdPlanEverySpin, 2, Plan::kMinEveryDays,
             Plan::kMaxEveryDays, L"天（2 到 16）", 140, kIdPlanEveryUnit);
  add_number(L"空闲时间(&N):", kIdPlanIdleLabel, kIdPlanIdle, kIdPlanIdleSpin, 4, Plan::kMinIdleMinutes,
             Plan::kMaxIdleMinutes, L"分钟没有操作（1 到 1440）", 150, kIdPlanIdleUnit);
  AddControl(WC_STATICW, L"时间(&T):", kChild | SS_LEFT, {kLabelX, 0, kLabelW, 16}, kIdPlanTimeLabel);
  HWND time = AddControl(DATETIMEPICK_CLASSW, L"", kChild | WS_TABSTOP | WS_GROUP | DTS_TIMEFORMAT | DTS_UPDOWN,
                         {kFieldX, 0, 100, 23}, kIdPlanTime);
  SendMessageW(time, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"HH':'mm':'ss"));
  AddControl(WC_BUTTONW, L"执行前提示，倒计时 120 秒(&I)", kChild | WS_TABSTOP | WS_GROUP | BS_CHECKBOX,
             {kLabelX, 0, kWideW, 18}, kIdPlanWarning);
  AddControl(WC_STATICW, L"", kChild | SS_LEFT | SS_NOPREFIX, {kLabelX, 0, kWideW, 34}, kIdPlanSummary);

  AddControl(WC_BUTTONW, L"确定", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON,
             {kPlanClientWidth - 168, kPlanClientHeight - 38, 76, 26}, IDOK);
  AddControl(WC_BUTTONW, L"取消", kChild | WS_TABSTOP, {kPlanClientWidth - 88, kPlanClientHeight - 38, 76, 26},
             IDCANCEL);

  action_tip_ = Widen(form_.ActionTip());
  if (!action_tip_.empty()) {
    // Greyed items say nothing by themselves; the box says why.
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(action);
    ti.lpszText = action_tip_.data();
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  OnDpiChanged();
  Mirror();
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  SetFocus(GetDlgItem(hwnd(), kIdPlanAction));
  return true;
}

int PlanDialog::ItemHeight() {
  HDC dc = GetDC(hwnd());
  HGDIOBJ old = SelectObject(dc, font());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(hwnd(), dc);
  return tm.tmHeight + Scale(4);
}

void PlanDialog::OnDpiChanged() {
  HWND action = GetDlgItem(hwnd(), kIdPlanAction);
  HWND repeat = GetDlgItem(hwnd(), kIdPlanRepeat);
  if (!action || !repeat) return;
  // The drawn drop-down as tall as the plain one beside it.
  for (WPARAM part : {static_cast<WPARAM>(-1), WPARAM{0}}) {
    const LRESULT height = SendMessageW(repeat, CB_GETITEMHEIGHT, part, 0);
    SendMessageW(action, CB_SETITEMHEIGHT, part, height > 0 ? height : ItemHeight());
  }
  LayOutFields();
}

// The rows the repetition uses, one under the other from below 重复; the
// rest hidden. 提示 and the summary follow the last row.
void PlanDialog::LayOutFields() {
  const PlanForm::Fields f = form_.Visible();
  int y = kFirstFieldRow;
  auto place = [&](bool shown, const std::vector<std::pair<int, Rect96>>& controls) {
    for (const auto& [id, r] : controls) {
      HWND h = GetDlgItem(hwnd(), id);
      if (shown) MoveControl(h, {r.x, y + r.y, r.w, r.h});
      ShowWindow(h, shown ? SW_SHOWNA : SW_HIDE);
    }
    if (shown) y += kRowStep;
  };
  place(f.date, {{kIdPlanDateLabel, {kLabelX, 3, kLabelW, 16}}, {kIdPlanDate, {kFieldX, 0, 150, 23}}});
  std::vector<std::pair<int, Rect96>> weekdays = {{kIdPlanWeekdayLabel, {kLabelX, 3, kLabelW, 16}}};
  for (int d = 0; d < kWeekdays; ++d)
    weekdays.push_back({kIdPlanWeekdayFirst + d, {kFieldX + d * kWeekdayStep, 2, kWeekdayStep - 4, 18}});
  place(f.weekdays, weekdays);
  place(f.every_days, {{kIdPlanEveryLabel, {kLabelX, 3, kLabelW, 16}},
                       {kIdPlanEvery, {kFieldX, 0, 44, 23}},
                       {kIdPlanEverySpin, {kFieldX + 44, 0, 18, 23}},
                       {kIdPlanEveryUnit, {kFieldX + 68, 3, 140, 16}}});
  place(f.idle_minutes, {{kIdPlanIdleLabel, {kLabelX, 3, kLabelW, 16}},
                         {kIdPlanIdle, {kFieldX, 0, 44, 23}},
                         {kIdPlanIdleSpin, {kFieldX + 44, 0, 18, 23}},
                         {kIdPlanIdleUnit, {kFieldX + 68, 3, 150, 16}}});
  place(f.time, {{kIdPlanTimeLabel, {kLabelX, 3, kLabelW, 16}}, {kIdPlanTime, {kFieldX, 0, 100, 23}}});
  y += 4;
  MoveControl(GetDlgItem(hwnd(), kIdPlanWarning), {kLabelX, y, kWideW, 18});
  MoveControl(GetDlgItem(hwnd(), kIdPlanSummary), {kLabelX, y + 28, kWideW, 34});
  SetWindowTextW(GetDlgItem(hwnd(), kIdPlanDateLabel), Widen(f.date_label + "(&D):").c_str());
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void PlanDialog::Mirror() {
  if (!hwnd()) return;
  mirroring_ = true;
  const Plan& p = form_.plan();
  auto check = [&](int id, bool on) { SendMessageW(GetDlgItem(hwnd(), id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); };
  check(kIdPlanEnabled, p.enabled);
  check(kIdPlanWarning, p.warning && p.action != PlanAction::kWake);
  for (int d = 0; d < kWeekdays; ++d) check(kIdPlanWeekdayFirst + d, (p.weekdays >> d) & 1u);
  auto select = [&](int id, int index) {
    HWND h = GetDlgItem(hwnd(), id);
    if (SendMessageW(h, CB_GETCURSEL, 0, 0) != index) SendMessageW(h, CB_SETCURSEL, index, 0);
  };
  const auto& actions = PlanForm::Actions();
  const auto& repeats = PlanForm::Repeats();
  for (std::size_t i = 0; i < actions.size(); ++i)
    if (actions[i] == p.action) select(kIdPlanAction, static_cast<int>(i));
  for (std::size_t i = 0; i < repeats.size(); ++i)
    if (repeats[i] == p.repeat) select(kIdPlanRepeat, static_cast<int>(i));
  SYSTEMTIME shown{};
  HWND date = GetDlgItem(hwnd(), kIdPlanDate);
  SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown));
  if (shown.wYear != p.date.year || shown.wMonth != p.date.month || shown.wDay != p.date.day) {
    SYSTEMTIME st = SystemTimeOf(p.date, 0);
    SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
  }
  HWND time = GetDlgItem(hwnd(), kIdPlanTime);
  SendMessageW(time, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown));
  if (shown.wHour * 3600 + shown.wMinute * 60 + shown.wSecond != p.time_of_day) {
    SYSTEMTIME st = SystemTimeOf(p.date, p.time_of_day);
    SendMessageW(time, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
  }
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdPlanEvery), Widen(form_.every_days_text()));
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdPlanIdle), Widen(form_.idle_minutes_text()));
  const PlanForm::Fields f = form_.Visible();
  EnableWindow(GetDlgItem(hwnd(), kIdPlanWarning), f.warning_enabled);
  // Which rows show depends only on the repetition; they move when it does.
  auto visible = [&](int id) { return (GetWindowLongPtrW(GetDlgItem(hwnd(), id), GWL_STYLE) & WS_VISIBLE) != 0; };
  if (visible(kIdPlanTime) != f.time || visible(kIdPlanDate) != f.date || visible(kIdPlanWeekdayFirst) != f.weekdays ||
      visible(kIdPlanEvery) != f.every_days || visible(kIdPlanIdle) != f.idle_minutes)
    LayOutFields();
  SetWindowTextW(GetDlgItem(hwnd(), kIdPlanDateLabel), Widen(f.date_label + "(&D):").c_str());
  const std::string summary = form_.Summary();
  SetTextIfDifferent(GetDlgItem(hwnd(), kIdPlanSummary), Widen(summary.empty() ? "" : "计划：" + summary));
  mirroring_ = false;
}

void PlanDialog::OnCommand(int id, int code, HWND control) {
  if (mirroring_) return;
  if (id == kIdPlanEnabled && code == BN_CLICKED) {
    form_.SetEnabled(!form_.plan().enabled);
  } else if (id == kIdPlanWarning && code == BN_CLICKED) {
    form_.SetWarning(!form_.plan().warning);
  } else if (id >= kIdPlanWeekdayFirst && id < kIdPlanWeekdayFirst + kWeekdays && code == BN_CLICKED) {
    const int d = id - kIdPlanWeekdayFirst;
    form_.SetWeekday(d, !((form_.plan().weekdays >> d) & 1u));
  } else if (id == kIdPlanAction && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    // A greyed item can be reached with the keyboard; the form refuses it
    // and the mirror puts the choice back.
    if (index >= 0 && index < static_cast<int>(PlanForm::Actions().size())) form_.SetAction(PlanForm::Actions()[index]);
  } else if (id == kIdPlanRepeat && code == CBN_SELCHANGE) {
    const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    if (index >= 0 && index < static_cast<int>(PlanForm::Repeats().size())) form_.SetRepeat(PlanForm::Repeats()[index]);
  } else if (id == kIdPlanEvery && code == EN_CHANGE) {
    form_.SetEveryDaysText(Narrow(TextOf(control)));
  } else if (id == kIdPlanIdle && code == EN_CHANGE) {
    form_.SetIdleMinutesText(Narrow(TextOf(control)));
  } else if (id == IDOK && code == BN_CLICKED) {
    if (auto problem = form_.Problem()) {
      screen_.ShowMessage(*problem, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
      return;
    }
    Finish(true);
    return;
  } else if (id == IDCANCEL && code == BN_CLICKED) {
    Finish(false);
    return;
  } else {
    return;
  }
  Mirror();
}

bool PlanDialog::DrawAction(const DRAWITEMSTRUCT* item) {
  if (item->CtlID != static_cast<UINT>(kIdPlanAction)) return false;
  const auto& actions = PlanForm::Actions();
  if (item->itemID >= actions.size()) {
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
    return true;
  }
  const PlanAction action = actions[item->itemID];
  const bool available = form_.ActionAvailable(action);
  const bool disabled = (item->itemState & ODS_DISABLED) != 0;
  // A greyed item is never drawn as chosen: it cannot be.
  const bool highlighted = (item->itemState & ODS_SELECTED) && available && !disabled;
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  FillRect(dc, &r, GetSysColorBrush(highlighted ? COLOR_HIGHLIGHT : disabled ? COLOR_BTNFACE : COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(!available || disabled ? COLOR_GRAYTEXT
                               : highlighted           ? COLOR_HIGHLIGHTTEXT
                                                       : COLOR_WINDOWTEXT));
  HGDIOBJ old = SelectObject(dc, font());
  RECT text = r;
  text.left += Scale(3);
  const std::wstring caption = Widen(PlanActionText(action));
  DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, old);
  if ((item->itemState & ODS_FOCUS) && !(item->itemState & ODS_NOFOCUSRECT)) DrawFocusRect(dc, &r);
  return true;
}

LRESULT PlanDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return 0;
    case WM_NOTIFY: {
      // Only the date and time pickers' own, as they are.
      const NMHDR* nm = NotificationIn(lp, sizeof(NMDATETIMECHANGE));
      if (!nm || !nm->hwndFrom || nm->hwndFrom != GetDlgItem(hwnd(), static_cast<int>(nm->idFrom))) return 0;
      if (!mirroring_ && nm->code == DTN_DATETIMECHANGE) {
        const auto* change = reinterpret_cast<const NMDATETIMECHANGE*>(nm);
        if (change->dwFlags != GDT_VALID) return 0;
        const SYSTEMTIME& st = change->st;
        if (nm->idFrom == kIdPlanDate) form_.SetDate({st.wYear, st.wMonth, st.wDay});
        else if (nm->idFrom == kIdPlanTime) form_.SetTime(st.wHour * 3600 + st.wMinute * 60 + st.wSecond);
        Mirror();
      }
      return 0;
    }
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (m->CtlID != static_cast<UINT>(kIdPlanAction)) break;
      m->itemHeight = static_cast<UINT>(ItemHeight());
      return TRUE;
    }
    case WM_DRAWITEM:
      if (DrawAction(reinterpret_cast<const DRAWITEMSTRUCT*>(lp))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      const bool summary = GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == kIdPlanSummary;
      SetTextColor(dc, GetSysColor(summary ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      Finish(false);
      return 0;
    default:
      break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

// ---- 节假日安排 ----------------------------------------------------------------------

bool HolidayDialog::Open(HWND owner) {
  constexpr int kWidth = 420, kHeight = 304;
  if (!CreateTopLevel(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, WS_POPUP | WS_CAPTION | WS_SYSMENU, L"节假日安排",
                      kWidth, kHeight, owner))
    return false;
  AddControl(WC_STATICW,
             Widen(std::string("按工作日或休息日执行的计划，除星期一至星期五外还按这里的日期计算。") +
                   kCalendarFormatLine + "。"),
             kChild | SS_LEFT, {12, 10, 396, 34}, kIdStatic);
  AddControl(WC_STATICW, L"假日，放假的日期(&H):", kChild | SS_LEFT, {12, 52, 192, 16}, kIdStatic);
  const DWORD box = kChild | WS_TABSTOP | WS_GROUP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                    ES_WANTRETURN;
  HWND holidays = AddControl(WC_EDITW, L"", box, {12, 70, 192, 184}, kIdHolidayBox, WS_EX_CLIENTEDGE);
  AddControl(WC_STATICW, L"调休，周末上班的日期(&W):", kChild | SS_LEFT, {216, 52, 192, 16}, kIdStatic);
  HWND extra = AddControl(WC_EDITW, L"", box, {216, 70, 192, 184}, kIdExtraWorkdayBox, WS_EX_CLIENTEDGE);
  // A year of holidays day by day fits many times over; a pasted book does not.
  for (HWND h : {holidays, extra}) SendMessageW(h, EM_SETLIMITTEXT, 64 * 1024, 0);
  AddControl(WC_BUTTONW, L"确定", kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, {kWidth - 168, kHeight - 38, 76, 26},
             IDOK);
  AddControl(WC_BUTTONW, L"取消", kChild | WS_TABSTOP, {kWidth - 88, kHeight - 38, 76, 26}, IDCANCEL);
  SetWindowTextW(holidays, WithCrLf(form_.holidays_text).c_str());
  SetWindowTextW(extra, WithCrLf(form_.extra_workdays_text).c_str());
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  SetFocus(holidays);
  return true;
}

LRESULT HolidayDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      const int id = LOWORD(wp), code = HIWORD(wp);
      if (id == IDOK && code == BN_CLICKED) {
        // The boxes are read as they stand: a multi-line box does not report
        // every change (text set into it from outside, for one).
        form_.holidays_text = WithoutCr(TextOf(GetDlgItem(hwnd(), kIdHolidayBox)));
        form_.extra_workdays_text = WithoutCr(TextOf(GetDlgItem(hwnd(), kIdExtraWorkdayBox)));
        outcome_ = form_.Check();
        if (!outcome_.ok) {
          screen_.ShowMessage(outcome_.message, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
          return 0;
        }
        Finish(true);
      } else if (id == IDCANCEL && code == BN_CLICKED) {
        Finish(false);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      Finish(false);
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace dadado::win32
