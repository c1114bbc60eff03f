#include "text/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "text/iconv_converter.h"

namespace zemlaro {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

Bytes Units(std::initializer_list<char16_t> units) {
  Bytes bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

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

// The three user-defined areas of code page 936, which the C library lacks.
bool IsUserDefined(int lead, int trail) {
  const bool secondHalf = trail >= 0xA1 && trail <= 0xFE;
  return (lead >= 0xAA && lead <= 0xAF && secondHalf) ||
         (lead >= 0xF8 && lead <= 0xFE && secondHalf) ||
         (lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F);
}

TEST(CodePageTest, UsesTheWindowsTableFor936) {
  EXPECT_EQ(ToUtf16("\xA1\xA4", kCodePageGbk), Units({0x00B7, 0}));
  EXPECT_EQ(ToUtf16("\x80", kCodePageGbk), Units({0x20AC, 0}));
  EXPECT_EQ(ToUtf16("\xA1\xAA", kCodePageGbk), Units({0x2014, 0}));
  EXPECT_EQ(ToUtf16("a\xCA\xD6", kCodePageGbk), Units({'a', 0x624B, 0}));
  EXPECT_EQ(FromUtf16(Units({0x00B7, 0x20AC, 0x2014, 0}), kCodePageGbk), "\xA1\xA4\x80\xA1\xAA");
  EXPECT_EQ(GbkToUtf8("\xCA\xD6\xBB\xFA"), "手机");
  EXPECT_EQ(Utf8ToGbk("手机·€—"), "\xCA\xD6\xBB\xFA\xA1\xA4\x80\xA1\xAA");
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

struct UserDefinedCase {
  const char* bytes;
  char16_t unit;
};

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

  // Around the areas nothing else is added.
  EXPECT_EQ(GbkToUtf8("\xA2\xAB"), kReplacementUtf8);
  EXPECT_EQ(GbkToUtf8("\xA1\x7F"), "\xEF\xBF\xBD\x7F");
  EXPECT_EQ(FromUtf16(Units({0xE766, 0xDFFF, 0}), kCodePageGbk), "??");
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
      {"unassigned pair is one character",
       "\xA2\xAB"
       "c",
       r + "c"},
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
