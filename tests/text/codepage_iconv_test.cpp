// The code page 936 tables against the C library's converter (iconv), which they
// are built from on Linux.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/text/codepage_test_helpers.h"
#include "text/codepage.h"
#include "text/iconv_converter.h"

namespace zemlaro {
namespace {

using test::IsUserDefined;
using test::Units;

// The C library's own answer for one character, asked the slow way: the UTF-16
// unit that `bytes` decode to, or 0 when they are not one character of one unit.
char16_t IconvUnit(detail::IconvConverter& toUtf16, std::string_view bytes) {
  std::string units;
  if (!toUtf16.Convert(bytes, units) || units.size() != 2) return 0;
  return static_cast<char16_t>(static_cast<unsigned char>(units[0]) |
                               static_cast<unsigned char>(units[1]) << 8);
}

// Every byte pair that the C library's code page 936 decodes to one character.
std::vector<std::string> AllGbkPairs() {
  detail::IconvConverter toUtf16("UTF-16LE", "CP936");
  std::vector<std::string> pairs;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    for (int trail = 1; trail < 0x100; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      if (IconvUnit(toUtf16, pair) != 0) pairs.push_back(pair);
    }
  }
  return pairs;
}

TEST(CodePageTest, EveryDoubleByteCharacterSurvivesTheRoundTrip) {
  const std::vector<std::string> pairs = AllGbkPairs();
  // The GBK table holds 21791 double-byte characters.
  ASSERT_GE(pairs.size(), 21000u);
  detail::IconvConverter toUtf8("UTF-8", "CP936");
  std::string whole;
  std::string expectedUtf8;
  for (const std::string& pair : pairs) {
    std::string utf8;
    ASSERT_TRUE(toUtf8.Convert(pair, utf8));
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

// The tables are read from the C library a row at a time, and the encoding side is
// the decoding side turned round; outside the user-defined areas both must still
// give what the C library gives one character at a time.
TEST(CodePageTest, TablesMatchTheCLibraryCharacterByCharacter) {
  detail::IconvConverter toUtf16("UTF-16LE", "CP936");
  detail::IconvConverter fromUtf16("CP936", "UTF-16LE");
  ASSERT_TRUE(toUtf16.IsOpen());
  ASSERT_TRUE(fromUtf16.IsOpen());

  int decodeMismatches = 0;
  unsigned firstDecodeMismatch = 0;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    const char16_t single = IconvUnit(toUtf16, std::string(1, static_cast<char>(lead)));
    for (int trail = 1; trail < 0x100; ++trail) {
      if (IsUserDefined(lead, trail)) continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = IconvUnit(toUtf16, pair);
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
    const Bytes units = Units({static_cast<char16_t>(u)});
    std::string bytes;
    const bool known =
        fromUtf16.Convert(std::string_view(reinterpret_cast<const char*>(units.data()), 2), bytes);
    const Text utf8 = FromUtf16(Units({static_cast<char16_t>(u), 0}), kCodePageUtf8);
    if (Utf8ToGbk(utf8) != (known ? bytes : std::string(1, '?'))) {
      if (encodeMismatches++ == 0) firstEncodeMismatch = u;
    }
  }
  EXPECT_EQ(encodeMismatches, 0) << "first at U+" << std::hex << firstEncodeMismatch;
}

// The C library's table has pairs that are no character (Windows has none: see
// codepage_windows_test.cpp); such a pair reads as one U+FFFD for both bytes, and
// nothing is added around the user-defined areas.
TEST(CodePageTest, PairsTheCLibraryLacksAreOneReplacementCharacter) {
  const std::string r = test::kReplacementUtf8;
  struct Case {
    const char* input;
    std::string expected;
  };
  const Case cases[] = {
      {"\xA2\xAB"
       "c",
       r + "c"},
      {"\xA2\xAB", r},
      {"\xFE\x50\xD7\xFA", r + r},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(GbkToUtf8(c.input), c.expected);
    EXPECT_EQ(FromUtf16(ToUtf16(c.input, kCodePageGbk), kCodePageUtf8), c.expected);
  }
  EXPECT_EQ(FromUtf16(Units({0xE766, 0xE815, 0xDFFF, 0}), kCodePageGbk), "???");
}

TEST(IconvConverterTest, MovingHandsTheHandleOver) {
  detail::IconvConverter first("UTF-8", "CP936");
  ASSERT_TRUE(first.IsOpen());
  detail::IconvConverter second(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  std::string out;
  EXPECT_FALSE(first.Convert("a", out));
  ASSERT_TRUE(second.Convert("\xCA\xD6", out));
  EXPECT_EQ(out, "手");

  detail::IconvConverter third;
  EXPECT_FALSE(third.IsOpen());
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());  // NOLINT(bugprone-use-after-move)
  ASSERT_TRUE(third.Convert("\xBB\xFA", out));
  EXPECT_EQ(out, "机");
  EXPECT_FALSE(third.Convert("\xFF", out));

  EXPECT_FALSE(detail::IconvConverter("UTF-8", "NO-SUCH-CODE-PAGE").IsOpen());
}

}  // namespace
}  // namespace zemlaro
