// The guard's Windows side under Wine: the rights check over descriptors
// built from SDDL, the named objects, the settings file's security, and what
// the service manager does.
//
// Wine keeps no security of its own for files: it makes one up from the Unix
// mode bits, owned by the current user, with SYSTEM and that user in full
// control and Everyone reading when the "other" bits allow it. A file created
// with a descriptor gets mode bits from it (Everyone left out stays out);
// SetNamedSecurityInfo adds the folder's inheritable entries whatever the
// protected flag says, and nothing reads back as protected. What Wine cannot
// show is checked where the tests run on Windows itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "guard/win32/guard_win.h"
#include "guard/win32/pipe_channel.h"
#include "guard/win32/registry_state_store.h"
#include "guard/win32/status_file.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"

namespace dadado::win32 {
namespace {

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  BYTE buffer[256];
  DWORD size = 0;
  std::wstring sid;
  wchar_t* text = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

// Replaces every "{TI}" and "{ME}" with TrustedInstaller's and this user's SID.
std::wstring Expanded(std::wstring sddl) {
  const std::pair<std::wstring, std::wstring> names[] = {{L"{TI}", kTrustedInstaller}, {L"{ME}", CurrentUserSid()}};
  for (const auto& [name, sid] : names)
    for (std::size_t at = sddl.find(name); at != std::wstring::npos; at = sddl.find(name))
      sddl.replace(at, name.size(), sid);
  return sddl;
}

const char* RoleName(PathRole role) {
  switch (role) {
    case PathRole::kFile: return "file";
    case PathRole::kFolder: return "folder";
    case PathRole::kAncestor: return "ancestor";
  }
  return "?";
}

TEST(GuardRightsTest, OnlySystemAdministratorsAndTrustedInstallerMayChangeWhatTheGuardRuns) {
  using enum PathRole;
  struct Case {
    const wchar_t* sddl;
    PathRole role;
    bool safe;
  } cases[] = {
      // Windows' own defaults (Windows 10 and 11). The drive's root: users
      // may make folders in it, and what they make there is theirs.
      {L"O:{TI}G:{TI}D:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
       kAncestor, true},
      // ... which is exactly why a program may not lie in the root itself.
      {L"O:{TI}G:{TI}D:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
       kFolder, false},
      // C:\Program Files, with the application packages reading.
      {L"O:{TI}G:{TI}D:PAI(A;;FA;;;{TI})(A;CIIO;GA;;;{TI})(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
       L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)"
       L"(A;OICIIO;GXGR;;;S-1-15-2-1)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)",
       kAncestor, true},
      // A folder an administrator made in it: what Program Files passes on,
      // CREATOR OWNER become the Administrators that own it.
      {L"O:BAG:BAD:AI(A;ID;FA;;;{TI})(A;CIIOID;GA;;;{TI})(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)"
       L"(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)"
       L"(A;ID;0x1200a9;;;S-1-15-2-1)(A;OICIIOID;GXGR;;;S-1-15-2-1)(A;ID;0x1200a9;;;S-1-15-2-2)"
       L"(A;OICIIOID;GXGR;;;S-1-15-2-2)",
       kFolder, true},
      // ... and dadado.exe copied into that folder.
      {L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;S-1-15-2-1)"
       L"(A;ID;0x1200a9;;;S-1-15-2-2)",
       kFile, true},
      {L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;{TI})", kFile, true},
      {L"O:SYD:P", kFile, true},  // an empty list lets nobody but the owner in

      // Whoever is not one of the three is a user.
      {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FW;;;{ME})", kFile, false},  // this very user
      {L"O:BAD:P(A;;FA;;;SY)(A;;0x1301bf;;;BU)", kFile, false},          // Users may modify
      {L"O:BAD:P(A;;FA;;;SY)(A;;FW;;;AU)", kFile, false},
      {L"O:BAD:P(A;;GA;;;WD)", kFile, false},
      {L"O:BAD:P(A;;GW;;;WD)", kFile, false},
      {L"O:BAD:P(A;;FA;;;SY)(A;;0x4;;;IU)", kFile, false},               // may append
      {L"O:BAD:P(A;;FA;;;S-1-5-21-1-2-3-1001)", kFile, false},           // one named account, even an administrator
      {L"O:BAD:P(A;;FA;;;S-1-5-21-1-2-3-500)", kFolder, false},
      // The owner can always rewrite the list.
      {L"O:BUD:P(A;;FR;;;SY)", kFile, false},
      {L"O:{ME}D:P(A;;FA;;;SY)", kAncestor, false},
      {L"O:S-1-5-21-1-2-3-500D:P(A;;FA;;;SY)", kFile, false},
      {L"D:P(A;;FA;;;SY)", kFile, false},                                 // no owner to trust
      {L"O:BA", kFile, false},                                            // no list: everyone may do anything

