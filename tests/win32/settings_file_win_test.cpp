// The settings file on a real Windows file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "settings/settings_file.h"
#include "settings/text.h"
#include "system/win32/wide.h"
#include "system/win32/win_file_store.h"

namespace dadado::win32 {
namespace {

std::wstring TempFolder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + L"dadado-test-" + std::to_wstring(GetTickCount64()) + L"-" +
                     std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

std::string RawBytes(const std::wstring& path) {
  WinFileStore store;
  return store.Read(Narrow(path)).bytes;
}

struct SettingsFileWin : ::testing::Test {
  std::wstring dir = TempFolder();
  std::wstring path = dir + L"\\dadado.ini";
  WinFileStore store;
  SettingsFile file{store, Narrow(path)};
  void TearDown() override {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    RemoveDirectoryW(dir.c_str());
  }
};

TEST_F(SettingsFileWin, ChineseKeysAreGbkOnDiskByteForByte) {
  ASSERT_TRUE(file.WriteIniInt("常规设置", "频率", 3));
  ASSERT_TRUE(file.WriteIniString("时间控制", "0week", "08:00+09:00"));
  const std::string expected =
      "[\xB3\xA3\xB9\xE6\xC9\xE8\xD6\xC3]\r\n"  // [常规设置]
      "\xC6\xB5\xC2\xCA= 3\r\n"                  // 频率= 3
      "[\xCA\xB1\xBC\xE4\xBF\xD8\xD6\xC6]\r\n"  // [时间控制]
      "0week=08:00+09:00\r\n";
  EXPECT_EQ(RawBytes(path), expected);
  EXPECT_EQ(file.ReadIniInt("常规设置", "频率", 0), 3);
  EXPECT_EQ(file.ReadIniString("时间控制", "0WEEK", "x"), "08:00+09:00");
}

TEST_F(SettingsFileWin, ReadOnlyFileKeepsItsContentAndReportsIt) {
  ASSERT_TRUE(file.WriteIniString("s", "k", "old"));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(file.WriteIniString("s", "k", "new"));
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "old");
}

TEST_F(SettingsFileWin, LockedFileKeepsItsContentAndReportsIt) {
  ASSERT_TRUE(file.WriteIniString("s", "k", "old"));
  HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file.WriteIniString("s", "k", "new"));
  CloseHandle(lock);
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "old");
  EXPECT_TRUE(file.WriteIniString("s", "k", "new"));
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "new");
}

TEST_F(SettingsFileWin, NoTemporaryFileIsLeftBehind) {
  for (int i = 0; i < 5; ++i) file.WriteIniString("s", "k", std::to_string(i));
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  int files = 0;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace dadado::win32
