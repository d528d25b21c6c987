// The program's windows: the settings window Form1, the countdown screen
// frmSplash and the two password dialogs. Each only draws its controls,
// forwards the user's events to the program and mirrors the program's state;
// a change made while mirroring never comes back as a user event.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "ui/plan_editor.h"
#include "ui/program.h"
#include "ui/screen.h"
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

class Form1Window : public Window {
 public:
  // The power capabilities and the clock are for the plan dialog.
  Form1Window(Program& program, Screen& screen, OperatingSystem& os, Clock& clock)
      : program_(program), screen_(screen), os_(os), clock_(clock) {}
  bool Create();
  void Mirror();
  // Every message loop's pre-translate step, which the dialogs' own loops run too.
  void SetPreTranslate(std::function<bool(MSG*)> pre_translate) { pre_translate_ = std::move(pre_translate); }
  // The plan or holiday dialog while one is open, else nullptr.
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
  void SetPlanColumnWidths();
  void OnPlanListNotify(const NMHDR* nm);
  void AddOrEditPlan(int row);
  void EditCalendar();
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
  std::function<bool(MSG*)> pre_translate_;
  bool mirroring_ = false;
  std::array<std::vector<HWND>, kTabCount> pages_;
  std::array<bool, kTabCount> built_{};
  std::function<void()> first_paint_;
  bool painted_ = false;
  HWND plan_list_ = nullptr;
  std::vector<PlanRow> shown_rows_;
  int selected_plan_ = -1;
  std::unique_ptr<PlanDialog> plan_dialog_;
  std::unique_ptr<HolidayDialog> holiday_dialog_;
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