      // Right by right, role by role: what each role forbids and allows.
      {L"O:BAD:P(A;;WD;;;BU)", kAncestor, false},                        // may rewrite the list
      {L"O:BAD:P(A;;WO;;;BU)", kAncestor, false},                        // may take it over
      {L"O:BAD:P(A;;SD;;;BU)", kAncestor, false},                        // may delete or rename it
      {L"O:BAD:P(A;;0x40;;;BU)", kAncestor, false},                      // may delete what is inside
      {L"O:BAD:P(A;;0x40;;;BU)", kFolder, false},
      {L"O:BAD:P(A;;0x40;;;BU)", kFile, true},                           // means nothing for a file
      {L"O:BAD:P(A;;0x2;;;BU)", kFolder, false},                         // may add a file beside the program
      {L"O:BAD:P(A;;0x4;;;BU)", kFolder, false},                         // may add a folder beside it
      {L"O:BAD:P(A;;0x2;;;BU)", kAncestor, true},                        // new files higher up replace nothing
      {L"O:BAD:P(A;;0x4;;;BU)", kAncestor, true},
      {L"O:BAD:P(A;;GW;;;AU)", kAncestor, true},                         // writing maps to adding, never deleting
      {L"O:BAD:P(A;;GA;;;AU)", kAncestor, false},
      {L"O:BAD:P(A;;0x100;;;BU)", kFile, true},                          // attributes only: the content stays
      {L"O:BAD:P(A;;0x1200a9;;;BU)", kFolder, true},                     // reading and running

