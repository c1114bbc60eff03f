// The one place that talks to the C library's character converter (iconv), on
// Linux: the owner of an iconv_t, and the two functions of codepage_platform.h.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "text/codepage_platform.h"

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

}  // namespace zemlaro::detail
