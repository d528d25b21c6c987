#include "engine/countdown.h"

#include <gtest/gtest.h>

#include "protection/password.h"
#include "support/program_fixture.h"

namespace dadado {
namespace {

struct CountdownTest : testing::ProgramTest {
  void SetUp() override {
    clock.Set(2026, 12, 7, 12, 0, 0);
    program.Start();
    live().SetCombo3(0);
  }
};

TEST_F(CountdownTest, OpensOnceAndKeepsCounting) {
  program.OpenShutdownScreen(0);
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_FALSE(program.countdown().visible);
  EXPECT_EQ(program.countdown().seconds_left, 120);
  EXPECT_EQ(program.countdown().action_line, "操作: 重新启动计算机");
  program.Countdown_Timer1_Timer();
  EXPECT_EQ(program.countdown().remaining, "时间剩余119秒");
  program.OpenShutdownScreen(1);  // an open one is not loaded again
  EXPECT_TRUE(program.countdown().visible);
  EXPECT_EQ(program.countdown().seconds_left, 119);
}

TEST_F(CountdownTest, ZeroWithoutTimeControlOnlyCloses) {
  program.OpenShutdownScreen(1);
  for (int i = 0; i < 120; ++i) program.Countdown_Timer1_Timer();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(CountdownTest, WrongPasswordShowsTheMessageAndEmptiesTheBox) {
  program.OpenShutdownScreen(1);
  program.Countdown_SetText("nope");
  program.Countdown_Enter();
  ASSERT_EQ(screen.messages.size(), 1u);
  EXPECT_EQ(screen.messages[0].text, "密码不正确");
  EXPECT_EQ(screen.messages[0].title, "提示");
  EXPECT_EQ(screen.messages[0].icon, MessageIcon::kCritical);
  EXPECT_EQ(program.countdown().password, "");
  EXPECT_TRUE(program.countdown().exists);
}

TEST_F(CountdownTest, ZeroWhileTheMessageIsOpenLeavesTheNextWindowAlone) {
  program.OpenShutdownScreen(1);
  for (int i = 0; i < 119; ++i) program.Countdown_Timer1_Timer();
  program.Countdown_SetText("nope");
  screen.during_message = [&] {
    program.Countdown_Timer1_Timer();  // reaches zero: the window goes
    program.OpenShutdownScreen(1);     // and a new one opens meanwhile
    program.Countdown_SetText("typing");
  };
  program.Countdown_Enter();
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().password, "typing");
}

TEST_F(CountdownTest, AcceptsTheStoredPasswordOfAnyLength) {
  std::string long_password;
  for (int i = 0; i < 3000; ++i) long_password += "密";
  settings.WriteIniString("时间控制", "密码", EncodePassword("abc"));
  program.OpenShutdownScreen(1);
  program.Countdown_SetText(long_password);
  program.Countdown_Enter();
  EXPECT_TRUE(program.countdown().exists);
  program.Countdown_SetText("abc");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
}

TEST_F(CountdownTest, AnEmptiedPasswordKeyFallsBackToTheDefault) {
  settings.WriteIniString("时间控制", "密码", "");
  program.OpenShutdownScreen(1);
  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
}

// A refused action that nobody asked for at that moment must not pass
// unnoticed; the tick is not held up by the message.
TEST_F(CountdownTest, ARefusedShutdownAtZeroUnderTimeControlIsTold) {
  GivenFile("[常规设置]\r\n频率= 3\r\n[时间控制]\r\n启用= 1\r\n1week=24:00\r\n");
  clock.Set(2026, 12, 7, 12, 0, 0);  // a Monday, nothing allowed
  program.Start();
  ASSERT_TRUE(program.countdown().exists);
  os.exit_ok = false;
  for (int i = 0; i < 30; ++i) program.Countdown_Timer1_Timer();
  EXPECT_EQ(os.exit_calls, (std::vector<unsigned>{13}));
  EXPECT_FALSE(program.countdown().exists);
  ASSERT_EQ(screen.notices.size(), 1u);
  EXPECT_NE(screen.notices[0].text.find("无法关闭计算机"), std::string::npos);
  EXPECT_EQ(screen.notices[0].icon, MessageIcon::kWarning);
  EXPECT_TRUE(screen.messages.empty());  // nothing waited for an answer
}

TEST(CountdownDecisions, ZeroShutsDownOnlyUnderTimeControlAtThatMoment) {
  for (bool time_control : {false, true}) {
    Countdown c;
    c.Open(true, "关闭计算机", "dadado 1.0.0", false);
    EXPECT_EQ(c.screen().seconds_left, 30);
    for (int i = 0; i < 29; ++i) EXPECT_EQ(c.Tick(time_control), CountdownTick::kCounting);
    EXPECT_EQ(c.Tick(time_control), time_control ? CountdownTick::kShutDown : CountdownTick::kClosed);
    EXPECT_FALSE(c.is_open());
  }
}

TEST(CountdownDecisions, EachWindowHasANewGenerationAndAStaleOneIsLeftAlone) {
  Countdown c;
  c.Open(false, "关闭计算机", "dadado", true);
  const auto first = c.screen().generation;
  c.SetPassword("x");
  EXPECT_EQ(c.Enter([](const std::string&) { return false; }), CountdownAnswer::kWrongPassword);
  c.Close();
  c.Open(false, "关闭计算机", "dadado", true);
  EXPECT_NE(c.screen().generation, first);
  c.SetPassword("typing");
  EXPECT_FALSE(c.EmptyBoxAfterWrongPassword(first));
  EXPECT_EQ(c.screen().password, "typing");
  EXPECT_TRUE(c.EmptyBoxAfterWrongPassword(c.screen().generation));
  EXPECT_EQ(c.Enter([](const std::string& t) { return t.empty(); }), CountdownAnswer::kCancelled);
  EXPECT_EQ(c.Enter([](const std::string&) { return true; }), CountdownAnswer::kNoWindow);
}

}  // namespace
}  // namespace dadado
