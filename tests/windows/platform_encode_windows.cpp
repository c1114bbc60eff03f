#include <windows.h>

#include "tests/windows/platform_encode.h"

namespace zemlaro::test {

const char* PlatformConverterName() {
  return "MultiByteToWideChar and WideCharToMultiByte, code page 936";
}

std::optional<std::string> PlatformEncode(char16_t unit) {
  const wchar_t wide = static_cast<wchar_t>(unit);
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int written =
      ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, 8, nullptr, &usedDefault);
  if (written <= 0 || usedDefault) return std::nullopt;
  return std::string(bytes, static_cast<std::size_t>(written));
}

}  // namespace zemlaro::test
