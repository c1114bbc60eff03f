// Utf8ToGbk and GbkToUtf8 on any bytes, and the round trip of valid code page 936
// text. Validity is judged by the C library's own CP936 converter, opened here and
// used for nothing else: a character is valid when it decodes to exactly one UTF-16
// unit (glibc's CP936 maps no two characters to the same unit, so such text must come
// back unchanged).
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "text/codepage.h"
#include "text/iconv_converter.h"

namespace {

using zemlaro::fuzz::Escaped;

struct ValidGbk {
  std::array<bool, 256> single{};
  std::vector<bool> pair = std::vector<bool>(0x10000, false);
};

using zemlaro::detail::IconvConverter;

bool DecodesToOneUnit(IconvConverter& decoder, std::string_view bytes) {
  std::string units;
  if (!decoder.Convert(bytes, units) || units.size() != 2) return false;
  const unsigned unit = static_cast<unsigned char>(units[0]) | static_cast<unsigned char>(units[1])
                                                                   << 8;
  return unit != 0 && (unit < 0xD800 || unit >= 0xE000);
}

const ValidGbk& Valid() {
  static const ValidGbk valid = [] {
    ValidGbk table;
    IconvConverter decoder("UTF-16LE", "CP936");
    if (!decoder.IsOpen()) {
      std::fprintf(stderr, "zemlaro-fuzz: iconv has no CP936\n");
      __builtin_trap();
    }
    for (int b = 1; b < 0x80; ++b) table.single[static_cast<std::size_t>(b)] = true;
    for (int b = 0x80; b < 0x100; ++b) {
      const char one = static_cast<char>(b);
      table.single[static_cast<std::size_t>(b)] = DecodesToOneUnit(decoder, {&one, 1});
      if (table.single[static_cast<std::size_t>(b)]) continue;
      for (int trail = 1; trail < 0x100; ++trail) {
        const char two[2] = {static_cast<char>(b), static_cast<char>(trail)};
        table.pair[static_cast<std::size_t>(b << 8 | trail)] = DecodesToOneUnit(decoder, {two, 2});
      }
    }
    return table;
  }();
  return valid;
}

// The valid characters of the input, in order; everything else is dropped.
std::string ValidGbkOf(const std::uint8_t* data, std::size_t size) {
  const ValidGbk& valid = Valid();
  std::string out;
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = data[i];
    if (valid.single[b]) {
      out.push_back(static_cast<char>(b));
      i += 1;
    } else if (i + 1 < size && valid.pair[static_cast<std::size_t>(b << 8 | data[i + 1])]) {
      out.push_back(static_cast<char>(b));
      out.push_back(static_cast<char>(data[i + 1]));
      i += 2;
    } else {
      i += 1;
    }
  }
  return out;
}

// Well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsWellFormedUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    std::size_t more = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b < 0x80) {
      i += 1;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= more; ++k) {
      if (i + k >= n) return false;
      const unsigned char c = s[i + k];
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return false;
    }
    i += more + 1;
  }
  return true;
}

// The C library's CP936 to UTF-8 conversion of valid text.
std::string IconvGbkToUtf8(const std::string& valid) {
  static IconvConverter converter("UTF-8", "CP936");
  std::string out;
  if (!converter.Convert(valid, out)) {
    std::fprintf(stderr, "zemlaro-fuzz: iconv rejected %s\n", Escaped(valid).c_str());
    __builtin_trap();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string text(raw.substr(0, raw.find('\0')));

  // Any bytes: both directions stop at the first zero byte, and each is the same as
  // its two steps through UTF-16.
  const std::string utf8 = zemlaro::GbkToUtf8(raw);
  FUZZ_CHECK(IsWellFormedUtf8(utf8), "GbkToUtf8 of " + Escaped(raw) + " gave " + Escaped(utf8));
  FUZZ_CHECK(utf8 == zemlaro::GbkToUtf8(text), "GbkToUtf8 of " + Escaped(raw));
  FUZZ_CHECK(utf8 == zemlaro::FromUtf16(zemlaro::ToUtf16(raw, zemlaro::kCodePageGbk),
                                        zemlaro::kCodePageUtf8),
             "GbkToUtf8 of " + Escaped(raw) + " differs from its two steps");

  const std::string gbk = zemlaro::Utf8ToGbk(raw);
  FUZZ_CHECK(gbk.find('\0') == std::string::npos, "Utf8ToGbk of " + Escaped(raw));
  FUZZ_CHECK(gbk == zemlaro::Utf8ToGbk(text), "Utf8ToGbk of " + Escaped(raw));
  FUZZ_CHECK(gbk == zemlaro::FromUtf16(zemlaro::ToUtf16(raw), zemlaro::kCodePageGbk),
             "Utf8ToGbk of " + Escaped(raw) + " gave " + Escaped(gbk) + " and its two steps " +
                 Escaped(zemlaro::FromUtf16(zemlaro::ToUtf16(raw), zemlaro::kCodePageGbk)));

  // Valid code page 936 text survives the round trip unchanged.
  const std::string valid = ValidGbkOf(data, size);
  const std::string there = zemlaro::GbkToUtf8(valid);
  const std::string back = zemlaro::Utf8ToGbk(there);
  FUZZ_CHECK(back == valid, "round trip of " + Escaped(valid) + " via " + Escaped(there) +
                                " gave " + Escaped(back));
  const std::string expected = IconvGbkToUtf8(valid);
  FUZZ_CHECK(there == expected, "GbkToUtf8 of valid " + Escaped(valid) + " gave " + Escaped(there) +
                                    " expected " + Escaped(expected));
  return 0;
}
