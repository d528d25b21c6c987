// The countdown screen (frmSplash) as data: what it shows and how far it
// has counted. The window mirrors it.
#pragma once

#include <cstdint>
#include <string>

namespace dadado {

inline constexpr int kScheduleCountdownSeconds = 120;
inline constexpr int kTimeControlCountdownSeconds = 30;
inline constexpr char kTimeControlActionLine[] = "操作: 关闭计算机[定时]";

struct CountdownScreen {
  bool exists = false;
  bool visible = false;
  int seconds_left = 0;           // SecondsLeft
  std::string title;              // lblLicenseTo
  std::string action_line;        // Label2
  std::string remaining;          // Label1
  std::string password;           // Text1
  std::uint64_t generation = 0;   // a new number for every window created

  void Load(bool time_control, const std::string& action_text, const std::string& version_text);
  // One tick: counts down and returns true when zero has been reached.
  bool Tick();
};

std::string RemainingText(int seconds);

}  // namespace dadado
