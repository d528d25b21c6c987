// What /status tells scripts: JSON that any shell decodes the same, the
// settings as the program reads them with the policy's part marked, the next
// action as the engine computes it, and the status the guard service writes
// with the mark of the process that wrote it.
#include "guard/control_status.h"

#include <gtest/gtest.h>

#include <memory>

#include "guard/guard_host.h"
#include "protection/password.h"
#include "settings/text.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

using testing::FakeClock;
using testing::FakeOs;
using testing::kIniPath;
using testing::MemoryFileStore;

// ---- the JSON ----------------------------------------------------------------------------

TEST(StatusJsonTest, TextsComeOutAsAsciiThatEveryShellDecodesAlike) {
  const struct {
    std::string text, json;
  } cases[] = {
      {"", "\"\""},
      {"plain 09:00+10:00", "\"plain 09:00+10:00\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\Program Files\\dadado", "\"C:\\\\Program Files\\\\dadado\""},
      {"a/b", "\"a/b\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"关闭计算机", "\"\\u5173\\u95ed\\u8ba1\\u7b97\\u673a\""},
      {"é", "\"\\u00e9\""},
      {"\xef\xbf\xbf", "\"\\uffff\""},                 // the last of the basic plane
      {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},      // beyond it: a surrogate pair
      {"\xf4\x8f\xbf\xbf", "\"\\udbff\\udfff\""},      // the very last code point
      // Bytes that are no UTF-8 each give U+FFFD, and what follows survives.
      {"a\xff" "b", "\"a\\ufffdb\""},
      {"\xe5\x85", "\"\\ufffd\\ufffd\""},               // cut short
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},               // overlong '/'
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},    // a surrogate written out
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(JsonString(c.text), c.json);
  }
}

TEST(StatusJsonTest, LocalInstantsAreIsoWithoutAZone) {
  const struct {
    LocalDateTime t;
    const char* iso;
  } cases[] = {
      {{{2026, 12, 8}, 22 * 3600}, "2026-12-08T22:00:00"},
      {{{2026, 12, 31}, 86399}, "2026-12-31T23:59:59"},
      {{{2027, 1, 1}, 0}, "2027-01-01T00:00:00"},
      {{{2028, 2, 29}, 9 * 3600 + 5}, "2028-02-29T09:00:05"},
  };
  for (const auto& c : cases) EXPECT_EQ(IsoLocalTime(LocalSeconds(c.t)), c.iso);
}

ControlStatus Example() {
  ControlStatus s;
  s.version = "1.0.0";
  s.guard_installed = true;
  s.guard_running = true;
  s.enforcing = Enforcer::kGuard;
  s.settings = {{"ScheduleFrequency", StatusValue::Number(0), false},
                {"ScheduleTime", StatusValue::Text("22:00:00"), true},
                {"ScheduleWeekday", StatusValue::Null(), false},
                {"StartWithWindows", StatusValue::Bool(true), false}};
  s.next = StatusAction{LocalSeconds({{2026, 12, 8}, 22 * 3600}), "关闭计算机"};
  s.today = {2026, 12, 8};
  s.used_minutes = 35;
  s.limit_minutes = 120;
  s.time_control = false;
  s.accounts = {{"小明", "S-1-5-21-1", 20, 30, LocalSeconds({{2026, 12, 8}, 21 * 3600 + 30 * 60})}};
  s.pinned_zone = "-480";
  s.zone_differs = true;
  s.last_action = std::nullopt;
  return s;
}

