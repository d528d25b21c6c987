// The one table of the settings window's keys: what Apply writes, start-up
// and Cancel read back, under the same names.
#include "settings/settings_table.h"

#include <gtest/gtest.h>

#include <set>

#include "support/program_fixture.h"

namespace dadado {
namespace {

TEST(SettingsTable, EveryKeyOnceAndEveryWrittenKeyIsRead) {
  std::set<std::pair<std::string, std::string>> seen;
  for (const SettingEntry& e : SettingsTable()) {
    EXPECT_TRUE(seen.insert({e.section, e.key}).second) << e.key;
    if (e.control == SettingControl::kCheck) {
      EXPECT_TRUE(e.index >= 1 && e.index <= kCheckCount) << e.key;
    }
  }
  EXPECT_EQ(seen.size(), 19u + 2 * kWeekdays + kMaxPlans + 2);
}

struct SettingsRoundTrip : testing::ProgramTest {};

// Every control away from its default, applied, then a new start of the
// program on the same file: each control comes back as it was.
TEST_F(SettingsRoundTrip, WhatApplyWritesStartUpReadsBack) {
  clock.Set(2026, 12, 7, 15, 4, 5);
  program.Start();
  live().SelectOption1(1);
  live().SetCombo1(5);
  live().SetCombo2(9);
  live().SetCombo3(2);
  live().SetScheduledTime(23 * 3600 + 58 * 60 + 7);
  live().SetCheck(1, 1);
  live().SetCheck(5, 1);
  live().SetCheck(8, 0);
  live().SetCheck(9, 0);
  live().SetCheck(10, 1);
  live().SetCheck(7, 1);
  for (int n = 0; n < kWeekdays; ++n) live().SetText3(n, "0" + std::to_string(n) + ":00+13:00");
  program.Command3_Click();
  const std::string written = FileText();

  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  const LiveSettings& l = again.live();
  EXPECT_TRUE(l.option1_selected(1));
  EXPECT_EQ(l.combo1().index, 5);
  EXPECT_EQ(l.combo2().index, 9);
  EXPECT_EQ(l.combo3().index, 2);
  EXPECT_EQ(l.scheduled_time(), 23 * 3600 + 58 * 60 + 7);
  for (int n : {1, 5, 7, 10}) EXPECT_EQ(l.check(n).value, 1) << n;
  for (int n : {8, 9}) EXPECT_EQ(l.check(n).value, 0) << n;
  for (int n = 0; n < kWeekdays; ++n) EXPECT_EQ(l.text3(n).text, "0" + std::to_string(n) + ":00+13:00");
  EXPECT_EQ(FileText(), written);  // start-up wrote nothing new
}

TEST_F(SettingsRoundTrip, TimeControlAndStoredLogonComeBackToo) {
  clock.Set(2026, 12, 7, 15, 4, 5);
  program.Start();
  live().SetCheck(4, 1);
  live().SetCheck(3, 1);
  program.Command3_Click();
  EXPECT_EQ(Key("时间控制", "启用"), "1");
  EXPECT_EQ(Key("高级设置", "自动登录"), "1");
  testing::FakeScreen screen2;
  Program again{settings, os, guard, screen2, clock};
  again.Start();
  EXPECT_EQ(again.live().check(4).value, 1);
  // Cancel with a change pending reads the stored logon choice back.
  again.live().SetCheck(3, 0);
  again.live().SetApplyEnabled(true);
  again.Command2_Click();
  EXPECT_EQ(again.live().check(3).value, 1);
}

}  // namespace
}  // namespace dadado
