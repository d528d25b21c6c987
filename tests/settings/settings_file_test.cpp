#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "settings/ini_text.h"
#include "system/posix/posix_file_store.h"
#include "settings/text.h"
#include "support/fakes.h"

namespace dadado {
namespace {

using testing::MemoryFileStore;

struct SettingsFileTest : ::testing::Test {
  MemoryFileStore store;
  SettingsFile file{store, "C:\\app\\dadado.ini"};
  std::string Bytes() { return store.files["C:\\app\\dadado.ini"]; }
};

TEST(SettingsFilePath, IsFolderSeparatorBaseNameIni) {
  EXPECT_EQ(SettingsFilePath("C:\\Tools", "dadado", '\\'), "C:\\Tools\\dadado.ini");
  // A root folder already ends with the separator; the path then holds two,
  // which Windows reads as one.
  EXPECT_EQ(SettingsFilePath("C:\\", "renamed", '\\'), "C:\\\\renamed.ini");
}

TEST_F(SettingsFileTest, IntegersAreStoredWithASignPosition) {
  file.WriteIniInt("常规设置", "a", 3);
  file.WriteIniInt("常规设置", "b", 0);
  file.WriteIniInt("常规设置", "c", -1);
  EXPECT_EQ(GbkToUtf8(Bytes()), "[常规设置]\r\na= 3\r\nb= 0\r\nc=-1\r\n");
  EXPECT_EQ(file.ReadIniInt("常规设置", "a", 9), 3);
  EXPECT_EQ(file.ReadIniInt("常规设置", "b", 9), 0);
  EXPECT_EQ(file.ReadIniInt("常规设置", "c", 9), -1);
}

TEST_F(SettingsFileTest, IntegerReads) {
  store.files["C:\\app\\dadado.ini"] =
      "[s]\nempty=\nword=abc\nlead=12abc\nbig=99999999999\nneg=-99999\nplus=+7\n";
  EXPECT_EQ(file.ReadIniInt("s", "missing", 3), 3);
  EXPECT_EQ(file.ReadIniInt("s", "empty", 3), 3);
  EXPECT_EQ(file.ReadIniInt("s", "word", 3), 0);
  EXPECT_EQ(file.ReadIniInt("s", "lead", 3), 12);
  EXPECT_EQ(file.ReadIniInt("s", "big", 3), 32767);
  EXPECT_EQ(file.ReadIniInt("s", "neg", 3), -32768);
  EXPECT_EQ(file.ReadIniInt("s", "plus", 3), 7);
  EXPECT_EQ(store.writes, 0);  // integer reads never write
}

TEST_F(SettingsFileTest, EmptyOrMissingStringWritesTheDefaultBack) {
  store.files["C:\\app\\dadado.ini"] = Utf8ToGbk("[时间控制]\r\n0week=\r\n");
  EXPECT_EQ(file.ReadIniString("时间控制", "0week", "24:00"), "24:00");
  EXPECT_EQ(file.ReadIniString("时间控制", "1week", "24:00"), "24:00");
  EXPECT_EQ(GbkToUtf8(Bytes()), "[时间控制]\r\n0week=24:00\r\n1week=24:00\r\n");
  // With an empty default the key stays without a usable value.
  EXPECT_EQ(file.ReadIniString("时间控制", "x", ""), "");
  EXPECT_EQ(file.ReadIniString("时间控制", "x", ""), "");
}

TEST_F(SettingsFileTest, MissingFileIsCreatedByAStringRead) {
  EXPECT_EQ(file.ReadIniString("常规设置", "定时时间", "12:00:00"), "12:00:00");
  EXPECT_EQ(Bytes(), Utf8ToGbk("[常规设置]\r\n定时时间=12:00:00\r\n"));
}

TEST_F(SettingsFileTest, LongValuesAreCutAt143BytesOnACharacterBoundary) {
  file.WriteIniString("s", "ascii", std::string(200, 'a'));
  EXPECT_EQ(file.ReadIniString("s", "ascii", "d"), std::string(143, 'a'));
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "中";
  file.WriteIniString("s", "cjk", chinese);
  std::string read = file.ReadIniString("s", "cjk", "d");
  EXPECT_EQ(CountChars(read), 71u);  // 142 bytes: the 72nd character would be split
  file.WriteIniString("s", "mixed", "a" + chinese);
  EXPECT_EQ(CountChars(file.ReadIniString("s", "mixed", "d")), 72u);  // a + 71 characters = 143 bytes
}

TEST_F(SettingsFileTest, ValueIsCutAtNul) {
  store.files["C:\\app\\dadado.ini"] = std::string("[s]\nk=ab\0cd\nz=\0\n", 16);
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "ab");
  EXPECT_EQ(file.ReadIniString("s", "z", "d"), "d");
}

TEST_F(SettingsFileTest, TheFileIsAlwaysGbkWhateverTheText) {
  file.WriteIniString("常规设置", "定时时间", "下午 3:04:05");
  EXPECT_EQ(Bytes(), "[\xB3\xA3\xB9\xE6\xC9\xE8\xD6\xC3]\r\n"
                     "\xB6\xA8\xCA\xB1\xCA\xB1\xBC\xE4=\xCF\xC2\xCE\xE7 3:04:05\r\n");
}

TEST_F(SettingsFileTest, AFailedWriteLeavesTheOldContentAndSaysSo) {
  file.WriteIniString("s", "k", "old");
  store.fail_writes = true;
  EXPECT_FALSE(file.WriteIniString("s", "k", "new"));
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "old");
}

