// The guard service as the authority: it decides and acts whatever runs in
// the user's session, checks every password itself, keeps its state apart
// from the settings file, judges time in the pinned time zone, counts today's use
// from the sessions the system reports, and keeps its face running.
#include "guard/guard_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "guard/control_status.h"

#include "protection/password.h"
#include "scheduler/daily_use.h"
#include "settings/ini_text.h"
#include "settings/text.h"
#include "support/fakes.h"
#include "support/program_fixture.h"
#include "system/windows_integration.h"
#include "ui/program.h"

namespace dadado {
namespace {

namespace p = protocol;
using testing::FakeOs;
using testing::kIniPath;
using testing::MemoryFileStore;

constexpr SessionId kConsole = 1;
const TimeZoneRule kChina{-480, 0, 0, {}, {}};
const TimeZoneRule kUtc{0, 0, 0, {}, {}};

struct FakeUtcClock : UtcClock {
  std::int64_t now = 0;
  std::int64_t UtcNow() override { return now; }
};

struct Performed {
  std::int64_t at;  // local, in the pinned zone
  unsigned flags;
};

struct FakePlatform : GuardPlatform {
  std::optional<SessionId> console = kConsole;
  bool locked = false;
  bool face = false;          // a face runs
  bool start_ok = true;
  std::vector<std::int64_t> starts;  // UTC seconds
  std::vector<p::Message> sent;
  std::vector<unsigned> performed;
  bool perform_ok = true;
  std::optional<TimeZoneRule> zone = kChina;
  FakeUtcClock* clock = nullptr;

  std::optional<SessionId> ConsoleUserSession() override { return console; }
  std::optional<Account> account;
  std::optional<Account> SessionAccount(SessionId) override { return account; }
  bool SessionLocked(SessionId) override { return locked; }
  GuardHost* host = nullptr;
  bool start_at_once = true;  // else the start stays under way until Finish()
  bool start_under_way = false;
  void StartFace(SessionId) override {
    starts.push_back(clock->now);
    start_under_way = true;
    if (start_at_once) Finish();
  }
  void Finish() {
    start_under_way = false;
    if (start_ok) face = true;
    host->FaceStarted(start_ok);
  }
  bool FaceRunning() override { return face; }
  int replaced = 0;
  void ReplaceFace() override { ++replaced, face = false; }
  void SendToFace(const p::Message& m) override { sent.push_back(m); }
  bool Perform(unsigned flags, std::optional<SessionId>) override {
    performed.push_back(flags);
    return perform_ok;
  }
  std::optional<TimeZoneRule> CurrentTimeZone() override { return zone; }
  std::vector<std::string> suspends;
  std::optional<std::int64_t> wake_at;
  bool awake = false;
  bool Suspend(bool hibernate) override {
    suspends.push_back(hibernate ? "hibernate" : "sleep");
    return true;
  }
  void ArmWake(std::optional<std::int64_t> utc) override { wake_at = utc; }
  void KeepAwake(bool keep) override { awake = keep; }

  // The last message of a type sent to the face.
  const p::Message* Last(const char* type) const {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it)
      if (it->type == type) return &*it;
    return nullptr;
  }
};

// The service's state in memory; a store that fails while told to.
struct FakeStateStore : MemoryStateStore {
  bool fail = false;
  int sets = 0;  // every attempt
  bool Set(const std::string& name, const std::string& value) override {
    ++sets;
    return !fail && MemoryStateStore::Set(name, value);
  }
  bool Remove(const std::string& name) override { return !fail && MemoryStateStore::Remove(name); }
};

// Local seconds of 2026-12-07 (a Monday) in China.
std::int64_t At(int h, int m, int s) { return LocalSeconds({{2026, 12, 7}, h * 3600 + m * 60 + s}); }
std::int64_t UtcOfChina(std::int64_t local) { return local - 8 * 3600; }

constexpr char kDailyRestartAtNoon[] =
    "[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 0\r\n关机画面= 1\r\n启动后隐藏界面= 1\r\n"
    "[时间控制]\r\n密码=";

struct GuardHostTest : ::testing::Test {
  MemoryFileStore files;
  FakeOs os;
  FakeUtcClock utc;
  FakePlatform platform;
  FakeStateStore state;
  std::unique_ptr<GuardHost> host;
  std::vector<std::int64_t> wakes;  // UTC seconds of the timer's wake-ups
  std::vector<std::int64_t> performed_at;

  void SetUp() override {
    platform.clock = &utc;
    utc.now = UtcOfChina(At(11, 0, 0));
  }
  void GivenFile(const std::string& utf8) { files.files[kIniPath] = Utf8ToGbk(utf8); }
  void GivenDailyRestart() { GivenFile(std::string(kDailyRestartAtNoon) + EncodePassword("owner") + "\r\n"); }
  std::string Stored(const char* name) {
    const auto v = state.Get(name);
    return v ? *v : "<missing>";
  }
  std::string Key(const char* section, const std::string& key) {
    auto v = IniText(files.files[kIniPath]).Get(Utf8ToGbk(section), Utf8ToGbk(key));
    return v ? GbkToUtf8(*v) : "<missing>";
  }
  void Start() {
    host = std::make_unique<GuardHost>(platform, os, files, kIniPath, utc, state);
    platform.host = host.get();
    host->Start();
  }
  std::int64_t Local() const { return utc.now + 8 * 3600; }
  // The service's loop: after whatever woke it, the host says when it next
  // wants waking; the clock runs second by second until then.
  void RunUntil(std::int64_t local) {
    std::int64_t next = host->NextWakeUtc();
    while (Local() < local) {
      ++utc.now;
      if (utc.now < next) continue;
      wakes.push_back(utc.now);
      const std::size_t before = platform.performed.size();
      host->Wake();
      for (std::size_t i = before; i < platform.performed.size(); ++i) performed_at.push_back(Local());
      next = host->NextWakeUtc();
    }
  }
  void Send(p::Message m) {
    static int id = 0;
    m.Set("id", ++id);
    host->FaceMessage(m);
  }
  std::string LastReply() const {
    const p::Message* r = platform.Last(p::kReply);
    return r ? r->Get("result") : "";
  }
  int Events(int id) const {
    int n = 0;
    for (const auto& e : os.events) n += e.id == id;
    return n;
  }
};

// ---- it acts, whatever runs in the session ------------------------------------------

// The face may be missing, running, or suspended and reading nothing: the
// due second is the service's own, and it acts in it once.
TEST_F(GuardHostTest, ActsAtTheDueSecondWhateverTheFaceDoes) {
  for (bool face : {false, true}) {
    SCOPED_TRACE(face ? "with a face" : "without one");
    GivenDailyRestart();
    utc.now = UtcOfChina(At(11, 0, 0));
    platform = FakePlatform{};
    platform.clock = &utc;
    platform.start_ok = face;
    performed_at.clear();
    Start();
    RunUntil(At(12, 5, 0));
    EXPECT_EQ(platform.performed, std::vector<unsigned>{6});
    EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(12, 0, 0)});
    EXPECT_EQ(Stored(state_names::kLastScheduled), "2026/12/7 12:00:00");
  }
}

