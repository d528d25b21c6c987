// The program as the guard service's face, joined to a real GuardHost
// through the messages of the pipe: what the user does in the windows goes
// to the service, which decides; what the service decides shows in them.
#include <gtest/gtest.h>

#include <deque>

#include "guard/guard_host.h"
#include "protection/password.h"
#include "settings/ini_text.h"
#include "support/guard_pipe.h"
#include "support/program_fixture.h"
#include "system/windows_integration.h"

namespace dadado {
namespace {

namespace p = protocol;
using testing::FakeOs;
using testing::FakeScreen;
using testing::kIniPath;
using testing::MemoryFileStore;

struct Utc : UtcClock {
  std::int64_t now = 0;
  std::int64_t UtcNow() override { return now; }
};

// The face's clock: the same instant in China.
struct LocalOf : Clock {
  Utc& utc;
  explicit LocalOf(Utc& u) : utc(u) {}
  LocalDateTime Now() override { return FromLocalSeconds(utc.now + 8 * 3600); }
};

// The service's side of the pipe and the program's, in one.
using Pipe = testing::GuardPipe;

std::int64_t Local(int h, int m, int s) { return LocalSeconds({{2026, 12, 7}, h * 3600 + m * 60 + s}); }

struct FaceTest : ::testing::Test {
  // The service's side.
  MemoryFileStore files;
  FakeOs service_os;
  Utc utc;
  Pipe pipe;
  std::unique_ptr<GuardHost> host;
  // The program's side: it cannot read the settings file; it has what the
  // service sends.
  MemoryStore face_store;
  SettingsFile face_settings{face_store, kIniPath};
  FakeOs os;
  testing::FakeGuard guard;
  FakeScreen screen;
  LocalOf clock{utc};
  Program program{face_settings, os, guard, screen, clock};

