// Typed passwords do not outlive their use: the bytes that held one are
// overwritten before the memory goes back to the heap, where a program of
// the same user reading this process would find them.
#pragma once

#include <string>

namespace dadado {

// Overwrites every byte the string holds (its whole capacity, where an
// earlier, longer text may still lie) with zeros in a way the compiler
// cannot leave out, and leaves it empty.
void WipeString(std::string& text);

// Puts `text` where a typed password was, the old one wiped first (a
// shorter text would leave the end of the longer behind).
inline void ReplaceSecret(std::string& secret, const std::string& text) {
  if (&secret == &text) return;
  WipeString(secret);
  secret = text;
}

// A copy of a typed password for as long as a call needs it; wiped when it
// goes out of scope, whichever way.
class SecretCopy {
 public:
  explicit SecretCopy(const std::string& text) : text_(text) {}
  ~SecretCopy() { WipeString(text_); }
  SecretCopy(const SecretCopy&) = delete;
  SecretCopy& operator=(const SecretCopy&) = delete;
  const std::string& get() const { return text_; }

 private:
  std::string text_;
};

}  // namespace dadado
