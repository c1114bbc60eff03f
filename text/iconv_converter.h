// The one place that talks to the C library's character converter (iconv). The
// code page 936 tables are filled from here once; a Windows build would put
// MultiByteToWideChar and WideCharToMultiByte behind the same two functions.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace zemlaro::detail {

// Owns one iconv_t. A converter that could not be opened converts nothing.
class IconvConverter {
 public:
  IconvConverter() = default;
  IconvConverter(const char* toCode, const char* fromCode);
  ~IconvConverter();
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;
  IconvConverter(IconvConverter&& other) noexcept;
  IconvConverter& operator=(IconvConverter&& other) noexcept;

  bool IsOpen() const;
  // Converts all of `input` from a fresh shift state. False, with `output`
  // unspecified, when the input is invalid or incomplete or nothing is open.
  bool Convert(std::string_view input, std::string& output);

 private:
  iconv_t handle_ = reinterpret_cast<iconv_t>(-1);
};

// The UTF-16 unit that `bytes` (one or two bytes) decode to in code page 936,
// or 0 when they are not exactly one character that maps to one unit.
char16_t DecodeGbkCharacter(std::string_view bytes);
// The code page 936 bytes (one or two) of one UTF-16 unit, or empty when code
// page 936 has no character for it.
std::string EncodeGbkCharacter(char16_t unit);

}  // namespace zemlaro::detail
