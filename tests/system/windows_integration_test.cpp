#include "system/windows_integration.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/fakes.h"

namespace dadado {
namespace {

using testing::FakeOs;

const std::string kRun = kRunKey;
const std::string kLogon = kWinlogonKey;

TEST(RegistryReading, StartupValueMustBePresentAndNotEmpty) {
  FakeOs os;
  EXPECT_FALSE(ReadRegistry(os, "dadado").start_with_windows);
  os.values[kRun + "\\dadado"] = "";
  EXPECT_FALSE(ReadRegistry(os, "dadado").start_with_windows);
  os.values[kRun + "\\dadado"] = "C:\\dadado.exe";
  EXPECT_TRUE(ReadRegistry(os, "dadado").start_with_windows);
  EXPECT_FALSE(ReadRegistry(os, "other").start_with_windows);
}

TEST(RegistryReading, LogonValues) {
  FakeOs os;
  RegistryReading r = ReadRegistry(os, "dadado");
  EXPECT_TRUE(r.winlogon_opened);
  EXPECT_FALSE(r.logon_password);
  EXPECT_EQ(r.logon_user, "Administrator");

  os.values[kLogon + "\\DefaultPassword"] = "";
  os.values[kLogon + "\\DefaultUserName"] = "";
  r = ReadRegistry(os, "dadado");
  EXPECT_FALSE(r.logon_password);  // empty counts as absent
  EXPECT_EQ(r.logon_user, "Administrator");

  os.values[kLogon + "\\DefaultPassword"] = "secret";
  os.values[kLogon + "\\DefaultUserName"] = "张三";
  r = ReadRegistry(os, "dadado");
  EXPECT_EQ(r.logon_password, "secret");
  EXPECT_EQ(r.logon_user, "张三");
}

TEST(RegistryReading, UnreadableKeys) {
  FakeOs os;
  os.winlogon_missing = true;
  RegistryReading r = ReadRegistry(os, "dadado");
  EXPECT_TRUE(r.run_key_opened);
  EXPECT_FALSE(r.winlogon_opened);
  os.run_key_missing = true;
  EXPECT_FALSE(ReadRegistry(os, "dadado").run_key_opened);
}

struct RegistryWriting : ::testing::Test {
  FakeOs os;
  RegistryChoices live;
  RegistryWriteResult Write() {
    os.log.clear();
    return WriteRegistry(os, live, "C:\\My Tools", "dadado");
  }
};

TEST_F(RegistryWriting, EverythingOffDeletesInTheFixedOrderAndSetsPowerOff) {
  RegistryWriteResult r = Write();
  EXPECT_TRUE(r.start_with_windows_ok);
  EXPECT_TRUE(r.automatic_logon_ok);
  const std::vector<std::string> expected = {
      "open-write " + kRun, "delete dadado", "close",
      "open-write " + kLogon, "delete DefaultPassword", "delete ForceAutoLogon", "close",
      "open-write " + kLogon, "set PowerdownAfterShutdown=1", "close"};
  EXPECT_EQ(os.log, expected);
}

TEST_F(RegistryWriting, EverythingOnWritesTheValuesInOrder) {
  live.start_with_windows = true;
  live.stored_logon = true;
  live.logon_user = "张三";
  live.logon_password = "pw";
  Write();
  const std::vector<std::string> expected = {
      "create " + kRun, "set dadado=\"C:\\My Tools\\dadado.exe\"", "close",
      "create " + kLogon, "set DefaultUserName=张三", "set DefaultPassword=pw",
      "set AutoAdminLogon=1", "set ForceAutoLogon=1", "close",
      "open-write " + kLogon, "set PowerdownAfterShutdown=1", "close"};
  EXPECT_EQ(os.log, expected);
}

TEST_F(RegistryWriting, StoredLogonNeedsBothUserAndPassword) {
  os.values[kLogon + "\\AutoAdminLogon"] = "1";
  os.values[kLogon + "\\DefaultUserName"] = "old";
  os.values[kLogon + "\\DefaultPassword"] = "old";
  live.stored_logon = true;
  live.logon_password = "";
  Write();
  EXPECT_FALSE(os.Has(kLogon, "DefaultPassword"));
  // Turning the stored logon off leaves these as they were.
  EXPECT_EQ(os.Value(kLogon, "AutoAdminLogon"), "1");
  EXPECT_EQ(os.Value(kLogon, "DefaultUserName"), "old");
  live.logon_password = "pw";
  live.logon_user = "";
  Write();
  EXPECT_FALSE(os.Has(kLogon, "DefaultPassword"));
}

TEST_F(RegistryWriting, WithoutAdministratorRightsTheFailuresAreReported) {
  os.read_only = true;
  live.start_with_windows = true;
  RegistryWriteResult r = Write();
  EXPECT_FALSE(r.start_with_windows_ok);
  EXPECT_TRUE(r.automatic_logon_ok);  // nothing stored that would need deleting

  live.start_with_windows = false;
  os.values[kRun + "\\dadado"] = "C:\\dadado.exe";
  os.values[kLogon + "\\DefaultPassword"] = "pw";
  r = Write();
  EXPECT_FALSE(r.start_with_windows_ok);  // the value stays and still starts the program
  EXPECT_FALSE(r.automatic_logon_ok);
}

// Under the guard the password goes into the system's secret, first, and
// never into the readable value; without one that can be stored, the
// automatic logon is not turned on.
TEST_F(RegistryWriting, UnderTheGuardThePasswordIsTheSystemsSecret) {
  const struct {
    bool on;
    const char* password;
    std::optional<std::string> secret_before;
    bool secret_fails, ok;
    std::optional<std::string> secret_after;
  } cases[] = {
      {true, "pw", std::nullopt, false, true, "pw"},         // a new password
      {true, "", "old", false, true, "old"},                 // the stored one kept
      {true, "", std::nullopt, false, false, std::nullopt},  // none to keep
      {true, "pw", std::nullopt, true, false, std::nullopt},
      {false, "", "old", false, true, std::nullopt},         // turned off
  };
  for (const auto& c : cases) {
    os = FakeOs{};
    os.values[kLogon + "\\DefaultPassword"] = "readable";
    os.logon_secret = c.secret_before;
    os.secret_fails = c.secret_fails;
    live = RegistryChoices{false, c.on, "张三", c.password, false, true};
    EXPECT_EQ(Write().automatic_logon_ok, c.ok) << c.password;
    EXPECT_EQ(os.logon_secret, c.secret_after);
    EXPECT_EQ(os.Has(kLogon, "AutoAdminLogon"), c.on && c.ok);
    EXPECT_EQ(os.Has(kLogon, "DefaultPassword"), c.on && !c.ok);
    const auto at = [&](const std::string& entry) { return std::find(os.log.begin(), os.log.end(), entry); };
    if (c.ok && *c.password) {
      EXPECT_LT(at("secret pw"), at("create " + kLogon));
    }
  }
}

TEST(LogonPasswordMove, AReadablePasswordGoesOnceTheSecretHoldsIt) {
  FakeOs os;
  EXPECT_EQ(MoveLogonPasswordToSecret(os), LogonPasswordMove::kNone);
  os.values[kLogon + "\\DefaultPassword"] = "pw";
  os.secret_fails = true;
  EXPECT_EQ(MoveLogonPasswordToSecret(os), LogonPasswordMove::kFailed);
  EXPECT_EQ(os.Value(kLogon, "DefaultPassword"), "pw");  // the logon goes on working
  os.secret_fails = false;
  EXPECT_EQ(MoveLogonPasswordToSecret(os), LogonPasswordMove::kMoved);
  EXPECT_TRUE(os.logon_secret == "pw" && !os.Has(kLogon, "DefaultPassword") && LogonPasswordStored(os));
}

// Unquoted, "C:\Program Files\..." would let Windows try C:\Program.exe first.
TEST(RunKeyPath, QuotedWithDoubledSeparatorAtARoot) {
  EXPECT_EQ(ExecutablePathForRunKey("C:\\Program Files\\dadado", "dadado"), "\"C:\\Program Files\\dadado\\dadado.exe\"");
  EXPECT_EQ(ExecutablePathForRunKey("D:\\", "dadado"), "\"D:\\\\dadado.exe\"");
}

TEST(SystemCommands, StartRundll32OfTheSystemFolderByItsFullPath) {
  EXPECT_EQ(LockWorkStationCommand("C:\\Windows\\system32"),
            "\"C:\\Windows\\system32\\rundll32.exe\" user32.dll, LockWorkStation");
  EXPECT_EQ(AccountsPanelCommand("C:\\Windows\\system32"),
            "\"C:\\Windows\\system32\\rundll32.exe\" netplwiz.dll, UsersRunDll");
}

}  // namespace
}  // namespace dadado