TEST(StatusJsonTest, AGoldenStatus) {
  EXPECT_EQ(StatusJson(Example()),
            "{\r\n"
            "  \"version\": \"1.0.0\",\r\n"
            "  \"guard\": {\"installed\": true, \"running\": true},\r\n"
            "  \"enforcing\": \"guard\",\r\n"
            "  \"settings_unreadable\": false,\r\n"
            "  \"settings\": {\r\n"
            "    \"ScheduleFrequency\": {\"value\": 0, \"policy\": false},\r\n"
            "    \"ScheduleTime\": {\"value\": \"22:00:00\", \"policy\": true},\r\n"
            "    \"ScheduleWeekday\": {\"value\": null, \"policy\": false},\r\n"
            "    \"StartWithWindows\": {\"value\": true, \"policy\": false}\r\n"
            "  },\r\n"
            "  \"next\": {\"at\": \"2026-12-08T22:00:00\", \"action\": \"\\u5173\\u95ed\\u8ba1\\u7b97\\u673a\"},\r\n"
            "  \"today\": {\"date\": \"2026-12-08\", \"used_minutes\": 35, \"limit_minutes\": 120, \"time_control\": false, \"account\": null, \"accounts\": [{\"name\": \"\\u5c0f\\u660e\", \"used_minutes\": 20, \"extra_minutes\": 30, \"extra_until\": \"2026-12-08T21:30:00\"}]},\r\n"
            "  \"time_zone\": {\"pinned\": \"-480\", \"system_differs\": true},\r\n"
            "  \"last_action\": null\r\n"
            "}\r\n");
}

TEST(StatusJsonTest, NothingNextAndNothingDoneAreNullAndNoSettingsAnEmptyObject) {
  ControlStatus s;
  s.version = "1.0.0";
  const std::string json = StatusJson(s);
  EXPECT_NE(json.find("\"enforcing\": \"none\""), std::string::npos);
  EXPECT_NE(json.find("\"settings\": {\r\n  },"), std::string::npos);
  EXPECT_NE(json.find("\"next\": null,"), std::string::npos);
  EXPECT_NE(json.find("\"time_zone\": null,"), std::string::npos);
  EXPECT_NE(json.find("\"last_action\": null\r\n}"), std::string::npos);
  s.last_action = StatusAction{LocalSeconds({{2026, 2, 1}, 7}), "a\"b"};
  EXPECT_NE(StatusJson(s).find("\"last_action\": {\"at\": \"2026-02-01T00:00:07\", \"action\": \"a\\\"b\"}"),
            std::string::npos);
}

// A guard that runs and whose status cannot be read is never said to
// enforce nothing: what only it could tell is unknown, with an exit code of
// its own.
TEST(StatusJsonTest, AGuardWhoseStatusCannotBeReadIsUnknownNeverNone) {
  const std::string file = Utf8ToGbk("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 22:00:00\r\n操作方式= 1\r\n"
                                     "上次定时=2026/12/7 22:00:00\r\n[使用记录]\r\n日期=2026/12/8\r\n已用分钟= 35\r\n");
  FakeClock clock;
  clock.Set(2026, 12, 8, 12, 0, 0);
  StatusSurroundings around;
  around.guard_installed = around.guard_running = true;
  for (const auto& bytes : {std::optional<std::string>(file), std::optional<std::string>()}) {
    const ControlStatus s = StatusWhileGuardUnknown(bytes, {}, clock, around);
    EXPECT_EQ(s.enforcing, Enforcer::kUnknown);
    EXPECT_EQ(StatusExitCode(s), 3);
    EXPECT_EQ(s.settings_unreadable, !bytes);
    const std::string json = StatusJson(s);
    EXPECT_NE(json.find("\"enforcing\": \"unknown\""), std::string::npos);
    EXPECT_NE(json.find("\"next\": null,"), std::string::npos);
    EXPECT_NE(json.find("\"used_minutes\": null,"), std::string::npos);
    EXPECT_NE(json.find("\"last_action\": null"), std::string::npos);
  }
}

TEST(StatusJsonTest, NegativeAndLargeNumbersStayNumbers) {
  ControlStatus s;
  s.settings = {{"A", StatusValue::Number(-1), false}, {"B", StatusValue::Number(4294967295LL), false},
                {"C", StatusValue::Text("-1"), false}, {"D", StatusValue::Bool(false), true}};
  const std::string json = StatusJson(s);
  EXPECT_NE(json.find("\"A\": {\"value\": -1,"), std::string::npos);
  EXPECT_NE(json.find("\"B\": {\"value\": 4294967295,"), std::string::npos);
  EXPECT_NE(json.find("\"C\": {\"value\": \"-1\","), std::string::npos);
  EXPECT_NE(json.find("\"D\": {\"value\": false, \"policy\": true}\r\n"), std::string::npos);
}

// ---- the writer's mark -----------------------------------------------------------------------

