#include "base/wipe.h"

namespace dadado {

void WipeString(std::string& text) {
  // The whole capacity becomes the string's own first, so that every byte
  // written lies within it.
  text.resize(text.capacity());
  volatile char* bytes = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = 0;
  text.clear();
}

}  // namespace dadado
