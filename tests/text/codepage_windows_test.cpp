// The code page 936 tables against the platform's converter (MultiByteToWideChar
// and WideCharToMultiByte), which they are built from on Windows. Each character
// is asked of the platform here directly, one at a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tests/text/codepage_test_helpers.h"
#include "text/codepage.h"

namespace zemlaro {
namespace {

using test::IsUserDefined;
using test::Units;

constexpr UINT kGbk = 936;

// The platform's units for `bytes` in code page `codePage`, or nothing when it finds
// them invalid.
std::wstring PlatformUnits(UINT codePage, std::string_view bytes) {
  wchar_t units[8];
  const int written = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                            static_cast<int>(bytes.size()), units, 8);
  return written > 0 ? std::wstring(units, static_cast<std::size_t>(written)) : std::wstring();
}

// The UTF-16 unit that `bytes` decode to, or 0 when they are not one character of
// one unit.
char16_t PlatformUnit(std::string_view bytes) {
  const std::wstring units = PlatformUnits(kGbk, bytes);
  return units.size() == 1 ? static_cast<char16_t>(units[0]) : char16_t{0};
}

// The code page 936 bytes of one unit, with no best-fit substitute; empty when the
// code page lacks it.
std::string PlatformBytes(char16_t unit) {
  const wchar_t wide = static_cast<wchar_t>(unit);
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int written =
      ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, 8, nullptr, &usedDefault);
  if (written <= 0 || usedDefault) return {};
  return std::string(bytes, static_cast<std::size_t>(written));
}

std::string PlatformUtf8(const std::wstring& units) {
  char bytes[16];
  const int written = ::WideCharToMultiByte(
      CP_UTF8, 0, units.data(), static_cast<int>(units.size()), bytes, 16, nullptr, nullptr);
  return written > 0 ? std::string(bytes, static_cast<std::size_t>(written)) : std::string();
}

std::vector<std::string> AllGbkPairs() {
  std::vector<std::string> pairs;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    for (int trail = 1; trail < 0x100; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      if (PlatformUnit(pair) != 0) pairs.push_back(pair);
    }
  }
  return pairs;
}

TEST(CodePageTest, EveryDoubleByteCharacterSurvivesTheRoundTrip) {
  const std::vector<std::string> pairs = AllGbkPairs();
  // The GBK table holds 21791 double-byte characters.
  ASSERT_GE(pairs.size(), 21000u);
  std::string whole;
  std::string expectedUtf8;
  for (const std::string& pair : pairs) {
    const std::string utf8 = PlatformUtf8(PlatformUnits(kGbk, pair));
    ASSERT_FALSE(utf8.empty());
    const Text converted = GbkToUtf8(pair);
    EXPECT_EQ(converted, utf8) << std::hex
                               << (static_cast<unsigned char>(pair[0]) << 8 |
                                   static_cast<unsigned char>(pair[1]));
    EXPECT_EQ(Utf8ToGbk(converted), pair);
    whole += pair;
    expectedUtf8 += utf8;
  }
  EXPECT_EQ(GbkToUtf8(whole), expectedUtf8);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(whole)), whole);
}

// The tables are read from the platform a row at a time, and the encoding side is
// the decoding side turned round; outside the user-defined areas both must still
// give what the platform gives one character at a time.
TEST(CodePageTest, TablesMatchThePlatformCharacterByCharacter) {
  int decodeMismatches = 0;
  unsigned firstDecodeMismatch = 0;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    const char16_t single = PlatformUnit(std::string(1, static_cast<char>(lead)));
    for (int trail = 1; trail < 0x100; ++trail) {
      if (IsUserDefined(lead, trail)) continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = PlatformUnit(pair);
      const char16_t expected = single != 0 ? single : unit != 0 ? unit : char16_t{0xFFFD};
      const Bytes units = ToUtf16(pair, kCodePageGbk);
      if (units.size() < 4 || (units[0] | units[1] << 8) != expected) {
        if (decodeMismatches++ == 0) firstDecodeMismatch = static_cast<unsigned>(lead << 8 | trail);
      }
    }
  }
  EXPECT_EQ(decodeMismatches, 0) << "first at " << std::hex << firstDecodeMismatch;

  int encodeMismatches = 0;
  unsigned firstEncodeMismatch = 0;
  for (unsigned u = 0x80; u < 0x10000; ++u) {
    if ((u >= 0xD800 && u < 0xE000) || (u >= 0xE000 && u <= 0xE765)) continue;
    // The encoding side holds what decodes back: a unit the platform writes but
    // never reads (Wine writes U+F8F5 as 0xFF, which it reads as no character)
    // is '?'.
    std::string bytes = PlatformBytes(static_cast<char16_t>(u));
    if (!bytes.empty() && PlatformUnit(bytes) != u) bytes.clear();
    const Text utf8 = FromUtf16(Units({static_cast<char16_t>(u), 0}), kCodePageUtf8);
    if (Utf8ToGbk(utf8) != (bytes.empty() ? std::string(1, '?') : bytes)) {
      if (encodeMismatches++ == 0) firstEncodeMismatch = u;
    }
  }
  EXPECT_EQ(encodeMismatches, 0) << "first at U+" << std::hex << firstEncodeMismatch;
}

// Windows' table has a character for every pair of a lead and a byte that may follow
// it: beside the user-defined areas, the pairs GBK leaves open read as private-use
// characters from U+E766 on. The program reads and writes them as the platform does.
TEST(CodePageTest, EveryPairIsACharacterAsOnWindows) {
  int pairs = 0;
  int mismatches = 0;
  unsigned firstMismatch = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      ++pairs;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = PlatformUnit(pair);
      const Bytes units = ToUtf16(pair, kCodePageGbk);
      if (unit == 0 || units != Units({unit, 0}) || FromUtf16(units, kCodePageGbk) != pair) {
        if (mismatches++ == 0) firstMismatch = static_cast<unsigned>(lead << 8 | trail);
      }
    }
  }
  EXPECT_EQ(pairs, 126 * 190);
  EXPECT_EQ(mismatches, 0) << "first at " << std::hex << firstMismatch;

  const test::UserDefinedCase cases[] = {
      {"\xA2\xAB", 0xE766}, {"\xA2\xB0", 0xE76B}, {"\xA9\xFE", 0xE80F},
      {"\xD7\xFA", 0xE810}, {"\xFE\x50", 0xE815}, {"\xAA\xA1", 0xE000},
  };
  for (const test::UserDefinedCase& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ToUtf16(c.bytes, kCodePageGbk), Units({c.unit, 0}));
    EXPECT_EQ(FromUtf16(Units({c.unit, 0}), kCodePageGbk), c.bytes);
  }
}

}  // namespace
}  // namespace zemlaro