      // Entries that do not apply to the object itself.
      {L"O:BAD:P(A;OICIIO;FA;;;BU)(A;;FR;;;BU)", kFolder, true},         // only for what is created inside
      // Denials count for the SID they name, and only before the grant.
      {L"O:BAD:P(D;;FW;;;BU)(A;;FW;;;BU)", kFile, true},
      {L"O:BAD:P(A;;FW;;;BU)(D;;FW;;;BU)", kFile, false},
      {L"O:BAD:P(D;;FA;;;WD)(A;;FW;;;BU)", kFile, false},
      {L"O:BAD:P(D;;WD;;;BU)(A;;FA;;;BU)", kFile, false},                // the rest of full control remains
      // CREATOR OWNER and OWNER RIGHTS are whoever owns it.
      {L"O:BAD:P(A;;FA;;;CO)", kFolder, true},
      {L"O:BAD:P(A;;FA;;;S-1-3-4)", kFolder, true},
      {L"O:BUD:P(A;;FA;;;CO)", kFolder, false},
      // CREATOR GROUP is not the owner: a user like any other.
      {L"O:BAD:P(A;;FA;;;S-1-3-1)", kFile, false},
  };
  for (const Case& c : cases) {
    const std::wstring sddl = Expanded(c.sddl);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
        << GetLastError() << " " << Narrow(sddl);
    EXPECT_EQ(OnlyTrustedCanChange(sd, c.role), c.safe) << Narrow(sddl) << " as " << RoleName(c.role);
    LocalFree(sd);
  }
  // No list at all lets everyone in. (Wine reads "D:NO_ACCESS_CONTROL" as an
  // empty list, so the descriptor is built by hand.)
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  SECURITY_DESCRIPTOR open{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_FALSE(OnlyTrustedCanChange(&open, PathRole::kAncestor));
}

std::vector<std::string> Described(const std::vector<GuardedPath>& paths) {
  std::vector<std::string> lines;
  for (const GuardedPath& p : paths)
    lines.push_back(std::string(RoleName(p.role)) + (p.may_be_missing ? "?" : "") + " " + Narrow(p.path));
  return lines;
}

TEST(GuardRightsTest, TheWalkCoversTheProgramItsSettingsAndEveryFolderUpToTheRoot) {
  struct Case {
    const wchar_t* exe;
    std::vector<std::string> paths;
  } cases[] = {
      {L"C:\\Program Files\\dadado\\dadado.exe",
       {"file C:\\Program Files\\dadado\\dadado.exe", "file? C:\\Program Files\\dadado\\dadado.ini",
        "folder C:\\Program Files\\dadado", "ancestor C:\\Program Files", "ancestor C:\\"}},
      // In the root itself: the root is its folder, with nothing above.
      {L"C:\\dadado.exe", {"file C:\\dadado.exe", "file? C:\\dadado.ini", "folder C:\\"}},
      // ".." and "/" resolved first, so that no real folder is skipped.
      {L"C:/Tools/../Program Files/dadado/DaDaDo.EXE",
       {"file C:\\Program Files\\dadado\\DaDaDo.EXE", "file? C:\\Program Files\\dadado\\DaDaDo.ini",
        "folder C:\\Program Files\\dadado", "ancestor C:\\Program Files", "ancestor C:\\"}},
      // A share's root is the server and the share.
      {L"\\\\server\\share\\apps\\dadado.exe",
       {"file \\\\server\\share\\apps\\dadado.exe", "file? \\\\server\\share\\apps\\dadado.ini",
        "folder \\\\server\\share\\apps", "ancestor \\\\server\\share\\"}},
      {L"\\\\?\\C:\\dadado\\dadado.exe",
       {"file \\\\?\\C:\\dadado\\dadado.exe", "file? \\\\?\\C:\\dadado\\dadado.ini",
        "folder \\\\?\\C:\\dadado", "ancestor \\\\?\\C:\\"}},
      {L"\\\\?\\UNC\\server\\share\\dadado.exe",
       {"file \\\\?\\UNC\\server\\share\\dadado.exe", "file? \\\\?\\UNC\\server\\share\\dadado.ini",
        "folder \\\\?\\UNC\\server\\share\\"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Described(PathsTheGuardRunsFrom(c.exe)), c.paths) << Narrow(c.exe);
}

// A folder of its own under the temporary folder, removed with what it holds.
struct TempFolder {
  std::wstring path;
  TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"dadado-guard-" + std::to_wstring(GetTickCount64()) + L"-" +
           std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~TempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") DeleteFileW((path + L"\\" + name).c_str());
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }
  std::wstring operator/(const wchar_t* name) const { return path + L"\\" + name; }
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string FileBytes(const std::wstring& path) { return WinFileStore().Read(Narrow(path)).bytes; }

// The owner and DACL of a file as the system reads them back.
struct FileSecurity {
  bool read = false;
  std::wstring owner;  // "O:BA"
  std::wstring dacl;   // "D:P(A;;FA;;;SY)(A;;FA;;;BA)"
  bool is_protected = false;
  // Whether every entry came from the folder.
  bool all_inherited() const {
    std::size_t entries = 0, inherited = 0;
    for (std::size_t at = dacl.find(L'('); at != std::wstring::npos; at = dacl.find(L'(', at + 1)) {
      ++entries;
      const std::wstring flags = dacl.substr(at + 1, dacl.find(L';', dacl.find(L';', at) + 1) - at - 1);
      if (flags.find(L"ID") != std::wstring::npos) ++inherited;
    }
    return entries == inherited;
  }
  bool lets_everyone_in() const { return dacl.find(L";;;WD)") != std::wstring::npos; }
};

FileSecurity SecurityOf(const std::wstring& path) {
  FileSecurity result;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return result;
  wchar_t* text = nullptr;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION, &text,
                                                           nullptr)) {
    result.owner = text;
    LocalFree(text);
  }
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                           nullptr)) {
    result.dacl = text;
    LocalFree(text);
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  result.is_protected = (control & SE_DACL_PROTECTED) != 0;
  result.read = true;
  LocalFree(sd);
  return result;
}

