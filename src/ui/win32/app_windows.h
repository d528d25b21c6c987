// The program's windows: the settings window Form1, the countdown screen
// frmSplash and the two password dialogs. Each only draws its controls,
// forwards the user's events to the program and mirrors the program's state;
// a change made while mirroring never comes back as a user event.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "ui/program.h"
#include "ui/screen.h"
#include "ui/win32/window.h"

namespace dadado::win32 {

// After each event a window forwards, `screen.Refresh()` mirrors the
// program's state in every window.

class Form1Window : public Window {
 public:
  Form1Window(Program& program, Screen& screen) : program_(program), screen_(screen) {}
  bool Create();
  void Mirror();
  HWND Control(int id) const { return GetDlgItem(hwnd(), id); }
  // The tab item shown for a logical tab, or -1 when it is hidden.
  int DisplayedTab(int logical) const;
  int LogicalTabOfItem(int item) const { return item >= 0 && item < static_cast<int>(shown_tabs_.size()) ? shown_tabs_[item] : -1; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnDpiChanged() override;

 private:
  void AddPage(int page, HWND control) { pages_[page].push_back(control); }
  // The tab a control is on, or -1 for the window's own buttons.
  int PageOf(HWND control) const;
  HWND Check(int page, int n, const wchar_t* caption, Rect96 r, const wchar_t* tip = nullptr);
  void AddTip(HWND control, const wchar_t* tip);
  void OnCommand(int id, int code, HWND control);
  LRESULT OnNotify(const NMHDR* nm);
  void ShowPage(int page);
  void MirrorTabs();
  void SetBorder(HWND control, bool border);
  void MirrorPolicyLocks();
  // Tools of the tooltip for locked controls, by area; their ids start here
  // (control handles, which the other tools use, are never this small).
  static constexpr UINT_PTR kPolicyTipFirst = 1;
  std::vector<RECT> policy_tip_areas_;
  void Event(const std::function<void()>& f);
  static LRESULT CALLBACK PictureProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

  Program& program_;
  Screen& screen_;
  bool mirroring_ = false;
  std::array<std::vector<HWND>, 4> pages_;
  std::vector<int> shown_tabs_;
  int page_ = -1;
  HWND tab_ = nullptr, tips_ = nullptr;
  std::vector<UniqueIcon> icons_;
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