TEST(StatusJsonTest, TheServicesMarkLeadsTheFileAndReadsBack) {
  const StatusWriter writer{4294967295u, "2026-12-08T06:00:00.1234567Z"};
  const std::string json = StatusJson(Example(), writer);
  EXPECT_EQ(json.rfind("{\r\n  \"service\": {\"pid\": 4294967295, \"started\": \"2026-12-08T06:00:00.1234567Z\"},\r\n"
                       "  \"version\": \"1.0.0\",\r\n", 0),
            0u);
  EXPECT_EQ(WriterOfStatus(json), writer);
  // The rest is the status as /status gives it without the mark.
  EXPECT_EQ(json.substr(json.find("  \"version\"")), StatusJson(Example()).substr(3));
}

TEST(StatusJsonTest, AnythingButTheServicesOwnMarkIsNoMark) {
  const std::string good = StatusJson(Example(), StatusWriter{1234, "2026-12-08T06:00:00.0000000Z"});
  const std::string cases[] = {
      "",
      StatusJson(Example()),
      good.substr(0, 30),  // cut short
      good.substr(0, good.find("},")),
      "{\r\n  \"service\": {\"pid\": 4294967296, \"started\": \"2026\"},\r\n",  // past 32 bits
      "{\r\n  \"service\": {\"pid\": 12345678901, \"started\": \"2026\"},\r\n",
      "{\r\n  \"service\": {\"pid\": , \"started\": \"2026\"},\r\n",
      "{\r\n  \"service\": {\"pid\": -1, \"started\": \"2026\"},\r\n",
      "{\r\n  \"service\": {\"pid\": 12, \"started\": \"20\\\"26\"},\r\n",
      "{\r\n  \"service\": {\"pid\": 12, \"started\": \"" + std::string(65, '1') + "\"},\r\n",
      "{\r\n  \"service\":{\"pid\": 12, \"started\": \"2026\"},\r\n",
      " " + good,
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(::testing::PrintToString(text));
    EXPECT_EQ(WriterOfStatus(text), std::nullopt);
  }
  EXPECT_EQ(WriterOfStatus(good), (StatusWriter{1234, "2026-12-08T06:00:00.0000000Z"}));
}

// ---- in force, and by whom -------------------------------------------------------------------

TEST(StatusExitCodeTest, InForceOnlyByTheGuardWhenItIsInstalled) {
  const struct {
    bool installed, running;
    Enforcer enforcing;
    int code;
  } cases[] = {
      {false, false, Enforcer::kNone, 1},
      {false, false, Enforcer::kProgram, 0},
      {true, true, Enforcer::kGuard, 0},
      // Installed but stopped (or its status stale): whatever the session runs.
      {true, false, Enforcer::kProgram, 1},
      {true, false, Enforcer::kNone, 1},
  };
  for (const auto& c : cases) {
    ControlStatus s;
    s.guard_installed = c.installed;
    s.guard_running = c.running;
    s.enforcing = c.enforcing;
    EXPECT_EQ(StatusExitCode(s), c.code) << c.installed << c.running << static_cast<int>(c.enforcing);
  }
}

// ---- without the guard: the file and the policy --------------------------------------------

const StatusSetting* Setting(const ControlStatus& s, const std::string& name) {
  for (const StatusSetting& e : s.settings)
    if (e.name == name) return &e;
  return nullptr;
}

struct StatusWithoutGuardTest : ::testing::Test {
  FakeClock clock;
  PolicyValues policy;
  StatusSurroundings around;
  std::optional<std::string> file = std::string();

  void SetUp() override { clock.Set(2026, 12, 7, 11, 0, 0); }  // a Monday
  void GivenFile(const std::string& utf8) { file = Utf8ToGbk(utf8); }
  ControlStatus Status() { return StatusWithoutGuard(file, policy, clock, around); }
  StatusValue Value(const std::string& name) {
    const ControlStatus s = Status();
    const StatusSetting* e = Setting(s, name);
    return e ? e->value : StatusValue::Text("<no member>");
  }
  bool ByPolicy(const std::string& name) {
    const ControlStatus s = Status();
    const StatusSetting* e = Setting(s, name);
    return e && e->policy;
  }
};

