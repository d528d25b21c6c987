// The running program on Windows: the real operating system, settings file,
// clock and windows around the program's procedures.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "guard/win32/guard_win.h"
#include "guard/win32/pipe_channel.h"
#include "settings/memory_store.h"
#include "settings/settings_file.h"
#include "system/win32/win_file_store.h"
#include "system/win32/win_os.h"
#include "ui/program.h"
#include "ui/screen.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/host_window.h"
#include "ui/win32/tray_icon.h"

namespace dadado::win32 {

class WinClock : public Clock {
 public:
  LocalDateTime Now() override;
};

// The settings file's store while the program starts: one read of the file
// serves all of start-up's reads, which would otherwise open and read the
// whole file again for each key. Writes go to the file at once, and later
// reads give what they wrote; a write that failed lets the next read go to
// the file.
class StartupFileStore : public FileStore {
 public:
  explicit StartupFileStore(FileStore& files) : files_(files) {}
  // From now on reads come from the last one, until Release.
  void Hold() { holding_ = true; }
  void Release() {
    holding_ = false;
    held_.reset();
  }
  FileContent Read(const std::string& path) override;
  bool WriteAtomically(const std::string& path, const std::string& bytes) override;

 private:
  FileStore& files_;
  bool holding_ = false;
  std::optional<std::pair<std::string, FileContent>> held_;
};

class WinApp : public Screen, private GuardLink {
 public:
  // `guard` is the guard service as the program manages it; it outlives
  // the application.
  explicit WinApp(GuardManagement& guard);
  // The program as the face of the guard service that started it: its
  // settings are what the service sends over these pipes.
  WinApp(GuardManagement& guard, FacePipes pipes);
  ~WinApp() override;

  // Starts the program; false when it ended during start-up.
  bool Start();
  // The message loop; returns the exit code.
  int Run();
  // Start-up, then the message loop: the process's exit code.
  int Main();
  // What the process returns when Start ended the program.
  int exit_code() const { return exit_code_; }
  // The one pre-translate step of every message loop of the program: the
  // main loop, the change-password dialog's loop, and, through a message
  // filter hook, the loops of message boxes. Keyboard navigation and Enter
  // reach each of the program's windows whichever loop is running.
  bool PreTranslate(MSG* msg);

  Program& program() { return *program_; }
  HostWindow& host() { return *host_; }
  TrayIcon& tray() { return tray_; }
  Form1Window& form1() { return *form1_; }
  SplashWindow& splash() { return *splash_; }
  PasswordWindow& check_password() { return *check_password_; }
  PasswordWindow& set_password() { return *set_password_; }
  bool tray_shown() const { return tray_.shown(); }
  const std::wstring& tray_tip() const { return tray_.tip(); }
  int tray_adds() const { return tray_.adds(); }
  // The last messages shown (at most kShownMessagesKept), for the tests;
  // with `answer_messages` set the boxes are answered at once instead of
  // shown.
  static constexpr std::size_t kShownMessagesKept = 16;
  std::vector<std::string> shown_messages;
  bool answer_messages = false;
  MessageAnswer scripted_answer = MessageAnswer::kOk;
  // Makes Start fail as if the windows could not be created.
  bool fail_window_creation = false;

  // Screen
  void ShowSettingsWindow(bool visible) override;
  void SetTimerRunning(FormTimer timer, bool running) override;
  MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                            MessageButtons buttons) override;
  void ShowNotice(const std::string& text, const std::string& title, MessageIcon icon) override;
  void SetTrayIcon(bool shown, const std::string& tooltip) override;
  void ShowBalloon(const std::string& text) override;
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

  // What the host window receives.
  void OnScheduleTimer();
  void OnGuardTimer();
  void OnUsageTimer();
  void OnClockChanged();
  void OnResumed();
  void OnPolicyChanged();
  void OnSessionChange();
  // A face of the guard service has started: it says so to every copy of
  // the program in the session (the registered message "dadado guard
  // started", see HostWindow).
  void OnGuardStarted();
  void OnTrayEvent(LPARAM lp);
  void ShowNextNotice();
  // What the guard service sent has arrived.
  void OnFaceMessages();
  void OnPlanTimer();
  void OnWokeForPlan();
  // Start-up's work that the window need not wait for, once it is up: the
  // settings window's other pages and the tray icon.
  void FinishStart();

 private:
  // GuardLink
  std::optional<protocol::Message> Ask(protocol::Message request) override;
  void Tell(const protocol::Message& message) override;

  struct Notice {
    std::string text, title;
    MessageIcon icon;
  };
  static constexpr std::size_t kNoticesQueued = 16;
  static LRESULT CALLBACK MessageFilter(int code, WPARAM wp, LPARAM lp);
  void Record(const std::string& text);
  int ShowBox(const std::string& text, const std::string& title, MessageIcon icon, MessageButtons buttons);
  // The window objects, made once the program is.
  void MakeWindows();
  void ArmScheduleTimer();
  void ArmPlanTimer();
  void ArmScheduleTimerIfWantedSooner();
  void DispatchMenu(int command);

  WinOperatingSystem os_;
  WinFileStore files_;
  StartupFileStore startup_files_{files_};
  MemoryStore face_store_;  // the face's settings, as the service sent them
  std::unique_ptr<PipeChannel> channel_;
  std::atomic<HWND> host_hwnd_{nullptr};
  long long asked_ = 0;
  std::unique_ptr<SettingsFile> settings_;
  WinClock clock_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<HostWindow> host_;
  TrayIcon tray_;  // after the host window: the icon goes before its window
  std::unique_ptr<Form1Window> form1_;
  std::unique_ptr<SplashWindow> splash_;
  std::unique_ptr<PasswordWindow> check_password_;
  std::unique_ptr<PasswordWindow> set_password_;
  UniqueHook message_filter_;
  const MSG* translating_ = nullptr;  // the message PreTranslate works on
  std::deque<Notice> notices_;
  bool notice_open_ = false;
  bool schedule_armed_ = false;
  ULONGLONG schedule_due_ = 0;  // GetTickCount64 when the schedule timer fires
  bool plans_armed_ = false;
  ULONGLONG plans_due_ = 0;
  bool ended_ = false;
  bool start_finished_ = false;
  bool starting_ = false;            // inside Start
  bool show_when_started_ = false;   // the settings window, as start-up left it
  int exit_code_ = 0;
};

// The schedule timer's delay: to `seconds` whole seconds counted from the
// start of the current second (1 to Program::kLongestTickSeconds), plus the
// tick's offset.
UINT ScheduleDelayMs(int seconds, int ms_into_second);

}  // namespace dadado::win32
