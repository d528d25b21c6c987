// A typed password leaves no bytes behind: not in the string that held it
// (its whole capacity), not at the end of a longer one a shorter replaced,
// not in a message once sent.
#include "base/wipe.h"

#include <gtest/gtest.h>

#include "engine/countdown.h"
#include "guard/protocol.h"

namespace dadado {
namespace {

bool AllZero(const char* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

TEST(Wipe, EveryByteTheStringHeldIsZero) {
  std::string s = "a password long enough for the heap";
  s.resize(6);  // what lay beyond the size is wiped too
  const char* bytes = s.data();
  const std::size_t capacity = s.capacity();
  WipeString(s);
  EXPECT_TRUE(s.empty());
  ASSERT_EQ(s.data(), bytes);
  EXPECT_TRUE(AllZero(bytes, capacity));
}

TEST(Wipe, TheCountdownsBoxKeepsNoTailOfALongerText) {
  Countdown c;
  c.Open(false, "关闭计算机", "dadado", true);
  c.SetPassword("a-long-typed-password-0123456789");
  c.SetPassword("ab");
  const std::string& box = c.screen().password;
  EXPECT_EQ(box, "ab");
  EXPECT_TRUE(AllZero(box.data() + 2, box.capacity() - 2));
}

TEST(Wipe, AMessagesPasswordsGoAndTheRestStays) {
  protocol::Message m(protocol::kApply);
  m.Set("password", "owner").Set("old", "o").Set("new", "n").Set("logon_password", "pw").Set("ini", "[x]");
  protocol::WipeSecrets(m);
  EXPECT_EQ(m.Get("password"), "");
  EXPECT_EQ(m.Get("old"), "");
  EXPECT_EQ(m.Get("new"), "");
  EXPECT_EQ(m.Get("logon_password"), "");
  EXPECT_EQ(m.Get("ini"), "[x]");
}

}  // namespace
}  // namespace dadado
