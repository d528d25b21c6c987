// Everything the program shows, behind one interface: the Win32 layer draws
// it, the tests record it.
#pragma once

#include <string>

#include "engine/timers.h"

namespace dadado {

enum class MessageIcon { kCritical, kQuestion, kWarning, kInformation };
enum class MessageButtons { kOk, kOkCancel };
enum class MessageAnswer { kOk, kCancel };

class Screen {
 public:
  virtual ~Screen() = default;

  virtual void ShowSettingsWindow(bool visible) = 0;       // Form1
  virtual void SetTimerRunning(FormTimer timer, bool running) = 0;
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                    MessageButtons buttons) = 0;
  // A message box with an OK button that does not hold up the caller: it is
  // shown from the message loop once the current event has been handled.
  virtual void ShowNotice(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  virtual void SetTrayIcon(bool shown, const std::string& tooltip) = 0;
  // A balloon notice from the tray icon.
  virtual void ShowBalloon(const std::string& text) = 0;

  // The countdown screen: created when absent, shown when `visible`; its own
  // one-second timer runs from creation until CloseCountdown.
  virtual void OpenCountdown(bool visible) = 0;
  virtual void CloseCountdown() = 0;

  virtual void OpenCheckPassword() = 0;   // modeless, owned by Form1
  virtual void CloseCheckPassword() = 0;
  virtual void FocusCheckPassword() = 0;
  virtual void RunSetPassword() = 0;      // modal: returns when it has closed
  virtual void CloseSetPassword() = 0;
  virtual void FocusOldPassword() = 0;

  virtual void PopUpTrayMenu() = 0;
  // Ends the program at once: no further event runs.
  virtual void EndProgram() = 0;
  // The program's state changed: windows that mirror it redraw.
  virtual void Refresh() = 0;
};

}  // namespace dadado
