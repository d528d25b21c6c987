// The settings window's procedures: start-up, the schedule tick, the
// time-control guard, the countdown screen, the settings gate and password
// dialogs, the tray menu and the four buttons. Every decision of the program
// is made here; the Win32 windows forward events and mirror the state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "scheduler/schedule_tick.h"
#include "settings/live_settings.h"
#include "settings/settings_file.h"
#include "system/os.h"
#include "ui/countdown.h"
#include "ui/screen.h"

namespace dadado {

inline constexpr char kProgramCaption[] = "dadado";
inline constexpr char kContactAddress[] = "dadado@example.com";

std::string VersionText();  // "dadado 1.0.0"
// The text Combo3 shows for an action index; "不进行任何操作" for none.
std::string ActionText(int action_index);

struct PasswordDialog {
  bool open = false;
  std::string text;        // checkpassword: Textpassword; setpassword: txtypassword
  std::string new_text;    // setpassword: txtPassword
};

class Program {
 public:
  Program(SettingsFile& settings, OperatingSystem& os, Screen& screen, Clock& clock);

  // Creates Form1 and runs its load handler.
  void Start();

  LiveSettings& live() { return live_; }
  const LiveSettings& live() const { return live_; }
  const CountdownScreen& countdown() const { return countdown_; }
  const PasswordDialog& check_password() const { return check_password_; }
  const PasswordDialog& set_password() const { return set_password_; }
  bool settings_shown() const { return settings_shown_; }
  const std::string& interval_start() const { return interval_start_; }
  bool timer_running(FormTimer t) const { return t == FormTimer::kSchedule ? timer1_ : timer2_; }
  bool ended() const { return ended_; }
  bool label7_pressed() const { return label7_pressed_; }
  bool image1_pressed() const { return image1_pressed_; }
  bool form_visible() const { return form_visible_; }

  // ---- Form1 ---------------------------------------------------------
  void Form_Load();
  void Timer1_Timer();           // schedule tick
  void Timer2_Timer() { CheckTimeControl(); }
  void CheckTimeControl();
  void OpenShutdownScreen(int mode);
  // The clock jumped or the machine resumed: the next tick starts afresh.
  void ClockDiscontinuity() { tick_seconds_.Reset(); }
  // When the schedule timer next needs to run, in whole seconds counted from
  // the start of the current second: 1 for the next second, at most 60.
  // While the next warning or action is more than two minutes away there is
  // nothing to do every second.
  int SecondsToNextScheduleTick();

  void Command1_Click();  // OK
  void Command2_Click();  // Cancel
  void Command3_Click();  // Apply
  void Command4_Click();  // Exit

  // Returns true when the close request is refused.
  bool Form_QueryUnload(bool session_ending);
  void Form_MouseDown(int button) { TrayIcon_MouseDown(button); }
  void TrayIcon_MouseDown(int button);
  void TrayIcon_DblClick() { clock_menu1_Click(); }
  void clock_menu1_Click() { ShowSettings(1, 0); }
  void clock_menu2_Click() { ShowSettings(1, 0); }
  void clock_menu3_Click() { ShowSettings(1, 1); }
  void clock_menu4_Click() { ShowSettings(1, 2); }
  void clock_menu5_Click() { ShowSettings(0, 3); }
  void clock_menu61_Click(int index);
  void Image1_MouseDown() { image1_pressed_ = true; }
  void Image1_MouseUp() { image1_pressed_ = false; }
  void Label6_Click();
  void Label7_MouseDown() { label7_pressed_ = true; }
  void Label7_MouseUp();

  void ShowSettings(int settings_requested, int start_tab);

  // ---- frmSplash -----------------------------------------------------
  void Countdown_Timer1_Timer();
  void Countdown_SetText(const std::string& text) { countdown_.password = text; }
  void Countdown_Enter();

  // ---- checkpassword / setpassword -----------------------------------
  void CheckPassword_SetText(const std::string& text) { check_password_.text = text; }
  void CheckPassword_cmdOK_Click();
  void CheckPassword_cmdCancel_Click();
  void SetPassword_SetOld(const std::string& text) { set_password_.text = text; }
  void SetPassword_SetNew(const std::string& text) { set_password_.new_text = text; }
  void SetPassword_cmdOK_Click();
  void SetPassword_cmdCancel_Click();

 private:
  void SetTimer(FormTimer t, bool running);
  void ShowForm(bool visible);
  void StartChosenTimer();
  void ShowTrayIconByCheck1();
  // Enables the privilege and makes the exit call; false when either failed.
  bool PerformAction(unsigned flags);
  // The immediate paths: on success the program ends; on failure the user is
  // told and the program keeps running.
  void RunNow(int action_index, bool forced);
  void End();

  SettingsFile& settings_;
  OperatingSystem& os_;
  Screen& screen_;
  Clock& clock_;

  LiveSettings live_;
  CountdownScreen countdown_;
  PasswordDialog check_password_;
  PasswordDialog set_password_;
  bool settings_shown_ = false;     // SettingsShown
  std::string interval_start_;      // IntervalStart
  bool timer1_ = false;
  bool timer2_ = true;              // Timer2 is created running
  bool form_visible_ = false;
  bool ended_ = false;
  bool label7_pressed_ = false;
  bool image1_pressed_ = false;
  TickSeconds tick_seconds_;
  std::optional<std::int64_t> last_due_;
  std::optional<std::int64_t> last_warning_;
};

}  // namespace dadado