TEST_F(StatusWithoutGuardTest, EveryPolicyValueNameIsAMemberInTheTablesOrder) {
  const ControlStatus s = Status();
  std::vector<std::string> names;
  for (const StatusSetting& e : s.settings) names.push_back(e.name);
  const std::vector<std::string> first = {"ScheduleFrequency", "ScheduleTime", "ScheduleWeekday",
                                          "ScheduleIntervalDays", "IntervalStart", "Action", "HideTrayIcon",
                                          "HideWindowAtStart", "LockAtStart", "ForceImmediate", "ShowWarning",
                                          "PasswordProtection", "CatchUpMissed", "PostponeMinutes", "TimeControl",
                                          "AllowedHoursSunday"};
  ASSERT_GE(names.size(), first.size() + 2);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + first.size()), first);
  EXPECT_EQ(names[names.size() - 2], "StartWithWindows");
  EXPECT_EQ(names.back(), "GuardService");
  for (const char* name : {"AllowedHoursSaturday", "DailyLimitSunday", "DailyLimitSaturday"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  // Neither the password nor read-only: they are no setting's value.
  for (const char* name : {"Password", "SettingsReadOnly"})
    EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST_F(StatusWithoutGuardTest, TheValuesAreThePolicysElseTheFilesElseTheDefaults) {
  GivenFile("[常规设置]\r\n频率= 2\r\n定时时间=2026/12/1 6:07:08\r\n定时间隔= 3\r\n间隔起始时间=2026/12/1\r\n"
            "操作方式= 1\r\n错过补做= 2\r\n[高级设置]\r\n推迟分钟数= 500\r\n[时间控制]\r\n启用= 1\r\n1week=08:00+09:00\r\n"
            "1limit= 90\r\n");
  policy[policy::kAction].number = 2;
  policy[policy::kAllowedHoursMonday].text = "10:00";
  policy[policy::kDailyLimitTuesday].number = 45;
  policy[policy::kScheduleWeekday].number = 9;  // out of range: ignored
  const struct {
    const char* name;
    StatusValue value;
    bool policy;
  } cases[] = {
      {"ScheduleFrequency", StatusValue::Number(2), false},
      {"ScheduleTime", StatusValue::Text("06:07:08"), false},
      {"ScheduleWeekday", StatusValue::Number(0), false},      // the default
      {"ScheduleIntervalDays", StatusValue::Number(5), false},  // the fourth item: every five days
      {"IntervalStart", StatusValue::Text("2026-12-01"), false},
      {"Action", StatusValue::Number(2), true},
      {"ShowWarning", StatusValue::Number(1), false},          // the default
      {"ForceImmediate", StatusValue::Number(1), false},
      {"CatchUpMissed", StatusValue::Number(0), false},         // anything but 1 is off
      {"PostponeMinutes", StatusValue::Number(10), false},      // out of range: the default
      {"TimeControl", StatusValue::Number(1), false},
      {"AllowedHoursMonday", StatusValue::Text("10:00"), true},
      {"AllowedHoursSunday", StatusValue::Text("24:00"), false},
      {"DailyLimitMonday", StatusValue::Number(90), false},
      {"DailyLimitTuesday", StatusValue::Number(45), true},
      {"DailyLimitSunday", StatusValue::Number(0), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Value(c.name), c.value);
    EXPECT_EQ(ByPolicy(c.name), c.policy);
  }
}

TEST_F(StatusWithoutGuardTest, ListsWithNothingChosenAreNull) {
  GivenFile("[常规设置]\r\n定时每周=-1\r\n定时间隔= 15\r\n操作方式= -1\r\n间隔起始时间=soon\r\n");
  EXPECT_EQ(Value("ScheduleWeekday"), StatusValue::Null());
  EXPECT_EQ(Value("ScheduleIntervalDays"), StatusValue::Null());
  EXPECT_EQ(Value("Action"), StatusValue::Null());
  EXPECT_EQ(Value("IntervalStart"), StatusValue::Text("soon"));  // no date: the text as it stands
}

TEST_F(StatusWithoutGuardTest, StartWithWindowsAndTheGuardAsTheWindowShowsThem) {
  const struct {
    std::optional<std::uint32_t> start_policy, guard_policy;
    bool run_value, installed;
    bool start, start_by_policy, guard, guard_by_policy;
  } cases[] = {
      {{}, {}, false, false, false, false, false, false},
      {{}, {}, true, true, true, false, true, false},
      {0u, 0u, true, true, false, true, false, true},
      {1u, 1u, false, false, true, true, true, true},
      {7u, 7u, true, false, true, false, false, false},  // out of range: no policy
  };
  for (const auto& c : cases) {
    policy.clear();
    if (c.start_policy) policy[policy::kStartWithWindows].number = *c.start_policy;
    if (c.guard_policy) policy[policy::kGuardService].number = *c.guard_policy;
    around.run_value = c.run_value;
    around.guard_installed = c.installed;
    EXPECT_EQ(Value("StartWithWindows"), StatusValue::Bool(c.start));
    EXPECT_EQ(ByPolicy("StartWithWindows"), c.start_by_policy);
    EXPECT_EQ(Value("GuardService"), StatusValue::Bool(c.guard));
    EXPECT_EQ(ByPolicy("GuardService"), c.guard_by_policy);
  }
}

TEST_F(StatusWithoutGuardTest, AFileThatCannotBeReadShowsOnlyWhatThePolicySets) {
  file.reset();
  policy[policy::kScheduleFrequency].number = 0;
  policy[policy::kScheduleTime].text = "22:00:00";
  const ControlStatus s = Status();
  EXPECT_EQ(Setting(s, "ScheduleFrequency")->value, StatusValue::Number(0));
  EXPECT_EQ(Setting(s, "ScheduleTime")->value, StatusValue::Text("22:00:00"));
  EXPECT_EQ(Setting(s, "Action")->value, StatusValue::Null());
  EXPECT_EQ(Setting(s, "TimeControl")->value, StatusValue::Null());
  // Nothing is known of what the file would have made of it.
  EXPECT_EQ(s.next, std::nullopt);
  EXPECT_EQ(s.last_action, std::nullopt);
  EXPECT_EQ(s.used_minutes, 0);
}

TEST_F(StatusWithoutGuardTest, NextIsTheScheduleAsTheEngineComputesIt) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n");
  const std::int64_t today_noon = LocalSeconds({{2026, 12, 7}, 12 * 3600});
  const struct {
    int h, m, s;
    std::int64_t next;
  } cases[] = {
      {11, 59, 59, today_noon},
      {12, 0, 0, today_noon},  // due this very second
      {12, 0, 1, today_noon + 86400},
      {23, 59, 59, today_noon + 86400},
  };
  for (const auto& c : cases) {
    clock.Set(2026, 12, 7, c.h, c.m, c.s);
    const ControlStatus s = Status();
    ASSERT_TRUE(s.next) << c.h << ":" << c.m << ":" << c.s;
    EXPECT_EQ(IsoLocalTime(s.next->at), IsoLocalTime(c.next));
    EXPECT_EQ(s.next->action, "关闭计算机");
  }
}

TEST_F(StatusWithoutGuardTest, NextCrossesMidnightIntoALeapDay) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 0:00:00\r\n操作方式= 0\r\n启动后隐藏界面= 1\r\n");
  clock.Set(2028, 2, 28, 23, 59, 59);
  ControlStatus s = Status();
  ASSERT_TRUE(s.next);
  EXPECT_EQ(IsoLocalTime(s.next->at), "2028-02-29T00:00:00");
  EXPECT_EQ(s.next->action, "重新启动计算机");
  EXPECT_EQ(s.today, (Date{2028, 2, 28}));
  clock.Set(2028, 2, 29, 0, 0, 1);
  s = Status();
  EXPECT_EQ(IsoLocalTime(s.next->at), "2028-03-01T00:00:00");
}

