// The byte search under FindForward, FindBackward, Substitute, SplitOn and the
// marker extraction. Internal to the text library.
#pragma once

#include <cstddef>
#include <string_view>

namespace zemlaro::detail {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// One needle byte that the block scan tests: text byte | mask == value.
struct ScanProbe {
  std::size_t offset = 0;
  unsigned char mask = 0;
  unsigned char value = 0;
};

// A non-empty needle prepared for repeated searches. Find gives the 0-based index
// of the first match at a character start reached by stepping from `from` (a byte
// of 0x80 or above takes the next byte with it), or kNotFound. With `ignoreCase`
// only ASCII letters fold, on every byte of the compared span. The needle's bytes
// must outlive the Finder.
class Finder {
 public:
  Finder(std::string_view needle, bool ignoreCase);
  std::size_t Find(std::string_view text, std::size_t from) const;

 private:
  std::string_view needle_;
  bool ignoreCase_;
  ScanProbe first_;
  ScanProbe second_;
  std::size_t reach_;  // the larger probe offset
};

// The first character start at or after `at` when stepping from `origin`, a
// character start (origin <= at <= text.size()): `at` itself, or the byte after it
// when `at` is the second byte of a double-byte character. Costs no more than the
// bytes of 0x80 or above just before `at`.
std::size_t NextCharacterStart(std::string_view text, std::size_t origin, std::size_t at);

inline std::size_t FindFrom(std::string_view text, std::size_t from, std::string_view needle,
                            bool ignoreCase) {
  return Finder(needle, ignoreCase).Find(text, from);
}

}  // namespace zemlaro::detail
