// A typed password leaves no bytes behind, in the whole capacity of what held it.
#include "base/wipe.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/countdown.h"
#include "guard/protocol.h"

namespace dadado {
namespace {

bool AllZero(const char* bytes, std::size_t n) { return std::all_of(bytes, bytes + n, [](char c) { return c == 0; }); }

TEST(Wipe, EveryByteTheStringHeldIsZero) {
  std::string s = "a password long enough for the heap";
  s.resize(6);  // what lay beyond the size is wiped too
  const char* bytes = s.data();
  const std::size_t capacity = s.capacity();
  WipeString(s);
  ASSERT_EQ(s.data(), bytes);
  EXPECT_TRUE(s.empty() && AllZero(bytes, capacity));
}

TEST(Wipe, TheCountdownsBoxAndAMessageKeepNothingOfThePassword) {
  Countdown c;
  c.Open(false, "关闭计算机", "dadado", true);
  c.SetPassword("a-long-typed-password-0123456789");
  c.SetPassword("ab");
  const std::string& box = c.screen().password;
  EXPECT_TRUE(box == "ab" && AllZero(box.data() + 2, box.capacity() - 2));
  protocol::Message m(protocol::kApply);
  m.Set("password", "owner").Set("old", "o").Set("new", "n").Set("logon_password", "pw").Set("ini", "[x]");
  protocol::WipeSecrets(m);
  EXPECT_EQ(m.Get("password") + m.Get("old") + m.Get("new") + m.Get("logon_password"), "");
  EXPECT_EQ(m.Get("ini"), "[x]");
}

}  // namespace
}  // namespace dadado
