#include "text/find.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlaro::detail {
namespace {

using Byte = unsigned char;

constexpr Byte FoldAscii(Byte c) { return c >= 'A' && c <= 'Z' ? static_cast<Byte>(c | 0x20) : c; }
constexpr bool IsLetter(Byte c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

bool MatchAt(const Byte* at, const Byte* needle, std::size_t m, bool ignoreCase) {
  if (!ignoreCase) return std::memcmp(at, needle, m) == 0;
  for (std::size_t k = 0; k < m; ++k) {
    if (FoldAscii(at[k]) != FoldAscii(needle[k])) return false;
  }
  return true;
}

// How rare a byte is in the texts searched here (JSON answers, header lines,
// Chinese text): the scan tests the two rarest bytes of the needle first.
constexpr int RarityOf(Byte c) {
  if (c == '"' || c == ':' || c == ',' || c == ' ' || c >= 0x80) return 0;
  if (c >= '0' && c <= '9') return 1;
  if (IsLetter(c)) {
    for (const char common : std::string_view("etaoinsrhlcd")) {
      if ((c | 0x20) == common) return 2;
    }
  }
  return 3;
}

constexpr auto kRarity = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(RarityOf(static_cast<Byte>(c)));
  }
  return table;
}();

// The number of bytes of 0x80 or above just before p, counting no further back
// than `limit`.
std::size_t HighRunBefore(const Byte* t, std::size_t p, std::size_t limit) {
  std::size_t j = p;
#if defined(__SSE2__)
  while (j - limit >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + j - 16));
    const unsigned low = ~static_cast<unsigned>(_mm_movemask_epi8(block)) & 0xFFFF;
    if (low != 0) return p - j + static_cast<std::size_t>(__builtin_clz(low) - 16);
    j -= 16;
  }
#endif
  while (j > limit && t[j - 1] >= 0x80) --j;
  return p - j;
}

// Tells whether a position is a character start when stepping from `from`. The
// positions asked about must not decrease; each answer then costs no more than the
// bytes since the previous one.
class Boundaries {
 public:
  Boundaries(const Byte* text, std::size_t from) : text_(text), known_(from) {}

  bool IsStart(std::size_t p) {
    // A byte below 0x80 ends a character (single or second byte), so only the run
    // of high bytes since the last such byte, or since a known start, counts.
    const bool start = HighRunBefore(text_, p, known_) % 2 == 0;
    // Not a start: p is a second byte, so the next byte starts a character.
    known_ = start ? p : p + 1;
    return start;
  }

 private:
  const Byte* text_;
  std::size_t known_;
};

}  // namespace

std::size_t NextCharacterStart(std::string_view text, std::size_t origin, std::size_t at) {
  const Byte* const t = reinterpret_cast<const Byte*>(text.data());
  return HighRunBefore(t, at, origin) % 2 == 0 ? at : at + 1;
}

Finder::Finder(std::string_view needle, bool ignoreCase)
    : needle_(needle), ignoreCase_(ignoreCase) {
  const auto* bytes = reinterpret_cast<const Byte*>(needle.data());
  const std::size_t m = needle.size();
  auto rarity = [bytes](std::size_t k) { return kRarity[bytes[k]]; };
  // The two rarest bytes of the needle, the second preferably far from the first.
  std::size_t first = 0;
  for (std::size_t k = 1; k < m; ++k) {
    if (rarity(k) > rarity(first)) first = k;
  }
  auto distance = [first](std::size_t k) { return k > first ? k - first : first - k; };
  std::size_t second = first;
  for (std::size_t k = 0; k < m; ++k) {
    if (k == first) continue;
    if (second == first || rarity(k) > rarity(second) ||
        (rarity(k) == rarity(second) && distance(k) > distance(second))) {
      second = k;
    }
  }
  auto probe = [bytes, ignoreCase](std::size_t offset) {
    const Byte c = bytes[offset];
    if (ignoreCase && IsLetter(c)) return ScanProbe{offset, 0x20, static_cast<Byte>(c | 0x20)};
    return ScanProbe{offset, 0, c};
  };
  first_ = probe(first);
  second_ = probe(second);
  reach_ = first > second ? first : second;
}

std::size_t Finder::Find(std::string_view text, std::size_t from) const {
  const std::size_t n = text.size();
  const std::size_t m = needle_.size();
  if (from >= n || n - from < m) return kNotFound;
  const std::size_t lastStart = n - m;
  const Byte* const t = reinterpret_cast<const Byte*>(text.data());
  const Byte* const needle = reinterpret_cast<const Byte*>(needle_.data());
  const ScanProbe& a = first_;
  const ScanProbe& b = second_;
  Boundaries boundaries(t, from);
  std::size_t p = from;
#if defined(__SSE2__)
  // Sixteen candidates at a time: both probe bytes must agree before the whole
  // needle and the character start are checked.
  const __m128i maskA = _mm_set1_epi8(static_cast<char>(a.mask));
  const __m128i valueA = _mm_set1_epi8(static_cast<char>(a.value));
  const __m128i maskB = _mm_set1_epi8(static_cast<char>(b.mask));
  const __m128i valueB = _mm_set1_epi8(static_cast<char>(b.value));
  for (; p + reach_ + 16 <= n; p += 16) {
    const __m128i bytesA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p + a.offset));
    const __m128i bytesB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p + b.offset));
    const __m128i hitA = _mm_cmpeq_epi8(_mm_or_si128(bytesA, maskA), valueA);
    const __m128i hitB = _mm_cmpeq_epi8(_mm_or_si128(bytesB, maskB), valueB);
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(hitA, hitB)));
    while (hits != 0) {
      const std::size_t candidate = p + static_cast<std::size_t>(__builtin_ctz(hits));
      hits &= hits - 1;
      if (candidate > lastStart) return kNotFound;
      if (MatchAt(t + candidate, needle, m, ignoreCase_) && boundaries.IsStart(candidate)) {
        return candidate;
      }
    }
  }
#endif
  for (; p <= lastStart; ++p) {
    if ((t[p + a.offset] | a.mask) != a.value || (t[p + b.offset] | b.mask) != b.value) continue;
    if (MatchAt(t + p, needle, m, ignoreCase_) && boundaries.IsStart(p)) return p;
  }
  return kNotFound;
}

}  // namespace zemlaro::detail
