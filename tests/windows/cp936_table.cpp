// Prints the code page 936 table as this build reads it, one line per entry, in an
// order and form that do not depend on the platform, so that two builds' tables
// can be compared with diff. Lines:
//   S bb unit          a single byte (80-FF) by the platform converter
//   P ll tt unit       a pair (lead 80-FF, trail 00-FF) by the platform converter
//   R ll tt a b        a row read at once that disagrees with its pairs (never)
//   T ll tt units...   the pair (trail 01-FF) through ToUtf16, as the program reads it
//   E uuuu bytes       one unit (0001-FFFF, no surrogates) through FromUtf16
//   W uuuu bytes       one unit by the platform's own encoder (no best fit)
// A unit is four hex digits, "----" for none; bytes are hex, "-" for none.
#include <cstdio>
#include <string>

#include "tests/windows/platform_encode.h"
#include "text/codepage.h"
#include "text/codepage_platform.h"

namespace {

using zemlaro::Bytes;

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  char digits[3];
  for (const char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
    out += digits;
  }
  return out;
}

void PrintUnit(char16_t unit) {
  if (unit == 0) {
    std::printf(" ----");
  } else {
    std::printf(" %04X", static_cast<unsigned>(unit));
  }
}

}  // namespace

int main() {
  std::printf("# cp936-table, decoder and encoder: %s\n", zemlaro::test::PlatformConverterName());
  for (int b = 0x80; b < 0x100; ++b) {
    const char one = static_cast<char>(b);
    std::printf("S %02X", b);
    PrintUnit(zemlaro::detail::DecodeGbkCharacter(std::string_view(&one, 1)));
    std::printf("\n");
  }
  std::string everyByte;
  for (int trail = 0; trail < 0x100; ++trail) everyByte.push_back(static_cast<char>(trail));
  int rowMismatches = 0;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    char16_t row[256];
    zemlaro::detail::DecodeGbkRow(static_cast<unsigned char>(lead), everyByte, row);
    for (int trail = 0; trail < 0x100; ++trail) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = zemlaro::detail::DecodeGbkCharacter(std::string_view(pair, 2));
      std::printf("P %02X %02X", lead, trail);
      PrintUnit(unit);
      std::printf("\n");
      if (row[trail] != unit) {
        ++rowMismatches;
        std::printf("R %02X %02X", lead, trail);
        PrintUnit(row[trail]);
        PrintUnit(unit);
        std::printf("\n");
      }
    }
  }
  for (int lead = 0x80; lead < 0x100; ++lead) {
    for (int trail = 1; trail < 0x100; ++trail) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const Bytes units = zemlaro::ToUtf16(std::string_view(pair, 2), zemlaro::kCodePageGbk);
      std::printf("T %02X %02X", lead, trail);
      for (std::size_t k = 0; k + 3 < units.size(); k += 2) {
        PrintUnit(static_cast<char16_t>(units[k] | units[k + 1] << 8));
      }
      std::printf("\n");
    }
  }
  for (unsigned u = 1; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    const Bytes units{static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8), 0, 0};
    std::printf("E %04X %s\n", u, Hex(zemlaro::FromUtf16(units, zemlaro::kCodePageGbk)).c_str());
  }
  for (unsigned u = 1; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    const auto bytes = zemlaro::test::PlatformEncode(static_cast<char16_t>(u));
    std::printf("W %04X %s\n", u, bytes ? Hex(*bytes).c_str() : "-");
  }
  std::fprintf(stderr, "cp936-table: %d row mismatches\n", rowMismatches);
  return rowMismatches == 0 ? 0 : 1;
}
