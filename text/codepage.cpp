#include "text/codepage.h"

#include <array>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/iconv_converter.h"

namespace zemlaro {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kUnrepresentable = '?';

// Code page 936 in both directions, asked of the platform converter once.
struct GbkTables {
  // 936 → UTF-16 for a single byte; 0 where the byte is not a character by itself.
  std::array<char16_t, 256> single{};
  // 936 → UTF-16 for the pair lead << 8 | trail; 0 where the pair is not a character.
  std::vector<char16_t> pair = std::vector<char16_t>(0x10000, 0);
  // Bytes that begin at least one pair.
  std::array<bool, 256> lead{};
  // UTF-16 → 936 as the bytes in order, first | second << 8; second is 0 for a
  // single byte. A unit without a character holds '?'.
  std::vector<std::uint16_t> encode = std::vector<std::uint16_t>(0x10000, kUnrepresentable);
};

GbkTables BuildTables() {
  GbkTables tables;
  for (int b = 1; b < 0x100; ++b) {
    const char one = static_cast<char>(b);
    tables.single[static_cast<std::size_t>(b)] =
        detail::DecodeGbkCharacter(std::string_view(&one, 1));
  }
  for (int lead = 0x80; lead < 0x100; ++lead) {
    if (tables.single[static_cast<std::size_t>(lead)] != 0) continue;
    for (int trail = 1; trail < 0x100; ++trail) {
      const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = detail::DecodeGbkCharacter(std::string_view(two, 2));
      tables.pair[static_cast<std::size_t>(lead << 8 | trail)] = unit;
      if (unit != 0) tables.lead[static_cast<std::size_t>(lead)] = true;
    }
  }
  // ASCII is itself even where the converter could not be opened.
  for (unsigned unit = 1; unit < 0x80; ++unit)
    tables.encode[unit] = static_cast<std::uint16_t>(unit);
  for (unsigned unit = 0x80; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) continue;
    const std::string bytes = detail::EncodeGbkCharacter(static_cast<char16_t>(unit));
    if (bytes.size() == 1) {
      tables.encode[unit] = static_cast<unsigned char>(bytes[0]);
    } else if (bytes.size() == 2) {
      tables.encode[unit] = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                                       static_cast<unsigned char>(bytes[1]) << 8);
    }
  }
  return tables;
}

const GbkTables& Tables() {
  static const GbkTables tables = BuildTables();
  return tables;
}

// Both converters read up to the first zero byte, as a zero-terminated text would.
std::string_view UpToZero(std::string_view text) {
  const void* zero = std::memchr(text.data(), 0, text.size());
  if (zero == nullptr) return text;
  return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
}

// A byte that can follow a lead byte in code page 936. A lead byte followed by any
// other byte decodes to U+FFFD alone, and that byte is read afresh.
constexpr bool IsGbkTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Decodes code page 936 bytes, calling emit(code point) per character.
template <typename Emit>
void DecodeGbk(std::string_view text, Emit&& emit) {
  const GbkTables& tables = Tables();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      emit(char32_t{b});
      ++i;
    } else if (char16_t one = tables.single[b]) {
      emit(char32_t{one});
      ++i;
    } else if (tables.lead[b] && i + 1 < n) {
      const unsigned char trail = s[i + 1];
      const char16_t unit = tables.pair[static_cast<std::size_t>(b << 8 | trail)];
      if (unit != 0) {
        emit(char32_t{unit});
        i += 2;
      } else {
        emit(kReplacement);
        i += IsGbkTrail(trail) ? 2 : 1;
      }
    } else {
      emit(kReplacement);
      ++i;
    }
  }
}

// Decodes one UTF-8 character starting at s[i] (a byte of 0x80 or above); returns
// the code point and moves i past it. An ill-formed sequence gives U+FFFD for its
// longest valid beginning (at least one byte).
char32_t DecodeUtf8At(const unsigned char* s, std::size_t n, std::size_t& i) {
  const unsigned char b = s[i];
  int more = 0;
  char32_t cp = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    more = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    more = 2;
    cp = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    more = 3;
    cp = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  ++i;
  for (int k = 0; k < more; ++k) {
    if (i >= n || s[i] < low || s[i] > high) return kReplacement;
    cp = cp << 6 | (s[i] & 0x3F);
    ++i;
    low = 0x80;
    high = 0xBF;
  }
  return cp;
}

template <typename Emit>
void DecodeUtf8(std::string_view text, Emit&& emit) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      emit(char32_t{s[i]});
      ++i;
    } else {
      emit(DecodeUtf8At(s, n, i));
    }
  }
}

