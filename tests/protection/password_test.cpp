#include "protection/password.h"

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "settings/text.h"
#include "support/fakes.h"

namespace dadado {
namespace {

// A direct model of the steps for printable ASCII input, to check single
// positions against.
int Step(int code, int length) {
  int v = code - length;
  if (v > 126) v /= 10;
  if (v <= 32) v = (33 - v) + (length + 33);
  if (v == 96 || v == 46) v += length;
  return v;
}

TEST(EncodePassword, AlwaysTwentyFiveCharacters) {
  for (std::string s : std::initializer_list<std::string>{"", "a", "mossgate", std::string(25, 'z'), std::string(300, 'q'), std::string("中文密码")})
    EXPECT_EQ(CountChars(EncodePassword(s)), 25u) << s;
}

TEST(EncodePassword, EmptyInputEncodesThePad) {
  std::string expected;
  for (char c : std::string(kEncodingPad)) expected += static_cast<char>(Step(c, 0));
  for (char& c : expected) c = c == '\'' ? '@' : c == '"' ? '~' : c;
  EXPECT_EQ(EncodePassword(""), expected);
}

TEST(EncodePassword, DefaultPasswordMatchesTheStepsByHand) {
  const std::string input = "mossgate";
  std::string work = (input + kEncodingPad).substr(0, 25);
  std::string expected;
  for (char c : work) expected += static_cast<char>(Step(c, 8));
  for (char& c : expected) c = c == '\'' ? '@' : c == '"' ? '~' : c;
  EXPECT_EQ(EncodePassword(input), expected);
}

TEST(EncodePassword, BoundaryValues) {
  // Single characters with length 1: the first position is code - 1.
  struct Case {
    char input;
    char first;
  };
  const Case cases[] = {
      {'!', static_cast<char>(66 + 1 - 32)},  // 33 - 1 = 32: changed by step 3
      {'"', '"' - 1},                         // 34 - 1 = 33: left alone
      {'~', '}'},                             // 126 - 1 = 125
      {'a', '`' + 1},                         // 97 - 1 = 96: grave accent gets + L
      {'/', '.' + 1},                         // 47 - 1 = 46: full stop gets + L
      {'(', '@'},                             // 40 - 1 = 39: apostrophe becomes @
      {'#', '~'},                             // 35 - 1 = 34: double quote becomes ~
  };
  for (const Case& c : cases) EXPECT_EQ(EncodePassword(std::string(1, c.input))[0], c.first) << c.input;
  // 126 stays, 127 is divided by ten and then lifted by step 3.
  EXPECT_EQ(Step(126 + 0, 0), 126);
  EXPECT_EQ(Step(127, 0), 66 - 12);
}

TEST(EncodePassword, OnlyTheFirst25CharactersAndTheLengthCount) {
  std::string a = std::string(25, 'k') + "xyz";
  std::string b = std::string(25, 'k') + "abc";
  EXPECT_EQ(EncodePassword(a), EncodePassword(b));
  EXPECT_NE(EncodePassword(a), EncodePassword(a + "d"));
}

TEST(EncodePassword, LetterCaseMatters) { EXPECT_NE(EncodePassword("Mossgate"), EncodePassword("mossgate")); }

TEST(EncodePassword, PrintableAsciiGivesPrintableAsciiWithoutQuotes) {
  for (int len = 0; len <= 25; ++len)
    for (int c = 32; c <= 126; ++c) {
      std::string out = EncodePassword(std::string(len, static_cast<char>(c)));
      for (char o : out) {
        EXPECT_GE(o, 33);
        EXPECT_LE(o, 126);
        EXPECT_NE(o, '\'');
        EXPECT_NE(o, '"');
      }
    }
}

TEST(EncodePassword, AnyInputIsDeterministicAndSurvivesTheSettingsFile) {
  testing::MemoryFileStore store;
  SettingsFile file(store, "p.ini");
  std::string inputs[] = {"中文密码", "密码🙂", std::string(5000, 'x') + "中文", "\x01\x02\x7f", "é€ñ",
                          std::string(40000, 'a')};
  for (const std::string& in : inputs) {
    std::string encoded = EncodePassword(in);
    EXPECT_EQ(encoded, EncodePassword(in));
    ASSERT_TRUE(file.WriteIniString("时间控制", "密码", encoded));
    EXPECT_EQ(file.ReadIniString("时间控制", "密码", ""), encoded) << in.substr(0, 20);
    EXPECT_TRUE(PasswordMatches(file, in));
  }
}

TEST(StoredPassword, MissingPasswordIsTheDefaultAndGetsWritten) {
  testing::MemoryFileStore store;
  SettingsFile file(store, "p.ini");
  EXPECT_TRUE(PasswordMatches(file, "mossgate"));
  EXPECT_EQ(file.ReadIniString("时间控制", "密码", ""), EncodePassword("mossgate"));
  EXPECT_FALSE(PasswordMatches(file, "wrong"));
}

// A file held open by another program must not make the documented default
// password valid; a password read before still counts.
TEST(StoredPassword, AnUnreadableFileFailsClosed) {
  testing::MemoryFileStore store;
  store.files["p.ini"] = Utf8ToGbk("[时间控制]\r\n密码=" + EncodePassword("secret") + "\r\n");
  store.fail_reads = true;
  SettingsFile fresh(store, "p.ini");
  EXPECT_FALSE(PasswordMatches(fresh, "mossgate"));
  EXPECT_FALSE(PasswordMatches(fresh, "secret"));
  EXPECT_EQ(StoredPassword(fresh), std::nullopt);

  store.fail_reads = false;
  SettingsFile known(store, "p.ini");
  EXPECT_TRUE(PasswordMatches(known, "secret"));
  store.fail_reads = true;
  EXPECT_TRUE(PasswordMatches(known, "secret"));
  EXPECT_FALSE(PasswordMatches(known, "mossgate"));
}

}  // namespace
}  // namespace dadado
