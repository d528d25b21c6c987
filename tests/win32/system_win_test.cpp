// The OS interface against the real registry, token and processes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "system/win32/wide.h"
#include "system/win32/win_os.h"
#include "system/win32/win_session.h"
#include "system/windows_integration.h"

namespace dadado::win32 {
namespace {

TEST(PowerWin, ShutdownPrivilegeCanBeEnabled) {
  WinOperatingSystem os;
  EXPECT_TRUE(os.EnableShutdownPrivilege());
}

struct RegistryWin : ::testing::Test {
  WinOperatingSystem os;
  void TearDown() override {
    if (auto k = os.OpenKey(kWinlogonKey, true)) {
      for (const char* name : {kDefaultUserNameValue, kDefaultPasswordValue, kAutoAdminLogon, kForceAutoLogon})
        os.DeleteValue(*k, name);
      os.CloseKey(*k);
    }
    if (auto k = os.OpenKey(kRunKey, true)) {
      os.DeleteValue(*k, os.ExecutableBaseName());
      os.CloseKey(*k);
    }
  }
};

TEST_F(RegistryWin, EachValueIsWrittenReadBackAndDeleted) {
  RegistryChoices live;
  live.start_with_windows = true;
  live.stored_logon = true;
  live.logon_user = "张三";
  live.logon_password = "密码pw";
  RegistryWriteResult r = WriteRegistry(os, live, os.ExecutableFolder(), os.ExecutableBaseName());
  EXPECT_TRUE(r.start_with_windows_ok);
  EXPECT_TRUE(r.automatic_logon_ok);

  RegistryReading read = ReadRegistry(os, os.ExecutableBaseName());
  EXPECT_TRUE(read.start_with_windows);
  EXPECT_EQ(read.logon_user, "张三");
  EXPECT_EQ(read.logon_password, "密码pw");
  auto k = os.OpenKey(kWinlogonKey, false);
  ASSERT_TRUE(k);
  EXPECT_EQ(os.QueryString(*k, kAutoAdminLogon), "1");
  EXPECT_EQ(os.QueryString(*k, kForceAutoLogon), "1");
  EXPECT_EQ(os.QueryString(*k, kPowerdownAfterShutdown), "1");
  os.CloseKey(*k);

  live.start_with_windows = false;
  live.stored_logon = false;
  r = WriteRegistry(os, live, os.ExecutableFolder(), os.ExecutableBaseName());
  EXPECT_TRUE(r.start_with_windows_ok);
  EXPECT_TRUE(r.automatic_logon_ok);
  read = ReadRegistry(os, os.ExecutableBaseName());
  EXPECT_FALSE(read.start_with_windows);
  EXPECT_FALSE(read.logon_password);
  EXPECT_EQ(read.logon_user, "张三");  // left as it was
}

TEST_F(RegistryWin, StartupValueHoldsThePathOfTheRunningExecutable) {
  RegistryChoices live;
  live.start_with_windows = true;
  WriteRegistry(os, live, os.ExecutableFolder(), os.ExecutableBaseName());
  auto k = os.OpenKey(kRunKey, false);
  ASSERT_TRUE(k);
  auto value = os.QueryString(*k, os.ExecutableBaseName());
  os.CloseKey(*k);
  ASSERT_TRUE(value);
  // In quotes, as a command line with blanks in its path must be.
  EXPECT_EQ(_wcsicmp(Widen(*value).c_str(), (L"\"" + WinOperatingSystem::ModulePath() + L"\"").c_str()), 0) << *value;
}

TEST_F(RegistryWin, EmptyPasswordReadsAsAbsentAndLongTextsReadWhole) {
  auto k = os.CreateKey(kWinlogonKey);
  ASSERT_TRUE(k);
  ASSERT_TRUE(os.SetString(*k, kDefaultPasswordValue, ""));
  std::string long_name(300, 'n');
  ASSERT_TRUE(os.SetString(*k, kDefaultUserNameValue, long_name));
  os.CloseKey(*k);
  RegistryReading read = ReadRegistry(os, os.ExecutableBaseName());
  EXPECT_FALSE(read.logon_password);
  EXPECT_EQ(read.logon_user, long_name);
}

// ---- one copy only -------------------------------------------------------------

std::wstring TempPath(const std::wstring& name) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  return std::wstring(base) + name;
}

// Starts `count` copies of a renamed copy of this test program at once; each
// records whether it found another copy running. Returns the records.
std::vector<std::string> StartCopies(int count) {
  const std::wstring exe = TempPath(L"dadado_probe_" + std::to_wstring(GetCurrentProcessId()) + L".exe");
  CopyFileW(WinOperatingSystem::ModulePath().c_str(), exe.c_str(), FALSE);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"Local\\dadado-test-release");
  ResetEvent(release);
  std::vector<PROCESS_INFORMATION> procs;
  std::vector<std::wstring> results;
  for (int i = 0; i < count; ++i) {
    std::wstring result = TempPath(L"dadado_probe_result_" + std::to_wstring(i) + L".txt");
    DeleteFileW(result.c_str());
    results.push_back(result);
    std::wstring cmd = L"\"" + exe + L"\" --probe-instance \"" + result + L"\"";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) procs.push_back(pi);
  }
  // Wait until every copy has written its record, then let them go.
  std::vector<std::string> records;
  for (int waited = 0; waited < 600; ++waited) {
    records.clear();
    for (const auto& r : results) {
      std::ifstream in(Narrow(r));
      std::stringstream ss;
      ss << in.rdbuf();
      if (!ss.str().empty()) records.push_back(ss.str());
    }
    if (records.size() == results.size()) break;
    Sleep(50);
  }
  SetEvent(release);
  for (auto& pi : procs) {
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(release);
  for (const auto& r : results) DeleteFileW(r.c_str());
  DeleteFileW(exe.c_str());
  return records;
}

