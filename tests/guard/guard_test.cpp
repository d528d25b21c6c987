#include "guard/guard.h"

#include <gtest/gtest.h>

#include <memory>

#include "settings/settings_file.h"
#include "settings/text.h"
#include "support/fakes.h"
#include "support/program_fixture.h"
#include "ui/program.h"

namespace dadado {
namespace {

using testing::FakeClock;
using testing::FakeOs;
using testing::FakeScreen;
using testing::kIniPath;
using testing::MemoryFileStore;

constexpr SessionId kConsole = 1;

// A real program in the console session, over the same settings file and
// clock as the guard; its exit calls are what it performed.
struct SimulatedProgram {
  FakeOs os;
  FakeScreen screen;
  SettingsFile settings;
  Program program;
  SimulatedProgram(MemoryFileStore& files, Clock& clock) : settings(files, kIniPath), program(settings, os, screen, clock) {
    program.Start();
  }
  // What the program's timers do in one second.
  void Second() {
    if (screen.timer1) program.Timer1_Timer();
    if (screen.timer2) program.Timer2_Timer();
    program.Countdown_Timer1_Timer();
  }
};

struct Performed {
  std::int64_t at;
  GuardAction action;
  std::optional<SessionId> session;
};

struct FakeGuardSystem : GuardSystem {
  std::optional<SessionId> console = kConsole;
  // The program as the guard sees it; a start creates one when allowed.
  std::function<bool()> running = [] { return false; };
  std::function<bool(SessionId)> start = [](SessionId) { return false; };
  std::vector<std::int64_t> start_times;
  std::vector<Performed> performed;
  std::vector<std::int64_t> recorded;
  bool perform_ok = true;
  PolicyValues policy;
  FakeClock* clock = nullptr;

  std::optional<SessionId> ConsoleUserSession() override { return console; }
  bool ProgramRunning(SessionId) override { return running(); }
  bool StartProgram(SessionId s) override {
    start_times.push_back(LocalSeconds(clock->now));
    return start(s);
  }
  bool Perform(const GuardAction& a, std::optional<SessionId> s) override {
    performed.push_back({LocalSeconds(clock->now), a, s});
    return perform_ok;
  }
  void RecordPerformed(std::int64_t occurrence) override { recorded.push_back(occurrence); }
  PolicyValues ReadPolicy() override { return policy; }
  std::vector<std::pair<int, std::vector<std::string>>> events;
  void WriteEvent(EventType, int id, const std::vector<std::string>& strings) override {
    events.push_back({id, strings});
  }
};

}  // namespace

void PrintTo(const GuardSettings& s, std::ostream* os) {
  *os << "frequency " << s.schedule.frequency << ", time " << s.schedule.scheduled_time << ", weekday "
      << s.schedule.weekday_index << ", interval " << s.schedule.interval_index << ", start " << s.interval_start
      << ", action " << s.action << ", time control " << s.time_control << ", hours";
  for (const auto& h : s.allowed_hours) *os << " [" << h << "]";
}

namespace {

std::int64_t At(int h, int m, int s) { return LocalSeconds({{2026, 12, 7}, h * 3600 + m * 60 + s}); }

struct GuardServiceTest : ::testing::Test {
  MemoryFileStore files;
  FakeClock clock;
  FakeGuardSystem system;
  std::unique_ptr<GuardService> guard;
  std::unique_ptr<SimulatedProgram> program;  // null while none runs
  bool program_killable = true;