// Decodes little-endian UTF-16 units up to the first zero unit; a lone surrogate
// gives U+FFFD.
template <typename Emit>
void DecodeUtf16(const Bytes& units, Emit&& emit) {
  const std::size_t count = units.size() / 2;
  auto unitAt = [&units](std::size_t k) -> char32_t {
    return char32_t{units[2 * k]} | char32_t{units[2 * k + 1]} << 8;
  };
  for (std::size_t k = 0; k < count; ++k) {
    const char32_t u = unitAt(k);
    if (u == 0) return;
    if (u >= 0xD800 && u < 0xDC00 && k + 1 < count) {
      const char32_t next = unitAt(k + 1);
      if (next >= 0xDC00 && next < 0xE000) {
        emit(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
        ++k;
        continue;
      }
    }
    emit(u >= 0xD800 && u < 0xE000 ? kReplacement : u);
  }
}

void AppendUtf8(Text& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Writes a code from the encode table at out and returns its length. Both bytes
// are always written, so out needs one byte of room beyond the character.
std::size_t PutCode(char* out, std::uint16_t code) {
  out[0] = static_cast<char>(code & 0xFF);
  out[1] = static_cast<char>(code >> 8);
  return code > 0xFF ? 2 : 1;
}

std::size_t PutGbk(char* out, char32_t cp, const std::uint16_t* encode) {
  return PutCode(out, cp < 0x10000 ? encode[cp] : static_cast<std::uint16_t>(kUnrepresentable));
}

void AppendGbk(Text& out, char32_t cp, const std::uint16_t* encode) {
  char bytes[2];
  out.append(bytes, PutGbk(bytes, cp, encode));
}

void AppendUtf16(Bytes& out, char32_t cp) {
  auto put = [&out](char32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  if (cp < 0x10000) {
    put(cp);
  } else {
    put(0xD800 + ((cp - 0x10000) >> 10));
    put(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
}

}  // namespace

Bytes ToUtf16(std::string_view text, int codePage) {
  text = UpToZero(text);
  Bytes units;
  auto emit = [&units](char32_t cp) { AppendUtf16(units, cp); };
  if (codePage == kCodePageUtf8) {
    units.reserve(2 * text.size() + 2);
    DecodeUtf8(text, emit);
  } else if (codePage == kCodePageGbk) {
    units.reserve(2 * text.size() + 2);
    DecodeGbk(text, emit);
  } else {
    return {};
  }
  units.push_back(0);
  units.push_back(0);
  return units;
}

Text FromUtf16(const Bytes& units, int codePage) {
  Text text;
  if (codePage == kCodePageUtf8) {
    DecodeUtf16(units, [&text](char32_t cp) { AppendUtf8(text, cp); });
  } else if (codePage == kCodePageGbk) {
    const std::uint16_t* encode = Tables().encode.data();
    DecodeUtf16(units, [&text, encode](char32_t cp) { AppendGbk(text, cp, encode); });
  }
  return text;
}

Text GbkToUtf8(std::string_view text) {
  text = UpToZero(text);
  Text utf8;
  utf8.reserve(text.size() + text.size() / 2);
  DecodeGbk(text, [&utf8](char32_t cp) { AppendUtf8(utf8, cp); });
  return utf8;
}

Text Utf8ToGbk(std::string_view text) {
  const std::uint16_t* encode = Tables().encode.data();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // Never longer than the input: one byte per ASCII byte, at most two per longer
  // sequence, one '?' per ill-formed byte. Two bytes of room for PutCode.
  Text gbk(n + 2, '\0');
  char* out = gbk.data();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      if (b == 0) break;
#if defined(__SSE2__)
      // Copy ASCII sixteen bytes at a time, up to a high byte or a zero byte.
      if (i + 16 <= n) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const int stop = _mm_movemask_epi8(block) |
                         _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
        const int run = stop == 0 ? 16 : __builtin_ctz(static_cast<unsigned>(stop));
        i += static_cast<std::size_t>(run);
        out += run;
        continue;
      }
#endif
      *out++ = static_cast<char>(b);
      ++i;
      continue;
    }
    // The common case of Chinese text: a well-formed three-byte sequence.
    if ((b & 0xF0) == 0xE0 && i + 2 < n) {
      const unsigned b1 = s[i + 1];
      const unsigned b2 = s[i + 2];
      if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
        const unsigned cp = (b & 0x0Fu) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
        if (cp >= 0x800 && (cp < 0xD800 || cp >= 0xE000)) {
          out += PutCode(out, encode[cp]);
          i += 3;
          continue;
        }
      }
    }
    out += PutGbk(out, DecodeUtf8At(s, n, i), encode);
  }
  gbk.resize(static_cast<std::size_t>(out - gbk.data()));
  return gbk;
}

Text PercentEncode(std::string_view text, bool keepSafe, bool toUtf8) {
  if (CompareTexts(text, "") == 0) return {};
  const Text utf8 = toUtf8 ? GbkToUtf8(text) : Text();
  const std::string_view bytes = toUtf8 ? std::string_view(utf8) : text;
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text encoded;
  encoded.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool safe = b == '-' || b == '.' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
                      (b >= 'a' && b <= 'z');
    if (keepSafe && safe) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[b >> 4]);
      encoded.push_back(kHex[b & 0x0F]);
    }
  }
  return encoded;
}

}  // namespace zemlaro
