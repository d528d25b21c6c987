#include "settings/text.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

TEST(GbkText, ChineseRoundTripsThroughTheCodePage) {
  const std::string utf8 = "常规设置 时间控制 星期日 abc 123";
  std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.substr(0, 2), "\xB3\xA3");  // 常 is B3A3 in code page 936
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkText, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToGbk("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("\xE0\x80"), "??");  // malformed UTF-8: one per byte
}

TEST(GbkText, InvalidBytesDecodeToReplacementCharacters) {
  // A lone lead byte at the end, an unassigned pair and 0xFF.
  EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_EQ(GbkToUtf8("\xFF" "b"), "\xEF\xBF\xBD" "b");
  EXPECT_EQ(GbkToUtf8("\xA1\x20"), "\xEF\xBF\xBD ");
}

TEST(GbkText, SafePrefixNeverSplitsADoubleByteCharacter) {
  std::string gbk = Utf8ToGbk("a中文");  // 1 + 2 + 2 bytes
  EXPECT_EQ(GbkSafePrefixLength(gbk, 5), 5u);
  EXPECT_EQ(GbkSafePrefixLength(gbk, 4), 3u);
  EXPECT_EQ(GbkSafePrefixLength(gbk, 2), 1u);
  EXPECT_EQ(GbkSafePrefixLength(gbk, 0), 0u);
}

TEST(GbkText, CodesAndCharacters) {
  EXPECT_EQ(GbkCodeOf(U'A'), 65);
  EXPECT_EQ(GbkCodeOf(U'中'), 0xD6D0);
  EXPECT_FALSE(GbkCodeOf(U'😀').has_value());
  EXPECT_EQ(CharOfGbkCode(0xD6D0), U'中');
  EXPECT_FALSE(CharOfGbkCode(0x81).has_value());
  EXPECT_FALSE(CharOfGbkCode(0x2972).has_value());
}

}  // namespace
}  // namespace dadado
