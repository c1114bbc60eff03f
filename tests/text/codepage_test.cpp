#include "text/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/text/codepage_test_helpers.h"
#include "text/codepage_platform.h"

namespace zemlaro {
namespace {

using test::IsUserDefined;
using test::kReplacementUtf8;
using test::Units;
using test::UserDefinedCase;

TEST(CodePageTest, UsesTheWindowsTableFor936) {
  EXPECT_EQ(ToUtf16("\xA1\xA4", kCodePageGbk), Units({0x00B7, 0}));
  EXPECT_EQ(ToUtf16("\x80", kCodePageGbk), Units({0x20AC, 0}));
  EXPECT_EQ(ToUtf16("\xA1\xAA", kCodePageGbk), Units({0x2014, 0}));
  EXPECT_EQ(ToUtf16("a\xCA\xD6", kCodePageGbk), Units({'a', 0x624B, 0}));
  EXPECT_EQ(FromUtf16(Units({0x00B7, 0x20AC, 0x2014, 0}), kCodePageGbk), "\xA1\xA4\x80\xA1\xAA");
  EXPECT_EQ(GbkToUtf8("\xCA\xD6\xBB\xFA"), "手机");
  EXPECT_EQ(Utf8ToGbk("手机·€—"), "\xCA\xD6\xBB\xFA\xA1\xA4\x80\xA1\xAA");
}

// Windows reads the user-defined areas as private-use characters, area after area,
// row by row; so they too come back unchanged from UTF-8.
TEST(CodePageTest, UserDefinedAreasAreThePrivateUseArea) {
  const UserDefinedCase cases[] = {
      {"\xAA\xA1", 0xE000}, {"\xAA\xFE", 0xE05D}, {"\xAB\xA1", 0xE05E}, {"\xAF\xFE", 0xE233},
      {"\xF8\xA1", 0xE234}, {"\xFE\xFE", 0xE4C5}, {"\xA1\x40", 0xE4C6}, {"\xA1\x7E", 0xE504},
      {"\xA1\x80", 0xE505}, {"\xA1\xA0", 0xE525}, {"\xA2\x40", 0xE526}, {"\xA7\xA0", 0xE765},
  };
  for (const UserDefinedCase& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ToUtf16(c.bytes, kCodePageGbk), Units({c.unit, 0}));
    EXPECT_EQ(FromUtf16(Units({c.unit, 0}), kCodePageGbk), c.bytes);
  }

  std::string whole;
  for (int lead = 0xA1; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (!IsUserDefined(lead, trail)) continue;
      whole.push_back(static_cast<char>(lead));
      whole.push_back(static_cast<char>(trail));
    }
  }
  ASSERT_EQ(whole.size(), 2u * 1894);
  const Bytes units = ToUtf16(whole, kCodePageGbk);
  std::set<unsigned> seen;
  for (std::size_t k = 0; k + 2 < units.size(); k += 2) seen.insert(units[k] | units[k + 1] << 8);
  EXPECT_EQ(seen.size(), 1894u);
  EXPECT_EQ(*seen.begin(), 0xE000u);
  EXPECT_EQ(*seen.rbegin(), 0xE765u);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(whole)), whole);

  // A byte that cannot follow a lead stays outside the areas. (What the platform
  // tables hold beside the areas is checked in codepage_iconv_test.cpp and
  // codepage_windows_test.cpp.)
  EXPECT_EQ(GbkToUtf8("\xA1\x7F"), "\xEF\xBF\xBD\x7F");
  EXPECT_EQ(FromUtf16(Units({0xDFFF, 0}), kCodePageGbk), "?");
}

TEST(CodePageTest, EmptyAndZeroTerminatedInputs) {
  EXPECT_EQ(GbkToUtf8(""), "");
  EXPECT_EQ(Utf8ToGbk(""), "");
  EXPECT_EQ(PercentEncode(""), "");
  EXPECT_EQ(PercentEncode("", true, true), "");
  EXPECT_EQ(ToUtf16(""), Units({0}));
  EXPECT_EQ(ToUtf16("", kCodePageGbk), Units({0}));
  EXPECT_EQ(FromUtf16(Bytes{}, kCodePageGbk), "");
  EXPECT_EQ(FromUtf16(Units({0, 'a', 0}), kCodePageUtf8), "");
  EXPECT_EQ(FromUtf16(Units({'a', 'b'}), kCodePageUtf8), "ab");
  // A zero byte ends the text, as it ends a zero-terminated string.
  EXPECT_EQ(ToUtf16(std::string_view("a\0b", 3)), Units({'a', 0}));
  EXPECT_EQ(Utf8ToGbk(std::string_view("a\0b", 3)), "a");
  EXPECT_EQ(Utf8ToGbk(std::string(40, 'x') + std::string(1, '\0') + "y"), std::string(40, 'x'));
  EXPECT_EQ(GbkToUtf8(std::string_view("\xCA\xD6\0b", 4)), "手");
}

