// A year in the tray, at the speed of the machine: the program over the test
// fakes, its running timer ticked once a second of a simulated clock for a
// whole year, and every hour a countdown opened and cancelled with the
// password. Two settings, since a schedule and the time control exclude each
// other (turning the time control on selects "no schedule"):
//   schedule     a daily shutdown at 03:00, warned of by the countdown;
//   timecontrol  the time control on, every hour allowed but 03:00 to 04:00,
//                so that each night the guard counts down and shuts down,
//                again and again for that hour. Prints the heap in use
// and the sizes of the containers the program holds, at the start, every
// simulated quarter and at the end. A benchmark: it prints figures and fails
// only when the program stops behaving as a running program.
//
//   soak [schedule|timecontrol] [days] [report every N days]   (schedule, 365, 91)
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "protection/password.h"
#include "settings/settings_file.h"
#include "settings/text.h"
#include "support/fakes.h"
#include "ui/program.h"

using namespace dadado;
using namespace dadado::testing;

namespace {

constexpr char kIniPath[] = "C:\\dadado\\dadado.ini";

std::size_t HeapInUse() { return mallinfo2().uordblks; }

std::string AllowedHours(int forbidden) {
  std::string s;
  for (int h = 0; h < 24; ++h) {
    if (h == forbidden) continue;
    char entry[8];
    std::snprintf(entry, sizeof entry, "%02d:00", h);
    if (!s.empty()) s += '+';
    s += entry;
  }
  return s;
}

struct World {
  MemoryFileStore files;
  SettingsFile settings{files, kIniPath};
  FakeOs os;
  FakeGuard guard;
  FakeScreen screen;
  FakeClock clock;
  Program program{settings, os, guard, screen, clock};
  // What the fakes recorded and was cleared, so that their own records do not
  // count as the program's memory.
  std::size_t exit_calls = 0, messages = 0, os_operations = 0, events = 0;

