// The program's windows: the settings window Form1, the countdown screen
// frmSplash and the two password dialogs. Each only draws its controls,
// forwards the user's events to the program and mirrors the program's state;
// a change made while mirroring never comes back as a user event.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/plan_editor.h"
#include "ui/program.h"
#include "settings/file_store.h"
#include "ui/screen.h"
#include "ui/win32/usage_chart.h"
#include "ui/win32/window.h"

namespace dadado::win32 {

// After each event a window forwards, `screen.Refresh()` mirrors the
// program's state in every window.

// A dialog that holds its owner until it is answered.
class ModalWindow : public Window {
 public:
  // Runs its own message loop until OK or Cancel closes the dialog; every
  // message passes the program's one pre-translate step first. True for OK.
  bool RunModal(HWND owner, const std::function<bool(MSG*)>& pre_translate);
  // Closes it as Cancel does: the program is ending.
  void Close() { Finish(false); }
  bool IsOpen() const { return hwnd() != nullptr; }

 protected:
  void Finish(bool accepted);

 private:
  bool accepted_ = false;
};

// 添加计划 and 修改计划: one plan, its fields as its repetition needs them.
class PlanDialog : public ModalWindow {
 public:
  PlanDialog(PlanForm& form, Screen& screen) : form_(form), screen_(screen) {}
  bool Open(HWND owner, const std::wstring& title);
  void Mirror();

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnDpiChanged() override;

 private:
  void OnCommand(int id, int code, HWND control);
  void LayOutFields();
  bool DrawAction(const DRAWITEMSTRUCT* item);
  int ItemHeight();

