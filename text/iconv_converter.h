// The one place that talks to the C library's character converter (iconv). The
// code page 936 decode table is filled from here once (the encode table is that
// table turned round); a Windows build would put MultiByteToWideChar behind the
// same two functions.
#pragma once

#include <iconv.h>

#include <cstddef>
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
  // Converts from a fresh shift state as much of `input` into `output` as one
  // iconv call does, moving both past what was done. False, with errno set, when
  // it stopped early (invalid or cut input, output full, nothing open).
  bool ConvertSome(std::string_view& input, char*& output, std::size_t& outputLeft);

 private:
  iconv_t handle_ = reinterpret_cast<iconv_t>(-1);
};

// The UTF-16 unit that `bytes` (one or two bytes) decode to in code page 936,
// or 0 when they are not exactly one character that maps to one unit.
char16_t DecodeGbkCharacter(std::string_view bytes);
// DecodeGbkCharacter of `lead` followed by each byte of `trails` (at most 256),
// into units[k] for trails[k], asked in a few conversions of the whole row
// rather than one per pair.
void DecodeGbkRow(unsigned char lead, std::string_view trails, char16_t* units);

}  // namespace zemlaro::detail