TEST(SingleInstanceWin, TwoCopiesOnlyOnePasses) {
  auto records = StartCopies(2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(std::count(records.begin(), records.end(), "first"), 1);
}

TEST(SingleInstanceWin, TenCopiesStartedTogetherLeaveExactlyOne) {
  auto records = StartCopies(10);
  ASSERT_EQ(records.size(), 10u);
  EXPECT_EQ(std::count(records.begin(), records.end(), "first"), 1);
}

}  // namespace
}  // namespace dadado::win32

// The block as Windows returns it: the level's data starts at offset 8 (its
// times make it 8-aligned), so SessionState sits at 12 and SessionFlags at
// 16. A reader that takes 12 for the flags sees an active session (0) as
// locked (0).
TEST(SessionStateWin, LockFlagsAreReadWhereWindowsPutsThem) {
  struct Case {
    LONG flags;
    bool reversed;
    std::optional<bool> locked;
  };
  const Case cases[] = {
      {0, false, true},  {1, false, false}, {-1, false, std::nullopt},
      {0, true, false},  {1, true, true},   {-1, true, std::nullopt},
  };
  for (const Case& c : cases) {
    alignas(8) unsigned char block[232] = {};
    const DWORD level = 1, state = 0 /* WTSActive */;
    std::memcpy(block, &level, 4);
    std::memcpy(block + 12, &state, 4);
    std::memcpy(block + 16, &c.flags, 4);
    EXPECT_EQ(dadado::win32::LockStateOf(block, sizeof block, c.reversed), c.locked)
        << "flags " << c.flags << (c.reversed ? ", reversed" : "");
  }
  alignas(8) unsigned char short_block[16] = {1};
  EXPECT_EQ(dadado::win32::LockStateOf(short_block, sizeof short_block, false), std::nullopt);
  EXPECT_EQ(dadado::win32::LockStateOf(nullptr, 0, false), std::nullopt);
}

namespace dadado::win32 {
namespace {

TEST(SystemAccountsWin, TheProgramsOwnAccountIsOneOfTheMachines) {
  WinOperatingSystem os;
  const auto me = os.CurrentAccount();
  ASSERT_TRUE(me);
  EXPECT_FALSE(me->name.empty());
  EXPECT_EQ(me->name.find('\\'), std::string::npos);  // no domain
  EXPECT_EQ(me->sid.rfind("S-1-5-", 0), 0u) << me->sid;
  EXPECT_EQ(me->administrator, os.IsAdministrator());
  const auto all = os.LocalAccounts();
  const bool listed = std::any_of(all.begin(), all.end(), [&](const Account& a) { return SameAccountName(a.name, me->name); });
  EXPECT_TRUE(listed) << all.size();
  for (const Account& a : all) EXPECT_NE(a.name, "Guest") << "a disabled built-in account is listed";
}

}  // namespace
}  // namespace dadado::win32
