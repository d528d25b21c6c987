#include "ui/countdown.h"

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

}  // namespace
}  // namespace dadado