TEST_F(GuardHostTest, SleepsUntilSomethingCanHappen) {
  GivenDailyRestart();
  platform.face = true;
  Start();
  RunUntil(At(11, 55, 0));
  // An hour at most between two wakes, and nothing before the two minutes
  // ahead of the warning.
  EXPECT_LE(wakes.size(), 2u);
  wakes.clear();
  RunUntil(At(12, 0, 1));
  // From two minutes before the warning, every second: the countdown counts.
  EXPECT_GE(wakes.size(), 240u);
  EXPECT_LE(wakes.size(), 250u);
}

// ---- the countdown and the passwords ------------------------------------------------------

TEST_F(GuardHostTest, TheCountdownGoesToTheFaceAndThePasswordCancelsIt) {
  GivenDailyRestart();
  platform.face = true;
  Start();
  RunUntil(At(11, 57, 59));
  const p::Message* c = platform.Last(p::kCountdown);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Get("open"), "1");
  EXPECT_EQ(c->Get("seconds"), "120");
  EXPECT_EQ(c->Get("action"), "操作: 重新启动计算机");
  RunUntil(At(11, 58, 30));
  EXPECT_EQ(platform.Last(p::kCountdown)->Get("seconds"), "89");

  Send(p::Message(p::kCancel).Set("password", "mossgate"));
  EXPECT_EQ(LastReply(), p::kWrongPassword);
  EXPECT_EQ(Events(events::kWrongPassword), 1);
  EXPECT_TRUE(host->engine().countdown().is_open());
  Send(p::Message(p::kCancel).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kOk);
  EXPECT_EQ(platform.Last(p::kCountdown)->Get("open"), "0");
  RunUntil(At(12, 30, 0));
  EXPECT_TRUE(platform.performed.empty());
  EXPECT_EQ(Stored(state_names::kLastScheduled), "2026/12/7 12:00:00");
}

TEST_F(GuardHostTest, FiveWrongPasswordsInARowRefuseEveryPasswordForAMinute) {
  GivenDailyRestart();
  Start();
  for (int i = 0; i < 5; ++i) {
    Send(p::Message(p::kCheck).Set("password", "guess" + std::to_string(i)));
    EXPECT_EQ(LastReply(), p::kWrongPassword);
  }
  Send(p::Message(p::kCheck).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kLockedOut);
  Send(p::Message(p::kExit).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kLockedOut);
  EXPECT_EQ(Events(events::kPasswordsRefused), 2);  // each refusal
  EXPECT_FALSE(host->released());
  // A program guessing by the thousand fills the log no further.
  for (int i = 0; i < 1000; ++i) Send(p::Message(p::kCheck).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kLockedOut);
  EXPECT_EQ(Events(events::kPasswordsRefused), GuardHost::kRefusalsLoggedPerLockOut);
  // An id that is no number of ours gets no answer copied back.
  const std::size_t sent = platform.sent.size();
  host->FaceMessage(p::Message(p::kCheck).Set("id", std::string(5000, '7')).Set("password", "owner"));
  EXPECT_EQ(platform.sent.size(), sent);
  RunUntil(At(11, 1, 0));
  Send(p::Message(p::kCheck).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kOk);
  // A right one starts the count afresh.
  for (int i = 0; i < 4; ++i) Send(p::Message(p::kCheck).Set("password", "x"));
  Send(p::Message(p::kCheck).Set("password", "owner"));
  Send(p::Message(p::kCheck).Set("password", "x"));
  EXPECT_EQ(LastReply(), p::kWrongPassword);
}

TEST_F(GuardHostTest, APostponementOutlastsARestartOfTheService) {
  GivenDailyRestart();
  platform.face = true;
  Start();
  RunUntil(At(11, 59, 0));
  Send(p::Message(p::kPostpone).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kOk);
  EXPECT_EQ(Events(events::kPostponed), 1);
  RunUntil(At(12, 5, 0));
  EXPECT_TRUE(platform.performed.empty());
  EXPECT_EQ(Stored(state_names::kPostponed), "2026/12/7 12:00:00,2026/12/7 12:10:00");

  // The machine restarts at 12:05: the postponed restart still comes.
  host.reset();
  Start();
  RunUntil(At(12, 11, 0));
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(12, 10, 0)});
}

// ---- 退出 -----------------------------------------------------------------------------------

TEST_F(GuardHostTest, ExitWithThePasswordEndsOnlyTheFaceUntilTheNextLogon) {
  GivenDailyRestart();
  Start();
  RunUntil(At(11, 0, 2));
  ASSERT_EQ(platform.starts.size(), 1u);
  Send(p::Message(p::kExit).Set("password", "wrong"));
  EXPECT_EQ(LastReply(), p::kWrongPassword);
  platform.face = false;
  host->FaceEnded(1);  // killed: back within a second or two
  RunUntil(At(11, 0, 5));
  EXPECT_EQ(platform.starts.size(), 2u);
  EXPECT_EQ(Events(events::kGuardRestarted), 1);

  Send(p::Message(p::kExit).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kOk);
  platform.face = false;
  host->FaceEnded(0);
  RunUntil(At(12, 1, 0));
  EXPECT_EQ(platform.starts.size(), 2u);
  EXPECT_EQ(platform.performed, std::vector<unsigned>{6});  // the control stays
  host->SessionLogon();
  EXPECT_EQ(platform.starts.size(), 3u);
}

