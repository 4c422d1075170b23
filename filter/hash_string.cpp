#include <cstdint>
#include <string>

#include "filter/util.h"

std::string CUtil::HashString(const char* text) {
  uint32_t h = 0;
  if (text != nullptr) {
    for (const char* p = text; *p != '\0'; ++p) {
      // The viewer and the page scripts hash with a signed char; the byte is
      // sign-extended whatever this compiler's char is.
      const int32_t b = static_cast<int8_t>(static_cast<uint8_t>(*p));
      h = h * 33u + static_cast<uint32_t>(b);
    }
  }
  return std::to_string(h);
}
