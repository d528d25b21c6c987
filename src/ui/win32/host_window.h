// The program's hidden window: it receives what belongs to the program as a
// whole rather than to a window the user sees: the schedule and guard timers,
// changes of the clock, resume from sleep, the tray icon's messages, queued
// notices, and the word of a guard's face that the service has started.
#pragma once

#include "ui/win32/window.h"

namespace dadado::win32 {

class WinApp;

class HostWindow : public Window {
 public:
  explicit HostWindow(WinApp& app) : app_(app) {}
  bool Create();
  // As the guard's face starts: every other copy of the program in this
  // session is told that the service has started.
  void TellOtherCopiesGuardStarted();

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  WinApp& app_;
  UINT guard_started_ = 0;
};

}  // namespace dadado::win32