TEST_F(StatusWithoutGuardTest, NothingIsNextWhenNothingWouldBeDone) {
  const std::string cases[] = {
      "",                                                                                   // no schedule at all
      "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 3\r\n启动后隐藏界面= 1\r\n",  // no action
      // Time control on cancels the schedule at start-up.
      "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n[时间控制]\r\n启用= 1\r\n",
      "[常规设置]\r\n频率= 2\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n间隔起始时间=never\r\n",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    GivenFile(text);
    EXPECT_EQ(Status().next, std::nullopt);
  }
}

TEST_F(StatusWithoutGuardTest, ThePolicysScheduleIsNextThoughTheFileHasNone) {
  policy[policy::kScheduleFrequency].number = 1;
  policy[policy::kScheduleWeekday].number = 3;  // Wednesday
  policy[policy::kScheduleTime].text = "06:30:00";
  policy[policy::kAction].number = 2;
  const ControlStatus s = Status();
  ASSERT_TRUE(s.next);
  EXPECT_EQ(IsoLocalTime(s.next->at), "2026-12-09T06:30:00");
  EXPECT_EQ(s.next->action, "注销用户");
}

TEST_F(StatusWithoutGuardTest, TodaysUseIsTheRecordOfTodayOnly) {
  const struct {
    const char* record;
    int h, m, s;
    Date today;
    int used;
  } cases[] = {
      {"日期=2026/12/7\r\n已用分钟=75\r\n", 23, 59, 59, {2026, 12, 7}, 75},
      {"日期=2026/12/7\r\n已用分钟=75\r\n", 24, 0, 0, {2026, 12, 8}, 0},  // midnight: a new day
      {"日期=2026/12/6\r\n已用分钟=75\r\n", 11, 0, 0, {2026, 12, 7}, 0},
      {"日期=2026/12/7\r\n已用分钟=-5\r\n", 11, 0, 0, {2026, 12, 7}, 0},
      {"日期=2026/12/7\r\n已用分钟=99999\r\n", 11, 0, 0, {2026, 12, 7}, 1440},
      {"已用分钟=75\r\n", 11, 0, 0, {2026, 12, 7}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    GivenFile(std::string("[时间控制]\r\n启用= 1\r\n1limit= 120\r\n2limit= 60\r\n[使用记录]\r\n") + c.record);
    clock.now = FromLocalSeconds(LocalSeconds({{2026, 12, 7}, 0}) + c.h * 3600 + c.m * 60 + c.s);
    const ControlStatus s = Status();
    EXPECT_EQ(s.today, c.today);
    EXPECT_EQ(s.used_minutes, c.used);
    EXPECT_EQ(s.limit_minutes, c.today.day == 7 ? 120 : 60);  // Monday's, then Tuesday's
    EXPECT_TRUE(s.time_control);
  }
}

TEST_F(StatusWithoutGuardTest, TimeControlCancelsTheScheduleTheFileStillNames) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n"
            "[时间控制]\r\n启用= 0\r\n");
  EXPECT_FALSE(Status().time_control);
  EXPECT_TRUE(Status().next);
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n"
            "[时间控制]\r\n启用= 1\r\n");
  const ControlStatus s = Status();
  EXPECT_TRUE(s.time_control);
  EXPECT_EQ(s.next, std::nullopt);
  // The settings are what the file and the policy say; what they come to
  // together is in "next" and "today".
  EXPECT_EQ(Setting(s, "ScheduleFrequency")->value, StatusValue::Number(0));
  EXPECT_EQ(Setting(s, "Action")->value, StatusValue::Number(1));
}

