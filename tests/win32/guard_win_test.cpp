// The guard's Windows side under Wine: the rights check over descriptors
// built from SDDL, the named objects, and what the service manager does.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include "guard/win32/guard_win.h"

namespace dadado::win32 {
namespace {

TEST(GuardRightsTest, WhichDescriptorsLetStandardUsersWrite) {
  struct Case {
    const wchar_t* sddl;
    bool writable;
  } cases[] = {
      // Program Files as Windows sets it: users read and run.
      {L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;AU)", false},
      {L"O:SYD:P(A;;FA;;;SY)(A;;0x1301bf;;;BU)", true},  // modify
      {L"O:SYD:P(A;;FA;;;SY)(A;;FW;;;AU)", true},
      {L"O:SYD:P(A;;GA;;;WD)", true},
      {L"O:SYD:P(A;;GW;;;BU)", true},
      {L"O:SYD:P(A;;FA;;;SY)(A;;WD;;;BU)", true},        // may rewrite the list
      {L"O:SYD:P(A;;FA;;;SY)(A;;0x40;;;BU)", true},      // may delete files of the folder
      {L"O:SYD:P(A;;FA;;;SY)(A;;0x4;;;IU)", true},       // may add folders / append
      {L"O:SYD:P(A;OICIIO;FA;;;BU)(A;;FR;;;BU)", false}, // only for what is created inside
      {L"O:SYD:P(D;;FW;;;WD)(A;;FW;;;BU)", false},       // denied first
      {L"O:SYD:P(A;;FW;;;BU)(D;;FW;;;WD)", true},        // allowed first
      {L"O:SYD:P(A;;FA;;;S-1-5-21-1-2-3-1001)", false},  // one named user is not every user
      {L"O:BUD:P(A;;FR;;;SY)", true},                    // owned by Users
      {L"O:SYD:P", false},                               // an empty list lets nobody in
  };
  for (const Case& c : cases) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &sd, nullptr))
        << GetLastError();
    EXPECT_EQ(StandardUsersCanWrite(sd), c.writable) << testing::PrintToString(std::wstring(c.sddl));
    LocalFree(sd);
  }
  // No list at all lets everyone in. (Wine reads "D:NO_ACCESS_CONTROL" as an
  // empty list, so the descriptor is built by hand.)
  SECURITY_DESCRIPTOR open{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_TRUE(StandardUsersCanWrite(&open));
}

TEST(GuardObjectsTest, TheAnnouncementLastsAsLongAsItsHandle) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_FALSE(ProgramAnnounced(session));
  {
    UniqueHandle held = AnnounceProgram();
    ASSERT_TRUE(held) << GetLastError();
    EXPECT_TRUE(ProgramAnnounced(session));
    EXPECT_FALSE(ProgramAnnounced(session + 7));
  }
  EXPECT_FALSE(ProgramAnnounced(session));
}

TEST(GuardObjectsTest, ExitReachesTheGuardOnlyWhenOneListens) {
  EXPECT_FALSE(TellGuardExitRequested());
  UniqueHandle event = CreateGuardExitEvent();
  ASSERT_TRUE(event) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(TellGuardExitRequested());
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // taken once
}

TEST(GuardObjectsTest, NoRecordBeforeTheGuardPerformedAnything) { EXPECT_FALSE(GuardPerformedLast()); }

// What Wine's service manager does with the guard's installation. A service
// of its own name, never started: its command would start this test.
TEST(GuardServiceManagerTest, InstallConfiguresAndUninstallRemoves) {
  const std::wstring name = L"dadadoGuardWineTest";
  GuardServiceConfig config;
  config.name = name;
  config.executable = L"C:\\windows\\system32\\notepad.exe";
  config.start = false;
  config.check_rights = false;
  UninstallGuardService(name);
  const GuardSetupResult installed = InstallGuardService(config);
  ASSERT_EQ(installed.outcome, GuardSetupOutcome::kDone) << installed.error;

  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_TRUE(scm);
  SC_HANDLE service = OpenServiceW(scm, name.c_str(), SERVICE_QUERY_CONFIG);
  ASSERT_TRUE(service);
  BYTE buffer[8192];
  DWORD needed = 0;
  auto* cfg = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  ASSERT_TRUE(QueryServiceConfigW(service, cfg, sizeof buffer, &needed));
  EXPECT_EQ(cfg->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(std::wstring(cfg->lpBinaryPathName), L"\"C:\\windows\\system32\\notepad.exe\" /guard-service");
  EXPECT_EQ(std::wstring(cfg->lpDisplayName), kGuardDisplayName);
  EXPECT_EQ(_wcsicmp(cfg->lpServiceStartName, L"LocalSystem"), 0) << std::wstring(cfg->lpServiceStartName);
  ASSERT_TRUE(QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, buffer, sizeof buffer, &needed));
  EXPECT_EQ(std::wstring(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription), kGuardDescription);
  if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer, &needed)) {
    auto* fa = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
    ASSERT_GE(fa->cActions, 1u);
    EXPECT_EQ(fa->lpsaActions[0].Type, SC_ACTION_RESTART);
    EXPECT_EQ(fa->lpsaActions[0].Delay, 5000u);
  } else {
    // Wine stores the failure actions but cannot give them back.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  }
  CloseServiceHandle(service);

  // Installing again keeps one service.
  EXPECT_EQ(InstallGuardService(config).outcome, GuardSetupOutcome::kDone);
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kDone);
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kNotInstalled);
  CloseServiceHandle(scm);
}

TEST(GuardServiceManagerTest, NotStartedByTheServiceManager) { EXPECT_FALSE(RunGuardService()); }

}  // namespace
}  // namespace dadado::win32
