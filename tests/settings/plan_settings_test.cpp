// The plans and the working-day calendar in the settings file and in the
// machine policy: read whole, left as the file holds them until the user
// changes them, then written back without losing a line typed by hand,
// checked as the window would have written them, and absent from files that
// never had them.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

#include "engine/engine_settings.h"
#include "guard/guard_host.h"
#include "protection/password.h"
#include "settings/settings_table.h"
#include "support/program_fixture.h"
#include "support/guard_pipe.h"
#include "support/plans.h"
#include "ui/plan_editor.h"

namespace dadado {
namespace {

PolicyData Number(std::uint32_t v) { return {v, std::nullopt}; }
PolicyData Text(const std::string& t) { return {std::nullopt, t}; }

Plan Daily(int h, int m, PlanAction action = PlanAction::kShutDown) {
  Plan p;
  p.repeat = PlanRepeat::kDaily;
  p.action = action;
  p.time_of_day = h * 3600 + m * 60;
  return p;
}

using testing::IdlePlan;

Plan Weekly(unsigned weekdays, int h) {
  Plan p;
  p.repeat = PlanRepeat::kWeekly;
  p.weekdays = weekdays;
  p.time_of_day = h * 3600;
  return p;
}

// Holidays of a year as a school pastes them: long, well beyond what the
// older keys keep.
const char kHolidays2026[] =
    "2026/1/1-2026/1/3,2026/2/15-2026/2/23,2026/4/4-2026/4/6,2026/5/1-2026/5/5,2026/6/19-2026/6/21,"
    "2026/9/25-2026/9/27,2026/10/1-2026/10/8";

// One section of a file's text, from its header to the next section.
std::string Section(const std::string& text, const std::string& name) {
  const std::size_t start = text.find("[" + name + "]");
  if (start == std::string::npos) return "<missing>";
  const std::size_t end = text.find("\r\n[", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end + 2 - start);
}

struct PlanSettingsTest : testing::ProgramTest {
  void SetUp() override { clock.Set(2026, 12, 7, 15, 4, 5); }
  // A new start of the program on the same file.
  std::vector<Plan> PlansAfterRestart() {
    testing::FakeScreen screen2;
    Program again{settings, os, guard, screen2, clock};
    again.Start();
    return again.live().plans();
  }
};

TEST_F(PlanSettingsTest, PlansAndTheCalendarComeBackAfterApplyAndRestart) {
  program.Start();
  const std::vector<Plan> plans = {Daily(17, 30), IdlePlan(30), Weekly(0b0101010, 21)};
  live().SetPlans(plans);
  live().SetHolidays(kHolidays2026);
  live().SetExtraWorkdays("2026/1/4,2026/2/14,2026/2/28");
  ASSERT_TRUE(live().apply_enabled());
  program.Command3_Click();
  EXPECT_EQ(Key("计划", "计划1"), "1,1,1,,17:30:00,1");
  EXPECT_EQ(Key("计划", "计划2"), "1,6,6,30,,0");
  EXPECT_EQ(Key("计划", "计划3"), "1,1,2,135,21:00:00,1");
  EXPECT_EQ(Key("计划", "计划4"), "<missing>");  // nothing held there: nothing written
  EXPECT_EQ(Key("节假日", "假日"), kHolidays2026);
  const std::string written = FileText();

  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_EQ(again.live().plans(), plans);
  EXPECT_EQ(again.live().holidays(), kHolidays2026);  // whole, though longer than 143 bytes
  EXPECT_EQ(again.live().extra_workdays(), "2026/1/4,2026/2/14,2026/2/28");
  EXPECT_FALSE(again.live().apply_enabled());
  EXPECT_EQ(FileText(), written);  // start-up wrote nothing
}

TEST_F(PlanSettingsTest, DeletedPlansLeaveNoKeyBehindThatCouldBringThemBack) {
  program.Start();
  live().SetPlans({Daily(8, 0), Daily(9, 0), Daily(10, 0)});
  live().SetHolidays("2026/10/1");
  program.Command3_Click();
  live().SetPlans({Daily(9, 0)});
  program.Command3_Click();
  EXPECT_EQ(Key("计划", "计划1"), "1,1,1,,9:00:00,1");
  EXPECT_EQ(Key("计划", "计划2"), "");
  EXPECT_EQ(Key("计划", "计划3"), "");
  EXPECT_EQ(PlansAfterRestart(), std::vector<Plan>{Daily(9, 0)});
  live().SetPlans({});
  live().SetHolidays("");
  program.Command3_Click();
  EXPECT_TRUE(PlansAfterRestart().empty());
  EXPECT_EQ(Key("节假日", "假日"), "");
}

// A file of today's program, saved by today's Apply: loading and saving it
// changes nothing and adds no section for what was never made.
TEST_F(PlanSettingsTest, AFileWithoutPlansSavesExactlyAsBefore) {
  GivenFile(
      "[常规设置]\r\n频率= 1\r\n定时时间=2026/12/7 22:00:00\r\n定时每周= 5\r\n定时间隔= 0\r\n操作方式= 1\r\n"
      "间隔起始时间=2026/12/7\r\n移除系统图标= 0\r\n启动后隐藏界面= 0\r\n启动后锁定计算机= 0\r\n强制操作= 1\r\n关机画面= 1\r\n密码保护= 0\r\n"
      "错过补做= 0\r\n[高级设置]\r\n自动登录= 0\r\n推迟分钟数= 10\r\n[时间控制]\r\n启用= 0\r\n密码=" +
      EncodePassword("mossgate") +
      "\r\n0week=24:00\r\n1week=24:00\r\n2week=24:00\r\n3week=24:00\r\n4week=24:00\r\n5week=24:00\r\n6week=24:00\r\n"
      "0limit= 0\r\n1limit= 0\r\n2limit= 0\r\n3limit= 0\r\n4limit= 0\r\n5limit= 0\r\n6limit= 0\r\n");
  clock.Set(2026, 12, 7, 22, 0, 0);  // so that 定时时间 is written as it stands
  const std::string before = FileText();
  program.Start();
  EXPECT_TRUE(live().plans().empty());
  EXPECT_EQ(live().holidays(), "");
  live().SetApplyEnabled(true);
  program.Command3_Click();
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(FileText().find("[计划]"), std::string::npos);
  EXPECT_EQ(FileText().find("[节假日]"), std::string::npos);
}

TEST_F(PlanSettingsTest, AHandEditedFileKeepsThePlansThatReadInTheirOrder) {
  GivenFile(
      "[计划]\r\n"
      "计划1=1,1,1,,25:00:00,1\r\n"       // no such time
      "计划2=1,0,1,,06:00:00,1\r\n"
      "计划3=\r\n"
      "计划5= 0 , 6 , 6 , 15 , , 0 \r\n"  // blanks around fields
      "计划7=1,1,1,,22:00:00,1,later,fields\r\n"
      "计划9=我的计划\r\n"
      "[节假日]\r\n假日=2026/10/1-2026/10/8,2026/2/30,2027/1/1\r\n");
  program.Start();
  Plan restart = Daily(6, 0, PlanAction::kRestart);
  Plan idle = IdlePlan(15);
  idle.enabled = false;
  ASSERT_EQ(live().plans(), (std::vector<Plan>{restart, idle, Daily(22, 0)}));
  // The list as typed, for the holiday dialog to name what is no date; the
  // calendar leaves that out.
  EXPECT_EQ(live().holidays(), "2026/10/1-2026/10/8,2026/2/30,2027/1/1");
  EXPECT_EQ(EngineSettingsOf(live()).calendar.HolidaysText(), "2026/10/1-2026/10/8,2027/1/1");
  EXPECT_EQ(UnreadPlanLines(settings), (std::vector<std::pair<std::string, std::string>>{
                                           {"计划1", "1,1,1,,25:00:00,1"}, {"计划9", "我的计划"}}));
  EXPECT_FALSE(live().apply_enabled());
  EXPECT_TRUE(screen.messages.empty());  // the program starts as always

  // Nothing of the 计划 tab changed: Apply leaves both sections as typed,
  // the lines that do not read, the later fields and the numbering included.
  const std::string before = FileText();
  live().SetCheck(9, 0);
  program.Command3_Click();
  EXPECT_EQ(Section(FileText(), "计划"), Section(before, "计划"));
  EXPECT_EQ(Section(FileText(), "节假日"), Section(before, "节假日"));
}

// Apply with nothing of the 计划 tab changed, whatever else was: the keys of
// the plans and of the calendar stay byte for byte as the file holds them.
TEST_F(PlanSettingsTest, ListsNotChangedStayAsTheFileHoldsThem) {
  const std::string files[] = {
      "[计划]\r\n计划1=1,1,1,,17:30:00,1\r\n计划2=1,1,1,,17:3O:00,1\r\n计划3=1,6,1,,21:00:00,0\r\n",  // O for 0
      "[计划]\r\n计划1=1,1,1,,17:30:00,1,5\r\n",  // a later version's seventh field
      "[计划]\r\n计划2 = 0 , 6 , 6 , 15 , , 0 \r\n计划4=1,1,1,,07:30:00,1\r\n",
      "[节假日]\r\n假日=2026/10/1-2026/10/8,2027/1/1,2027/2/1O\r\n调休= 2026/9/27，2026/10/10\r\n",
  };
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n" + file);
    const std::string section = file.substr(1, file.find(']') - 1);
    testing::FakeScreen screen2;
    Program again{settings, os, guard, screen2, clock};
    again.Start();
    again.live().SetCombo3(2);
    again.Command3_Click();
    EXPECT_EQ(Section(FileText(), section), file);
    SaveSettings(settings, again.live(), clock.now);
    EXPECT_EQ(Section(FileText(), section), file);
  }
}

// The user changed the list: the plans go under the keys from 计划1 on, a
// line that does not read keeps its key and its text, and a plan the file
// holds keeps its line as written there.
TEST_F(PlanSettingsTest, AChangedListKeepsTheLinesThatDoNotRead) {
  const std::string eight = "计划1=1,1,1,,8:00:00,1\r\n", typo = "计划2=1,1,1,,9:0O:00,1\r\n",
                    ten = "计划3=1,1,1,,10:00:00,1\r\n";
  std::string sixteen = "计划1=我的计划\r\n";
  for (int n = 2; n <= 16; ++n) sixteen += "计划" + std::to_string(n) + "=1,1,1,," + std::to_string(n) + ":00:00,1\r\n";
  std::string sixteen_after;
  for (int n = 2; n <= 17; ++n) sixteen_after += "计划" + std::to_string(n - 1) + "=1,1,1,," + std::to_string(n) + ":00:00,1\r\n";
  struct Case {
    const char* what;
    std::string plans;
    std::function<void(LiveSettings&)> edit;
    std::string after;
  } cases[] = {
      {"the first removed", eight + typo + ten, [](LiveSettings& l) { RemovePlan(l, 0); },
       "计划1=1,1,1,,10:00:00,1\r\n" + typo + "计划3=\r\n"},
      {"one added", eight + typo + ten, [](LiveSettings& l) { AddPlan(l, Daily(11, 0)); },
       eight + typo + ten + "计划4=1,1,1,,11:00:00,1\r\n"},
      {"the last changed", eight + typo + ten, [](LiveSettings& l) { ReplacePlan(l, 1, Daily(12, 0)); },
       eight + typo + "计划3=1,1,1,,12:00:00,1\r\n"},
      {"all removed", eight + typo + ten, [](LiveSettings& l) { l.SetPlans({}); }, "计划1=\r\n" + typo + "计划3=\r\n"},
      {"a later version's line moves up whole", eight + "计划2= 1,1,1,,9:00:00,1,5\r\n",
       [](LiveSettings& l) { RemovePlan(l, 0); }, "计划1=1,1,1,,9:00:00,1,5\r\n计划2=\r\n"},
      {"changed and changed back", "计划1= 1 , 1 , 1 , , 08:00:00 , 1\r\n" + typo,
       [](LiveSettings& l) {
         SetPlanEnabled(l, 0, false);
         SetPlanEnabled(l, 0, true);
       },
       "计划1= 1 , 1 , 1 , , 08:00:00 , 1\r\n" + typo},
      // Sixteen plans need every key: the line that does not read moves on,
      // past a key beyond 计划16 that holds something.
      {"sixteen plans", sixteen + "计划17=1,1,1,,17:00:00,1\r\n", [](LiveSettings& l) { AddPlan(l, Daily(17, 0)); },
       sixteen_after + "计划17=1,1,1,,17:00:00,1\r\n计划18=我的计划\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GivenFile("[计划]\r\n" + c.plans);
    testing::FakeScreen screen2;
    Program again{settings, os, guard, screen2, clock};
    again.Start();
    c.edit(again.live());
    ASSERT_TRUE(again.live().apply_enabled());
    again.Command3_Click();
    EXPECT_EQ(Section(FileText(), "计划"), "[计划]\r\n" + c.after);
    EXPECT_EQ(PlansAfterRestart(), again.live().plans());
  }
}

// The holiday dialog starts from the lists as the file holds them: it names
// the entries that are no date, and OK writes the lists only once they read.
TEST_F(PlanSettingsTest, TheHolidayDialogNamesTheFilesBadEntriesBeforeTheCalendarIsRewritten) {
  GivenFile("[节假日]\r\n假日=2026/10/1-2026/10/8,2027/2/1O\r\n调休=2026/9/27，2026/10/10\r\n");
  program.Start();
  HolidayForm form(live().holidays(), live().extra_workdays());
  HolidayForm::Outcome outcome = form.Check();
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.message.find("2027/2/1O"), std::string::npos) << outcome.message;
  form.holidays_text = "2026/10/1-2026/10/8\n2027/2/10";
  outcome = form.Check();
  ASSERT_TRUE(outcome.ok) << outcome.message;
  live().SetHolidays(outcome.holidays);
  live().SetExtraWorkdays(outcome.extra_workdays);
  program.Command3_Click();
  EXPECT_EQ(Key("节假日", "假日"), "2026/10/1-2026/10/8,2027/2/10");
  EXPECT_EQ(Key("节假日", "调休"), "2026/9/27,2026/10/10");  // the same days, as the dialog writes them
}

TEST_F(PlanSettingsTest, BeyondSixteenPlansTheRestIsNotReadAndNotWritten) {
  std::string file = "[计划]\r\n";
  for (int n = 1; n <= 18; ++n) file += "计划" + std::to_string(n) + "=1,1,1,," + std::to_string(n) + ":00:00,1\r\n";
  GivenFile(file);
  program.Start();
  ASSERT_EQ(live().plans().size(), static_cast<std::size_t>(kMaxPlans));
  EXPECT_EQ(live().plans().back(), Daily(16, 0));
  live().SetApplyEnabled(true);
  program.Command3_Click();
  EXPECT_EQ(Key("计划", "计划17"), "1,1,1,,17:00:00,1");  // not a key of ours
}

TEST_F(PlanSettingsTest, CancelBringsBackTheFilesPlans) {
  GivenFile("[计划]\r\n计划1=1,1,1,,17:30:00,1\r\n[节假日]\r\n调休=2026/10/10\r\n");
  program.Start();
  live().SetPlans({});
  live().SetExtraWorkdays("");
  ASSERT_TRUE(live().apply_enabled());
  program.Command2_Click();
  EXPECT_EQ(live().plans(), std::vector<Plan>{Daily(17, 30)});
  EXPECT_EQ(live().extra_workdays(), "2026/10/10");
}

struct AcceptedCase {
  SettingControl control;
  std::string text;
  std::optional<std::string> accepted;
  std::optional<std::string> stored = std::nullopt;  // what the file holds under the key
};

TEST(PlanSettingsAccepted, APlanLineThatReadsOrNothingAndACalendarWithoutBadEntries) {
  const std::string many = [] {
    std::string t;
    for (int d = 1; d <= 28; ++d) t += (t.empty() ? "" : ",") + std::string("2026/2/") + std::to_string(d);
    return t;
  }();
  const AcceptedCase cases[] = {
      {SettingControl::kPlan, "", ""},
      {SettingControl::kPlan, "   ", ""},
      {SettingControl::kPlan, "1,1,1,,17:30:00,1", "1,1,1,,17:30:00,1"},
      {SettingControl::kPlan, " 1, 1 ,1,,07:30:00,1 ", "1,1,1,,7:30:00,1"},
      {SettingControl::kPlan, "1,1,1,,23:59:59,1", "1,1,1,,23:59:59,1"},
      {SettingControl::kPlan, "1,1,1,,24:00:00,1", std::nullopt},
      {SettingControl::kPlan, "1,3,1,,17:30:00,1", std::nullopt},  // 3 is no plan action
      {SettingControl::kPlan, "1,1,1,,17:30:00", std::nullopt},
      {SettingControl::kPlan, "1,1,1,,17:30:00,1\n1,1,1,,18:00:00,1", std::nullopt},
      {SettingControl::kPlan, "1,1,1,,17:30:00,1," + std::string(200, 'x'), "1,1,1,,17:30:00,1"},
      {SettingControl::kHolidays, "", ""},
      {SettingControl::kHolidays, "2026/10/1-2026/10/8,2027/1/1", "2026/10/1-2026/10/8,2027/1/1"},
      {SettingControl::kHolidays, "2026/10/2，2026/10/1、2026/10/3", "2026/10/1-2026/10/3"},
      {SettingControl::kHolidays, many, "2026/2/1-2026/2/28"},  // far beyond 143 bytes
      {SettingControl::kHolidays, "2026/2/28,2026/2/29", std::nullopt},  // not a leap year
      {SettingControl::kExtraWorkdays, "2028/2/29", "2028/2/29"},
      {SettingControl::kExtraWorkdays, "2026/10/8-2026/10/1", std::nullopt},
      {SettingControl::kExtraWorkdays, "2026/10/1\r\n2026/10/2", std::nullopt},
      // Sent as the file holds it: kept as it stands, read or not.
      {SettingControl::kPlan, "1,1,1,,17:3O:00,1", "1,1,1,,17:3O:00,1", "1,1,1,,17:3O:00,1"},
      {SettingControl::kPlan, "1,1,1,,17:30:00,1,5", "1,1,1,,17:30:00,1,5", "1,1,1,,17:30:00,1,5"},
      {SettingControl::kPlan, "1,1,1,,17:30:00,1,5", "1,1,1,,17:30:00,1", "1,1,1,,8:00:00,1"},
      {SettingControl::kPlan, "1,1,1,,8:00:00,1", std::nullopt, "1,1,1,,17:3O:00,1"},  // never over a line typed by hand
      {SettingControl::kPlan, "", std::nullopt, "1,1,1,,17:3O:00,1"},
      {SettingControl::kPlan, "1,1,1,,8:00:00,1", "1,1,1,,8:00:00,1", ""},
      {SettingControl::kHolidays, "2027/1/1,2027/2/1O", "2027/1/1,2027/2/1O", "2027/1/1,2027/2/1O"},
      {SettingControl::kHolidays, "2027/1/1,2027/2/10", "2027/1/1,2027/2/10", "2027/1/1,2027/2/1O"},
      {SettingControl::kHolidays, "2027/2/1O", std::nullopt, "2027/1/1"},
  };
  for (const AcceptedCase& c : cases) {
    const SettingEntry& e = EntryOf(c.control, c.control == SettingControl::kPlan ? 4 : 0);
    if (!c.stored) {
      EXPECT_EQ(AcceptedValue(e, c.text), c.accepted) << c.text;
    }
    EXPECT_EQ(AcceptedValue(e, c.text, c.stored), c.accepted) << c.text << " over " << c.stored.value_or("<missing>");
  }
}

// ---- the machine policy ------------------------------------------------------------

struct PlanPolicyTest : PlanSettingsTest {
  void StartWith(const PolicyValues& policy) {
    GivenFile("[计划]\r\n计划1=1,1,1,,17:30:00,1\r\n计划2=1,6,6,30,,0\r\n[节假日]\r\n假日=2026/10/1\r\n调休=2026/10/10\r\n");
    os.policy = policy;
    program.Start();
  }
};

TEST_F(PlanPolicyTest, APolicyListReplacesTheFilesPlansInTheOrderOfItsNumbers) {
  StartWith({{"Plans\\10", Text("1,1,1,,22:00:00,1")},
             {"Plans\\2", Text("1,0,1,,12:00:00,0")},
             {"Plans\\1", Text("1,1,1,,06:00:00,1")},
             {"Plans\\3", Text("not a plan")},
             {"Plans\\4", Number(1)},
             {"HolidayDates", Text("2026/10/1-2026/10/8，2026/13/1")},
             {"ExtraWorkdays", Number(0)}});
  Plan noon = Daily(12, 0, PlanAction::kRestart);
  noon.warning = false;
  EXPECT_EQ(live().plans(), (std::vector<Plan>{Daily(6, 0), noon, Daily(22, 0)}));
  EXPECT_EQ(live().holidays(), "2026/10/1-2026/10/8");  // the administrator's typo is left out
  EXPECT_EQ(live().extra_workdays(), "2026/10/10");      // a number is no list: the file's
  const PolicyLocks& locks = program.policy_locks();
  EXPECT_TRUE(locks.plans);
  EXPECT_TRUE(locks.holidays);
  EXPECT_FALSE(locks.extra_workdays);
  EXPECT_TRUE(locks.any());

  // Apply keeps the user's own plans for when the policy goes.
  live().SetCheck(9, 0);
  program.Command3_Click();
  EXPECT_EQ(Key("计划", "计划1"), "1,1,1,,17:30:00,1");
  EXPECT_EQ(Key("计划", "计划3"), "<missing>");
  EXPECT_EQ(Key("节假日", "假日"), "2026/10/1");

  os.policy.clear();
  program.PolicyChanged();
  EXPECT_EQ(live().plans(), (std::vector<Plan>{Daily(17, 30), IdlePlan(30)}));
  EXPECT_EQ(live().holidays(), "2026/10/1");
  EXPECT_FALSE(program.policy_locks().plans);
}

TEST_F(PlanPolicyTest, PlansChangedWhileThePolicyHoldsThemAreNeverWritten) {
  StartWith({{"Plans\\1", Text("1,1,1,,22:00:00,1")}, {"HolidayDates", Text("2026/5/1")}});
  const std::string before = FileText();
  live().SetPlans({Daily(6, 0)});  // as no window lets anyone: the list is locked
  live().SetHolidays("2026/6/1");
  program.Command3_Click();
  EXPECT_EQ(Section(FileText(), "计划"), Section(before, "计划"));
  EXPECT_EQ(Section(FileText(), "节假日"), Section(before, "节假日"));
}

TEST_F(PlanPolicyTest, AnyValueInThePlansKeyHoldsTheListEvenWhenNoneReads) {
  StartWith({{"Plans\\1", Text("garbage")}});
  EXPECT_TRUE(live().plans().empty());
  EXPECT_TRUE(program.policy_locks().plans);
}

TEST_F(PlanPolicyTest, APolicyListOfMoreThanSixteenKeepsTheFirstSixteen) {
  PolicyValues policy;
  for (int n = 1; n <= 20; ++n) policy["Plans\\" + std::to_string(n)] = Text("1,1,1,," + std::to_string(n) + ":00:00,1");
  StartWith(policy);
  ASSERT_EQ(live().plans().size(), static_cast<std::size_t>(kMaxPlans));
  EXPECT_EQ(live().plans().front(), Daily(1, 0));
  EXPECT_EQ(live().plans().back(), Daily(16, 0));
}

TEST_F(PlanPolicyTest, WithoutAPlansValueTheFilesPlansStay) {
  StartWith({{"Plansx\\1", Text("1,1,1,,22:00:00,1")}, {"Plans", Text("1,1,1,,22:00:00,1")}});
  EXPECT_EQ(live().plans(), (std::vector<Plan>{Daily(17, 30), IdlePlan(30)}));
  EXPECT_FALSE(program.policy_locks().plans);
}

TEST_F(PlanPolicyTest, EveryPlanEntryTakesItsSlotOfThePolicyList) {
  const PolicyValues policy = {{"Plans\\1", Text("1,1,1,,22:00:00,1")}};
  EXPECT_EQ(PolicyOverride(EntryOf(SettingControl::kPlan, 1), policy), "1,1,1,,22:00:00,1");
  EXPECT_EQ(PolicyOverride(EntryOf(SettingControl::kPlan, 2), policy), "");
  EXPECT_EQ(PolicyOverride(EntryOf(SettingControl::kPlan, kMaxPlans), policy), "");
  EXPECT_EQ(PolicyOverride(EntryOf(SettingControl::kPlan, 1), {}), std::nullopt);
}

// ---- through the guard service ------------------------------------------------------

// The program as the guard service's face, the two joined directly.
using ServiceAndFace = testing::GuardPipe;

struct UtcOfChina : UtcClock {
  testing::FakeClock& local;
  explicit UtcOfChina(testing::FakeClock& c) : local(c) {}
  std::int64_t UtcNow() override { return LocalSeconds(local.now) - 8 * 3600; }
};

struct GuardedPlansTest : ::testing::Test {
  testing::MemoryFileStore files;  // the service's
  testing::FakeOs service_os;
  testing::FakeClock clock;
  UtcOfChina utc{clock};
  ServiceAndFace pipe;
  std::unique_ptr<GuardHost> host;
  MemoryStore face_store;
  SettingsFile face_settings{face_store, testing::kIniPath};
  testing::FakeOs os;
  testing::FakeGuard guard;
  testing::FakeScreen screen;
  Program program{face_settings, os, guard, screen, clock};

