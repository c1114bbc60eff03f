#include "tests/windows/platform_encode.h"
#include "text/iconv_converter.h"

namespace zemlaro::test {

const char* PlatformConverterName() { return "glibc iconv, CP936"; }

std::optional<std::string> PlatformEncode(char16_t unit) {
  static thread_local detail::IconvConverter encoder("CP936", "UTF-16LE");
  const char units[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  std::string bytes;
  if (!encoder.Convert(std::string_view(units, 2), bytes) || bytes.empty()) return std::nullopt;
  return bytes;
}

}  // namespace zemlaro::test