  void SetUp() override {
    utc.now = Local(11, 0, 0) - 8 * 3600;
    files.files[kIniPath] = Utf8ToGbk(
        "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 1\r\n关机画面= 1\r\n启动后隐藏界面= 1\r\n"
        "[时间控制]\r\n密码=" + EncodePassword("owner") + "\r\n");
    host = std::make_unique<GuardHost>(pipe, service_os, files, kIniPath, utc);
    pipe.host = host.get();
    host->Start();
    program.BecomeFace(pipe, face_store);
    Deliver();
    program.Start();
  }
  // The program's message loop takes what the service sent.
  void Deliver() {
    while (!pipe.to_face.empty()) {
      p::Message m = pipe.to_face.front();
      pipe.to_face.pop_front();
      program.FaceMessage(m);
    }
  }
  void RunUntil(int h, int m, int s) {
    const std::int64_t until = Local(h, m, s) - 8 * 3600;
    std::int64_t next = host->NextWakeUtc();
    while (utc.now < until) {
      ++utc.now;
      if (utc.now >= next) {
        host->Wake();
        next = host->NextWakeUtc();
      }
      Deliver();
    }
  }
  std::string Key(const char* section, const std::string& key) {
    auto v = IniText(files.files[kIniPath]).Get(Utf8ToGbk(section), Utf8ToGbk(key));
    return v ? GbkToUtf8(*v) : "<missing>";
  }
};

TEST_F(FaceTest, TheFaceShowsTheServicesSettingsAndRunsNoTimerOfItsOwn) {
  EXPECT_EQ(program.live().frequency(), 0);
  EXPECT_EQ(program.live().combo3().index, 1);
  EXPECT_FALSE(screen.timer1);
  EXPECT_FALSE(screen.timer2);
  EXPECT_FALSE(program.timer_running(FormTimer::kSchedule));
  // Started at logon by the guard, not by the Run value.
  EXPECT_TRUE(program.live().IsSet(2));
  EXPECT_TRUE(program.policy_locks().check[2]);
  EXPECT_EQ(program.live().guard().value, 1);
  EXPECT_NE(screen.tray_tip.find("下次：今天 12:00:00 关闭计算机"), std::string::npos) << screen.tray_tip;
  // The face's own timers, were they to fire, do nothing.
  program.Timer1_Timer();
  program.Timer2_Timer();
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(FaceTest, ACountdownOfTheServiceIsShownAndCancelledWithThePasswordThroughThePipe) {
  RunUntil(11, 58, 10);
  ASSERT_TRUE(program.countdown().exists);
  EXPECT_TRUE(screen.countdown_open);
  EXPECT_EQ(program.countdown().action_line, "操作: 关闭计算机");
  EXPECT_EQ(program.countdown().seconds_left, 109);

  program.Countdown_SetText("mossgate");
  program.Countdown_Enter();
  EXPECT_EQ(screen.LastMessage(), "密码不正确");
  EXPECT_TRUE(program.countdown().exists);
  EXPECT_EQ(program.countdown().password, "");

  program.Countdown_SetText("owner");
  program.Countdown_Enter();
  EXPECT_FALSE(program.countdown().exists);
  EXPECT_FALSE(screen.countdown_open);
  RunUntil(12, 1, 0);
  EXPECT_TRUE(pipe.performed.empty());
  EXPECT_TRUE(os.exit_calls.empty());
}

TEST_F(FaceTest, TheGateAndApplyGoThroughTheService) {
  program.clock_menu2_Click();  // protection is off, yet the face asks
  ASSERT_TRUE(screen.check_password_open);
  program.CheckPassword_SetText("mossgate");
  program.CheckPassword_cmdOK_Click();
  EXPECT_EQ(screen.LastMessage(), "密码不正确！");
  EXPECT_FALSE(program.form_visible());
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  ASSERT_TRUE(program.form_visible());

  program.live().SetCombo3(2);  // 注销用户
  program.live().SetCheck(3, 1);
  program.live().SetText1("lab");
  program.live().SetText2("pw");
  program.Command3_Click();
  EXPECT_FALSE(program.live().apply_enabled());
  EXPECT_EQ(Key("常规设置", "操作方式"), "2");
  EXPECT_EQ(service_os.Value(kWinlogonKey, kDefaultUserNameValue), "lab");
  // The password is the system's secret, readable by no user.
  EXPECT_EQ(service_os.logon_secret, "pw");
  EXPECT_FALSE(service_os.Has(kWinlogonKey, kDefaultPasswordValue));
  EXPECT_TRUE(os.values.empty());  // the program wrote nothing itself
  const p::Message& apply = pipe.asked.back();
  EXPECT_EQ(apply.type, p::kApply);
  EXPECT_EQ(apply.Get("password"), "owner");
  EXPECT_EQ(apply.Get("ini").find("密码="), std::string::npos);
  Deliver();
  EXPECT_EQ(program.live().combo3().index, 2);
  // The face keeps no copy; it shows that a password is stored.
  EXPECT_EQ(program.live().text2().text, "");
  EXPECT_TRUE(program.live().IsSet(3));

  // Closed, the window forgets the password: nothing applies without it.
  program.Command1_Click();
  const std::size_t asked = pipe.asked.size();
  program.Command3_Click();
  EXPECT_EQ(pipe.asked.size(), asked);
}

// The face sends the settings as Apply writes them; a plan deleted in its
// window must leave the service's file too, not come back from the key it
// was kept under.
TEST_F(FaceTest, PlansAppliedAndDeletedThroughTheServiceStayDeleted) {
  program.clock_menu2_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  ASSERT_TRUE(program.form_visible());
  Plan a, b, c;
  a.time_of_day = 6 * 3600;
  b.time_of_day = 7 * 3600;
  c.time_of_day = 8 * 3600;
  program.live().SetPlans({a, b, c});
  program.live().SetHolidays("2026/10/1");
  program.Command3_Click();
  Deliver();
  EXPECT_EQ(Key("计划", "计划3"), "1,1,1,,8:00:00,1");
  ASSERT_EQ(program.live().plans().size(), 3u);

  program.live().SetPlans({b});
  program.live().SetHolidays("");
  program.Command3_Click();
  Deliver();
  EXPECT_EQ(Key("计划", "计划1"), "1,1,1,,7:00:00,1");
  EXPECT_EQ(Key("计划", "计划2"), "");
  EXPECT_EQ(Key("计划", "计划3"), "");
  EXPECT_EQ(Key("节假日", "假日"), "");
  EXPECT_EQ(program.live().plans(), std::vector<Plan>{b});
  EXPECT_EQ(program.live().holidays(), "");
}

TEST_F(FaceTest, AnAccountsRulesItsHistoryAndExtraTimeGoThroughTheService) {
  const Account ming{"小明", "S-1-5-21-9-1001", false};
  pipe.account = ming;
  host->SessionChanged();
  program.clock_menu4_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  ASSERT_TRUE(program.form_visible());
  LiveSettings& live = program.live();
  live.ShowAccountRules(ming.name, ming.sid);
  live.SetUseDefaultRules(false);
  live.SetCheck(4, 1);
  for (int n = 0; n < kWeekdays; ++n) live.SetText3(n, "10:00+11:00");
  live.SetRecordUsage(1);
  program.Command3_Click();
  Deliver();
  EXPECT_EQ(Key("时间控制:小明", "启用"), "1");
  EXPECT_EQ(Key("时间控制:小明", "SID"), ming.sid);
  EXPECT_EQ(Key("高级设置", "记录使用时间"), "1");
  EXPECT_TRUE(program.live().HasOwnRules(ming.name, ming.sid));

  // Counted and kept by the service, shown by the face, today to the minute.
  RunUntil(11, 5, 30);
  const Program::UsageView view = program.UsageOf("小明");
  ASSERT_TRUE(view.available) << view.problem;
  EXPECT_EQ(view.bars.back().minutes, 5);
  ASSERT_TRUE(program.GrantExtraTime(ming.name, ming.sid, 30));
  EXPECT_EQ(service_os.events.back().id, 1304);

  // A section that is not one the window writes is refused; 使用默认规则
  // removes the account's own.
  host->FaceMessage(p::Message(p::kApply).Set("id", "77").Set("password", "owner").Set("accounts", 1).Set(
      "ini", "[时间控制:小红]\r\n启用= 1\r\n0week=08:00\r\n"));
  const auto reply = std::find_if(pipe.to_face.begin(), pipe.to_face.end(),
                                  [](const p::Message& m) { return m.type == p::kReply && m.Get("id") == "77"; });
  ASSERT_NE(reply, pipe.to_face.end());
  EXPECT_EQ(reply->Get("result"), p::kRefused);
  EXPECT_EQ(reply->Get("text"), "时间控制:小红");
  EXPECT_EQ(Key("时间控制:小红", "启用"), "<missing>");
  Deliver();
  program.live().ShowAccountRules(ming.name, ming.sid);
  program.live().SetUseDefaultRules(true);
  program.Command3_Click();
  EXPECT_EQ(Key("时间控制:小明", "启用"), "<missing>");
}

TEST_F(FaceTest, ChangingThePasswordIsTheServicesToCheckAndWrite) {
  program.clock_menu3_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  program.Label7_MouseDown();
  screen.during_set_password = [&] {
    program.SetPassword_SetOld("wrong");
    program.SetPassword_SetNew("new");
    program.SetPassword_cmdOK_Click();
    EXPECT_EQ(screen.LastMessage(), "对不起，原密码输入不正确！");
    program.SetPassword_SetOld("owner");
    program.SetPassword_SetNew("new");
    program.SetPassword_cmdOK_Click();
  };
  program.Label7_MouseUp();
  EXPECT_EQ(Key("时间控制", "密码"), EncodePassword("new"));
}

TEST_F(FaceTest, ExitNeedsThePasswordEndsOnlyTheFaceAndTheControlStays) {
  program.clock_menu5_Click();  // 关于: open without the password
  program.Command4_Click();     // 退出: confirmed, then the password is asked for
  ASSERT_TRUE(screen.check_password_open);
  EXPECT_FALSE(program.ended());
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  EXPECT_TRUE(program.ended());
  EXPECT_TRUE(program.exited_by_user());
  EXPECT_NE(screen.LastMessage().find("仍由守护服务执行"), std::string::npos);
  EXPECT_TRUE(host->released());
  pipe.face = false;
  host->FaceEnded(0);
  RunUntil(12, 0, 1);
  EXPECT_EQ(pipe.performed, std::vector<unsigned>{13});
}

// The face shows the zone the service judges in, and says when the system's
// is another; 使用当前时区 is an Apply with the password, and the service
// pins the zone it reads itself.
TEST_F(FaceTest, TheSystemsOtherZoneIsSaidAndPinnedOnlyWithThePassword) {
  pipe.zone = TimeZoneRule{-540, 0, 0, {}, {}};
  program.ClockDiscontinuity();  // the system's broadcast
  Deliver();
  ASSERT_TRUE(program.guard_zone() && program.guard_zone()->differs);
  EXPECT_NE(screen.tray_tip.find(kZoneDiffersTip), std::string::npos) << screen.tray_tip;
  program.UseCurrentTimeZone_Click();  // the window is not open
  program.clock_menu3_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), "-480");
  program.UseCurrentTimeZone_Click();
  Deliver();
  EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), "-540");
  EXPECT_FALSE(program.guard_zone()->differs);
}

TEST_F(FaceTest, AServiceThatDoesNotAnswerIsSaidAndNothingOpens) {
  pipe.host = nullptr;
  struct Mute : GuardLink {
    std::optional<p::Message> Ask(p::Message) override { return std::nullopt; }
    void Tell(const p::Message&) override {}
  } mute;
  program.BecomeFace(mute, face_store);
  program.clock_menu2_Click();
  program.CheckPassword_SetText("owner");
  program.CheckPassword_cmdOK_Click();
  EXPECT_FALSE(program.form_visible());
  EXPECT_NE(screen.LastMessage().find("没有响应"), std::string::npos);
}

}  // namespace
}  // namespace dadado
