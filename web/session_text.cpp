#include "web/session_text.h"

#include <cstdio>

namespace zemlaro {

Text Seconds(std::chrono::milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000.0);
  return text;
}

Text SizeText(std::size_t bytes) {
  char text[48];
  if (bytes % (1u << 20) == 0) {
    std::snprintf(text, sizeof text, "%zu MiB", bytes >> 20);
  } else {
    std::snprintf(text, sizeof text, "%zu bytes", bytes);
  }
  return text;
}

bool IsHostByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

}  // namespace zemlaro
