// The countdown screen (frmSplash): what it shows, how far it has counted,
// and what its tick and its password box decide. The window mirrors
// `screen()`; the program carries out the decisions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/wipe.h"

namespace dadado {

inline constexpr int kScheduleCountdownSeconds = 120;
inline constexpr int kTimeControlCountdownSeconds = 30;
inline constexpr char kTimeControlActionLine[] = "操作: 关闭计算机[定时]";
inline constexpr char kDailyLimitActionLine[] = "操作: 关闭计算机[限时]";

// What a countdown counts down to.
enum class CountdownPurpose {
  kSchedule,     // a scheduled action (or a missed one caught up)
  kTimeControl,  // the hour is not allowed
  kDailyLimit,   // today's use has reached today's limit
};

struct CountdownScreen {
  bool exists = false;
  bool visible = false;
  int seconds_left = 0;           // SecondsLeft
  std::string title;              // lblLicenseTo
  std::string action_line;        // Label2
  std::string remaining;          // Label1
  std::string password;           // Text1
  std::uint64_t generation = 0;   // a new number for every window created
};

std::string RemainingText(int seconds);

// What a tick of the countdown found.
enum class CountdownTick {
  kCounting,    // still counting
  kClosed,      // reached zero and closed; nothing more to do
  kShutDown,    // reached zero under time control: the computer goes down now
};

// What Enter in the password box found.
enum class CountdownAnswer {
  kNoWindow,       // nothing is open
  kCancelled,      // the password was right: the window has closed
  kWrongPassword,  // the user is to be told; the box is emptied afterwards
};

class Countdown {
 public:
  const CountdownScreen& screen() const { return screen_; }
  bool is_open() const { return screen_.exists; }

  // Creates the window when there is none: 30 seconds under time control,
  // 120 otherwise. An open window goes on counting. `show` makes it visible;
  // a visible one stays so.
  void Open(bool time_control, const std::string& action_text, const std::string& version_text, bool show);
  void SetActionLine(const std::string& line) { screen_.action_line = line; }
  // Counts on to at least `seconds` from now (an action that joined later).
  void ExtendTo(int seconds) {
    if (screen_.exists && seconds > screen_.seconds_left) {
      screen_.seconds_left = seconds;
      screen_.remaining = RemainingText(seconds);
    }
  }
  // Counts on at most `seconds` from now, and at least one (an action that
  // comes sooner than the full count, or a shorter countdown taking over).
  void CutTo(int seconds) {
    if (seconds < 1) seconds = 1;
    if (screen_.exists && seconds < screen_.seconds_left) {
      screen_.seconds_left = seconds;
      screen_.remaining = RemainingText(seconds);
    }
  }
  void Show() {
    if (screen_.exists) screen_.visible = true;
  }
  void SetPassword(const std::string& text) { ReplaceSecret(screen_.password, text); }
  void Close() {
    WipeString(screen_.password);
    screen_ = CountdownScreen{};
    occurrence_.reset();
    purpose_ = CountdownPurpose::kSchedule;
  }
  // The scheduled instant the window warns for (for a missed action being
  // caught up, the instant that was missed); none under time control.
  const std::optional<std::int64_t>& occurrence() const { return occurrence_; }
  void SetOccurrence(std::int64_t instant) { occurrence_ = instant; }
  CountdownPurpose purpose() const { return purpose_; }
  void SetPurpose(CountdownPurpose purpose) { purpose_ = purpose; }

  // One second. At zero the window closes; whether the computer is then shut
  // down is decided by time control as it stands at that moment.
  CountdownTick Tick(bool time_control_in_force);

  // Enter in the password box, with the check of the stored password.
  CountdownAnswer Enter(const std::function<bool(const std::string&)>& password_matches);
  // After the wrong-password message: empties the box, unless the window it
  // was shown for has closed meanwhile (another may have opened since).
  bool EmptyBoxAfterWrongPassword(std::uint64_t generation);

 private:
  CountdownScreen screen_;
  std::optional<std::int64_t> occurrence_;
  CountdownPurpose purpose_ = CountdownPurpose::kSchedule;
  std::uint64_t generations_ = 0;
};

}  // namespace dadado