// A user who ends the face over and over costs the service a start after a
// pause that doubles, up to a minute; one that stayed a minute comes back
// after a second.
TEST_F(GuardHostTest, TheFaceIsStartedWithSomeoneLoggedOnAndBacksOffWhenItKeepsDying) {
  GivenDailyRestart();
  platform.console.reset();
  Start();
  RunUntil(At(11, 10, 0));
  EXPECT_TRUE(platform.starts.empty());
  platform.console = kConsole;
  host->SessionLogon();
  ASSERT_EQ(platform.starts.size(), 1u);
  auto pause_after_end = [&] {
    const std::size_t before = platform.starts.size();
    const std::int64_t ended = utc.now;
    platform.face = false;
    host->FaceEnded(1);
    while (platform.starts.size() == before) RunUntil(Local() + 1);
    return platform.starts.back() - ended;
  };
  std::vector<std::int64_t> pauses;
  for (int i = 0; i < 9; ++i) pauses.push_back(pause_after_end());
  EXPECT_EQ(pauses, (std::vector<std::int64_t>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
  RunUntil(Local() + 60);
  EXPECT_EQ(pause_after_end(), 1);
  EXPECT_EQ(pause_after_end(), 2);
}

// ---- the settings file --------------------------------------------------------------------

// Held open by another program, denied, or swollen: the service goes on with
// what it read last, says so once, and lets no default password in.
TEST_F(GuardHostTest, AFileThatCannotBeReadLeavesTheLastSettingsInForce) {
  GivenDailyRestart();
  Start();
  files.fail_reads = true;
  host->SettingsChanged();
  host->SettingsChanged();
  EXPECT_EQ(Events(events::kSettingsUnreadable), 1);
  Send(p::Message(p::kCheck).Set("password", "owner"));
  EXPECT_EQ(LastReply(), p::kOk);
  files.fail_reads = false;
  files.files[kIniPath] = std::string(GuardHost::kMaxSettingsBytes + 1, ' ');
  host->SettingsChanged();
  EXPECT_EQ(Events(events::kSettingsUnreadable), 1);  // still the same trouble
  RunUntil(At(12, 0, 1));
  EXPECT_EQ(platform.performed, std::vector<unsigned>{6});
  // Nothing is written into a file the service could not read.
  EXPECT_EQ(files.files[kIniPath], std::string(GuardHost::kMaxSettingsBytes + 1, ' '));
}

TEST_F(GuardHostTest, AFileNeverReadLetsNoPasswordIn) {
  GivenDailyRestart();
  files.fail_reads = true;
  Start();
  for (const char* password : {"mossgate", "owner", ""}) {
    Send(p::Message(p::kCheck).Set("password", password));
    EXPECT_EQ(LastReply(), p::kWrongPassword) << password;
  }
}

// Held open at boot: read again every minute until it reads, and until
// then the service says it has no settings it could read.
TEST_F(GuardHostTest, AFileUnreadableAtTheStartIsReadAgainEveryMinute) {
  GivenDailyRestart();
  files.fail_reads = true;
  Start();
  EXPECT_TRUE(host->settings_unreadable());
  EXPECT_TRUE(StatusOfGuard(*host, false).settings_unreadable);
  RunUntil(At(11, 3, 30));
  EXPECT_EQ(Events(events::kSettingsUnreadable), 1);
  files.fail_reads = false;  // its holder lets go; nothing else changes
  RunUntil(At(11, 3, 59));
  EXPECT_TRUE(host->settings_unreadable());
  RunUntil(At(11, 4, 1));
  EXPECT_FALSE(StatusOfGuard(*host, false).settings_unreadable);
  RunUntil(At(12, 0, 1));
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(12, 0, 0)});
}

TEST_F(GuardHostTest, ApplyWritesOnlyTheWindowsKeysAsTheWindowWouldWriteThem) {
  GivenDailyRestart();
  os.policy[policy::kPostponeMinutes].number = 30;
  Start();
  const std::string before = files.files[kIniPath];
  const std::string ini =
      "[常规设置]\r\n频率= 1\r\n定时每周= 3\r\n操作方式= 7\r\n定时时间=2026/12/8 21:30:00\r\n上次定时=2030/1/1 0:00:00\r\n"
      "[高级设置]\r\n推迟分钟数= 60\r\n[时间控制]\r\n密码=" +
      EncodePassword("child") + "\r\n0week=08:00\r\n0limit= 99999\r\n";
  Send(p::Message(p::kApply).Set("password", "mossgate").Set("ini", ini));
  EXPECT_EQ(LastReply(), p::kWrongPassword);
  EXPECT_EQ(files.files[kIniPath], before);

  Send(p::Message(p::kApply).Set("password", "owner").Set("ini", ini));
  EXPECT_EQ(LastReply(), p::kRefused);
  const std::string text = platform.Last(p::kReply)->Get("text");
  for (const char* key : {"操作方式", "推迟分钟数", "0limit"}) EXPECT_NE(text.find(key), std::string::npos) << key;
  EXPECT_EQ(Key("常规设置", "频率"), "1");
  EXPECT_EQ(Key("常规设置", "定时每周"), "3");
  EXPECT_EQ(Key("常规设置", "定时时间"), "2026/12/8 21:30:00");
  EXPECT_EQ(Key("时间控制", "0week"), "08:00");
  EXPECT_EQ(Key("常规设置", "操作方式"), "0");        // out of range
  EXPECT_EQ(Key("高级设置", "推迟分钟数"), "<missing>");  // held by the policy
  EXPECT_EQ(Key("常规设置", "上次定时"), "<missing>");    // no key of the window
  EXPECT_EQ(Key("时间控制", "密码"), EncodePassword("owner"));
  EXPECT_EQ(Key("守护服务", "时区"), "<missing>");  // the service's state is kept apart
  EXPECT_EQ(Stored(state_names::kTimeZone), "-480");
  EXPECT_EQ(host->settings().schedule.frequency, 1);
  EXPECT_EQ(os.Value(kWinlogonKey, kPowerdownAfterShutdown), "1");
  EXPECT_EQ(Events(events::kSettingsApplied), 1);
}

TEST_F(GuardHostTest, ChangingThePasswordNeedsTheOldOneAndNotThePolicys) {
  GivenDailyRestart();
  Start();
  Send(p::Message(p::kChangePassword).Set("old", "mossgate").Set("new", "x"));
  EXPECT_EQ(LastReply(), p::kWrongPassword);
  Send(p::Message(p::kChangePassword).Set("old", "owner").Set("new", "新密码"));
  EXPECT_EQ(LastReply(), p::kOk);
  EXPECT_EQ(Key("时间控制", "密码"), EncodePassword("新密码"));
  Send(p::Message(p::kCheck).Set("password", "新密码"));
  EXPECT_EQ(LastReply(), p::kOk);
}

TEST_F(GuardHostTest, TheFaceIsShownTheSettingsButNeverThePassword) {
  GivenDailyRestart();
  Start();
  RunUntil(At(11, 0, 2));
  const p::Message* s = platform.Last(p::kSettings);
  ASSERT_TRUE(s);
  EXPECT_NE(s->Get("ini").find("频率=0"), std::string::npos);
  EXPECT_EQ(s->Get("ini").find("密码"), std::string::npos);
  EXPECT_EQ(s->Get("ini").find(EncodePassword("owner")), std::string::npos);
}