TEST_F(StatusWithoutGuardTest, TheLastActionIsTheLastScheduledInstant) {
  GivenFile("[常规设置]\r\n频率= 0\r\n操作方式= 0\r\n上次定时=2026/12/6 22:00:00\r\n");
  ControlStatus s = Status();
  ASSERT_TRUE(s.last_action);
  EXPECT_EQ(IsoLocalTime(s.last_action->at), "2026-12-06T22:00:00");
  EXPECT_EQ(s.last_action->action, "重新启动计算机");
  GivenFile("[常规设置]\r\n上次定时=not a time\r\n");
  EXPECT_EQ(Status().last_action, std::nullopt);
}

TEST_F(StatusWithoutGuardTest, WhoEnforces) {
  EXPECT_EQ(Status().enforcing, Enforcer::kNone);
  around.program_running = true;
  EXPECT_EQ(Status().enforcing, Enforcer::kProgram);
  EXPECT_EQ(StatusExitCode(Status()), 0);
  around.guard_installed = true;  // the guard stopped: the program enforces alone
  EXPECT_EQ(Status().enforcing, Enforcer::kProgram);
  EXPECT_EQ(StatusExitCode(Status()), 1);
  EXPECT_EQ(Status().version, "1.0.0");
}

TEST(RunValueTest, TheRunValueCountsWhenItHoldsSomething) {
  FakeOs os;
  EXPECT_FALSE(RunValuePresent(os, "dadado"));
  os.values["software\\microsoft\\windows\\currentVersion\\run\\dadado"] = "\"C:\\dadado\\dadado.exe\"";
  EXPECT_TRUE(RunValuePresent(os, "dadado"));
  EXPECT_FALSE(RunValuePresent(os, "other"));
  os.values["software\\microsoft\\windows\\currentVersion\\run\\dadado"] = "";
  EXPECT_FALSE(RunValuePresent(os, "dadado"));
  os.run_key_missing = true;
  EXPECT_FALSE(RunValuePresent(os, "dadado"));
}

