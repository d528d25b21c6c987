// Settings from the machine policy: they replace the local ones, lock their
// controls, are never saved, and follow when the policy changes.
#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"
#include "system/windows_integration.h"

namespace dadado {
namespace {

PolicyData Number(std::uint32_t v) { return {v, std::nullopt}; }
PolicyData Text(const std::string& t) { return {std::nullopt, t}; }

// The user's own file: a weekly schedule that does nothing, everything else
// at its default.
constexpr char kUserFile[] =
    "[常规设置]\r\n频率= 1\r\n定时时间=2026/12/1 6:00:00\r\n定时每周= 2\r\n定时间隔= 4\r\n间隔起始时间=2026/11/30\r\n"
    "操作方式= 3\r\n";

struct PolicyTest : testing::ProgramTest {
  void StartWith(const PolicyValues& policy) {
    clock.Set(2026, 12, 7, 12, 0, 0);  // a Monday
    GivenFile(kUserFile);
    os.policy = policy;
    program.Start();
  }
};

TEST_F(PolicyTest, EachValueReplacesItsSettingAndLocksItsControl) {
  StartWith({{"ScheduleFrequency", Number(2)},
             {"ScheduleTime", Text("22:30:05")},
             {"ScheduleWeekday", Number(6)},
             {"ScheduleIntervalDays", Number(16)},
             {"IntervalStart", Text("2026-12-05")},
             {"Action", Number(1)},
             {"ShowWarning", Number(0)},
             {"ForceImmediate", Number(0)},
             {"HideTrayIcon", Number(1)},
             {"LockAtStart", Number(1)},
             {"PasswordProtection", Number(1)},
             {"AllowedHoursWednesday", Text("08:00+13:00")},
             {"StartWithWindows", Number(1)}});
  const LiveSettings& l = live();
  const PolicyLocks& locks = program.policy_locks();
  EXPECT_TRUE(l.option1_selected(2));
  EXPECT_TRUE(locks.frequency);
  EXPECT_EQ(l.scheduled_time(), 22 * 3600 + 30 * 60 + 5);
  EXPECT_TRUE(locks.scheduled_time);
  EXPECT_EQ(l.combo1().index, 6);
  EXPECT_EQ(l.combo2().index, 14);  // every 16th day
  EXPECT_TRUE(locks.weekday && locks.interval);
  EXPECT_EQ(program.interval_start(), "2026/12/5");
  EXPECT_EQ(l.combo3().index, 1);
  EXPECT_TRUE(locks.action);
  for (int n : {9, 8}) EXPECT_EQ(l.check(n).value, 0) << n;
  for (int n : {1, 5, 10, 2}) EXPECT_EQ(l.check(n).value, 1) << n;
  for (int n : {9, 8, 1, 5, 10, 2}) EXPECT_TRUE(locks.check[n]) << n;
  for (int n : {3, 4, 6, 7, 11}) EXPECT_FALSE(locks.check[n]) << n;
  EXPECT_EQ(l.text3(3).text, "08:00+13:00");
  EXPECT_TRUE(locks.allowed_hours[3]);
  EXPECT_FALSE(locks.allowed_hours[2]);
  EXPECT_FALSE(screen.tray_shown);                                    // HideTrayIcon
  EXPECT_EQ(os.commands.back(), LockWorkStationCommand("C:\\Windows\\system32"));             // LockAtStart
  EXPECT_FALSE(locks.read_only);
  EXPECT_FALSE(locks.password);
}

TEST_F(PolicyTest, HideAtStartAndTimeControlShapeTheStart) {
  StartWith({{"HideWindowAtStart", Number(1)}});
  EXPECT_FALSE(screen.form_visible);
  EXPECT_FALSE(screen.check_password_open);
  StartWith({{"TimeControl", Number(1)}, {"AllowedHoursMonday", Text("24:00")}});
  EXPECT_TRUE(live().IsSet(4));
  EXPECT_TRUE(live().option1_selected(3));  // time control takes the schedule away
  EXPECT_TRUE(screen.check_password_open);  // and guards the window
  EXPECT_TRUE(program.countdown().exists);  // Monday is forbidden by the policy
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机[定时]");
}

TEST_F(PolicyTest, WrongTypesAndValuesOutOfRangeLeaveTheLocalSetting) {
  StartWith({{"ScheduleFrequency", Text("0")},
             {"ScheduleTime", Text("25:00:00")},
             {"ScheduleWeekday", Number(7)},
             {"ScheduleIntervalDays", Number(1)},
             {"IntervalStart", Text("2026/12/05")},
             {"Action", Number(4)},
             {"ShowWarning", Number(2)},
             {"PasswordProtection", Text("1")},
             {"AllowedHoursSunday", Text("always")},
             {"AllowedHoursMonday", Text("")},
             {"Password", Text("")},
             {"StartWithWindows", Number(0xFFFFFFFF)},
             {"SettingsReadOnly", Number(2)},
             {"Unknown", Number(1)}});
  EXPECT_TRUE(live().option1_selected(1));
  EXPECT_EQ(live().scheduled_time(), 6 * 3600);
  EXPECT_EQ(live().combo1().index, 2);
  EXPECT_EQ(live().combo2().index, 4);
  EXPECT_EQ(program.interval_start(), "2026/11/30");
  EXPECT_EQ(live().combo3().index, 3);
  EXPECT_EQ(live().check(9).value, 1);
  EXPECT_EQ(live().text3(0).text, "24:00");
  EXPECT_FALSE(program.policy_locks().any());
  for (const char* t : {"22:00", "2:00:00", "22:00:60", " 22:00:00"}) {
    StartWith({{"ScheduleTime", Text(t)}});
    EXPECT_FALSE(program.policy_locks().scheduled_time) << t;
  }
  for (const char* d : {"2026-02-29", "2026-13-01", "26-12-01", "2026-12-1"}) {
    StartWith({{"IntervalStart", Text(d)}});
    EXPECT_EQ(program.interval_start(), "2026/11/30") << d;
  }
  EXPECT_FALSE(screen.ended);
}

TEST_F(PolicyTest, ApplyNeverSavesWhatThePolicyHoldsAndTheUserValueComesBack) {
  StartWith({{"ScheduleFrequency", Number(0)}, {"Action", Number(1)}, {"StartWithWindows", Number(1)}});
  live().SetCheck(9, 0);  // a setting of the user's own
  program.Command3_Click();
  EXPECT_EQ(Key("常规设置", "频率"), "1");
  EXPECT_EQ(Key("常规设置", "操作方式"), "3");
  EXPECT_EQ(Key("常规设置", "关机画面"), "0");
  EXPECT_FALSE(os.Has(kRunKey, "dadado"));  // the administrator's, not ours to write
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));

