// How long the computer has been used today, in whole minutes: counted while
// a user is at the console and the workstation is not locked, by the minute
// check, and kept across restarts in the settings file.
#pragma once

#include <cstdint>
#include <optional>

#include "base/calendar.h"

namespace dadado {

class DailyUse {
 public:
  // A gap between two checks longer than this is not use: the machine slept,
  // or the clock was changed.
  static constexpr int kLongestGapSeconds = 150;

  // The stored count: minutes used on `day`. Another day's count, or none,
  // starts today from 0.
  void Load(std::optional<Date> day, int minutes, const LocalDateTime& now);

  // A user logged on or unlocked the workstation (true), or locked it or
  // logged off (false), at `now`.
  void SetActive(bool active, const LocalDateTime& now);
  bool active() const { return active_; }

  // The minute check: adds the time used since the last check. True when the
  // whole minutes changed, so that the count is stored.
  bool Count(const LocalDateTime& now);
  // The counting pauses (time control is off); the next check starts afresh.
  void Pause() { since_.reset(); }

  int minutes() const { return seconds_ / 60; }
  const Date& day() const { return day_; }

 private:
  Date day_;
  int seconds_ = 0;
  bool active_ = true;
  std::optional<std::int64_t> since_;
};

}  // namespace dadado