  PlanForm& form_;
  Screen& screen_;
  bool mirroring_ = false;
  HWND tips_ = nullptr;
  std::wstring action_tip_;
};

// 节假日安排: the two lists of the working-day calendar, pasted or typed.
class HolidayDialog : public ModalWindow {
 public:
  HolidayDialog(HolidayForm& form, Screen& screen) : form_(form), screen_(screen) {}
  bool Open(HWND owner);
  // What OK read, once the dialog has closed with it.
  const HolidayForm::Outcome& outcome() const { return outcome_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  HolidayForm& form_;
  Screen& screen_;
  HolidayForm::Outcome outcome_;
};

// 今日加时: an account and a number of minutes for today, granted by the
// program on OK; the dialog stays open while the program refuses them.
class ExtraTimeDialog : public ModalWindow {
 public:
  // `accounts` to choose from, `chosen` the one shown first.
  ExtraTimeDialog(Program& program, Screen& screen, std::vector<Account> accounts, int chosen)
      : program_(program), screen_(screen), accounts_(std::move(accounts)), chosen_(chosen) {}
  bool Open(HWND owner);
  // What was granted, once the dialog has closed with OK.
  const std::string& granted_account() const { return granted_account_; }
  int granted_minutes() const { return granted_minutes_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Grant();
  Program& program_;
  Screen& screen_;
  std::vector<Account> accounts_;
  int chosen_;
  std::string granted_account_;
  int granted_minutes_ = 0;
};

class Form1Window : public Window {
 public:
  // The power capabilities and the clock are for the plan dialog, the files
  // for the usage history's export.
  Form1Window(Program& program, Screen& screen, OperatingSystem& os, Clock& clock, FileStore& files)
      : program_(program), screen_(screen), os_(os), clock_(clock), files_(files) {}
  bool Create();
  void Mirror();
  // Every message loop's pre-translate step, which the dialogs' own loops run too.
  void SetPreTranslate(std::function<bool(MSG*)> pre_translate) { pre_translate_ = std::move(pre_translate); }
  // The plan, holiday or extra-time dialog while one is open, else nullptr.
  Window* open_dialog() const;
  void CloseDialogs();
  // The row of the plan list chosen, -1 for none.
  int selected_plan() const { return selected_plan_; }
  // A control of the window, its page built first when it is not yet.
  HWND Control(int id);
  // Builds the pages not built yet: once the window has first painted, or at
  // once when the program starts hidden.
  void BuildRemainingPages();
  // Called after the window's first paint has been handled.
  void SetFirstPaint(std::function<void()> first_paint) { first_paint_ = std::move(first_paint); }
  // The tab item shown for a logical tab, or -1 when it is hidden.
  int DisplayedTab(int logical) const;
  int LogicalTabOfItem(int item) const { return item >= 0 && item < static_cast<int>(shown_tabs_.size()) ? shown_tabs_[item] : -1; }
  // 导出 after the save dialog: the history of the account the 使用记录 tab
  // shows, written to `path`; false (the user told why) when it was not.
  bool ExportUsageTo(const std::string& path);
  const UsageChart& usage_chart() const { return chart_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnDpiChanged() override;

 private:
  // The pages of the tab control are built when first needed, each by a
  // function of its own: the page the window opens on as it is first
  // mirrored, before it shows, and the others after its first paint (or when
  // their tab is chosen first). A builder adds its controls with AddPage
  // (what it adds outside the page's list it shows and hides itself); the
  // mirroring of a page's controls skips those not built yet, as Mirror does
  // with a null handle. A new page is one more case in BuildPage.
  // True when the page was built just now.
  bool BuildPage(int page, bool in_view = false);
  void AddButtons();
  void BuildGeneralPage();
  void BuildAdvancedPage();
  void BuildTimeControlPage();
  void BuildPlanPage();
  void BuildAboutPage();
  // The pictures and bold labels of the pages built so far, at this DPI.
  void ShowPictures();
  void AddPage(int page, HWND control) { pages_[page].push_back(control); }
  // The tab a control is on, or -1 for the window's own buttons.
  int PageOf(HWND control) const;
  HWND Check(int page, int n, const wchar_t* caption, Rect96 r, const wchar_t* tip = nullptr);
  // The tooltips are made once the window is up; tips added before wait.
  void AddTip(HWND control, const wchar_t* tip);
  void MakeTips();
  std::vector<std::pair<HWND, const wchar_t*>> held_tips_;
  void OnCommand(int id, int code, HWND control);
  LRESULT OnNotify(const NMHDR* nm);
  void ShowPage(int page);
  void MirrorTabs();
  void SetBorder(HWND control, bool border);
  void MirrorPolicyLocks();
  void MirrorPlans();
  // The time zone's line on 高级设置, 使用当前时区 when it is offered, and
  // where the automatic logon's password is kept.
  void MirrorZone();
  void SetPlanColumnWidths();
  void OnPlanListNotify(const NMHDR* nm);
  void AddOrEditPlan(int row);
  void EditCalendar();
  // 时间控制: 适用于, its 启用, 使用默认规则, 管理员不受限, 今日加时.
  void MirrorRules();
  void ChooseRules(int index);
  void GrantExtraTime();
  // 使用记录: the account, the chart, the figures, 记录使用时间, 导出.
  void BuildUsagePage();
  void MirrorUsage();
  void ExportUsage();
  // Tools of the tooltip for locked controls, by area; their ids start here
  // (control handles, which the other tools use, are never this small).
  static constexpr UINT_PTR kPolicyTipFirst = 1;
  struct TipArea {
    RECT rect;
    const wchar_t* tip;
  };
  std::vector<TipArea> policy_tip_areas_;
  void Event(const std::function<void()>& f);
  static LRESULT CALLBACK PictureProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

  Program& program_;
  Screen& screen_;
  OperatingSystem& os_;
  Clock& clock_;
  FileStore& files_;
  std::function<bool(MSG*)> pre_translate_;
  bool mirroring_ = false;
  std::array<std::vector<HWND>, kTabCount> pages_;
  std::array<bool, kTabCount> built_{};
  std::function<void()> first_paint_;
  bool painted_ = false;
  HWND plan_list_ = nullptr;
  std::vector<PlanRow> shown_rows_;
  std::optional<std::pair<TimeZoneRule, std::wstring>> zone_name_;  // the last zone named, and its name
  int selected_plan_ = -1;
  std::unique_ptr<PlanDialog> plan_dialog_;
  std::unique_ptr<HolidayDialog> holiday_dialog_;
  std::unique_ptr<ExtraTimeDialog> extra_time_dialog_;
  // The 适用于 list as last asked for, and the accounts with sections then:
  // it is asked again when they change or the tab comes into view.
  std::vector<Program::RulesChoice> rules_choices_;
  std::vector<std::pair<std::string, std::string>> rules_sections_;
  bool rules_listed_ = false;
  std::vector<std::wstring> shown_rules_labels_;
  // The 使用记录 tab's account ("" for 所有账户) and its list after 所有账户.
  std::string usage_account_;
  std::vector<std::string> usage_accounts_;
  UsageChart chart_;
  std::vector<int> shown_tabs_;
  int page_ = -1;
  HWND tab_ = nullptr, tips_ = nullptr;
  std::array<UniqueIcon, 2> icons_;  // 常规设置's picture, 关于's
};

class SplashWindow : public Window {
 public:
  SplashWindow(Program& program, Screen& screen) : program_(program), screen_(screen) {}
  void Open(HWND owner, bool visible);
  void Close();
  void Mirror();
  bool IsOpen() const { return hwnd() != nullptr; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnDpiChanged() override;

 private:
  Program& program_;
  Screen& screen_;
  bool mirroring_ = false;
  HWND logo_control_ = nullptr;
  UniqueIcon logo_;
};

// checkpassword (one box) and setpassword (two boxes).
class PasswordWindow : public Window {
 public:
  enum class Kind { kCheck, kChange };
  PasswordWindow(Kind kind, Program& program, Screen& screen) : kind_(kind), program_(program), screen_(screen) {}
  void Open(HWND owner);
  void Close();
  void Mirror();
  void FocusFirstBox();
  bool IsOpen() const { return hwnd() != nullptr; }
  // Runs a modal loop until the dialog has closed; every message passes
  // the program's one pre-translate step first.
  void RunModal(HWND disabled_owner, const std::function<bool(MSG*)>& pre_translate);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnDpiChanged() override;

 private:
  const PasswordDialog& State() const;
  Kind kind_;
  Program& program_;
  Screen& screen_;
  bool mirroring_ = false;
  HWND picture_control_ = nullptr;
  UniqueIcon picture_;
};

}  // namespace dadado::win32