// ---- the guard's own status ----------------------------------------------------------------

const TimeZoneRule kChina{-480, 0, 0, {}, {}};

struct FakeUtcClock : UtcClock {
  std::int64_t now = 0;
  std::int64_t UtcNow() override { return now; }
};

// The guard's platform, as the guard host's own tests fake it.
struct FakePlatform : GuardPlatform {
  std::optional<SessionId> console = 1;
  bool locked = false;
  bool face = true;
  std::vector<unsigned> performed;
  std::optional<SessionId> ConsoleUserSession() override { return console; }
  bool SessionLocked(SessionId) override { return locked; }
  void StartFace(SessionId) override { face = true; }
  bool FaceRunning() override { return face; }
  void ReplaceFace() override { face = false; }
  void SendToFace(const protocol::Message&) override {}
  bool Perform(unsigned flags, std::optional<SessionId>) override {
    performed.push_back(flags);
    return true;
  }
  std::optional<TimeZoneRule> CurrentTimeZone() override { return kChina; }
  bool Suspend(bool) override { return true; }
  void ArmWake(std::optional<std::int64_t>) override {}
  void KeepAwake(bool) override {}
};

std::int64_t At(int day, int h, int m, int s) { return LocalSeconds({{2026, 12, day}, h * 3600 + m * 60 + s}); }

struct GuardStatusTest : ::testing::Test {
  MemoryFileStore files;
  FakeOs os;
  FakeUtcClock utc;
  FakePlatform platform;
  std::unique_ptr<GuardHost> host;

  void SetUp() override { utc.now = At(7, 11, 0, 0) - 8 * 3600; }
  void GivenFile(const std::string& utf8) { files.files[kIniPath] = Utf8ToGbk(utf8); }
  void Start() {
    host = std::make_unique<GuardHost>(platform, os, files, kIniPath, utc);
    host->Start();
  }
  // The service's loop, woken when the host asks to be.
  void RunUntil(std::int64_t local) {
    std::int64_t next = host->NextWakeUtc();
    while (utc.now + 8 * 3600 < local) {
      if (++utc.now < next) continue;
      host->Wake();
      next = host->NextWakeUtc();
    }
  }
  ControlStatus Status() { return StatusOfGuard(*host, false); }
};

