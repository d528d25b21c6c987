#include "settings/live_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace dadado {
namespace {

struct LiveSettingsTest : ::testing::Test {
  LiveSettings live;
  int panels = 0;
  void SetUp() override { live.open_accounts_panel = [this] { ++panels; }; }
};

TEST_F(LiveSettingsTest, NewWindowHasTheDesignedValues) {
  EXPECT_TRUE(live.option1_selected(3));
  EXPECT_EQ(live.check(8).value, 1);
  EXPECT_EQ(live.check(9).value, 0);
  EXPECT_EQ(live.combo3().index, -1);
  EXPECT_FALSE(live.combo1().enabled);
  EXPECT_FALSE(live.combo2().enabled);
  EXPECT_EQ(live.text1().text, "Administrator");
  EXPECT_FALSE(live.text1().enabled);
  for (int n = 0; n < 7; ++n) EXPECT_EQ(live.text3(n).text, "24:00");
  EXPECT_FALSE(live.list1_enabled());
  EXPECT_FALSE(live.apply_enabled());
}

TEST_F(LiveSettingsTest, GreyCountsAsNotSet) {
  live.SetCheck(10, 2);
  EXPECT_FALSE(live.IsSet(10));
  EXPECT_EQ(live.check(7).value, 0);  // the rule only reacts to 1
  live.SetCheck(5, 42);               // out of range from a hand-edited file
  EXPECT_EQ(live.check(5).value, 0);
}

TEST_F(LiveSettingsTest, PasswordProtectionAndHiddenStartAreCoupled) {
  live.SetCheck(10, 1);
  EXPECT_EQ(live.check(7).value, 1);
  EXPECT_TRUE(live.apply_enabled());
  live.SetCheck(7, 0);
  EXPECT_EQ(live.check(10).value, 0);
}

TEST_F(LiveSettingsTest, StartWithWindowsChecksHiddenStartOnly) {
  live.SetCheck(2, 1);
  EXPECT_EQ(live.check(7).value, 1);
  live.SetCheck(2, 0);
  EXPECT_EQ(live.check(7).value, 1);
  live.SetCheck(7, 0);
  EXPECT_EQ(live.check(2).value, 0);
}

TEST_F(LiveSettingsTest, SecureLogonClearsStoredLogonAndOpensThePanelOnce) {
  live.SetCheck(3, 1);
  EXPECT_TRUE(live.text1().enabled);
  EXPECT_TRUE(live.text2().enabled);
  live.SetCheck(11, 1);
  EXPECT_EQ(live.check(3).value, 0);
  EXPECT_FALSE(live.text1().enabled);
  EXPECT_FALSE(live.text2().enabled);
  EXPECT_EQ(panels, 1);
  live.SetCheck(11, 0);
  EXPECT_EQ(panels, 1);
  live.SetCheck(3, 1);
  EXPECT_EQ(live.check(11).value, 0);
}

TEST_F(LiveSettingsTest, RunNowDisablesPromptAndLeavesApplyAlone) {
  live.SetCheck(6, 1);
  EXPECT_FALSE(live.check(9).enabled);
  EXPECT_FALSE(live.apply_enabled());
  live.SetCheck(6, 0);
  EXPECT_TRUE(live.check(9).enabled);
  EXPECT_FALSE(live.apply_enabled());
}

TEST_F(LiveSettingsTest, FrequencyTable) {
  struct Row {
    int i;
    bool picker, weekday, interval;
  };
  for (Row r : {Row{0, true, false, false}, Row{1, true, true, false}, Row{2, true, false, true},
                Row{3, false, false, false}}) {
    live.SelectOption1(r.i);
    EXPECT_EQ(live.time_picker_enabled(), r.picker) << r.i;
    EXPECT_EQ(live.combo1().enabled, r.weekday) << r.i;
    EXPECT_EQ(live.combo2().enabled, r.interval) << r.i;
  }
  live.SelectOption1(9);  // any other index takes the row of "取消定时"
  EXPECT_TRUE(live.option1_selected(3));
}

TEST_F(LiveSettingsTest, NoScheduleClearsTheActionButtons) {
  live.SelectOption1(0);
  live.SelectOption2(1);
  EXPECT_EQ(live.combo3().index, 1);
  live.SelectOption1(3);
  EXPECT_EQ(live.combo3().index, 3);
  EXPECT_EQ(live.option2_selected(), -1);
}

TEST_F(LiveSettingsTest, ActionButtonsMirrorTheList) {
  live.SelectOption2(1);
  EXPECT_EQ(live.combo3().index, 1);
  live.SetCombo3(0);
  EXPECT_EQ(live.option2_selected(), 0);
  live.SetCombo3(3);
  EXPECT_EQ(live.option2_selected(), -1);
  live.SetCombo3(-1);
  EXPECT_EQ(live.option2_selected(), -1);
  live.SetCombo3(57);  // out of range reads as no selection
  EXPECT_EQ(live.combo3().index, -1);
}

TEST_F(LiveSettingsTest, EveryRuleThatShouldEnablesApply) {
  auto enables = [&](auto change) {
    live.SetApplyEnabled(false);
    change();
    return live.apply_enabled();
  };
  EXPECT_TRUE(enables([&] { live.SetCheck(1, 1); }));
  EXPECT_TRUE(enables([&] { live.SetCheck(5, 1); }));
  EXPECT_TRUE(enables([&] { live.SetCheck(8, 0); }));
  EXPECT_TRUE(enables([&] { live.SetCheck(9, 1); }));
  EXPECT_TRUE(enables([&] { live.SetCombo1(3); }));
  EXPECT_TRUE(enables([&] { live.SetCombo2(3); }));
  EXPECT_TRUE(enables([&] { live.SetScheduledTime(100); }));
  EXPECT_TRUE(enables([&] { live.SetText1("x"); }));
  EXPECT_TRUE(enables([&] { live.SetText2("y"); }));
  EXPECT_TRUE(enables([&] { live.SelectOption1(0); }));
  EXPECT_TRUE(enables([&] { live.SelectOption2(2); }));
  EXPECT_TRUE(enables([&] { live.SetCheck(4, 1); }));
  EXPECT_TRUE(enables([&] { live.SetText3(2, "08:00"); }));
  EXPECT_TRUE(enables([&] { live.SelectOption3(5); }));
  EXPECT_TRUE(enables([&] { live.ClickHour(5); }));
  EXPECT_FALSE(enables([&] { live.FocusText3(5); }));  // already the selected weekday
}

// ---- the time-control editor ---------------------------------------------------------

TEST_F(LiveSettingsTest, TimeControlLocksTheScheduleAndOpensTheEditor) {
  live.SelectOption1(1);
  live.SetCombo3(1);
  live.SetCheck(4, 1);
  EXPECT_TRUE(live.option1_selected(3));
  EXPECT_EQ(live.combo3().index, 3);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(live.option1_enabled(i));
  for (int n = 0; n < 7; ++n) {
    EXPECT_TRUE(live.option3_enabled(n));
    EXPECT_TRUE(live.text3(n).enabled);
  }
  EXPECT_TRUE(live.list1_enabled());
  live.SetCheck(4, 0);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(live.option1_enabled(i));
  EXPECT_TRUE(live.option1_selected(3));
  EXPECT_FALSE(live.list1_enabled());
  EXPECT_FALSE(live.text3(0).enabled);
}

TEST_F(LiveSettingsTest, MarkingHoursBuildsTheSelectedWeekdaysText) {
  live.SelectOption3(1);
  live.ClickHour(13);
  live.ClickHour(8);
  live.ClickHour(9);
  EXPECT_EQ(live.text3(1).text, "08:00+09:00+13:00");
  live.ClickHour(8);
  live.ClickHour(9);
  live.ClickHour(13);
  EXPECT_EQ(live.text3(1).text, "24:00");
  EXPECT_EQ(live.text3(0).text, "24:00");
}

TEST_F(LiveSettingsTest, LoadingAWeekdayMarksItsHours) {
  live.SetText3(6, "22:00+07:00");
  live.SelectOption3(6);
  for (int h = 0; h < 24; ++h) EXPECT_EQ(live.hour_marked(h), h == 7 || h == 22) << h;
  EXPECT_EQ(live.text3(6).text, "22:00+07:00");  // loading does not rewrite the text
  live.ClickHour(10);
  EXPECT_EQ(live.text3(6).text, "07:00+10:00+22:00");
}

TEST_F(LiveSettingsTest, TypedTextIsReplacedByTheNextClickInTheList) {
  live.FocusText3(3);
  EXPECT_EQ(live.option3_selected(), 3);
  live.SetText3(3, "08:30");
  EXPECT_FALSE(live.hour_marked(8));  // the list does not follow typing
  live.SelectOption3(0);
  live.SelectOption3(3);
  EXPECT_TRUE(live.hour_marked(8));
  live.ClickHour(9);
  EXPECT_EQ(live.text3(3).text, "08:00+09:00");
}

TEST(AllowedHoursEditor, OddTextsLoadWithoutFailing) {
  struct Case {
    const char* text;
    std::vector<int> hours;
  };
  const Case cases[] = {
      {"24:00", {}},           {"", {}},
      {"abc", {}},             {"25:00", {}},
      {"8:00", {}},            {"08:30", {8}},
      {"++08:00++", {8}},      {"24:00+08:00", {8}},
      {"23:00+00:00", {0, 23}}, {"0", {}},
  };
  for (const Case& c : cases) {
    auto marks = HoursMarkedBy(c.text);
    for (int h = 0; h < 24; ++h) {
      bool expected = std::find(c.hours.begin(), c.hours.end(), h) != c.hours.end();
      EXPECT_EQ(marks[h], expected) << c.text << " hour " << h;
    }
  }
  std::string huge(100000, '+');
  EXPECT_EQ(BuildAllowedHours(HoursMarkedBy(huge)), "24:00");
}

}  // namespace
}  // namespace dadado