// What the guard's settings file must read back as: on Windows exactly the
// protected list; under Wine at least without Everyone.
void ExpectProtected(const std::wstring& path) {
  const FileSecurity security = SecurityOf(path);
  ASSERT_TRUE(security.read);
  if (UnderWine()) {
    EXPECT_FALSE(security.lets_everyone_in()) << Narrow(security.dacl);
    return;
  }
  EXPECT_EQ(security.owner, L"O:BA");
  EXPECT_EQ(security.dacl, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)");
  EXPECT_TRUE(security.is_protected);
}

// ... and once the guard is gone: the folder's access, which in a
// temporary folder under Wine lets Everyone read.
void ExpectInherited(const std::wstring& path) {
  const FileSecurity security = SecurityOf(path);
  ASSERT_TRUE(security.read);
  if (UnderWine()) {
    EXPECT_TRUE(security.lets_everyone_in()) << Narrow(security.dacl);
    return;
  }
  EXPECT_EQ(security.owner, L"O:BA");
  EXPECT_FALSE(security.is_protected) << Narrow(security.dacl);
  EXPECT_TRUE(security.all_inherited()) << Narrow(security.dacl);
}

// Setting the owner to Administrators takes an administrator on Windows.
bool Elevated() {
  if (UnderWine()) return true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                        elevation.TokenIsElevated;
  CloseHandle(token);
  return elevated;
}

TEST(GuardRightsTest, WhereUsersCanWriteTheProgramIsTheFirstUnprotectedPath) {
  TempFolder folder;
  const std::wstring exe = folder / L"dadado.exe";
  // Missing: its security cannot be read.
  EXPECT_EQ(FirstUnprotectedPath(exe), exe);
  // The temporary folder is the user's own, and so is what is made in it.
  ASSERT_TRUE(WriteFileBytes(exe, "MZ"));
  EXPECT_EQ(FirstUnprotectedPath(exe), exe);
}

TEST(GuardRightsTest, WindowsOwnFolderIsProtected) {
  wchar_t system[MAX_PATH];
  ASSERT_TRUE(GetSystemDirectoryW(system, MAX_PATH));
  const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
  // Under Wine the current user owns every file, Windows' own ones too.
  if (UnderWine()) EXPECT_EQ(FirstUnprotectedPath(cmd), cmd);
  else EXPECT_EQ(FirstUnprotectedPath(cmd), std::nullopt);
}

