#include "tools/cli/utf8.h"

#include <cstdio>

namespace zemlaro::cli {

bool NextUtf8(std::string_view text, std::size_t& pos, char32_t& code) {
  if (pos >= text.size()) return false;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    code = lead;
    ++pos;
    return true;
  }
  int length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (pos + length > text.size()) return false;
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(pos + k);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  code = value;
  pos += length;
  return true;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    char32_t code = 0;
    if (NextUtf8(text, pos, code)) {
      out.append(text.substr(start, pos - start));
    } else {
      out.append("\xEF\xBF\xBD");
      ++pos;
    }
  }
  return out;
}

std::string CodePointName(char32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(code));
  return buffer;
}

}  // namespace zemlaro::cli