// A password an earlier version left readable goes into the system's
// secret when the service starts.
TEST_F(GuardHostTest, AReadableLogonPasswordBecomesTheSystemsSecretAtTheStart) {
  GivenDailyRestart();
  os.values[std::string(kWinlogonKey) + "\\" + kDefaultPasswordValue] = "pw";
  Start();
  EXPECT_EQ(os.logon_secret, "pw");
  EXPECT_FALSE(os.Has(kWinlogonKey, kDefaultPasswordValue));
  EXPECT_EQ(platform.Last(p::kSettings)->Get("logon"), "1");
}

// ---- the time zone -------------------------------------------------------------------------

// Standard users may change the time zone: nothing moves with it, not even
// at the next Apply made for something else, until 使用当前时区 with the
// password.
TEST_F(GuardHostTest, TheTimeZoneStaysPinnedUntilTheCurrentOneIsAskedFor) {
  GivenDailyRestart();
  platform.face = true;
  Start();
  EXPECT_EQ(Stored(state_names::kTimeZone), "-480");
  RunUntil(At(11, 30, 0));
  platform.zone = kUtc;  // moved eight hours: noon in China is 04:00 UTC
  RunUntil(At(12, 0, 1));
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(12, 0, 0)});
  EXPECT_EQ(Events(events::kTimeZoneChanged), 1);
  EXPECT_TRUE(host->zone_differs());
  EXPECT_EQ(platform.Last(p::kZone)->Get("differs"), "1");
  EXPECT_NE(platform.Last(p::kTip)->Get("text").find(kZoneDiffersTip), std::string::npos);

  Send(p::Message(p::kApply).Set("password", "owner").Set("ini", "[常规设置]\r\n频率= 0\r\n"));
  Send(p::Message(p::kApply).Set("password", "wrong").Set("ini", "").Set("zone", "current"));
  EXPECT_EQ(Stored(state_names::kTimeZone), "-480");
  Send(p::Message(p::kApply).Set("password", "owner").Set("ini", "").Set("zone", "current"));
  EXPECT_EQ(Stored(state_names::kTimeZone), "0");
  EXPECT_EQ(platform.Last(p::kZone)->Get("differs"), "0");
}

// A zone no place has (more than fourteen hours from UTC, or summer time
// moving the clock by more than two hours) is never pinned: not at the
// first start, not from the file, not by 使用当前时区.
TEST_F(GuardHostTest, AZoneNoPlaceHasIsNeverPinned) {
  const TimeZoneRule far = *ParseTimeZoneRule("-900");
  const struct {
    const char* file_zone;
    std::optional<TimeZoneRule> system;
    const char* pinned;
  } cases[] = {{"", far, "-480"}, {"", std::nullopt, "-480"}, {"[守护服务]\r\n时区=-900\r\n", kUtc, "0"}};
  for (const auto& c : cases) {
    GivenFile(std::string(kDailyRestartAtNoon) + EncodePassword("owner") + "\r\n" + c.file_zone);
    os.events.clear();
    state.values.clear();  // a first start each time
    platform.zone = c.system;
    Start();
    EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), c.pinned);
    EXPECT_EQ(Events(events::kTimeZoneNotPinned), 1);
  }
  platform.zone = far;
  Send(p::Message(p::kApply).Set("password", "owner").Set("ini", "").Set("zone", "current"));
  EXPECT_EQ(LastReply(), p::kRefused);
  EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), "0");
}

// ---- today's use ------------------------------------------------------------------------------

TEST_F(GuardHostTest, TodaysUseCountsWhatTheSystemSaysAndSurvivesRestarts) {
  GivenFile("[时间控制]\r\n启用= 1\r\n1week=" +
            std::string("00:00+01:00+02:00+03:00+04:00+05:00+06:00+07:00+08:00+09:00+10:00+11:00+12:00+13:00+14:00+15:00") +
            "\r\n1limit= 300\r\n");
  platform.face = true;
  Start();
  RunUntil(At(11, 30, 0));
  EXPECT_EQ(host->use().minutes(), 30);
  platform.locked = true;  // the system says locked: the count stops
  host->SessionChanged();
  RunUntil(At(12, 0, 0));
  EXPECT_EQ(host->use().minutes(), 30);
  platform.locked = false;
  host->SessionChanged();
  RunUntil(At(12, 10, 0));
  EXPECT_EQ(host->use().minutes(), 40);
  host->Stop();
  EXPECT_EQ(Stored(state_names::kTodaysUse), "2026/12/7,40");

  host.reset();
  Start();
  RunUntil(At(12, 20, 0));
  EXPECT_EQ(host->use().minutes(), 50);
}

// Nobody holding the settings file open can keep the service from noting
// what it did: its state goes into its own store, and the file changes only
// by Apply, 更改密码 and administrators.
TEST_F(GuardHostTest, TheServiceKeepsItsStateOutOfTheSettingsFile) {
  GivenDailyRestart();
  const std::string before = files.files[kIniPath];
  Start();
  RunUntil(At(12, 5, 0));
  ASSERT_EQ(platform.performed.size(), 1u);
  host->Stop();
  host.reset();
  Start();
  RunUntil(At(12, 10, 0));
  host->Stop();
  EXPECT_EQ(files.files[kIniPath], before);
  EXPECT_EQ(files.writes, 0);
  EXPECT_EQ(Stored(state_names::kLastScheduled), "2026/12/7 12:00:00");
  EXPECT_EQ(Stored(state_names::kTimeZone), "-480");
}

TEST_F(GuardHostTest, TimeControlShutsDownAfterThirtySecondsOnlyWithSomeoneLoggedOn) {
  GivenFile("[时间控制]\r\n启用= 1\r\n");
  platform.console.reset();
  Start();
  RunUntil(At(11, 10, 0));
  EXPECT_TRUE(platform.performed.empty());
  platform.console = kConsole;
  host->SessionLogon();
  RunUntil(At(11, 11, 0));
  EXPECT_EQ(platform.performed, std::vector<unsigned>{13});
  ASSERT_EQ(performed_at.size(), 1u);
  EXPECT_EQ(performed_at[0] - At(11, 10, 0), 30);
}