  void ClearRecords() {
    exit_calls += os.exit_calls.size();
    messages += screen.messages.size() + screen.notices.size() + screen.balloons.size();
    os_operations += os.log.size();
    events += os.events.size();
    os.events.clear();
    os.events.shrink_to_fit();
    screen.balloons.clear();
    screen.balloons.shrink_to_fit();
    os.exit_calls.clear();
    os.exit_calls.shrink_to_fit();
    os.log.clear();
    os.log.shrink_to_fit();
    screen.messages.clear();
    screen.messages.shrink_to_fit();
    screen.notices.clear();
    screen.notices.shrink_to_fit();
  }
};

std::size_t ProgramTextBytes(const Program& p) {
  const LiveSettings& live = p.live();
  std::size_t n = live.text1().text.capacity() + live.text2().text.capacity() + p.interval_start().capacity();
  for (int d = 0; d < kWeekdays; ++d) n += live.text3(d).text.capacity();
  const CountdownScreen& c = p.countdown();
  n += c.title.capacity() + c.action_line.capacity() + c.remaining.capacity() + c.password.capacity();
  n += p.check_password().text.capacity() + p.check_password().new_text.capacity();
  n += p.set_password().text.capacity() + p.set_password().new_text.capacity();
  return n;
}

void Report(const char* when, World& w, long day) {
  std::size_t file_bytes = 0;
  for (auto& [path, bytes] : w.files.files) file_bytes += bytes.capacity();
  std::printf("%-6s day %3ld: heap in use %8zu B | program texts %5zu B | settings file %zu file(s), %zu B | "
              "registry values %zu | fake records: %zu exit calls, %zu messages, %zu operations (cleared daily)\n",
              when, day, HeapInUse(), ProgramTextBytes(w.program), w.files.files.size(), file_bytes,
              w.os.values.size(), w.exit_calls + w.os.exit_calls.size(),
              w.messages + w.screen.messages.size() + w.screen.notices.size(), w.os_operations + w.os.log.size());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "schedule";
  const long days = argc > 2 ? std::atol(argv[2]) : 365;
  const long every = argc > 3 && std::atol(argv[3]) > 0 ? std::atol(argv[3]) : 91;
  if (mode != "schedule" && mode != "timecontrol") {
    std::printf("usage: soak [schedule|timecontrol] [days]\n");
    return 2;
  }
  World w;
  w.clock.Set(2026, 1, 1, 0, 0, 0);
  std::string ini = "[常规设置]\r\n频率= 0\r\n定时时间=2026/1/1 03:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n"
                    "关机画面= 1\r\n";
  if (mode == "timecontrol") {
    ini += "[时间控制]\r\n启用= 1\r\n";
    for (int d = 0; d < kWeekdays; ++d) ini += std::to_string(d) + "week=" + AllowedHours(3) + "\r\n";
  }
  w.files.files[kIniPath] = Utf8ToGbk(ini);
  w.program.Start();
  const bool running = mode == "schedule" ? w.screen.timer1 && !w.screen.timer2 : w.screen.timer2 && !w.screen.timer1;
  if (w.program.ended() || !running) {
    std::printf("the program did not start the timer its settings choose\n");
    return 1;
  }
  std::printf("soak, %s: %s\n", mode.c_str(),
              mode == "schedule" ? "a daily shutdown at 03:00, the schedule timer ticked every second"
                                 : "the time control on, 03:00 to 04:00 forbidden, its timer ticked every second");
  // Reach the steady state once before the first figure: the first tick and
  // the first cancelled countdown allocate what they keep.
  w.program.Timer1_Timer();
  w.program.OpenShutdownScreen(1);
  w.program.Countdown_SetText(kDefaultPassword);
  w.program.Countdown_Enter();
  w.program.Command3_Click();
  w.ClearRecords();
  Report("start", w, 0);

  const auto started = std::chrono::steady_clock::now();
  const std::int64_t seconds = static_cast<std::int64_t>(days) * 86400;
  std::int64_t ticks = 0, guard_checks = 0, countdowns = 0, warnings = 0, restarts = 0;
  bool had_countdown = false;
  for (std::int64_t s = 1; s <= seconds; ++s) {
    w.clock.Advance(1);
    // The timers the program has running, as the window's timers would fire.
    if (w.screen.timer1) {
      w.program.Timer1_Timer();
      ++ticks;
    }
    if (w.screen.timer2) {
      w.program.Timer2_Timer();
      ++guard_checks;
    }
    if (w.screen.countdown_open) {
      if (!had_countdown) ++warnings;
      w.program.Countdown_Timer1_Timer();
    }
    had_countdown = w.screen.countdown_open;
    if (s % 3600 == 1800) {
      // Half past every hour: the countdown opened and the password given.
      w.program.OpenShutdownScreen(1);
      w.program.Countdown_SetText(kDefaultPassword);
      w.program.Countdown_Enter();
      ++countdowns;
      had_countdown = false;
      if (w.screen.countdown_open || w.screen.timer1 || w.screen.timer2) {
        std::printf("day %lld: the right password did not close the countdown and stop the timers\n",
                    static_cast<long long>(s / 86400));
        return 1;
      }
      // Apply starts the chosen timer again, as the user's Apply would.
      w.program.Command3_Click();
      ++restarts;
    }
    if (s % 86400 == 0) {
      w.ClearRecords();
      const long day = static_cast<long>(s / 86400);
      if ((day == 1 || day % every == 0) && day != days) Report("", w, day);
    }
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Report("end", w, days);
  std::printf("simulated %ld days: %lld schedule ticks, %lld time-control checks, %lld countdowns cancelled with the "
              "password, %lld countdowns run to zero or on, %lld restarts by Apply, in %.1f s\n",
              days, static_cast<long long>(ticks), static_cast<long long>(guard_checks), static_cast<long long>(countdowns),
              static_cast<long long>(warnings), static_cast<long long>(restarts), secs);
  std::printf("goal: heap in use and the program's containers flat from start to end\n");
  return 0;
}