TEST(GuardSettingsSecurityTest, AMissingSettingsFileIsMadeEmptyAndShutToUsers) {
  if (!Elevated()) GTEST_SKIP() << "needs an administrator";
  TempFolder folder;
  const std::wstring ini = folder / L"dadado.ini";
  ASSERT_TRUE(ProtectSettingsFile(ini)) << GetLastError();
  EXPECT_EQ(GetFileAttributesW(ini.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(FileBytes(ini), "");
  ExpectProtected(ini);
}

TEST(GuardSettingsSecurityTest, AnExistingSettingsFileKeepsItsContent) {
  if (!Elevated()) GTEST_SKIP() << "needs an administrator";
  TempFolder folder;
  const std::wstring ini = folder / L"dadado.ini";
  ASSERT_TRUE(WriteFileBytes(ini, "[s]\r\nk=v\r\n"));
  ASSERT_TRUE(ProtectSettingsFile(ini)) << GetLastError();
  EXPECT_EQ(FileBytes(ini), "[s]\r\nk=v\r\n");
  // Wine adds the folder's entries back here, whatever is asked.
  if (!UnderWine()) ExpectProtected(ini);
  // Again, as a second installation does.
  ASSERT_TRUE(ProtectSettingsFile(ini)) << GetLastError();
  EXPECT_EQ(FileBytes(ini), "[s]\r\nk=v\r\n");
}

TEST(GuardSettingsSecurityTest, RestoringGivesTheFileBackToItsFolder) {
  if (!Elevated()) GTEST_SKIP() << "needs an administrator";
  TempFolder folder;
  const std::wstring ini = folder / L"dadado.ini";
  ASSERT_TRUE(ProtectSettingsFile(ini)) << GetLastError();
  ExpectProtected(ini);
  ASSERT_TRUE(RestoreInheritedAccess(ini)) << GetLastError();
  ExpectInherited(ini);
  EXPECT_FALSE(RestoreInheritedAccess(folder / L"missing.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(GuardSettingsSecurityTest, WritingWithTheProtectedSecurityKeepsItAcrossTheReplacement) {
  if (!Elevated()) GTEST_SKIP() << "needs an administrator";
  TempFolder folder;
  const std::wstring ini = folder / L"dadado.ini";
  ProtectedFileSecurity security;
  ASSERT_NE(security.descriptor(), nullptr);
  WinFileStore guarded(security.descriptor());
  ASSERT_TRUE(guarded.WriteAtomically(Narrow(ini), "first"));
  ExpectProtected(ini);
  ASSERT_TRUE(guarded.WriteAtomically(Narrow(ini), "second"));
  ExpectProtected(ini);
  EXPECT_EQ(FileBytes(ini), "second");
  // Without it the replacement brings the folder's access with it.
  WinFileStore plain;
  ASSERT_TRUE(plain.WriteAtomically(Narrow(ini), "third"));
  ExpectInherited(ini);
  EXPECT_EQ(FileBytes(ini), "third");
}

// Two channels over two real unnamed pipes, as the service and its face hold them.
struct ChannelPair {
  std::unique_ptr<PipeChannel> service, face;
  UniqueHandle arrived{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  ChannelPair() {
    HANDLE a_read, a_write, b_read, b_write;
    CreatePipe(&a_read, &a_write, nullptr, 4096);
    CreatePipe(&b_read, &b_write, nullptr, 4096);
    HANDLE event = arrived.get();
    service = std::make_unique<PipeChannel>(UniqueHandle(b_read), UniqueHandle(a_write), [event] { SetEvent(event); });
    face = std::make_unique<PipeChannel>(UniqueHandle(a_read), UniqueHandle(b_write), [] {});
  }
};

TEST(PipeChannelTest, MessagesCrossBothWaysAndAnAnswerIsWaitedFor) {
  ChannelPair pair;
  pair.face->Send(protocol::Message(protocol::kCheck).Set("id", 1).Set("password", "密码\n"));
  ASSERT_EQ(WaitForSingleObject(pair.arrived.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  auto got = pair.service->Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Get("password"), "密码\n");
  pair.service->Send(protocol::Message(protocol::kTip).Set("text", "x"));
  pair.service->Send(protocol::Message(protocol::kReply).Set("id", 1).Set("result", "ok"));
  const auto reply = pair.face->WaitFor([](const protocol::Message& m) { return m.type == protocol::kReply; },
                                        std::chrono::seconds(5));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Get("result"), "ok");
  const auto rest = pair.face->Received();  // the tooltip stays for the message loop
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].type, protocol::kTip);
}

// A face that reads nothing (suspended, or hostile) never holds the
// service up, and one that ends is seen to end.
TEST(PipeChannelTest, APeerThatNeverReadsCostsNothingAndOneThatGoesBreaksIt) {
  ChannelPair pair;
  const std::string big(3000, 'x');
  const DWORD started = GetTickCount();
  for (int i = 0; i < 2000; ++i) pair.service->Send(protocol::Message(protocol::kTip).Set("text", big));
  EXPECT_LT(GetTickCount() - started, 5000u);
  EXPECT_FALSE(pair.service->broken());
  pair.face.reset();
  for (int i = 0; i < 50 && !pair.service->broken(); ++i) Sleep(100);
  EXPECT_TRUE(pair.service->broken());
}

TEST(PipeChannelTest, WhatIsNoMessageBreaksTheChannel) {
  HANDLE read, write;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 4096));
  UniqueHandle writer(write);
  UniqueHandle arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HANDLE event = arrived.get();
  PipeChannel channel(UniqueHandle(read), UniqueHandle(), [event] { SetEvent(event); });
  const char garbage[] = "\x05\0\0\0NOPE!";
  DWORD put = 0;
  WriteFile(writer.get(), garbage, sizeof garbage - 1, &put, nullptr);
  for (int i = 0; i < 50 && !channel.broken(); ++i) WaitForSingleObject(event, 100);
  EXPECT_TRUE(channel.broken());
  EXPECT_TRUE(channel.Received().empty());
}

// A face that keeps the pipe busy must not keep the service's loop busy: a
// frame dribbled in byte by byte wakes nothing until it is whole, and a
// stream of messages beyond what a face ever sends breaks the channel.
TEST(PipeChannelTest, OnlyWholeMessagesWakeTheOwnerAndAFloodBreaksTheChannel) {
  HANDLE read, write;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 4096));
  UniqueHandle writer(write);
  UniqueHandle arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HANDLE event = arrived.get();
  PipeChannel channel(UniqueHandle(read), UniqueHandle(), [event] { SetEvent(event); },
                      PipeChannel::FaceBudget());
  const std::string frame = protocol::Encode(protocol::Message(protocol::kIdle).Set("seconds", 5));
  DWORD put = 0;
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    ASSERT_TRUE(WriteFile(writer.get(), frame.data() + i, 1, &put, nullptr));
    Sleep(1);
  }
  EXPECT_EQ(WaitForSingleObject(event, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(WriteFile(writer.get(), frame.data() + frame.size() - 1, 1, &put, nullptr));
  ASSERT_EQ(WaitForSingleObject(event, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(channel.Received().size(), 1u);
  EXPECT_FALSE(channel.broken());

  std::string flood;
  for (std::size_t i = 0; i <= PipeChannel::kFaceMessagesPerSecond; ++i) flood += frame;
  ASSERT_TRUE(WriteFile(writer.get(), flood.data(), static_cast<DWORD>(flood.size()), &put, nullptr));
  for (int i = 0; i < 50 && !channel.broken(); ++i) WaitForSingleObject(event, 100);
  EXPECT_TRUE(channel.broken());
}

// The face knows the service's pipes by their server: the process that made
// them. An unnamed pipe is a named pipe without a name, and has one.
TEST(GuardObjectsTest, AnUnnamedPipeNamesTheProcessThatMadeIt) {
  HANDLE read, write;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 4096));
  UniqueHandle r(read), w(write);
  for (HANDLE h : {read, write}) {
    ULONG server = 0;
    ASSERT_TRUE(GetNamedPipeServerProcessId(h, &server)) << GetLastError();
    EXPECT_EQ(server, GetCurrentProcessId());
  }
}

// Handle numbers on a command line mean nothing unless they are pipes the
// running guard service handed over.
TEST(GuardObjectsTest, OnlyPipesFromTheRunningGuardMakeAFace) {
  EXPECT_FALSE(FacePipesFromArguments(L"", L"8"));
  EXPECT_FALSE(FacePipesFromArguments(L"x", L"8"));
  EXPECT_FALSE(FacePipesFromArguments(L"12345678", L"87654320"));
  HANDLE read, write;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 4096));
  UniqueHandle r(read), w(write);
  const std::wstring a = std::to_wstring(reinterpret_cast<std::uintptr_t>(read));
  const std::wstring b = std::to_wstring(reinterpret_cast<std::uintptr_t>(write));
  // Real pipes, but of this process, and no guard runs here.
  EXPECT_FALSE(GuardServiceRunning());
  EXPECT_FALSE(FacePipesFromArguments(a.c_str(), b.c_str()));
}

