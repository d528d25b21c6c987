#include "settings/ini_text.h"

#include <gtest/gtest.h>

namespace dadado {
namespace {

TEST(IniText, FindsSectionsAndKeysWithoutRegardToCase) {
  IniText ini("[General]\r\nKey=value\r\n");
  EXPECT_EQ(ini.Get("general", "KEY"), "value");
  EXPECT_EQ(ini.Get("GENERAL", "key"), "value");
  EXPECT_FALSE(ini.Get("other", "key"));
  EXPECT_FALSE(ini.Get("general", "missing"));
}

TEST(IniText, DoubleByteTrailBytesAreNotCaseFolded) {
  // 0xB0 0x41 and 0xB0 0x61 are two different characters.
  IniText ini("[s]\n\xB0\x41=1\n");
  EXPECT_EQ(ini.Get("s", "\xB0\x41"), "1");
  EXPECT_FALSE(ini.Get("s", "\xB0\x61"));
}

TEST(IniText, ValuesAreTrimmedAndKeepInnerBlanksAndEquals) {
  IniText ini("[s]\n  k  =  a = b  \t\n");
  EXPECT_EQ(ini.Get("s", "k"), "a = b");
}

TEST(IniText, WriteReplacesInPlaceAndKeepsEverythingElse) {
  IniText ini("; my notes\r\n[s]\r\nk=old\r\nother=1\r\n[t]\r\nx=2\r\n");
  ini.Set("S", "K", "new");
  EXPECT_EQ(ini.bytes(), "; my notes\r\n[s]\r\nk=new\r\nother=1\r\n[t]\r\nx=2\r\n");
}

TEST(IniText, WriteAppendsKeyToItsSectionAndSectionToFile) {
  IniText ini("[s]\nk=1\n\n[t]\nx=2\n");
  ini.Set("s", "new", "v");
  EXPECT_EQ(ini.bytes(), "[s]\nk=1\nnew=v\n\n[t]\nx=2\n");
  ini.Set("u", "y", "3");
  EXPECT_EQ(ini.bytes(), "[s]\nk=1\nnew=v\n\n[t]\nx=2\n[u]\ny=3\n");
}

TEST(IniText, NewDocumentUsesCrLf) {
  IniText ini;
  ini.Set("s", "k", "v");
  ini.Set("s", "k2", "v2");
  EXPECT_EQ(ini.bytes(), "[s]\r\nk=v\r\nk2=v2\r\n");
}

TEST(IniText, FileWithoutFinalNewline) {
  IniText a("[s]\nk=1");
  a.Set("s", "j", "2");
  EXPECT_EQ(a.bytes(), "[s]\nk=1\nj=2");
  IniText b("[s]\nk=1");
  b.Set("t", "j", "2");
  EXPECT_EQ(b.bytes(), "[s]\nk=1\n[t]\nj=2\n");
  IniText c("[s]\nk=1");
  c.Set("s", "k", "9");
  EXPECT_EQ(c.bytes(), "[s]\nk=9");
}

TEST(IniText, DuplicateSectionsAndKeysUseTheFirst) {
  IniText ini("[s]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
  EXPECT_EQ(ini.Get("s", "k"), "1");
  EXPECT_FALSE(ini.Get("s", "j"));  // only the first section is read
  ini.Set("s", "k", "9");
  EXPECT_EQ(ini.bytes(), "[s]\nk=9\nk=2\n[s]\nk=3\nj=4\n");
}

TEST(IniText, ByteOrderMarkIsSkippedAndKept) {
  IniText ini("\xEF\xBB\xBF[s]\r\nk=1\r\n");
  EXPECT_EQ(ini.Get("s", "k"), "1");
  ini.Set("s", "k", "2");
  EXPECT_EQ(ini.bytes(), "\xEF\xBB\xBF[s]\r\nk=2\r\n");
}

TEST(IniText, LineBreaksInAValueCannotForgeLines) {
  IniText ini;
  ini.Set("s", "k", std::string("a\r\n[evil]\nx=1\0y", 15));
  EXPECT_EQ(ini.Get("s", "k"), "a  [evil] x=1 y");
  EXPECT_FALSE(ini.Get("evil", "x"));
}

TEST(IniText, OddContentNeverBreaksReading) {
  std::string junk = "[unclosed\nno equals sign\n=novalue\n[s]\r\rk=\x01\xFF\x81\n";
  junk += std::string(100000, 'x') + "\n";
  IniText ini(junk);
  EXPECT_EQ(ini.Get("unclosed", "k"), std::nullopt);
  EXPECT_EQ(ini.Get("s", "k"), "\x01\xFF\x81");
  ini.Set("s", "k", "v");
  EXPECT_EQ(ini.Get("s", "k"), "v");
}

}  // namespace
}  // namespace dadado
