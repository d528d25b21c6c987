// The running program on Windows: the real operating system, settings file,
// clock and windows around the program's procedures.
#pragma once

#include <memory>

#include "settings/settings_file.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"
#include "ui/program.h"
#include "ui/screen.h"
#include "ui/win32/app_windows.h"

namespace dadado::win32 {

class WinClock : public Clock {
 public:
  LocalDateTime Now() override;
};

class WinApp : public Screen {
 public:
  WinApp();
  ~WinApp() override;

  // Starts the program; false when it ended during start-up.
  bool Start();
  // The message loop; returns the exit code.
  int Run();
  // Keyboard navigation for the program's windows.
  bool PreTranslate(MSG* msg);

  Program& program() { return *program_; }
  Form1Window& form1() { return *form1_; }
  SplashWindow& splash() { return *splash_; }
  PasswordWindow& check_password() { return *check_password_; }
  PasswordWindow& set_password() { return *set_password_; }
  bool tray_shown() const { return tray_shown_; }
  const std::wstring& tray_tip() const { return tray_tip_; }
  int tray_adds() const { return tray_adds_; }
  // The last messages shown, for the tests; with `answer_messages` set the
  // boxes are answered at once instead of shown.
  std::vector<std::string> shown_messages;
  bool answer_messages = false;
  MessageAnswer scripted_answer = MessageAnswer::kOk;

  // Screen
  void ShowSettingsWindow(bool visible) override;
  void SetTimerRunning(FormTimer timer, bool running) override;
  MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                            MessageButtons buttons) override;
  void ShowNotice(const std::string& text, const std::string& title, MessageIcon icon) override {
    ShowMessage(text, title, icon, MessageButtons::kOk);
  }
  void SetTrayIcon(bool shown, const std::string& tooltip) override;
  void ShowBalloon(const std::string&) override {}
  void OpenCountdown(bool visible) override;
  void CloseCountdown() override;
  void OpenCheckPassword() override;
  void CloseCheckPassword() override;
  void FocusCheckPassword() override;
  void RunSetPassword() override;
  void CloseSetPassword() override;
  void FocusOldPassword() override;
  void PopUpTrayMenu() override;
  void EndProgram() override;
  void Refresh() override;

 private:
  void OnTrayEvent(LPARAM lp);
  void AddTrayIcon();
  void RemoveTrayIcon();
  void ArmScheduleTimer();
  void DispatchMenu(int command);

  WinOperatingSystem os_;
  WinFileStore files_;
  std::unique_ptr<SettingsFile> settings_;
  WinClock clock_;
  std::unique_ptr<Program> program_;
  AppHooks hooks_;
  std::unique_ptr<Form1Window> form1_;
  std::unique_ptr<SplashWindow> splash_;
  std::unique_ptr<PasswordWindow> check_password_;
  std::unique_ptr<PasswordWindow> set_password_;
  bool tray_shown_ = false;
  bool tray_added_ = false;
  int tray_adds_ = 0;
  std::wstring tray_tip_;
  HICON tray_icon_ = nullptr;
  bool ended_ = false;
};

}  // namespace dadado::win32