TEST_F(SettingsFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
  file.WriteIniString("s", "k", "precious");
  store.fail_reads = true;
  EXPECT_FALSE(file.WriteIniString("s", "k2", "v"));
  // What was read last stands while the file cannot be read; a missing
  // key's default is not written either.
  EXPECT_EQ(file.ReadIniString("s", "k", "fallback"), "precious");
  EXPECT_EQ(file.ReadIniString("s", "other", "fallback"), "fallback");
  EXPECT_TRUE(file.read_failed());
  store.fail_reads = false;
  EXPECT_EQ(file.ReadIniString("s", "k", "fallback"), "precious");
  EXPECT_EQ(file.Peek("s", "k2"), std::nullopt);
}

// Held open by another program, the file fails one read and not the next:
// the default that the failed read fell back on must not land in the file.
TEST_F(SettingsFileTest, AReadThatFailsOnceNeverWritesItsDefaultOverTheValue) {
  store.files["C:\\app\\dadado.ini"] = "[s]\r\nk=precious\r\n";
  store.fail_next_reads = 1;
  EXPECT_EQ(file.ReadIniString("s", "k", "default"), "default");
  EXPECT_EQ(file.blind_reads(), 1);
  EXPECT_EQ(Bytes(), "[s]\r\nk=precious\r\n");
  // A key that is really missing still gets its default, as ever.
  EXPECT_EQ(file.ReadIniString("s", "new", "d"), "d");
  EXPECT_EQ(file.Peek("s", "new"), "d");
  EXPECT_EQ(file.Peek("s", "k"), "precious");
}

TEST_F(SettingsFileTest, ReadsFromTheLastGoodReadWhileTheFileCannotBeRead) {
  store.files["C:\\app\\dadado.ini"] = "[s]\r\nn= 7\r\n";
  EXPECT_EQ(file.ReadIniInt("s", "n", 0), 7);
  store.fail_reads = true;
  EXPECT_EQ(file.ReadIniInt("s", "n", 0), 7);
  EXPECT_EQ(file.Peek("s", "n"), "7");
  EXPECT_EQ(file.blind_reads(), 0);
  EXPECT_FALSE(file.Refresh());
  store.fail_reads = false;
  EXPECT_TRUE(file.Refresh());
}

// ---- on a real disk ---------------------------------------------------------------

TEST(SettingsFileOnDisk, WritesAreAtomicAndLeaveNoTemporaryFiles) {
  auto dir = testing::MakeTempDir("atomic");
  PosixFileStore store;
  SettingsFile file(store, (dir / "dadado.ini").string());
  file.WriteIniString("常规设置", "k", "v1");
  file.WriteIniString("常规设置", "k", "v2");
  EXPECT_EQ(file.ReadIniString("常规设置", "k", "d"), "v2");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1);
  std::filesystem::remove_all(dir);
}

TEST(SettingsFileOnDisk, ReadOnlyFolderKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  auto dir = testing::MakeTempDir("readonly");
  PosixFileStore store;
  SettingsFile file(store, (dir / "dadado.ini").string());
  ASSERT_TRUE(file.WriteIniString("s", "k", "old"));
  ::chmod(dir.c_str(), 0555);
  EXPECT_FALSE(file.WriteIniString("s", "k", "new"));
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "old");
  ::chmod(dir.c_str(), 0755);
  std::filesystem::remove_all(dir);
}

TEST(SettingsFileOnDisk, MissingFolderReadsDefaultsWithoutFailing) {
  PosixFileStore store;
  SettingsFile file(store, "/nonexistent-dadado-folder/dadado.ini");
  EXPECT_EQ(file.ReadIniInt("s", "k", 5), 5);
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "d");
  EXPECT_FALSE(file.WriteIniString("s", "k", "v"));
}

// A full disk: the writer may write only a few bytes, so the new file cannot
// be completed; the old one must stay whole.
TEST(SettingsFileOnDisk, FullDiskKeepsTheOldFile) {
  auto dir = testing::MakeTempDir("full");
  const std::string path = (dir / "dadado.ini").string();
  PosixFileStore store;
  SettingsFile file(store, path);
  ASSERT_TRUE(file.WriteIniString("s", "k", "old"));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    PosixFileStore child_store;
    SettingsFile child(child_store, path);
    bool wrote = child.WriteIniString("s", "k", std::string(5000, 'n'));
    ::_exit(wrote ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write claimed success";
  EXPECT_EQ(file.ReadIniString("s", "k", "d"), "old");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1);  // the unfinished temporary file was removed
  std::filesystem::remove_all(dir);
}

// A writer killed at random moments, many times: the file always reads back
// whole, as the content of one complete write.
TEST(SettingsFileOnDisk, KilledWriterNeverLeavesATornFile) {
  auto dir = testing::MakeTempDir("killed");
  const std::string path = (dir / "dadado.ini").string();
  std::mt19937 rng(12345);
  PosixFileStore store;
  for (int trial = 0; trial < 60; ++trial) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::execl(SETTINGS_WRITER, SETTINGS_WRITER, path.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 20000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    FileContent content = store.Read(path);
    if (content.status == ReadStatus::kMissing) continue;  // killed before the first write
    ASSERT_EQ(content.status, ReadStatus::kOk);
    IniText ini(content.bytes);
    auto generation = ini.Get(Utf8ToGbk("常规设置"), "generation");
    ASSERT_TRUE(generation.has_value()) << "trial " << trial;
    EXPECT_GT(std::stol(*generation), 0);
    auto pad = ini.Get(Utf8ToGbk("常规设置"), "pad");
    if (pad) {
      EXPECT_TRUE(pad->size() == 20000 || pad->size() == 30000) << pad->size();
    }
    EXPECT_EQ(content.bytes.substr(content.bytes.size() - 2), "\r\n");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dadado
