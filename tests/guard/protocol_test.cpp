#include "guard/protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace dadado::protocol {
namespace {

TEST(Protocol, MessagesCrossWholeWhateverTheirValuesHold) {
  Message m(kApply);
  m.Set("id", 7).Set("password", "a=b\\c\nd\re").Set("ini", std::string("[常规设置]\r\n频率= 0\r\n\0x", 24)).Set("empty", "");
  FrameReader reader;
  const std::string frame = Encode(m);
  // However the pipe cuts it up.
  for (char c : frame) reader.Feed(std::string_view(&c, 1));
  const auto got = reader.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, m);
  EXPECT_EQ(got->Number("id", -1), 7);
  EXPECT_FALSE(reader.Next());
  EXPECT_FALSE(reader.broken());
}

TEST(Protocol, SeveralMessagesInOneRead) {
  FrameReader reader;
  reader.Feed(Encode(Message(kCheck).Set("id", 1)) + Encode(Message(kExit).Set("id", 2)));
  EXPECT_EQ(reader.Next()->type, kCheck);
  EXPECT_EQ(reader.Next()->type, kExit);
  EXPECT_FALSE(reader.Next());
}

// Whoever can open the program's process can write into the pipe: a frame
// that breaks the rules ends the reading, and nothing of it is taken.
TEST(Protocol, FramesThatBreakTheRulesEndTheConnection) {
  auto frame = [](const std::string& payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)} +
           payload;
  };
  const std::string bad[] = {
      std::string("\xff\xff\xff\xff", 4),      // four gigabytes announced
      frame(""),                                // no type
      frame("cancel"),                          // no line end
      frame("Cancel\n"),                        // not a name of ours
      frame("cancel\npassword\n"),              // a field without '='
      frame("cancel\npass word=x\n"),           // a name with a blank
      frame("cancel\npassword=x\\q\n"),         // an escape that is none
      frame("cancel\npassword=x\\\n"),          // an escape cut off
      frame("cancel\npassword=x"),              // the last line unfinished
  };
  for (const std::string& b : bad) {
    FrameReader reader;
    reader.Feed(b + Encode(Message(kCheck)));
    EXPECT_FALSE(reader.Next()) << ::testing::PrintToString(b);
    EXPECT_TRUE(reader.broken()) << ::testing::PrintToString(b);
    EXPECT_FALSE(reader.Next());
  }
}

// A frame of empty fields would otherwise decode into tens of thousands.
TEST(Protocol, AMessageHasAtMostSixtyFourFields) {
  for (const std::size_t fields : {kMaxFields, kMaxFields + 1, std::size_t{60000}}) {
    std::string payload = "idle\n";
    for (std::size_t i = 0; i < fields; ++i) payload += "a=\n";
    const auto n = static_cast<std::uint32_t>(payload.size());
    FrameReader reader;
    reader.Feed(std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                            static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)} +
                payload);
    const auto got = reader.Next();
    EXPECT_EQ(got.has_value(), fields <= kMaxFields) << fields;
    EXPECT_EQ(reader.broken(), fields > kMaxFields) << fields;
  }
}

// What a face may cost its reader in a second: messages, and bytes, where a
// read of a few bytes costs as much as one of kReadCost.
TEST(Protocol, AReadBudgetBoundsMessagesAndBytesEachSecond) {
  struct Step {
    std::uint64_t at_ms;
    std::size_t read;  // bytes read, or 0 for a message taken
    bool within;
  };
  const struct {
    const char* what;
    std::vector<Step> steps;
  } cases[] = {
      {"a fourth message in the same second", {{0, 0, true}, {1, 0, true}, {2, 0, true}, {999, 0, false}}},
      {"a fourth in the next second", {{0, 0, true}, {1, 0, true}, {2, 0, true}, {1000, 0, true}}},
      {"two large reads, then one byte", {{0, 2000, true}, {5, 2000, true}, {6, 1, false}}},
      {"byte by byte", {{0, 1, true}, {1, 1, true}, {2, 1, true}, {3, 1, true}, {4, 1, true}, {5, 1, true},
                        {6, 1, true}, {7, 1, true}, {8, 1, false}}},
      {"byte by byte, slowly", {{0, 1, true}, {250, 1, true}, {500, 1, true}, {750, 1, true}, {1000, 1, true}}},
  };
  for (const auto& c : cases) {
    ReadBudget budget(3, 8 * ReadBudget::kReadCost);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      EXPECT_EQ(s.read ? budget.Read(s.read, s.at_ms) : budget.Took(s.at_ms), s.within) << c.what << ", step " << i;
    }
  }
}

TEST(Protocol, NumbersAreWholeDecimalsOrTheFallback) {
  Message m("x");
  m.Set("a", "12").Set("b", "-3").Set("c", "1x").Set("d", "").Set("e", "-").Set("f", "99999999999999999999");
  EXPECT_EQ(m.Number("a", 0), 12);
  EXPECT_EQ(m.Number("b", 0), -3);
  for (const char* name : {"c", "d", "e", "f", "missing"}) EXPECT_EQ(m.Number(name, 5), 5) << name;
}

TEST(Protocol, NamesOutsideTheAlphabetAreNeverSent) {
  Message m("reply");
  m.Set("ok", "1").Set("Bad", "2").Set("with=eq", "3");
  FrameReader reader;
  reader.Feed(Encode(m));
  const auto got = reader.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->fields.size(), 1u);
}

}  // namespace
}  // namespace dadado::protocol