  void SetUp() override {
    clock.Set(2026, 12, 7, 11, 0, 0);  // a Monday
    system.clock = &clock;
    system.running = [this] { return program != nullptr; };
  }
  void GivenFile(const std::string& utf8) { files.files[kIniPath] = Utf8ToGbk(utf8); }
  void StartGuard() { guard = std::make_unique<GuardService>(system, files, kIniPath, clock); }
  void StartProgram() { program = std::make_unique<SimulatedProgram>(files, clock); }
  // The guard starts a real program when it asks for one.
  void GuardStartsPrograms() {
    system.start = [this](SessionId) {
      StartProgram();
      return true;
    };
  }
  void Kill(std::uint32_t code = 1) {
    program.reset();
    guard->ProgramExited(code);
  }
  // Moves the clock to `until`, one second at a time: the program's timers,
  // then the guard's tick.
  void RunUntil(std::int64_t until) {
    while (LocalSeconds(clock.now) < until) {
      clock.Advance(1);
      if (program) program->Second();
      guard->Tick();
    }
  }
  std::size_t ProgramActions() const { return program ? program->os.exit_calls.size() : 0; }
};

// ---- which action, with which flags --------------------------------------------

TEST(GuardActionTest, FlagsAsTheProgramPassesThemAndTheCallTheyMapTo) {
  struct Case {
    int index;
    std::optional<GuardAction> expected;
  } cases[] = {
      {0, GuardAction{GuardActionKind::kRestart, 6}},
      {1, GuardAction{GuardActionKind::kPowerOff, 13}},
      {2, GuardAction{GuardActionKind::kLogOff, 4}},
      {3, std::nullopt},
      {-1, std::nullopt},
      {4, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(GuardActionFor(c.index), c.expected) << c.index;
}

// ---- the schedule -----------------------------------------------------------

constexpr char kDailyRestartAtNoon[] = "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 0\r\n";

TEST_F(GuardServiceTest, ProgramAloneTheGuardNeverActs) {
  GivenFile(kDailyRestartAtNoon);
  StartProgram();
  StartGuard();
  RunUntil(At(12, 0, 30));
  EXPECT_EQ(program->os.exit_calls, std::vector<unsigned>{6});
  EXPECT_TRUE(system.performed.empty());
  EXPECT_TRUE(system.start_times.empty());
}

TEST_F(GuardServiceTest, GuardAloneActsOnceAtTheDueSecond) {
  struct Case {
    int action;
    GuardActionKind kind;
    unsigned flags;
  } cases[] = {{0, GuardActionKind::kRestart, 6}, {1, GuardActionKind::kPowerOff, 13}, {2, GuardActionKind::kLogOff, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= " + std::to_string(c.action) + "\r\n");
    system.performed.clear();
    system.recorded.clear();
    StartGuard();  // the program cannot be started: the guard is alone
    RunUntil(At(11, 59, 59));
    EXPECT_TRUE(system.performed.empty());
    RunUntil(At(12, 0, 0));
    ASSERT_EQ(system.performed.size(), 1u);
    EXPECT_EQ(system.performed[0].action, (GuardAction{c.kind, c.flags}));
    EXPECT_EQ(system.performed[0].session, std::optional<SessionId>(kConsole));
    EXPECT_EQ(system.recorded, std::vector<std::int64_t>{At(12, 0, 0)});
    RunUntil(At(12, 5, 0));
    EXPECT_EQ(system.performed.size(), 1u);
    clock.Set(2026, 12, 7, 11, 0, 0);
  }
}

TEST_F(GuardServiceTest, WithNobodyLoggedOnRestartAndShutdownHappenButNoLogOff) {
  system.console.reset();
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 2\r\n");
  StartGuard();
  RunUntil(At(12, 1, 0));
  EXPECT_TRUE(system.performed.empty());
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:02:00\r\n操作方式= 1\r\n");
  RunUntil(At(12, 3, 0));
  ASSERT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(system.performed[0].at, At(12, 2, 0));
  EXPECT_FALSE(system.performed[0].session);
  EXPECT_TRUE(system.start_times.empty());
}

TEST_F(GuardServiceTest, ALateTickStillActsOnceForTheSecondItPassedOver) {
  GivenFile(kDailyRestartAtNoon);
  StartGuard();
  RunUntil(At(11, 59, 58));
  clock.Set(2026, 12, 7, 12, 0, 2);  // the service loop was held up
  guard->Tick();
  guard->Tick();
  ASSERT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(system.recorded, std::vector<std::int64_t>{At(12, 0, 0)});
}

TEST_F(GuardServiceTest, NoActionDueAtTheSecondTheGuardStarted) {
  // A missing time of day falls back to the start-up time, as in the program;
  // the guard never acts for the second it started in.
  GivenFile("[常规设置]\r\n频率= 0\r\n操作方式= 1\r\n");
  clock.Set(2026, 12, 7, 12, 0, 0);
  StartGuard();
  guard->Tick();
  RunUntil(At(12, 10, 0));
  EXPECT_TRUE(system.performed.empty());
  EXPECT_EQ(guard->settings().schedule.scheduled_time, 12 * 3600);
}

TEST_F(GuardServiceTest, BothRunningOnlyTheProgramActs) {
  GivenFile(kDailyRestartAtNoon);
  GuardStartsPrograms();
  StartGuard();
  RunUntil(At(11, 0, 3));
  ASSERT_TRUE(program);
  EXPECT_EQ(system.start_times, std::vector<std::int64_t>{At(11, 0, 1)});
  RunUntil(At(12, 1, 0));
  EXPECT_EQ(program->os.exit_calls, std::vector<unsigned>{6});
  EXPECT_TRUE(system.performed.empty());
}

TEST_F(GuardServiceTest, KilledTenSecondsBeforeTheActionHappensOnce) {
  GivenFile(kDailyRestartAtNoon);
  GuardStartsPrograms();
  StartProgram();
  StartGuard();
  RunUntil(At(11, 59, 50));
  Kill();
  RunUntil(At(12, 1, 0));
  // Started again within five seconds; the new program did it.
  ASSERT_EQ(system.start_times.size(), 1u);
  EXPECT_LE(system.start_times[0] - At(11, 59, 50), GuardService::kRestartWithinSeconds);
  EXPECT_EQ(ProgramActions(), 1u);
  EXPECT_TRUE(system.performed.empty());
  // The restart is logged with the killed program's exit code.
  ASSERT_EQ(system.events.size(), 1u);
  EXPECT_EQ(system.events[0].first, 1400);
}

TEST_F(GuardServiceTest, KilledTenSecondsBeforeAndNotStartableTheGuardActsOnce) {
  GivenFile(kDailyRestartAtNoon);
  StartProgram();
  StartGuard();
  RunUntil(At(11, 59, 50));
  Kill();
  RunUntil(At(12, 1, 0));
  EXPECT_FALSE(system.start_times.empty());
  ASSERT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(system.performed[0].at, At(12, 0, 0));
  ASSERT_FALSE(system.events.empty());
  EXPECT_EQ(system.events.back(), (std::pair<int, std::vector<std::string>>{1401, {"重新启动计算机"}}));
}

TEST_F(GuardServiceTest, AProgramThatAppearsInTheDueSecondDoesNotHoldTheGuardBack) {
  // It started too late to see that second; the guard acts.
  GivenFile(kDailyRestartAtNoon);
  StartGuard();
  RunUntil(At(11, 59, 59));
  clock.Advance(1);
  StartProgram();
  guard->Tick();
  EXPECT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(ProgramActions(), 0u);
}

TEST_F(GuardServiceTest, ACancelledCountdownIsNotPerformedByTheGuardWhileTheProgramRuns) {
  GivenFile(kDailyRestartAtNoon);
  StartProgram();
  StartGuard();
  RunUntil(At(11, 58, 0));
  ASSERT_TRUE(program->screen.countdown_open);
  program->program.Countdown_SetText("mossgate");
  program->program.Countdown_Enter();
  ASSERT_FALSE(program->screen.countdown_open);
  RunUntil(At(12, 1, 0));
  EXPECT_EQ(ProgramActions(), 0u);
  EXPECT_TRUE(system.performed.empty());
}

// ---- time control --------------------------------------------------------------

// Monday (1week) allows only 15:00 to 16:00; at 11:00 the hour is forbidden.
constexpr char kForbiddenNow[] = "[时间控制]\r\n启用= 1\r\n1week=15:00\r\n";

TEST_F(GuardServiceTest, TimeControlTheProgramAloneShutsDown) {
  GivenFile(kForbiddenNow);
  StartProgram();
  StartGuard();
  RunUntil(At(11, 0, 40));
  EXPECT_EQ(program->os.exit_calls, std::vector<unsigned>{13});
  EXPECT_TRUE(system.performed.empty());
}

TEST_F(GuardServiceTest, TimeControlTheGuardAloneShutsDownAfterThirtySeconds) {
  GivenFile(kForbiddenNow);
  StartGuard();
  RunUntil(At(11, 0, 30));  // absent from 11:00:01
  EXPECT_TRUE(system.performed.empty());
  RunUntil(At(11, 0, 31));
  ASSERT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(system.performed[0].action, (GuardAction{GuardActionKind::kPowerOff, 13}));
  RunUntil(At(11, 5, 0));
  EXPECT_EQ(system.performed.size(), 1u);
  EXPECT_TRUE(system.recorded.empty());
}

TEST_F(GuardServiceTest, TimeControlARefusedShutdownIsTriedAgainAMinuteLater) {
  GivenFile(kForbiddenNow);
  system.perform_ok = false;
  StartGuard();
  RunUntil(At(11, 1, 30));
  ASSERT_EQ(system.performed.size(), 1u);
  RunUntil(At(11, 1, 31));
  ASSERT_EQ(system.performed.size(), 2u);
  EXPECT_EQ(system.performed[1].at - system.performed[0].at, GuardService::kRetrySeconds);
}

TEST_F(GuardServiceTest, TimeControlAnAllowedHourOrNobodyLoggedOnNeverActs) {
  GivenFile("[时间控制]\r\n启用= 1\r\n1week=11:00\r\n");
  StartGuard();
  RunUntil(At(11, 59, 59));
  EXPECT_TRUE(system.performed.empty());
  RunUntil(At(12, 0, 29));  // forbidden from 12:00:00
  EXPECT_TRUE(system.performed.empty());
  RunUntil(At(12, 0, 30));
  EXPECT_EQ(system.performed.size(), 1u);

  system.performed.clear();
  system.console.reset();
  RunUntil(At(12, 10, 0));
  EXPECT_TRUE(system.performed.empty());
}

TEST_F(GuardServiceTest, TimeControlKilledDuringTheCountdownTheRestartedProgramShutsDown) {
  GivenFile(kForbiddenNow);
  GuardStartsPrograms();
  StartProgram();
  StartGuard();
  RunUntil(At(11, 0, 20));
  Kill();
  RunUntil(At(11, 1, 0));
  EXPECT_EQ(ProgramActions(), 1u);
  EXPECT_TRUE(system.performed.empty());
}

TEST_F(GuardServiceTest, TimeControlEndingTheProgramAgainAndAgainDoesNotKeepTheHourOpen) {
  GivenFile(kForbiddenNow);
  GuardStartsPrograms();
  StartProgram();
  StartGuard();
  // Each new program is ended before its thirty seconds are out.
  for (int round = 0; round < 3 && system.performed.empty(); ++round) {
    RunUntil(LocalSeconds(clock.now) + 20);
    Kill();
  }
  RunUntil(LocalSeconds(clock.now) + 2);
  EXPECT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(ProgramActions(), 0u);
}

// ---- keeping the program running -----------------------------------------------------

TEST_F(GuardServiceTest, StartsTheProgramAfterLogonAndOnlyWithSomeoneLoggedOn) {
  GuardStartsPrograms();
  system.console.reset();
  StartGuard();
  RunUntil(At(11, 1, 0));
  EXPECT_TRUE(system.start_times.empty());
  system.console = kConsole;
  guard->SessionLogon(kConsole);
  RunUntil(At(11, 1, 1));
  EXPECT_EQ(system.start_times, std::vector<std::int64_t>{At(11, 1, 1)});
}

TEST_F(GuardServiceTest, AStartedProgramGetsTimeToAnnounceItself) {
  // The start succeeded but the program has not announced itself yet: no
  // second copy before the grace is out.
  system.start = [](SessionId) { return true; };
  StartGuard();
  RunUntil(At(11, 0, 1) + GuardService::kStartGraceSeconds - 1);
  EXPECT_EQ(system.start_times.size(), 1u);
  RunUntil(At(11, 0, 1) + GuardService::kStartGraceSeconds);
  EXPECT_EQ(system.start_times.size(), 2u);
}

TEST_F(GuardServiceTest, BackOffTenStartsInAMinuteThenOneAMinute) {
  // Every program dies at once.
  system.start = [](SessionId) { return true; };
  StartGuard();
  for (int i = 0; i < 300; ++i) {
    RunUntil(LocalSeconds(clock.now) + 1);
    guard->ProgramExited(1);
  }
  const auto& t = system.start_times;
  ASSERT_GE(t.size(), 13u);
  for (int i = 1; i < 10; ++i) EXPECT_EQ(t[i] - t[i - 1], 1) << i;
  for (std::size_t i = 10; i < t.size(); ++i) EXPECT_EQ(t[i] - t[i - 1], 60) << i;
  // At most ten in any sixty seconds.
  for (std::size_t i = 10; i < t.size(); ++i) EXPECT_GE(t[i] - t[i - 10], 60);

  // A program that stays a minute ends the back-off.
  bool up = false;
  system.running = [&] { return up; };
  system.start = [&](SessionId) { return up = true; };
  const std::size_t before = t.size();
  RunUntil(t.back() + 60);
  ASSERT_EQ(t.size(), before + 1);
  RunUntil(LocalSeconds(clock.now) + 61);
  up = false;
  guard->ProgramExited(1);
  RunUntil(LocalSeconds(clock.now) + 1);
  EXPECT_EQ(t.size(), before + 2);
  EXPECT_EQ(t.back(), LocalSeconds(clock.now));
}

TEST_F(GuardServiceTest, ExitLetsTheProgramGoUntilTheNextLogon) {
  GivenFile(kDailyRestartAtNoon);
  GuardStartsPrograms();
  StartProgram();
  StartGuard();
  RunUntil(At(11, 0, 5));
  guard->ExitRequested();
  RunUntil(At(11, 0, 6));
  Kill(GuardService::kCleanExitCode);
  RunUntil(At(12, 1, 0));
  EXPECT_TRUE(guard->released());
  EXPECT_TRUE(system.start_times.empty());
  EXPECT_TRUE(system.performed.empty());  // the owner of the password ended the control
  guard->SessionLogoff(kConsole);
  guard->SessionLogon(kConsole);
  RunUntil(At(12, 1, 1));
  EXPECT_EQ(system.start_times, std::vector<std::int64_t>{At(12, 1, 1)});
}

TEST_F(GuardServiceTest, OnlyAnAskedForCleanEndIsAnExit) {
  struct Case {
    const char* what;
    bool asked;
    int seconds_after;
    std::uint32_t code;
  } cases[] = {
      {"killed without asking", false, 0, 1},
      {"ended cleanly without asking", false, 0, GuardService::kCleanExitCode},
      {"asked, then killed", true, 1, 1},
      {"asked too long before", true, GuardService::kExitRequestSeconds + 1, GuardService::kCleanExitCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clock.Set(2026, 12, 7, 11, 0, 0);
    system.start_times.clear();
    GuardStartsPrograms();
    StartProgram();
    StartGuard();
    RunUntil(At(11, 0, 5));
    if (c.asked) guard->ExitRequested();
    RunUntil(At(11, 0, 5) + c.seconds_after);
    Kill(c.code);
    RunUntil(LocalSeconds(clock.now) + GuardService::kRestartWithinSeconds);
    EXPECT_FALSE(guard->released());
    EXPECT_EQ(system.start_times.size(), 1u);
  }
}

// ---- the settings file, read as the program reads it --------------------------------

TEST_F(GuardServiceTest, HostileSettingsFilesGiveTheProgramsValuesAndAreNeverWritten) {
  const std::string long_text(400, '9');
  const std::string raw_cases[] = {
      "",
      std::string("\xff\xfe\x00\x01garbage\x80\x81\x82", 14),
      Utf8ToGbk("[常规设置]\r\n频率= 99999999999\r\n定时时间=" + long_text + "\r\n定时每周=-77777\r\n操作方式= 2\r\n"),
      Utf8ToGbk("[常规设置]\r\n频率= 2\r\n定时间隔= 40000\r\n间隔起始时间=2026/2/30\r\n定时时间=25:61:61\r\n"),
      Utf8ToGbk("[常规设置]\r\n频率= 1\r\n定时每周= 3\r\n定时时间=2026/1/1 23:59:59\r\n操作方式= 1\r\n") +
          std::string("\r\n[时间控制]\r\n启用= 1\x00junk\r\n0week=", 38) + long_text + "\r\n",
      Utf8ToGbk("[时间控制]\r\n启用= 2\r\n3week=\r\n[常规设置]\r\n启动后隐藏界面= 1\r\n频率= 0\r\n"),
      Utf8ToGbk("[常规设置]\r\n频率= 0\r\n频率= 1\r\n[常规设置]\r\n操作方式=\xa1\r\n"),
  };
  for (bool fail_reads : {false, true}) {
    for (const std::string& raw : raw_cases) {
      SCOPED_TRACE(::testing::PrintToString(raw) + (fail_reads ? " unreadable" : ""));
      MemoryFileStore guard_files;
      guard_files.files[kIniPath] = raw;
      guard_files.fail_reads = fail_reads;
      clock.Set(2026, 12, 7, 15, 4, 5);
      const GuardSettings read = ReadGuardSettings(guard_files, kIniPath, {}, clock.now);
      EXPECT_EQ(guard_files.writes, 0);
      EXPECT_EQ(guard_files.files[kIniPath], raw);

      MemoryFileStore program_files;
      program_files.files[kIniPath] = raw;
      program_files.fail_reads = fail_reads;
      SimulatedProgram p(program_files, clock);
      EXPECT_EQ(read, GuardSettingsOf(p.program.live(), p.program.interval_start()));
    }
  }
}

TEST_F(GuardServiceTest, ThePolicyReplacesTheFileForTheGuardAsForTheProgram) {
  GivenFile(kDailyRestartAtNoon);
  PolicyValues policy;
  policy[policy::kAction].number = 1;
  policy[policy::kScheduleTime].text = "12:30:00";
  const GuardSettings read = ReadGuardSettings(files, kIniPath, policy, clock.now);
  EXPECT_EQ(read.action, 1);
  EXPECT_EQ(read.schedule.scheduled_time, 12 * 3600 + 30 * 60);

  system.policy = policy;
  StartGuard();
  RunUntil(At(12, 31, 0));
  ASSERT_EQ(system.performed.size(), 1u);
  EXPECT_EQ(system.performed[0].at, At(12, 30, 0));
  EXPECT_EQ(system.performed[0].action.kind, GuardActionKind::kPowerOff);
}

}  // namespace
}  // namespace dadado