// While the service runs, a user who may read its executable cannot hold it
// unshared (which would keep its face from starting); starting it as
// CreateProcess opens it, and an installer's rename, still work.
TEST(GuardObjectsTest, AHeldExecutableCannotBeHeldUnsharedYetStillStartsAndMoves) {
  TempFolder folder;
  const std::wstring exe = folder / L"dadado.exe", moved = folder / L"dadado.exe.old";
  ASSERT_TRUE(UniqueHandle(CreateFileW(exe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  UniqueHandle held = HoldAgainstExclusiveOpens(exe);
  ASSERT_TRUE(held);
  UniqueHandle unshared(CreateFileW(exe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(unshared);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(UniqueHandle(CreateFileW(exe.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr)));
  EXPECT_TRUE(MoveFileExW(exe.c_str(), moved.c_str(), 0));
  held.reset();
  EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

TEST(GuardObjectsTest, NoRecordBeforeTheGuardPerformedAnything) { EXPECT_FALSE(GuardPerformedLast()); }

// ---- the status file ---------------------------------------------------------------

TEST(StatusFileTest, TheStatusLiesBesideTheExecutableUnderItsName) {
  const struct {
    const wchar_t* exe;
    const wchar_t* status;
  } cases[] = {
      {L"C:\\Program Files\\dadado\\dadado.exe", L"C:\\Program Files\\dadado\\dadado.status.json"},
      {L"D:\\tools\\Renamed.EXE", L"D:\\tools\\Renamed.status.json"},
      {L"C:\\a.b\\tool.v2.exe", L"C:\\a.b\\tool.v2.status.json"},
      {L"\\\\server\\share\\dadado.exe", L"\\\\server\\share\\dadado.status.json"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusPathOf(c.exe), c.status) << Narrow(c.exe);
}

// /status believes a file only from the process that runs as the service
// now: the mark the service writes must read back, stay the same for its
// whole life, and differ for a process started later under the same id.
TEST(StatusFileTest, AProcessMarkReadsBackAndTellsOneStartFromAnother) {
  const auto self = WriterOfProcess(GetCurrentProcessId(), GetCurrentProcess());
  ASSERT_TRUE(self);
  EXPECT_EQ(self->pid, GetCurrentProcessId());
  EXPECT_EQ(self->started.size(), std::string("2026-12-08T06:00:00.1234567Z").size()) << self->started;
  EXPECT_EQ(WriterOfStatus(StatusJson(ControlStatus{}, self)), self);
  Sleep(20);
  EXPECT_EQ(WriterOfProcess(GetCurrentProcessId(), GetCurrentProcess()), self);

  wchar_t command[MAX_PATH + 32] = {};
  GetSystemDirectoryW(command, MAX_PATH);
  lstrcatW(command, L"\\cmd.exe /c exit");
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  const auto child = WriterOfProcess(GetCurrentProcessId(), process.get());
  ASSERT_TRUE(child);
  EXPECT_NE(child->started, self->started);
  WaitForSingleObject(process.get(), 10000);
}

TEST(StatusFileTest, NoServiceNoStatusWhateverTheRegistrySays) {
  const auto self = WriterOfProcess(GetCurrentProcessId(), GetCurrentProcess());
  ASSERT_TRUE(self);
  RegistryStateStore store;
  const bool had = store.Get(kStatusValue).has_value();
  ASSERT_TRUE(store.Set(kStatusValue, StatusJson(ControlStatus{}, self)));
  EXPECT_FALSE(GuardServiceRunning());
  const GuardStatusRead read = CurrentGuardStatus();
  EXPECT_FALSE(read.running);
  EXPECT_EQ(read.text, std::nullopt);
  if (!had) store.Remove(kStatusValue);
}

// The service's state: named texts, Chinese ones too, that a later run
// reads back; removing what is not there is no failure.
TEST(RegistryStateStoreTest, ValuesReadBackAndGo) {
  const std::wstring key = L"Software\\dadado-state-test-" + std::to_wstring(GetCurrentProcessId());
  RegistryStateStore store(HKEY_CURRENT_USER, key);
  EXPECT_TRUE(store.Remove("TodaysUse"));  // nor the key itself
  ASSERT_TRUE(store.Set("TodaysUse", "2026/12/7,40"));
  ASSERT_TRUE(store.Set("备注", "推迟定时，已用分钟"));
  ASSERT_TRUE(store.Set("Empty", ""));
  RegistryStateStore again(HKEY_CURRENT_USER, key);
  EXPECT_TRUE(again.Protect());
  EXPECT_EQ(again.Get("备注"), "推迟定时，已用分钟");
  EXPECT_EQ(again.Get("Empty"), "");
  EXPECT_EQ(again.Get("TodaysUse", 8), std::nullopt);  // longer than asked for
  EXPECT_TRUE(again.Remove("TodaysUse"));
  EXPECT_EQ(again.Get("TodaysUse"), std::nullopt);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// A handle that only reads a file's attributes needs nothing but the
// folder's List right. On Windows it cannot keep the file from being
// replaced; Wine (8.0) has no such rename and refuses the move, and the
// write is then reported as failed with the old content kept.
TEST(WinFileStoreTest, AHolderOfTheFileCannotStopAWriteWhereWindowsCanReplaceIt) {
  TempFolder folder;
  const std::wstring path = folder / L"held.ini";
  ASSERT_TRUE(WriteFileBytes(path, "old"));
  UniqueHandle holder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder) << GetLastError();
  EXPECT_EQ(WinFileStore().WriteAtomically(Narrow(path), "new"), !UnderWine());
  holder.reset();
  EXPECT_EQ(FileBytes(path), UnderWine() ? "old" : "new");
  // Unheld, either way.
  EXPECT_TRUE(WinFileStore().WriteAtomically(Narrow(path), "newer"));
  EXPECT_EQ(FileBytes(path), "newer");
}

// The default value of the service's key in a Safe Mode list, or the error.
std::wstring SafeBootEntry(const wchar_t* list, const std::wstring& name) {
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\") + list + L"\\" + name;
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  const LSTATUS r = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
  return r == ERROR_SUCCESS ? value : L"error " + std::to_wstring(r);
}

// What Wine's service manager does with the guard's installation. A service
// of its own name, never started: its command would start this test.
TEST(GuardServiceManagerTest, InstallConfiguresAndUninstallRemoves) {
  const std::wstring name = L"dadadoGuardWineTest";
  TempFolder folder;
  GuardServiceConfig config;
  config.name = name;
  config.executable = folder / L"dadado.exe";
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
  EXPECT_EQ(std::wstring(cfg->lpBinaryPathName), L"\"" + config.executable + L"\" /guard-service");
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

  // Windows starts it in Safe Mode, minimal and with networking.
  for (const wchar_t* list : {L"Minimal", L"Network"}) EXPECT_EQ(SafeBootEntry(list, name), L"Service") << list;

  // Installing again keeps one service.
  EXPECT_EQ(InstallGuardService(config).outcome, GuardSetupOutcome::kDone);
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kDone);
  for (const wchar_t* list : {L"Minimal", L"Network"})
    EXPECT_EQ(SafeBootEntry(list, name), L"error " + std::to_wstring(ERROR_FILE_NOT_FOUND)) << list;
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kNotInstalled);
  CloseServiceHandle(scm);
}

// The settings file is the service's from before its first start until it
// is removed, found through the command of the service, not this process.
TEST(GuardServiceManagerTest, TheServiceOwnsTheSettingsFileWhileInstalled) {
  const std::wstring name = L"dadadoGuardWineTest";
  TempFolder folder;
  GuardServiceConfig config;
  config.name = name;
  config.executable = folder / L"guarded.exe";
  config.start = false;
  config.check_rights = false;
  UninstallGuardService(name);
  ASSERT_EQ(InstallGuardService(config).outcome, GuardSetupOutcome::kDone);
  const std::wstring ini = folder / L"guarded.ini";
  EXPECT_EQ(FileBytes(ini), "");
  ExpectProtected(ini);
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kDone);
  ExpectInherited(ini);
}

// Nothing is installed from where users could replace the program, and the
// refusal names what they could change.
TEST(GuardServiceManagerTest, InstallRefusesALocationUsersCanChange) {
  const std::wstring name = L"dadadoGuardWineTest";
  TempFolder folder;
  GuardServiceConfig config;
  config.name = name;
  config.executable = folder / L"dadado.exe";
  config.start = false;
  ASSERT_TRUE(WriteFileBytes(config.executable, "MZ"));
  UninstallGuardService(name);
  const GuardSetupResult r = InstallGuardService(config);
  EXPECT_EQ(r.outcome, GuardSetupOutcome::kUnprotectedLocation);
  EXPECT_EQ(r.path, config.executable);
  EXPECT_EQ(UninstallGuardService(name).outcome, GuardSetupOutcome::kNotInstalled);
  EXPECT_EQ(GetFileAttributesW((folder / L"dadado.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(GuardServiceManagerTest, NotStartedByTheServiceManager) { EXPECT_FALSE(RunGuardService()); }

}  // namespace
}  // namespace dadado::win32