// A cancel with the password lasts as long as the program it was typed into
// would: until the next logon, or another user at the console; a resume is
// no new start.
TEST_F(GuardHostTest, ACancelledTimeControlComesBackAtTheNextLogonOnly) {
  const std::function<void()> events[] = {[&] { host->SessionLogon(); },
                                          [&] { platform.console = 2, host->SessionChanged(); },
                                          [&] { host->Resumed(); }};
  for (int i = 0; i < 3; ++i) {
    GivenFile("[时间控制]\r\n启用= 1\r\n密码=" + EncodePassword("owner") + "\r\n");
    utc.now = UtcOfChina(At(11, 0, 0));
    platform = FakePlatform{};
    platform.clock = &utc;
    Start();
    RunUntil(At(11, 0, 10));
    Send(p::Message(p::kCancel).Set("password", "owner"));
    RunUntil(At(11, 30, 0));
    events[i]();
    RunUntil(At(11, 31, 0));
    EXPECT_EQ(platform.performed.size(), i < 2 ? 1u : 0u) << i;
  }
}

// ---- read as the program reads it ------------------------------------------------------------

TEST_F(GuardHostTest, HostileSettingsFilesGiveTheProgramsValuesAndAreNeverWritten) {
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
  const LocalDateTime now{{2026, 12, 7}, 15 * 3600 + 4 * 60 + 5};
  for (const std::string& raw : raw_cases) {
    SCOPED_TRACE(::testing::PrintToString(raw));
    const GuardSettingsRead read = ReadGuardSettings(raw, {}, now);

    MemoryFileStore program_files;
    program_files.files[kIniPath] = raw;
    SettingsFile settings(program_files, kIniPath);
    FakeOs program_os;
    testing::FakeGuard guard;
    testing::FakeScreen screen;
    testing::FakeClock clock;
    clock.now = now;
    Program program(settings, program_os, guard, screen, clock);
    program.Start();
    EXPECT_EQ(read.settings, EngineSettingsOf(program.live()));
    EXPECT_EQ(read.interval_start, program.interval_start());
  }
}

// ---- the state ---------------------------------------------------------------------------

// An upgrade from a version that kept its state in the settings file: what
// the store lacks is taken from the file (and stored), what it has wins.
TEST_F(GuardHostTest, TheStateAnEarlierVersionLeftInTheFileIsCarriedOver) {
  const std::string old_state =
      "[常规设置]\r\n上次定时=2026/12/6 12:00:00\r\n[使用记录]\r\n日期=2026/12/7\r\n已用分钟= 50\r\n"
      "[守护服务]\r\n时区=-540\r\n推迟定时=2026/12/7 10:58:00,2026/12/7 11:08:00\r\n";
  const std::string hours = "1week=00:00+01:00+02:00+03:00+04:00+05:00+06:00+07:00+08:00+09:00+10:00+11:00+12:00+13:00\r\n";
  struct Case {
    const char* what;
    std::map<std::string, std::string> store;
    std::string last, use, zone;
    bool postponed;
  } cases[] = {
      {"a store never written", {}, "2026/12/6 12:00:00", "2026/12/7,50", "-540", true},
      {"the store's later and larger",
       {{"LastScheduled", "2026/12/7 10:00:00"}, {"TodaysUse", "2026/12/7,70"}, {"TimeZone", "0"},
        {"FileTimeZone", "-540"}, {"Postponed", ""}, {"HeldOff", ""}},
       "2026/12/7 10:00:00", "2026/12/7,70", "0", false},
      {"the store's of an earlier day", {{"TodaysUse", "2026/12/6,300"}}, "2026/12/6 12:00:00", "2026/12/7,50", "-540", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state.values = c.store;
    platform = FakePlatform{};
    platform.clock = &utc;
    utc.now = UtcOfChina(At(11, 0, 0)) - 3600;  // 11:00 in Japan's zone
    GivenFile(old_state + "[时间控制]\r\n启用= 1\r\n" + hours + "1limit= 600\r\n");
    Start();
    EXPECT_EQ(Stored(state_names::kLastScheduled), c.last);
    EXPECT_EQ(Stored(state_names::kTodaysUse), c.use);
    EXPECT_EQ(Stored(state_names::kTimeZone), c.zone);
    EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), c.zone);
    EXPECT_EQ(host->engine().moved().has_value(), c.postponed);
    EXPECT_EQ(host->last_scheduled(), InstantOf(c.last));
    EXPECT_EQ(host->use().minutes(), std::stoi(std::string(c.use).substr(c.use.find(',') + 1)));
    host.reset();
  }
}

// A zone an administrator writes into the file is pinned; the zone the
// file held when the service last read it pins nothing again.
TEST_F(GuardHostTest, AZoneWrittenIntoTheFilePinsItOnce) {
  GivenFile(std::string(kDailyRestartAtNoon) + EncodePassword("owner") + "\r\n[守护服务]\r\n时区=-480\r\n");
  state.values = {{"TimeZone", "0"}, {"FileTimeZone", "-480"}};
  Start();
  EXPECT_EQ(host->pinned_zone(), kUtc);
  IniText edited(files.files[kIniPath]);
  edited.Set(Utf8ToGbk("守护服务"), Utf8ToGbk("时区"), "-540");
  files.files[kIniPath] = edited.bytes();
  host->SettingsChanged();
  EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), "-540");
  host.reset();
  Start();
  EXPECT_EQ(FormatTimeZoneRule(host->pinned_zone()), "-540");
  EXPECT_EQ(Stored(state_names::kTimeZone), "-540");
}

// A store that fails: tried again at most once a minute, logged once for
// the whole stretch, and an occurrence it could not note counts as not done.
TEST_F(GuardHostTest, AStoreThatFailsIsTriedAgainEachMinuteAndNothingCountsAsNoted) {
  GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2026/12/1 12:00:00\r\n操作方式= 0\r\n错过补做= 1\r\n"
            "启动后隐藏界面= 1\r\n[时间控制]\r\n密码=" + EncodePassword("owner") + "\r\n");
  state.values = {{"LastScheduled", "2026/12/6 12:00:00"}, {"TimeZone", "-480"}};
  state.fail = true;
  utc.now = UtcOfChina(At(12, 30, 0));  // booted after the restart was due
  Start();
  RunUntil(At(12, 45, 0));
  // Not noted, so not caught up: each start would catch it up again.
  EXPECT_TRUE(platform.performed.empty());
  EXPECT_EQ(Events(events::kActionFailed), 1);
  EXPECT_EQ(Events(events::kSettingsNotSaved), 1);
  const int sets = state.sets;
  RunUntil(At(13, 45, 0));
  EXPECT_LE(state.sets - sets, 60);
  EXPECT_EQ(Events(events::kSettingsNotSaved), 1);
  state.fail = false;
  RunUntil(At(13, 47, 0));
  EXPECT_EQ(Stored(state_names::kLastScheduled), "2026/12/7 12:00:00");
}

