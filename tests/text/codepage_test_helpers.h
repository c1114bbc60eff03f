// What the code page tests share: UTF-16 units written out, and where the
// user-defined areas of code page 936 lie.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "text/text.h"

namespace zemlaro::test {

inline constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

inline Bytes Units(std::initializer_list<char16_t> units) {
  Bytes bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

// A pair of code page 936 and the unit it reads as.
struct UserDefinedCase {
  const char* bytes;
  char16_t unit;
};

// The three user-defined areas of code page 936, which the C library lacks.
inline bool IsUserDefined(int lead, int trail) {
  const bool secondHalf = trail >= 0xA1 && trail <= 0xFE;
  return (lead >= 0xAA && lead <= 0xAF && secondHalf) ||
         (lead >= 0xF8 && lead <= 0xFE && secondHalf) ||
         (lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F);
}

}  // namespace zemlaro::test
