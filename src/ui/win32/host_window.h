// The program's hidden window: it receives what belongs to the program as a
// whole rather than to a window the user sees: the schedule and guard timers,
// changes of the clock, resume from sleep, the tray icon's messages and
// queued notices.
#pragma once

#include "ui/win32/window.h"

namespace dadado::win32 {

class WinApp;

class HostWindow : public Window {
 public:
  explicit HostWindow(WinApp& app) : app_(app) {}
  bool Create();

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  WinApp& app_;
};

}  // namespace dadado::win32
