// The two functions of codepage_platform.h over the platform's own converter,
// MultiByteToWideChar with code page 936, on Windows.
#include <windows.h>

#include <algorithm>
#include <cstddef>

#include "text/codepage_platform.h"

namespace zemlaro::detail {
namespace {

constexpr UINT kGbkCodePage = 936;

// The units of `bytes`, or -1 when the platform finds an invalid or cut sequence
// (MB_ERR_INVALID_CHARS) or `room` is too small.
int DecodeStrict(const char* bytes, std::size_t count, wchar_t* units, int room) {
  if (count == 0) return 0;
  const int written = ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes,
                                            static_cast<int>(count), units, room);
  return written > 0 ? written : -1;
}

// Pairs [first, first + count) of `pairs` into units[first..]. A conversion with an
// invalid pair fails as a whole and says not where, so a failing run of pairs is
// asked again in halves, down to single pairs.
void DecodePairs(const char* pairs, std::size_t first, std::size_t count, char16_t* units) {
  if (count == 0) return;
  if (count == 1) {
    units[first] = DecodeGbkCharacter(std::string_view(pairs + 2 * first, 2));
    return;
  }
  wchar_t buffer[256];
  const int written =
      DecodeStrict(pairs + 2 * first, 2 * count, buffer, static_cast<int>(std::size(buffer)));
  // Each pair must be exactly one unit; any other count is asked in halves too.
  if (written == static_cast<int>(count)) {
    for (std::size_t k = 0; k < count; ++k) units[first + k] = static_cast<char16_t>(buffer[k]);
    return;
  }
  const std::size_t half = count / 2;
  DecodePairs(pairs, first, half, units);
  DecodePairs(pairs, first + half, count - half, units);
}

}  // namespace

char16_t DecodeGbkCharacter(std::string_view bytes) {
  wchar_t units[4];
  const int written =
      DecodeStrict(bytes.data(), bytes.size(), units, static_cast<int>(std::size(units)));
  if (written != 1) return 0;
  return static_cast<char16_t>(units[0]);
}

void DecodeGbkRow(unsigned char lead, std::string_view trails, char16_t* units) {
  constexpr std::size_t kMaxPairs = 256;
  const std::size_t count = std::min(trails.size(), kMaxPairs);
  char pairs[2 * kMaxPairs];
  for (std::size_t k = 0; k < count; ++k) {
    pairs[2 * k] = static_cast<char>(lead);
    pairs[2 * k + 1] = trails[k];
  }
  DecodePairs(pairs, 0, count, units);
}

}  // namespace zemlaro::detail