  void StartWith(const std::string& sections) {
    files.files[testing::kIniPath] =
        Utf8ToGbk("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n密码=" + EncodePassword("owner") + "\r\n" + sections);
    host = std::make_unique<GuardHost>(pipe, service_os, files, testing::kIniPath, utc);
    pipe.host = host.get();
    host->Start();
    program.BecomeFace(pipe, face_store);
    Deliver();
    program.Start();
    program.clock_menu2_Click();
    program.CheckPassword_SetText("owner");
    program.CheckPassword_cmdOK_Click();
    ASSERT_TRUE(program.form_visible());
  }
  void Deliver() {
    while (!pipe.to_face.empty()) {
      const protocol::Message m = pipe.to_face.front();
      pipe.to_face.pop_front();
      program.FaceMessage(m);
    }
  }
  void Apply() {
    ASSERT_TRUE(program.live().apply_enabled());
    program.Command3_Click();
    Deliver();
    EXPECT_TRUE(screen.messages.empty()) << screen.LastMessage();
    int not_saved = 0;
    for (const auto& e : service_os.events) not_saved += e.id == events::kSettingsNotSaved;
    EXPECT_EQ(not_saved, 0);
  }
  std::string FileText() { return GbkToUtf8(files.files[testing::kIniPath]); }
};

// The face sends the keys as Apply would write them; the service keeps what
// the file holds where the face left it so, and refuses nothing for it.
TEST_F(GuardedPlansTest, TheServiceKeepsWhatTheFaceLeftAsTheFileHoldsIt) {
  const std::string plans = "[计划]\r\n计划1=1,1,1,,8:00:00,1,5\r\n计划2=1,1,1,,9:0O:00,1\r\n计划3= 1,1,1,,10:00:00,1\r\n";
  const std::string calendar = "[节假日]\r\n假日=2026/10/1-2026/10/8,2027/2/1O\r\n";
  StartWith(plans + calendar);
  ASSERT_EQ(program.live().plans().size(), 2u);

  program.live().SetCombo3(2);
  Apply();
  EXPECT_EQ(Section(FileText(), "计划"), plans);
  EXPECT_EQ(Section(FileText(), "节假日"), calendar);

  RemovePlan(program.live(), 1);
  AddPlan(program.live(), Daily(11, 0));
  Apply();
  EXPECT_EQ(Section(FileText(), "计划"),
            "[计划]\r\n计划1=1,1,1,,8:00:00,1,5\r\n计划2=1,1,1,,9:0O:00,1\r\n计划3=1,1,1,,11:00:00,1\r\n");
  EXPECT_EQ(Section(FileText(), "节假日"), calendar);
  ASSERT_EQ(program.live().plans().size(), 2u);
  EXPECT_EQ(program.live().plans()[1], Daily(11, 0));

  program.live().SetHolidays("2026/10/1-2026/10/8,2027/2/10");
  Apply();
  EXPECT_EQ(Section(FileText(), "节假日"), "[节假日]\r\n假日=2026/10/1-2026/10/8,2027/2/10\r\n");
}

}  // namespace
}  // namespace dadado
