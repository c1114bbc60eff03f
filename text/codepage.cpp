#include "text/codepage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/codepage_platform.h"
#include "text/codepage_steps.h"

namespace zemlaro {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kUnrepresentable = '?';

// Code page 936 → UTF-16, asked of the platform converter a row of pairs at a time
// on first use. Kept in static storage, which starts out zero with no fill of its own.
struct GbkDecodeTable {
  // The unit of a single byte; 0 where the byte is not a character by itself.
  std::array<char16_t, 256> single;
  // Bytes that begin at least one pair.
  std::array<bool, 256> lead;
  // The unit of the pair lead, trail at (lead - 0x80) << 8 | trail; 0 where the
  // pair is not a character.
  std::array<char16_t, 0x8000> pair;
};

// UTF-16 → code page 936, the decode table inverted on first use: the bytes in
// order, first | second << 8 (second 0 for a single byte); '?' where code page 936
// has no character for the unit.
using GbkEncodeTable = std::array<std::uint16_t, 0x10000>;

constexpr std::size_t PairIndex(unsigned lead, unsigned trail) {
  return (lead - 0x80) << 8 | trail;
}

// A byte that can follow a lead byte in code page 936. A lead byte followed by any
// other byte decodes to U+FFFD alone, and that byte is read afresh.
constexpr bool IsGbkTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// The user-defined areas, which the C library's table lacks, map to the private
// use area from U+E000 up, area by area in this order, row by row, trail bytes
// in order: AA-AF A1-FE, F8-FE A1-FE, A1-A7 40-A0 (without 7F).
struct UserDefinedArea {
  unsigned char firstLead, lastLead, firstTrail, lastTrail;
};
constexpr UserDefinedArea kUserDefinedAreas[] = {
    {0xAA, 0xAF, 0xA1, 0xFE}, {0xF8, 0xFE, 0xA1, 0xFE}, {0xA1, 0xA7, 0x40, 0xA0}};
constexpr char16_t kFirstUserDefinedUnit = 0xE000;

// The user-defined area that has a row at `lead`, or nullptr.
constexpr const UserDefinedArea* UserDefinedAreaAt(unsigned lead) {
  for (const UserDefinedArea& area : kUserDefinedAreas) {
    if (lead >= area.firstLead && lead <= area.lastLead) return &area;
  }
  return nullptr;
}

void FillDecodeTable(GbkDecodeTable& table) {
  for (int b = 0x80; b < 0x100; ++b) {
    const char one = static_cast<char>(b);
    table.single[static_cast<std::size_t>(b)] =
        detail::DecodeGbkCharacter(std::string_view(&one, 1));
  }
  // Only pairs that may be characters are asked: the converter has none whose
  // second byte cannot follow a lead, and the user-defined areas are filled below.
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    if (table.single[lead] != 0) continue;
    const UserDefinedArea* area = UserDefinedAreaAt(lead);
    const unsigned skipFrom = area != nullptr ? area->firstTrail : 0x100;
    const unsigned skipTo = area != nullptr ? area->lastTrail : 0x100;
    char trails[256];
    std::size_t count = 0;
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (IsGbkTrail(static_cast<unsigned char>(trail)) && (trail < skipFrom || trail > skipTo)) {
        trails[count++] = static_cast<char>(trail);
      }
    }
    char16_t units[std::size(trails)];
    detail::DecodeGbkRow(static_cast<unsigned char>(lead), std::string_view(trails, count), units);
    for (std::size_t k = 0; k < count; ++k) {
      if (units[k] == 0) continue;
      table.pair[PairIndex(lead, static_cast<unsigned char>(trails[k]))] = units[k];
      table.lead[lead] = true;
    }
  }
  char16_t unit = kFirstUserDefinedUnit;
  for (const UserDefinedArea& area : kUserDefinedAreas) {
    for (unsigned lead = area.firstLead; lead <= area.lastLead; ++lead) {
      for (unsigned trail = area.firstTrail; trail <= area.lastTrail; ++trail) {
        if (!IsGbkTrail(static_cast<unsigned char>(trail))) continue;
        table.pair[PairIndex(lead, trail)] = unit++;
        table.lead[lead] = true;
      }
    }
  }
}

const GbkDecodeTable& DecodeTable() {
  static GbkDecodeTable table;
  [[maybe_unused]] static const bool filled = (FillDecodeTable(table), true);
  return table;
}

void FillEncodeTable(GbkEncodeTable& table) {
  // The hot loops read codes straight from here, so a missing unit holds '?' itself.
  constexpr auto kNone = static_cast<std::uint16_t>(kUnrepresentable);
  table.fill(kNone);
  // ASCII is always itself.
  for (unsigned unit = 1; unit < 0x80; ++unit) table[unit] = static_cast<std::uint16_t>(unit);
  const GbkDecodeTable& decode = DecodeTable();
  // Should two codes read as the same unit (the C library's table has none), the
  // single byte, then the lower pair, wins.
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const char16_t unit = decode.single[b];
    if (unit >= 0x80 && table[unit] == kNone) table[unit] = static_cast<std::uint16_t>(b);
  }
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    if (!decode.lead[lead]) continue;
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const char16_t unit = decode.pair[PairIndex(lead, trail)];
      if (unit >= 0x80 && table[unit] == kNone) {
        table[unit] = static_cast<std::uint16_t>(lead | trail << 8);
      }
    }
  }
}

const std::uint16_t* EncodeTable() {
  static GbkEncodeTable table;
  [[maybe_unused]] static const bool filled = (FillEncodeTable(table), true);
  return table.data();
}

// Both converters read up to the first zero byte, as a zero-terminated text would.
std::string_view UpToZero(std::string_view text) {
  const void* zero = std::memchr(text.data(), 0, text.size());
  if (zero == nullptr) return text;
  return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
}

// Decodes code page 936 bytes, calling emit(code point) per character.
template <typename Emit>
void DecodeGbk(std::string_view text, Emit&& emit) {
  const GbkDecodeTable& tables = DecodeTable();
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
      const char16_t unit = tables.pair[PairIndex(b, trail)];
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
  if (codePage != kCodePageUtf8 && codePage != kCodePageGbk) return {};
  Bytes units;
  units.reserve(2 * text.size() + 2);
  auto emit = [&units](char32_t cp) { AppendUtf16(units, cp); };
  if (codePage == kCodePageUtf8) {
    DecodeUtf8(text, emit);
  } else {
    DecodeGbk(text, emit);
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
    const std::uint16_t* encode = EncodeTable();
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

std::size_t detail::Utf8ToGbkSome(std::string_view text, std::size_t& at, char* out,
                                  std::size_t room) {
  const std::uint16_t* encode = EncodeTable();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  char* const first = out;
  char* const full = out + room;
  std::size_t i = at;
  while (i < n && out < full) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      if (b == 0) {
        i = n;
        break;
      }
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
  at = i;
  return static_cast<std::size_t>(out - first);
}

Text Utf8ToGbk(std::string_view text) {
  // Never longer than the input: one byte per ASCII byte, at most two per longer
  // sequence, one '?' per ill-formed byte. The bytes go through a small block into
  // the reserved text, so that only the pages the result fills are ever touched.
  Text gbk;
  gbk.reserve(text.size());
  constexpr std::size_t kBlock = 4096;
  char block[kBlock + detail::kGbkStepBytes];
  std::size_t at = 0;
  while (at < text.size()) gbk.append(block, detail::Utf8ToGbkSome(text, at, block, kBlock));
  return gbk;
}

Text PercentEncode(std::string_view text, bool keepSafe, bool toUtf8) {
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