TEST(CodePageTest, UnknownCodePageConvertsNothing) {
  EXPECT_TRUE(ToUtf16("abc", 1252).empty());
  EXPECT_EQ(FromUtf16(Units({'a', 0}), 1252), "");
}

struct BadInputCase {
  const char* name;
  std::string input;
  std::string expected;
};

// Bad input never stops a conversion: invalid bytes read as U+FFFD, and what code
// page 936 cannot hold is written as '?'.
TEST(CodePageTest, InvalidGbkBytesDecodeToReplacementCharacters) {
  const std::string r = kReplacementUtf8;
  const BadInputCase cases[] = {
      {"lone lead byte at the end", "a\x81", "a" + r},
      {"0xFF is no character",
       "\xFF"
       "b",
       r + "b"},
      {"byte that cannot follow a lead is read afresh", "\x81\"x", r + "\"x"},
      {"0x7F after a lead is read afresh", "\x81\x7F", r + "\x7F"},
      {"0xFF after a lead", "\xA1\xFF", r + r},
  };
  for (const BadInputCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GbkToUtf8(c.input), c.expected);
    EXPECT_EQ(FromUtf16(ToUtf16(c.input, kCodePageGbk), kCodePageUtf8), c.expected);
  }
}

TEST(CodePageTest, InvalidUtf8AndMissingCharactersBecomeQuestionMarks) {
  const BadInputCase cases[] = {
      {"character 936 lacks", "a한b手", "a?b\xCA\xD6"},
      {"character beyond 16 bits is one '?'", "x😀y", "x?y"},
      {"stray continuation byte",
       "a\x80"
       "b",
       "a?b"},
      {"cut sequence at the end", "a\xE6\x89", "a?"},
      {"cut sequence before ASCII",
       "\xE6\x89"
       "b",
       "?b"},
      {"overlong form", "\xC0\xAF", "??"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"0xFF", "\xFF\xFE", "??"},
      {"U+FFFD itself", kReplacementUtf8, "?"},
      {"bad byte inside a long ASCII run",
       std::string(20, 'a') + "\xFF" + std::string(20, 'b') + "手",
       std::string(20, 'a') + "?" + std::string(20, 'b') + "\xCA\xD6"},
  };
  for (const BadInputCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToGbk(c.input), c.expected);
    EXPECT_EQ(FromUtf16(ToUtf16(c.input), kCodePageGbk), c.expected);
  }
  EXPECT_EQ(ToUtf16("\xE6\x89"), Units({0xFFFD, 0}));
  EXPECT_EQ(ToUtf16("😀"), Units({0xD83D, 0xDE00, 0}));
}

TEST(CodePageTest, LoneSurrogateUnitsAreReplaced) {
  EXPECT_EQ(FromUtf16(Units({'a', 0xD800, 'b', 0}), kCodePageGbk), "a?b");
  EXPECT_EQ(FromUtf16(Units({0xDC00, 0}), kCodePageUtf8), kReplacementUtf8);
  EXPECT_EQ(FromUtf16(Units({0xD83D, 0xDE00, 0}), kCodePageUtf8), "😀");
  EXPECT_EQ(FromUtf16(Units({0xD83D, 0xDE00, 0}), kCodePageGbk), "?");
}

// The direct conversions give what the two steps through UTF-16 give, for any bytes.
TEST(CodePageTest, DirectConversionsMatchTheTwoSteps) {
  std::mt19937 random(936);
  const std::string pieces[] = {"a",        "Z",    " ",        "\"",       "手",
                                "·",        "€",    "😀",        "한",       "\x80",
                                "\xBF",     "\xC3", "\xE6\x89", "\xF0\x9F", "\xFF",
                                "\xCA\xD6", "\xA1", "\xFE\xFE", "\x81\x7F"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 60);
    for (int k = 0; k < count; ++k) {
      if (random() % 3 == 0) {
        text += std::string(random() % 24, 'q');
      } else {
        text += pieces[random() % std::size(pieces)];
      }
    }
    SCOPED_TRACE(text);
    ASSERT_EQ(Utf8ToGbk(text), FromUtf16(ToUtf16(text, kCodePageUtf8), kCodePageGbk));
    ASSERT_EQ(GbkToUtf8(text), FromUtf16(ToUtf16(text, kCodePageGbk), kCodePageUtf8));
  }
}