// The start of a face takes as long as the user makes it (a huge
// environment): the due second, the countdown and the minute's count go on
// without it.
TEST_F(GuardHostTest, AStartThatTakesLongHoldsNothingUp) {
  GivenDailyRestart();
  platform.start_at_once = false;
  Start();
  ASSERT_TRUE(platform.start_under_way);
  RunUntil(At(11, 58, 30));
  EXPECT_TRUE(host->engine().countdown().is_open());
  RunUntil(At(12, 0, 1));
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(12, 0, 0)});
  EXPECT_EQ(platform.starts.size(), 1u);  // one start at a time
  platform.Finish();
  EXPECT_NE(platform.Last(p::kSettings), nullptr);
}
}  // namespace
}  // namespace dadado

namespace dadado {
namespace {

// Summer time: the service judges in a pinned zone that has it. An instant
// the clock skips is done after its countdown from the first second after
// the skip; an instant the clock shows twice is done once.
struct SummerTimeTest : GuardHostTest {
  TimeZoneRule london = *ParseTimeZoneRule("0,0,-60,10/5/0/7200,3/5/0/3600");
  void StartIn(int y, int mo, int d, int h, int m) {
    platform.zone = london;
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2027/1/1 01:30:00\r\n操作方式= 0\r\n关机画面= 1\r\n启动后隐藏界面= 1\r\n");
    utc.now = UtcOf(london, LocalSeconds({{y, mo, d}, h * 3600 + m * 60}));
    Start();
  }
  std::int64_t LondonLocal() const { return LocalSeconds(LocalTimeOf(london, utc.now)); }
  void RunUntilLocal(std::int64_t local) {
    std::int64_t next = host->NextWakeUtc();
    while (LondonLocal() < local) {
      ++utc.now;
      if (utc.now < next) continue;
      const std::size_t before = platform.performed.size();
      host->Wake();
      for (std::size_t i = before; i < platform.performed.size(); ++i) performed_at.push_back(LondonLocal());
      next = host->NextWakeUtc();
    }
  }
};

TEST_F(SummerTimeTest, AnInstantTheClockSkipsComesAfterItsCountdown) {
  StartIn(2027, 3, 28, 0, 0);  // at 01:00 the clock goes to 02:00
  EXPECT_EQ(Stored(state_names::kTimeZone), "0,0,-60,10/5/0/7200,3/5/0/3600");
  RunUntilLocal(LocalSeconds({{2027, 3, 28}, 2 * 3600 + 1}));
  ASSERT_TRUE(host->engine().countdown().is_open());
  RunUntilLocal(LocalSeconds({{2027, 3, 28}, 3 * 3600}));
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{LocalSeconds({{2027, 3, 28}, 2 * 3600 + 121})});
}

TEST_F(SummerTimeTest, AnInstantTheClockShowsTwiceIsDoneOnce) {
  StartIn(2027, 10, 31, 0, 0);  // at 02:00 the clock goes back to 01:00
  RunUntilLocal(LocalSeconds({{2027, 10, 31}, 3 * 3600}));
  EXPECT_EQ(platform.performed, std::vector<unsigned>{6});
}

// London goes from 01:00 to 02:00: what is due at 02:01:00 had its warning
// at 01:58:59, which never showed. Its countdown opens as the clock jumps,
// and it keeps its second.
TEST_F(SummerTimeTest, AnInstantJustAfterTheSkipKeepsItsSecondAndItsCountdown) {
  for (const char* file : {"[常规设置]\r\n频率= 0\r\n定时时间=2027/1/1 02:01:00\r\n操作方式= 0\r\n启动后隐藏界面= 1\r\n",
                           "[常规设置]\r\n启动后隐藏界面= 1\r\n[计划]\r\n计划1=1,0,1,,02:01:00,1\r\n"}) {
    SCOPED_TRACE(file);
    platform = FakePlatform{};
    platform.clock = &utc;
    platform.zone = london;
    performed_at.clear();
    GivenFile(file);
    utc.now = UtcOf(london, LocalSeconds({{2027, 3, 28}, 0}));
    Start();
    RunUntilLocal(LocalSeconds({{2027, 3, 28}, 2 * 3600}));
    ASSERT_TRUE(host->engine().countdown().is_open());
    EXPECT_EQ(host->engine().countdown().screen().seconds_left, 59);
    RunUntilLocal(LocalSeconds({{2027, 3, 28}, 2 * 3600 + 10 * 60}));
    EXPECT_EQ(performed_at, std::vector<std::int64_t>{LocalSeconds({{2027, 3, 28}, 2 * 3600 + 60})});
  }
}

// Asleep from 21:55 to 08:00, across the change: the 22:00 restart is not
// done, whether the service hears of the resume or its timer first.
TEST_F(SummerTimeTest, WhatTheMachineSleptThroughIsNoSkip) {
  for (const bool timer_first : {false, true}) {
    SCOPED_TRACE(timer_first ? "the timer first" : "the resume first");
    platform = FakePlatform{};
    platform.clock = &utc;
    platform.zone = london;
    GivenFile("[常规设置]\r\n频率= 0\r\n定时时间=2027/1/1 22:00:00\r\n操作方式= 0\r\n启动后隐藏界面= 1\r\n");
    utc.now = UtcOf(london, LocalSeconds({{2027, 3, 27}, 21 * 3600}));
    Start();
    RunUntilLocal(LocalSeconds({{2027, 3, 27}, 21 * 3600 + 55 * 60}));
    utc.now = UtcOf(london, LocalSeconds({{2027, 3, 28}, 8 * 3600}));
    if (timer_first) host->Wake();
    host->Resumed();
    RunUntilLocal(LocalSeconds({{2027, 3, 28}, 8 * 3600 + 10 * 60}));
    EXPECT_TRUE(platform.performed.empty());
    EXPECT_FALSE(host->engine().countdown().is_open());
  }
}

TEST(WallClockWatch, TellsSummerTimeFromAClockBeingSet) {
  struct Case {
    const char* what;
    std::int64_t local_ran, utc_ran;
    bool skipped;
  } cases[] = {
      {"a second", 1, 1, false},
      {"a quiet hour", 3600, 3600, false},
      {"summer time begins", 3601, 1, true},
      {"half an hour's zone", 1801, 1, true},
      {"summer time ends", -3599, 1, false},
      {"the clock set on", 7200, 7200, false},
      {"the clock set back", -600, -600, false},
      {"a day forward on the wall clock alone", 86400, 1, false},
      // Looked at a minute apart, as the timers look, or at most three.
      {"summer time begins between two looks", 3600 + 60, 60, true},
      {"summer time begins, looked at three minutes apart", 3600 + 180, 180, true},
      // The machine slept across the change: what it slept through was
      // no skip of the clock.
      {"slept a little longer", 3600 + 181, 181, false},
      {"slept the night across the change", 3600 + 11 * 3600, 11 * 3600, false},
  };
  for (const Case& c : cases) {
    WallClockWatch watch;
    EXPECT_FALSE(watch.Observe(1000, 5000));
    EXPECT_EQ(watch.Observe(1000 + c.local_ran, 5000 + c.utc_ran).has_value(), c.skipped) << c.what;
  }
}

TEST(WallClockWatch, AfterAResetTheNextLookOnlyStartsAgain) {
  WallClockWatch watch;
  EXPECT_FALSE(watch.Observe(1000, 5000));
  watch.Reset();
  EXPECT_FALSE(watch.Observe(1000 + 3601, 5001));
  EXPECT_EQ(watch.Observe(1000 + 3601 + 3601, 5002), std::optional<std::int64_t>(1000 + 3601));
  // Whoever looks less often says so.
  WallClockWatch hourly(3600);
  EXPECT_FALSE(hourly.Observe(1000, 5000));
  EXPECT_EQ(hourly.Observe(1000 + 2 * 3600, 5000 + 3600), std::optional<std::int64_t>(1000));
}
}  // namespace
}  // namespace dadado