TEST_F(GuardStatusTest, TheGuardTellsItsNextActionAndWhatItPerformed) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 0\r\n关机画面= 1\r\n启动后隐藏界面= 1\r\n"
            "[时间控制]\r\n密码=" + EncodePassword("owner") + "\r\n");
  Start();
  ControlStatus s = Status();
  EXPECT_TRUE(s.guard_installed);
  EXPECT_TRUE(s.guard_running);
  EXPECT_EQ(s.enforcing, Enforcer::kGuard);
  EXPECT_EQ(StatusExitCode(s), 0);
  EXPECT_EQ(s.pinned_zone, "-480");
  ASSERT_TRUE(s.next);
  EXPECT_EQ(s.next->at, At(7, 12, 0, 0));
  EXPECT_EQ(s.next->action, "重新启动计算机");
  EXPECT_EQ(s.last_action, std::nullopt);
  EXPECT_EQ(Setting(s, "ScheduleFrequency")->value, StatusValue::Number(0));
  EXPECT_EQ(Setting(s, "ScheduleTime")->value, StatusValue::Text("12:00:00"));
  // The guard starts the program at every logon, as the face shows it.
  EXPECT_EQ(Setting(s, "StartWithWindows")->value, StatusValue::Bool(true));
  EXPECT_EQ(Setting(s, "GuardService")->value, StatusValue::Bool(true));
  // The password is in no member.
  EXPECT_EQ(StatusJson(s).find(EncodePassword("owner")), std::string::npos);

  RunUntil(At(7, 11, 59, 59));
  EXPECT_EQ(Status().last_action, std::nullopt);
  RunUntil(At(7, 12, 0, 1));
  ASSERT_EQ(platform.performed.size(), 1u);
  s = Status();
  ASSERT_TRUE(s.last_action);
  EXPECT_EQ(s.last_action->at, At(7, 12, 0, 0));
  EXPECT_EQ(s.last_action->action, "重新启动计算机");
  ASSERT_TRUE(s.next);
  EXPECT_EQ(s.next->at, At(8, 12, 0, 0));
}

TEST_F(GuardStatusTest, AfterARestartTheLastActionIsTheLastScheduledInstant) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n启动后隐藏界面= 1\r\n"
            "上次定时=2026/12/6 12:00:00\r\n");
  Start();
  const ControlStatus s = Status();
  ASSERT_TRUE(s.last_action);
  EXPECT_EQ(s.last_action->at, At(6, 12, 0, 0));
  EXPECT_EQ(s.last_action->action, "关闭计算机");
}

TEST_F(GuardStatusTest, ThePolicyTheGuardReadIsMarked) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 0\r\n启动后隐藏界面= 1\r\n");
  os.policy[policy::kAction].number = 1;
  os.policy[policy::kScheduleTime].text = "13:30:00";
  Start();
  const ControlStatus s = Status();
  EXPECT_EQ(Setting(s, "Action")->value, StatusValue::Number(1));
  EXPECT_TRUE(Setting(s, "Action")->policy);
  EXPECT_EQ(Setting(s, "ScheduleTime")->value, StatusValue::Text("13:30:00"));
  EXPECT_TRUE(Setting(s, "ScheduleTime")->policy);
  EXPECT_FALSE(Setting(s, "ScheduleFrequency")->policy);
  ASSERT_TRUE(s.next);
  EXPECT_EQ(s.next->at, At(7, 13, 30, 0));
  EXPECT_EQ(s.next->action, "关闭计算机");
}

TEST_F(GuardStatusTest, TodaysUseIsTheGuardsCountAndStartsAgainAtMidnight) {
  std::string all_day;
  for (int h = 0; h < 24; ++h) all_day += (h ? "+" : "") + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00";
  GivenFile("[常规设置]\r\n频率= 3\r\n[时间控制]\r\n启用= 1\r\n1week=" + all_day + "\r\n2week=" + all_day +
            "\r\n1limit= 900\r\n2limit= 200\r\n");
  Start();
  RunUntil(At(7, 11, 30, 0));
  ControlStatus s = Status();
  EXPECT_EQ(s.today, (Date{2026, 12, 7}));
  EXPECT_EQ(s.used_minutes, 30);
  EXPECT_EQ(s.limit_minutes, 900);
  EXPECT_TRUE(s.time_control);
  EXPECT_EQ(s.next, std::nullopt);  // time control schedules no action

  // Evening: locked from 11:30, then at the keyboard again just before midnight.
  platform.locked = true;
  host->SessionChanged();
  RunUntil(At(7, 23, 50, 0));
  platform.locked = false;
  host->SessionChanged();
  RunUntil(At(7, 23, 59, 59));
  EXPECT_EQ(Status().used_minutes, 39);
  RunUntil(At(8, 0, 0, 0));
  s = Status();
  EXPECT_EQ(s.today, (Date{2026, 12, 8}));
  EXPECT_EQ(s.used_minutes, 0);
  EXPECT_EQ(s.limit_minutes, 200);
}

}  // namespace
}  // namespace dadado