struct PercentCase {
  std::string text;
  bool keepSafe;
  bool toUtf8;
  const char* expected;
};

// The platform converter's rows (iconv or MultiByteToWideChar) are read in a few
// conversions each, yet must give what it gives pair by pair, wherever the pairs
// that are no character lie in the row.
TEST(CodePagePlatformTest, RowsMatchTheConverterPairByPair) {
  std::string everyByte;
  for (int trail = 0; trail < 0x100; ++trail) everyByte.push_back(static_cast<char>(trail));
  int characters = 0;
  for (int lead = 0x80; lead < 0x100; ++lead) {
    SCOPED_TRACE(testing::Message() << "lead " << std::hex << lead);
    char16_t units[256];
    detail::DecodeGbkRow(static_cast<unsigned char>(lead), everyByte, units);
    for (int trail = 0; trail < 0x100; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      ASSERT_EQ(units[trail], detail::DecodeGbkCharacter(pair)) << "trail " << std::hex << trail;
      if (units[trail] != 0) ++characters;
    }
  }
  // The GBK table holds 21791 double-byte characters.
  EXPECT_GE(characters, 21000);
}

struct PlatformRowCase {
  unsigned char lead;
  std::string trails;
  std::vector<char16_t> units;
};

TEST(CodePagePlatformTest, RowsMarkPairsThatAreNoCharacter) {
  const PlatformRowCase cases[] = {
      {0x81, "\x40\x41", {0x4E02, 0x4E04}},
      {0x81, "\x40\x7F\x41", {0x4E02, 0, 0x4E04}},
      {0x81, "\x7F\x40\xFF", {0, 0x4E02, 0}},
      {0xCA, "\xD6\x30\x20\xD6", {0x624B, 0, 0, 0x624B}},
      {0xA1, "\xA1\xA4\xAA", {0x3000, 0x00B7, 0x2014}},
      {0xFF, "\x40\xA1\xFE", {0, 0, 0}},
      // The euro sign is a character alone, so with a second byte it is two.
      {0x80, "\x41\x80", {0, 0}},
      {0xBB, "", {}},
  };
  for (const PlatformRowCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "lead " << std::hex << int{c.lead});
    std::vector<char16_t> units(c.trails.size(), 0xFFFF);
    detail::DecodeGbkRow(c.lead, c.trails, units.data());
    EXPECT_EQ(units, c.units);
  }
  EXPECT_EQ(detail::DecodeGbkCharacter("\x80"), 0x20AC);
  EXPECT_EQ(detail::DecodeGbkCharacter("\xBB\xFA"), 0x673A);
  EXPECT_EQ(detail::DecodeGbkCharacter("\xBB"), 0);              // a lead byte at the end
  EXPECT_EQ(detail::DecodeGbkCharacter("\xBB\xFA\xBB\xFA"), 0);  // two characters
  EXPECT_EQ(detail::DecodeGbkCharacter(""), 0);
}

TEST(PercentEncodeTest, EncodesInItsFourModes) {
  const std::string keyword = "\xCA\xD6\xBB\xFA";  // 手机
  const PercentCase cases[] = {
      {"abc", false, true, "%61%62%63"},
      {keyword, false, true, "%E6%89%8B%E6%9C%BA"},
      {keyword, false, false, "%CA%D6%BB%FA"},
      {"a b-c.d_e", true, false, "a%20b-c.d%5Fe"},
      {"\t", false, false, "%09"},
      {"\t", true, true, "%09"},
      {keyword + "-Az09.", true, true, "%E6%89%8B%E6%9C%BA-Az09."},
      {keyword + "-Az09.", true, false, "%CA%D6%BB%FA-Az09."},
      {"_~*/ +", true, false, "%5F%7E%2A%2F%20%2B"},
      {"a-1", false, false, "%61%2D%31"},
      {"\x80", false, true, "%E2%82%AC"},
  };
  for (const PercentCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " keep " << c.keepSafe << " utf8 " << c.toUtf8);
    EXPECT_EQ(PercentEncode(c.text, c.keepSafe, c.toUtf8), c.expected);
  }
  EXPECT_EQ(PercentEncode("a"), "%61");
}

}  // namespace
}  // namespace zemlaro