namespace dadado {
namespace {

// Plans in the service: it performs what the machine does by itself, asks
// the face for what belongs to the user's desktop, arms the wake timer, and
// hears of idle time from the face.
struct GuardPlansTest : GuardHostTest {
  void GivenPlans(const std::string& lines) {
    GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[计划]\r\n" + lines + "[时间控制]\r\n密码=" + EncodePassword("owner") + "\r\n");
  }
  // The face's answer to the last `do`.
  void Confirm(const char* result) {
    p::Message done(p::kDone);
    done.Set("id", platform.Last(p::kDo)->Get("id")).Set("result", result);
    host->FaceMessage(done);
  }
  std::vector<std::string> Done() const {
    std::vector<std::string> done;
    for (const auto& m : platform.sent)
      if (m.type == p::kDo) done.push_back(m.Get("what"));
    return done;
  }
};

TEST_F(GuardPlansTest, TheServicePerformsAndTheFaceLocks) {
  GivenPlans("计划1=1,6,1,,11:10:00,0\r\n计划2=1,4,1,,11:20:00,0\r\n计划3=1,1,1,,11:30:00,1\r\n");
  Start();
  RunUntil(At(11, 10, 1));
  EXPECT_EQ(Done(), std::vector<std::string>{"lock"});
  Confirm(p::kOk);
  RunUntil(At(11, 20, 1));
  EXPECT_EQ(platform.suspends, std::vector<std::string>{"sleep"});
  RunUntil(At(11, 27, 59));
  ASSERT_TRUE(host->engine().countdown().is_open());
  EXPECT_EQ(platform.Last(p::kCountdown)->Get("action"), "操作: 关闭计算机");
  RunUntil(At(11, 30, 1));
  EXPECT_EQ(platform.performed, std::vector<unsigned>{13});
  EXPECT_EQ(performed_at, std::vector<std::int64_t>{At(11, 30, 0)});
  EXPECT_EQ(Events(events::kPlanPerformed), 3);
}

// A face that is suspended, or that a program stands in for, locks nothing:
// only what it confirms within a few seconds is logged as done.
TEST_F(GuardPlansTest, ALockTheFaceDoesNotConfirmIsLoggedAsNotDone) {
  GivenPlans("计划1=1,6,1,,11:10:00,0\r\n计划2=1,7,1,,11:20:00,0\r\n");
  Start();
  RunUntil(At(11, 10, 0) + GuardHost::kDoConfirmSeconds - 1);
  EXPECT_EQ(Events(events::kPlanNotDone), 0);
  RunUntil(At(11, 20, 1));
  Confirm(p::kFailed);
  Confirm(p::kOk);  // said twice, or too late
  EXPECT_EQ(Events(events::kPlanNotDone), 2);
  EXPECT_EQ(Events(events::kPlanPerformed), 0);
}

TEST_F(GuardPlansTest, WithoutAFaceTheDesktopIsLeftAloneAndThatIsLogged) {
  GivenPlans("计划1=1,7,1,,11:10:00,0\r\n");
  platform.start_ok = false;
  Start();
  RunUntil(At(11, 10, 1));
  EXPECT_TRUE(Done().empty());
  EXPECT_EQ(Events(events::kPlanNotDone), 1);
  EXPECT_EQ(Events(events::kPlanPerformed), 0);
}

TEST_F(GuardPlansTest, TheWakeTimerIsArmedInUtcAndFollowsAnApply) {
  GivenPlans("计划1=1,8,1,,07:30:00,0\r\n");
  Start();
  ASSERT_TRUE(platform.wake_at);
  EXPECT_EQ(*platform.wake_at, UtcOfChina(LocalSeconds({{2026, 12, 8}, 7 * 3600 + 30 * 60})));
  Send(p::Message(p::kApply).Set("password", "owner").Set("ini", "[计划]\r\n计划1=1,8,1,,06:00:00,0\r\n"));
  RunUntil(At(11, 0, 2));
  EXPECT_EQ(*platform.wake_at, UtcOfChina(LocalSeconds({{2026, 12, 8}, 6 * 3600})));
  host->WokeForPlan();
  EXPECT_TRUE(platform.awake);
}

TEST_F(GuardPlansTest, IdleTimeTheFaceMeasuresPutsTheMachineToSleep) {
  GivenPlans("计划1=1,4,6,30,,0\r\n");
  Start();
  Send(p::Message(p::kIdle).Set("seconds", 20 * 60));
  EXPECT_TRUE(platform.suspends.empty());
  RunUntil(At(11, 40, 0));
  Send(p::Message(p::kIdle).Set("seconds", 31 * 60));
  EXPECT_EQ(platform.suspends, std::vector<std::string>{"sleep"});
  // With nobody logged on nothing is counted, whatever arrives.
  platform.console.reset();
  host->SessionChanged();
  Send(p::Message(p::kIdle).Set("seconds", 0));
  Send(p::Message(p::kIdle).Set("seconds", 99 * 60));
  EXPECT_EQ(platform.suspends.size(), 1u);
}

// Any program of the user can write to the face's pipe: what it says of idle
// time is bounded by what the service can check.
TEST_F(GuardPlansTest, IdleIsNeverLongerThanSinceTheLogonTheUnlockOrTheResume) {
  GivenPlans("计划1=1,4,6,30,,0\r\n");
  Start();
  RunUntil(At(11, 20, 0));
  Send(p::Message(p::kIdle).Set("seconds", 99 * 60));  // the service started twenty minutes ago
  EXPECT_TRUE(platform.suspends.empty());
  RunUntil(At(11, 31, 0));
  Send(p::Message(p::kIdle).Set("seconds", 110 * 60));
  EXPECT_EQ(platform.suspends.size(), 1u);
  host->Resumed();
  Send(p::Message(p::kIdle).Set("seconds", 0));
  // Locked at 11:40: idle since the last input by the service's own count,
  // whatever the pipe says.
  RunUntil(At(11, 40, 0));
  platform.locked = true;
  host->SessionChanged();
  Send(p::Message(p::kIdle).Set("seconds", 0));
  RunUntil(At(12, 0, 58));
  EXPECT_EQ(platform.suspends.size(), 1u);
  RunUntil(At(12, 1, 1));
  EXPECT_EQ(platform.suspends.size(), 2u);
}

TEST_F(GuardPlansTest, AFaceThatReportsWhatCannotBeTrueIsReplaced) {
  GivenPlans("计划1=1,4,6,30,,0\r\n");
  Start();
  RunUntil(At(11, 40, 0));
  Send(p::Message(p::kIdle).Set("seconds", 0));
  RunUntil(At(11, 45, 0));
  Send(p::Message(p::kIdle).Set("seconds", 31 * 60));  // five minutes after someone was there
  Send(p::Message(p::kIdle).Set("seconds", 99));       // that face's word counts for nothing now
  EXPECT_EQ(platform.replaced, 1);
  EXPECT_EQ(Events(events::kFaceReplaced), 1);
  host->FaceEnded(1);
  RunUntil(At(11, 45, 3));
  Send(p::Message(p::kIdle).Set("seconds", "soon"));
  EXPECT_EQ(platform.replaced, 2);
  EXPECT_TRUE(platform.suspends.empty());
}

TEST_F(SummerTimeTest, APlanTheClockSkipsComesAtTheFirstSecondAfter) {
  platform.zone = london;
  GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[计划]\r\n计划1=1,6,1,,01:30:00,0\r\n");
  utc.now = UtcOf(london, LocalSeconds({{2027, 3, 28}, 0}));
  Start();
  RunUntilLocal(LocalSeconds({{2027, 3, 28}, 3 * 3600}));
  std::vector<std::string> done;
  for (const auto& m : platform.sent)
    if (m.type == p::kDo) done.push_back(m.Get("what"));
  EXPECT_EQ(done, std::vector<std::string>{"lock"});
}

// ---- accounts, today's use and the history ---------------------------------------------

std::string EveryHour() {
  std::string t;
  for (int h = 0; h < 24; ++h) t += (h ? "+" : "") + std::string(h < 10 ? "0" : "") + std::to_string(h) + ":00";
  return t;
}

struct GuardAccountsTest : GuardHostTest {
  const Account ming{"小明", "S-1-5-21-9-1001", false};
  // Monday allowed all day with a limit; the password "owner".
  void GivenLimit(int limit, const std::string& more = "") {
    GivenFile("[常规设置]\r\n启动后隐藏界面= 1\r\n[时间控制]\r\n启用= 1\r\n1week=" + EveryHour() + "\r\n1limit= " +
              std::to_string(limit) + "\r\n密码=" + EncodePassword("owner") + "\r\n" + more);
  }
  std::string History() {
    const auto it = files.files.find("C:\\dadado\\dadado-usage.csv");
    return it == files.files.end() ? "<none>" : it->second;
  }
};

TEST_F(GuardAccountsTest, TodaysUseIsCountedWhateverIsCancelledAndTheServiceWritesTheHistory) {
  platform.account = ming;
  GivenLimit(2, "[高级设置]\r\n记录使用时间= 1\r\n");
  Start();
  RunUntil(At(11, 2, 10));
  ASSERT_TRUE(host->engine().countdown().is_open());
  Send(p::Message(p::kCancel).Set("password", "owner"));
  EXPECT_FALSE(host->engine().countdown().is_open());
  RunUntil(At(11, 10, 30));
  EXPECT_EQ(host->use().minutes(), 10);
  EXPECT_EQ(Stored(state_names::kTodaysUse), "2026/12/7,10");
  EXPECT_EQ(ParseAccountDay(Stored(state_names::kAccountsUse)).accounts.at(0).minutes, 10);
  host->Stop();
  EXPECT_EQ(History(), "\xEF\xBB\xBF日期,账户,分钟\r\n2026-12-07,小明,10\r\n");
  // A restart of the service keeps each account's count.
  Start();
  EXPECT_EQ(host->use().MinutesOf(ming.name, ming.sid), 10);
  // The cancel lasts until the next logon; the count never stopped.
  platform.locked = true;
  host->SessionChanged();
  RunUntil(At(11, 20, 0));
  EXPECT_EQ(host->use().minutes(), 10);  // locked: nobody is at the console
}

TEST_F(GuardAccountsTest, AFirmwareClockSetBackStartsNoFreshDay) {
  // Tuesday's hour used up, then the machine booted with its clock on Monday.
  state.values[state_names::kTodaysUse] = "2026/12/8,60";
  GivenLimit(60);
  Start();
  EXPECT_EQ(host->use().day(), (Date{2026, 12, 8}));
  RunUntil(At(11, 1, 0));
  EXPECT_TRUE(host->engine().countdown().is_open());
  RunUntil(At(11, 5, 0));
  EXPECT_EQ(Events(1305), 1);
  EXPECT_EQ(Stored(state_names::kTodaysUse).rfind("2026/12/8,", 0), 0u);
}

TEST_F(GuardAccountsTest, TheAccountAtTheConsoleComesFromItsSession) {
  const std::string own = "[时间控制:小明]\r\n启用= 1\r\n1week=24:00\r\nSID=" + ming.sid + "\r\n";
  for (const auto& [who, countdown] : {std::pair{std::optional<Account>(ming), true},
                                       std::pair{std::optional<Account>(Account{"小红", "S-1-5-21-9-1002", false}), false},
                                       std::pair{std::optional<Account>(Account{"小明", "S-1-5-21-9-1003", false}), false},
                                       std::pair{std::optional<Account>(), false}}) {
    SCOPED_TRACE(who ? who->sid : "unknown");
    utc.now = UtcOfChina(At(11, 0, 0));
    platform.account = who;
    GivenLimit(0, own);
    Start();
    RunUntil(At(11, 1, 0));
    EXPECT_EQ(host->engine().countdown().is_open(), countdown);
  }
}

}  // namespace
}  // namespace dadado