  os.policy.clear();
  program.PolicyChanged();
  EXPECT_TRUE(live().option1_selected(1));
  EXPECT_EQ(live().combo3().index, 3);
  EXPECT_EQ(live().check(2).value, 0);  // as the registry has it
  EXPECT_EQ(live().check(9).value, 0);  // untouched
  EXPECT_FALSE(program.policy_locks().any());
}

TEST_F(PolicyTest, AScheduleSetByPolicyRunsWithoutApply) {
  GivenFile("[常规设置]\r\n频率= 3\r\n操作方式= 3\r\n");
  clock.Set(2026, 12, 7, 21, 0, 0);
  program.Start();
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  os.policy = {{"ScheduleFrequency", Number(0)}, {"ScheduleTime", Text("21:00:30")}, {"Action", Number(1)}};
  program.PolicyChanged();
  EXPECT_TRUE(program.timer_running(FormTimer::kSchedule));
  EXPECT_FALSE(program.timer_running(FormTimer::kTimeControl));
  EXPECT_FALSE(live().apply_enabled());  // nothing of the user's is pending
  clock.Set(2026, 12, 7, 21, 0, 30);
  program.Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_EQ(Key("常规设置", "频率"), "3");
}

TEST_F(PolicyTest, AnUnchangedPolicyLeavesACancelledCountdownCancelled) {
  os.policy = {{"ScheduleFrequency", Number(0)}, {"ScheduleTime", Text("21:00:00")}, {"Action", Number(1)}};
  GivenFile("");
  clock.Set(2026, 12, 7, 20, 57, 59);
  program.Start();
  program.Timer1_Timer();
  ASSERT_TRUE(program.countdown().exists);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  ASSERT_FALSE(program.timer_running(FormTimer::kSchedule));
  const int reads = os.policy_reads;
  program.PolicyChanged();  // a routine refresh of Group Policy
  EXPECT_EQ(os.policy_reads, reads + 1);
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
}

TEST_F(PolicyTest, ReadOnlySettingsSaveNothing) {
  StartWith({{"SettingsReadOnly", Number(1)}});
  EXPECT_TRUE(program.policy_locks().read_only);
  const std::string before = FileText();
  live().SelectOption1(0);
  program.Command3_Click();
  program.Command1_Click();
  EXPECT_EQ(FileText(), before);
  EXPECT_FALSE(os.Has(kWinlogonKey, "PowerdownAfterShutdown"));
  program.Label7_MouseDown();
  program.Label7_MouseUp();
  EXPECT_FALSE(screen.set_password_open);
  EXPECT_TRUE(screen.messages.empty());
}

TEST_F(PolicyTest, ThePolicyPasswordIsTheOneThatCounts) {
  StartWith({{"Password", Text(EncodePassword("校园网"))}, {"PasswordProtection", Number(1)}});
  EXPECT_TRUE(program.policy_locks().password);
  program.clock_menu1_Click();
  ASSERT_TRUE(screen.check_password_open);
  program.CheckPassword_SetText("mossgate");  // the file's password no longer opens it
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(screen.form_visible);
  program.CheckPassword_SetText("校园网");
  program.CheckPassword_cmdOK_Click();
  EXPECT_TRUE(screen.form_visible);
  program.OpenShutdownScreen(1);
  program.Countdown_SetText("校园网");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  program.Label7_MouseDown();  // changing it here would change nothing
  program.Label7_MouseUp();
  EXPECT_FALSE(screen.set_password_open);
}

}  // namespace
}  // namespace dadado
