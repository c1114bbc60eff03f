#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "text/process_events.h"

namespace zemlaro {
namespace {

// Code page 936 pieces, written as bytes.
constexpr char kFullSpace[] = "\xA1\xA1";           // full-width space
constexpr char kQuoteName[] = "#\xD2\xFD\xBA\xC5";  // "#引号"

TEST(TextArrayTest, ItemIsOneBasedAndEmptyOutsideTheList) {
  const TextArray list{"a", "b"};
  EXPECT_EQ(list.Item(1), "a");
  EXPECT_EQ(list.Item(2), "b");
  EXPECT_EQ(list.Item(0), "");
  EXPECT_EQ(list.Item(3), "");
  EXPECT_EQ(list.Item(-1), "");
  EXPECT_EQ(CountOf(list), 2);
}

TEST(CompareTextsTest, ComparesBytesAsUnsigned) {
  EXPECT_EQ(CompareTexts("", ""), 0);
  EXPECT_EQ(CompareTexts("abc", "abc"), 0);
  EXPECT_LT(CompareTexts("\x7F", "\x80"), 0);
  EXPECT_GT(CompareTexts("\xB0\xA1", "a"), 0);
  EXPECT_LT(CompareTexts("ab", "abc"), 0);
  EXPECT_GT(CompareTexts("a", ""), 0);
}

TEST(JoinTest, EmptyPartsAddNothing) {
  EXPECT_EQ(JoinTexts({"a", "", "bc", CharOfCode(0)}), "abc");
  EXPECT_EQ(JoinTexts({"", ""}), "");
  const Bytes a{1, 0}, none, b{2};
  EXPECT_EQ(JoinBytes({&a, &none, &b}), (Bytes{1, 0, 2}));
  EXPECT_TRUE(JoinBytes({&none, &none}).empty());
  EXPECT_TRUE(SameBytes(a, Bytes{1, 0}));
  EXPECT_FALSE(SameBytes(a, Bytes{1}));
}

struct PartCase {
  const char* text;
  int start;
  int n;
  const char* left;
  const char* right;
  const char* middle;
};

TEST(PartsTest, CountBytesAndClampToTheText) {
  const PartCase cases[] = {
      {"hello", 2, 2, "he", "lo", "el"},
      {"hello", 1, 0, "", "", ""},
      {"hello", 1, -3, "", "", ""},
      {"hello", 4, 10, "hello", "hello", "lo"},
      {"hello", 5, 1, "h", "o", "o"},
      {"hello", 6, 1, "h", "o", ""},
      {"hello", 0, 2, "he", "lo", ""},
      {"hello", -1, 2, "he", "lo", ""},
      {"", 1, 1, "", "", ""},
      // Counts are bytes, so a double-byte character can be cut.
      {"\xB0\xA1"
       "b",
       2, 1, "\xB0", "b", "\xA1"},
  };
  for (const PartCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " start " << c.start << " n " << c.n);
    EXPECT_EQ(LeftPart(c.text, c.n), c.left);
    EXPECT_EQ(RightPart(c.text, c.n), c.right);
    EXPECT_EQ(MiddlePart(c.text, c.start, c.n), c.middle);
  }
}

struct FindCase {
  const char* text;
  const char* needle;
  std::optional<int> start;
  bool ignoreCase;
  int expected;
};

TEST(FindForwardTest, FollowsPositionAndCharacterRules) {
  const FindCase cases[] = {
      // An empty needle is found at 1 in any non-empty region, whatever the start.
      {"abcdefghij", "", std::nullopt, false, 1},
      {"abcdefghij", "", 5, false, 1},
      {"", "", std::nullopt, false, -1},
      {"abc", "", 4, false, -1},
      // Start 0, negative and 1 all search the whole text; length + 1 finds nothing.
      {"abcabc", "a", 0, false, 1},
      {"abcabc", "a", -7, false, 1},
      {"abcabc", "a", 1, false, 1},
      {"abcabc", "a", 2, false, 4},
      {"abcabc", "c", 6, false, 6},
      {"abcabc", "c", 7, false, -1},
      {"abc", "abcd", std::nullopt, false, -1},
      {"", "a", std::nullopt, false, -1},
      // A match never begins on the second byte of a double-byte character.
      {"\x81\x41\x41", "A", std::nullopt, false, 3},
      {"\x81\x41", "A", std::nullopt, false, -1},
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", std::nullopt, false, -1},
      {"\xB0\xA1\xB0\xA1", "\xB0\xA1", 3, false, 3},
      {"\xB0\xA1\xB0\xA1", "\xB0\xA1", 2, false, -1},
      // A start inside a character begins the stepping there.
      {"\x81\x41\x41", "A", 2, false, 2},
      {"\x81\x41"
       "x\x81"
       "x",
       "x", std::nullopt, false, 3},
      // ASCII letters fold on every compared byte, trail bytes included; nothing else folds.
      {"Cookie: x; Set-Cookie: y", "set-cookie", std::nullopt, true, 12},
      {"Cookie: x; Set-Cookie: y", "set-cookie", std::nullopt, false, -1},
      {"\x81\x61", "\x81\x41", std::nullopt, true, 1},
      {"\xC1", "\xE1", std::nullopt, true, -1},
      {"\xA3\xC1", "\xA3\xE1", std::nullopt, true, -1},
      {"a[", "{", std::nullopt, true, -1},
      {"x@", "`", std::nullopt, true, -1},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" / \"" << c.needle << "\" start "
                                    << c.start.value_or(-99) << " ignore " << c.ignoreCase);
    EXPECT_EQ(FindForward(c.text, c.needle, c.start, c.ignoreCase), c.expected);
  }
}

TEST(FindBackwardTest, FindsTheLastMatchEndingBeforeStart) {
  const FindCase cases[] = {
      {"a.b.c", ".", std::nullopt, false, 4},
      {"a.b.c", ".", 4, false, 2},
      {"a.b.c", ".", 3, false, 2},
      {"a.b.c", ".", 2, false, -1},
      {"a.b.c", ".", 1, false, -1},
      {"a.b.c", ".", 0, false, -1},
      {"a.b.c", ".", -3, false, -1},
      {"a.b.c", ".", 99, false, 4},
      {"a.b.c", "b.c", 6, false, 3},
      {"a.b.c", "b.c", 5, false, -1},
      {"a.b.c", "", std::nullopt, false, 1},
      {"a.b.c", "", 2, false, 1},
      {"", "", std::nullopt, false, -1},
      {"xAxa", "A", std::nullopt, true, 4},
      {"xAxa", "A", std::nullopt, false, 2},
      // Candidates step by character from byte 1.
      {"A\x81"
       "A",
       "A", std::nullopt, false, 1},
      {"\x81"
       "AA\x81"
       "A",
       "A", std::nullopt, false, 3},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << '"' << c.text << "\" / \"" << c.needle << "\" start " << c.start.value_or(-99));
    EXPECT_EQ(FindBackward(c.text, c.needle, c.start, c.ignoreCase), c.expected);
  }
}

struct SubstituteCase {
  const char* text;
  const char* subtext;
  const char* replacement;
  std::optional<int> start;
  std::optional<int> count;
  bool caseSensitive;
  const char* expected;
};

TEST(SubstituteTest, ReplacesLeftToRightWithoutOverlap) {
  const SubstituteCase cases[] = {
      {"Set-Cookie: a\r\nset-cookie: b\r\nSET-COOKIE: c", "set-cookie", "X", std::nullopt,
       std::nullopt, false, "X: a\r\nX: b\r\nX: c"},
      {"Set-Cookie: a set-cookie", "set-cookie", "X", std::nullopt, std::nullopt, true,
       "Set-Cookie: a X"},
      {"a-b-c", "-", "", std::nullopt, std::nullopt, true, "abc"},
      {"aaaa", "aa", "b", std::nullopt, std::nullopt, true, "bb"},
      {"aaa", "aa", "b", std::nullopt, std::nullopt, true, "ba"},
      {"aXa", "a", "aa", std::nullopt, std::nullopt, true, "aaXaa"},
      {"a-b-c-d", "-", "+", 3, std::nullopt, true, "a-b+c+d"},
      {"a-b-c-d", "-", "+", 0, 2, true, "a+b+c-d"},
      {"a-b-c-d", "-", "+", std::nullopt, -1, true, "a+b+c+d"},
      {"a-b-c-d", "-", "+", std::nullopt, 0, true, "a-b-c-d"},
      {"a-b", "-", "+", 4, std::nullopt, true, "a-b"},
      {"a-b", "", "+", std::nullopt, std::nullopt, true, "a-b"},
      {"", "-", "+", std::nullopt, std::nullopt, true, ""},
      // The second byte of a double-byte character never starts a match.
      {"\x81"
       "AB"
       "AB",
       "AB", "-", std::nullopt, std::nullopt, true,
       "\x81"
       "AB-"},
      {"\xB0\xA1"
       "a",
       "\xA1"
       "a",
       "-", std::nullopt, std::nullopt, true,
       "\xB0\xA1"
       "a"},
  };
  for (const SubstituteCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" / \"" << c.subtext << '"');
    EXPECT_EQ(Substitute(c.text, c.subtext, c.replacement, c.start, c.count, c.caseSensitive),
              c.expected);
  }
  EXPECT_EQ(Substitute("x=1;y=2", "=1"), "x;y=2");
}

struct SplitCase {
  const char* text;
  const char* delimiter;
  std::optional<int> maximum;
  std::vector<std::string> expected;
};

TEST(SplitOnTest, KeepsInnerEmptyPiecesButNoEmptyLastPiece) {
  const SplitCase cases[] = {
      {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", "\r\n", std::nullopt, {"HTTP/1.1 200 OK", "A: 1", ""}},
      {"a\r\nb\r\n", "\r\n", std::nullopt, {"a", "b"}},
      {"\r\na", "\r\n", std::nullopt, {"", "a"}},
      {"a,,b", ",", std::nullopt, {"a", "", "b"}},
      {",b", ",", std::nullopt, {"", "b"}},
      {"a,", ",", std::nullopt, {"a"}},
      {",", ",", std::nullopt, {""}},
      {"abc", ",", std::nullopt, {"abc"}},
      {"a,b,c,d", ",", 2, {"a", "b"}},
      {"a,b", ",", 5, {"a", "b"}},
      {"a,b", ",", 0, {}},
      {"a,b", ",", -1, {}},
      {"", ",", std::nullopt, {}},
      {"a,b", "", std::nullopt, {"a,b"}},
      {"aXbxc", "x", std::nullopt, {"aXb", "c"}},
      // ',' as the second byte of a double-byte character is no delimiter.
      {"\x81,x,y", ",", std::nullopt, {"\x81,x", "y"}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" / \"" << c.delimiter << '"');
    const TextArray list = SplitOn(c.text, c.delimiter, c.maximum);
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()), c.expected);
  }
  EXPECT_EQ(SplitOn("a,b").Count(), 2);
}

TEST(TrimSpacesTest, RemovesOnlySpacesAndFullWidthSpaces) {
  const std::pair<std::string, std::string> cases[] = {
      {"  a b  ", "a b"},
      {"\ta\r\n", "\ta\r\n"},
      {" \ta\n ", "\ta\n"},
      {std::string(kFullSpace) + "a" + kFullSpace + " " + kFullSpace, "a"},
      {std::string(kFullSpace) + " " + kFullSpace, ""},
      {"   ", ""},
      {"", ""},
      // 0xB0 0xA1 is a character; only the last, lone 0xA1 is a cut character.
      {"a\xB0\xA1\xA1", "a\xB0\xA1"},
      {"a\xB0\xA1\xA1\xA1", "a\xB0\xA1"},
      // A cut character at the end is dropped and the spaces before it stay.
      {"a  \x81", "a  "},
      {" \xA1", ""},
      {"\xA1", ""},
      {"\xA1\xA1\xA1", ""},
      {"\xB0\xA1 ", "\xB0\xA1"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::Message() << '"' << text << '"');
    EXPECT_EQ(TrimSpaces(text), expected);
  }
}

TEST(LowerAsciiTest, LeavesDoubleByteCharactersAlone) {
  EXPECT_EQ(LowerAscii("AbC-Z@[\x81\x41"
                       "D\xC1"),
            "abc-z@[\x81\x41"
            "d\xC1");
  EXPECT_EQ(LowerAscii(""), "");
}

TEST(ParseRealTest, ReadsTheLeadingNumberAfterFoldingFullWidthForms) {
  const std::pair<std::string, double> cases[] = {
      {"2.7", 2.7},
      {" 12abc", 12},
      {"", 0},
      {"abc", 0},
      {"\xA3\xB1\xA3\xB2", 12},                    // １２
      {"\xA3\xAD\xA3\xB1\xA3\xAE\xA3\xB5", -1.5},  // －１．５
      {std::string(kFullSpace) + "\xA3\xB3", 3},   // full-width space, ３
      {"\xA3\xB1\xB0\xA1"
       "2",
       1},  // １, then 啊 ends the number
      {"\t\n\v\f\r 7", 7},
      {"-2.5", -2.5},
      {"+3", 3},
      {".5", 0.5},
      {"5.", 5},
      {"-.25x", -0.25},
      {".", 0},
      {"-", 0},
      {"1e3", 1000},
      {"1E+3", 1000},
      {"2d2", 200},
      {"2D-2", 0.02},
      {"1e", 1},
      {"1e+", 1},
      {"1.5.3", 1.5},
      {"0x10", 0},
      {"inf", 0},
      {"nan", 0},
      {"- 1", 0},
      {"00012", 12},
      {"1e-400", 0},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::Message() << '"' << text << '"');
    EXPECT_DOUBLE_EQ(ParseReal(text), expected);
  }
  EXPECT_EQ(ParseReal("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseReal("-1e400"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseReal("0e400"), 0);
  EXPECT_EQ(ParseReal("0.000001e320"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(static_cast<int>(ParseReal("-2.7")), -2);
}

TEST(ParseIntegerTest, ReadsLeadingDigitsAndSaturates) {
  const std::pair<std::string, int> cases[] = {
      {"2.7", 2},
      {" -12x", -12},
      {"+7", 7},
      {"", 0},
      {"x1", 0},
      {"\xA3\xB4\xA3\xB4", 44},
      {"\xA3\xAB\xA3\xB5", 5},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999", INT_MIN},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::Message() << '"' << text << '"');
    EXPECT_EQ(ParseInteger(text), expected);
  }
}

TEST(FormatTest, WritesNumbersAsPrintfDoes) {
  const std::pair<double, const char*> reals[] = {
      {44, "44"},
      {0, "0"},
      {1, "1"},
      {88, "88"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {1.0 / 3, "0.3333333333333"},
      {1234567890123, "1234567890123"},
      {12345678901234, "1.234567890123e+13"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {2.0000000000001, "2"},
  };
  for (const auto& [value, expected] : reals) EXPECT_EQ(FormatReal(value), expected);

  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-5), "-5");
  EXPECT_EQ(FormatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(HexOfByte(0), "0");
  EXPECT_EQ(HexOfByte(10), "A");
  EXPECT_EQ(HexOfByte(255), "FF");
  EXPECT_EQ(HexOfByte(0x1C), "1C");
}

TEST(ByteHelpersTest, ConvertBetweenTextsAndBuffers) {
  EXPECT_EQ(CharOfCode(0), "");
  EXPECT_EQ(CharOfCode(65), "A");
  EXPECT_EQ(CharOfCode(0xB0), "\xB0");
  EXPECT_EQ(CharOfCode(256), "");
  EXPECT_EQ(CharOfCode(-1), "");
  EXPECT_EQ(TextOfBytes(Bytes{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(TextOfBytes(Bytes{'a', 'b'}), "ab");
  EXPECT_EQ(TextOfBytes(Bytes{}), "");
  EXPECT_TRUE(BytesOfText("").empty());
  EXPECT_EQ(BytesOfText("a\xB0"), (Bytes{'a', 0xB0}));
  EXPECT_EQ(SpaceText(3), "   ");
  EXPECT_EQ(SpaceText(0), "");
  EXPECT_EQ(SpaceText(-2), "");
  EXPECT_EQ(ZeroBytes(2), (Bytes{0, 0}));
  EXPECT_TRUE(ZeroBytes(-1).empty());
  const Bytes bytes{1, 2, 3};
  EXPECT_TRUE(FirstBytes(bytes, -1).empty());
  EXPECT_TRUE(FirstBytes(bytes, 0).empty());
  EXPECT_EQ(FirstBytes(bytes, 2), (Bytes{1, 2}));
  EXPECT_EQ(FirstBytes(bytes, 9), bytes);
  EXPECT_EQ(OrBits({0x80000000u, 0x1, 0x10}), 0x80000011u);
}

TEST(TextBetweenTest, CutsBetweenTheFirstMarkers) {
  const std::string json = "{\"nid\":\" 42 \",\"nick\":\"x\"}";
  EXPECT_EQ(TextBetween(json, std::string("\"nid") + kQuoteName + ":" + kQuoteName, kQuoteName),
            " 42 ");
  EXPECT_EQ(TextBetween(json, "\"nick\":\"", "\""), "x");
  EXPECT_EQ(TextBetween(json, "\"NICK\":\"", "\""), "");
  EXPECT_EQ(TextBetween(json, "\"NICK\":\"", "\"", std::nullopt, true), "x");
  EXPECT_EQ(TextBetween(json, "\"nid\":\"", "\"", 3), "");
  EXPECT_EQ(TextBetween(json, "\"", "\"", 3), ":");
  EXPECT_EQ(TextBetween(json, "\"missing\":\"", "\""), "");
  EXPECT_EQ(TextBetween(json, "\"nid\":\"", "#"), "");
  EXPECT_EQ(TextBetween("<><b>", "<", ">"), "");
  EXPECT_EQ(TextBetween("", "<", ">"), "");
}

std::vector<std::string> Items(const TextArray& list) { return {list.begin(), list.end()}; }

int hookCalls = 0;
void CountCall() { ++hookCalls; }

class AllTextBetweenTest : public testing::Test {
 protected:
  void SetUp() override {
    hookCalls = 0;
    SetProcessEventsHook(&CountCall);
  }
  void TearDown() override { SetProcessEventsHook(nullptr); }
};

struct BetweenCase {
  const char* name;
  std::string text;
  std::string left;
  std::string right;
  BetweenOptions options;
  std::vector<std::string> expected;
  int calls;
};

BetweenOptions Options(bool caseSensitive, int maximumLength = 0, Text prefix = {},
                       Text suffix = {}, bool includeLeft = false, bool includeRight = false,
                       int start = 0) {
  return {caseSensitive, maximumLength, prefix, suffix, includeLeft, includeRight, start};
}

TEST_F(AllTextBetweenTest, CollectsTrimmedValuesAndCallsTheHookPerPair) {
  const std::string answer =
      "{\"nick\":\"a\"},{\"NICK\":\" b \"},{\"nick\":\"  \"},{\"nick\":\"c\"}";
  const BetweenCase cases[] = {
      {"default ignores case and skips blank values",
       answer,
       "\"nick\":\"",
       "\"",
       {},
       {"a", "b", "c"},
       12},
      {"case sensitive", answer, "\"nick\":\"", "\"", Options(true), {"a", "c"}, 9},
      {"maximum drops values as long as it",
       "<abc><ab><a>",
       "<",
       ">",
       Options(false, 3),
       {"ab", "a"},
       12},
      {"negative maximum drops all", "<abc><ab>", "<", ">", Options(false, -1), {}, 8},
      {"maximum counts the markers it includes",
       "<ab><a>",
       "<",
       ">",
       Options(false, 3, {}, {}, true, false),
       {"<a"},
       8},
      {"markers outside prefix and suffix",
       "[x] [ y ]",
       "[",
       "]",
       Options(false, 0, "p", "s", true, true),
       {"[pxs]", "[pys]"},
       6},
      {"prefix makes a blank value non-empty", "[ ]", "[", "]", Options(false, 0, "p"), {"p"}, 3},
      {"start skips earlier pairs",
       "<a><b>",
       "<",
       ">",
       Options(false, 0, {}, {}, false, false, 4),
       {"b"},
       3},
      {"the closing marker can open the next value", "\"a\"b\"", "\"", "\"", {}, {"a", "b"}, 6},
      // A blank value keeps the search right after its left marker: two pairs here, not one.
      {"blank value searches on after its left marker", "  ]", " ", "]", {}, {}, 6},
      {"missing right marker ends the scan", "<a><b", "<", ">", {}, {"a"}, 3},
      {"left marker at the very end", "<a><", "<", ">", {}, {"a"}, 3},
      {"no pair", "abc", "<", ">", {}, {}, 0},
      {"marker inside a double-byte character is skipped",
       "\x81\""
       "a\""
       "b\"",
       "\"",
       "\"",
       {},
       {"b"},
       3},
      {"values keep double-byte characters", "<\xB0\xA1\xA1\xA1>", "<", ">", {}, {"\xB0\xA1"}, 3},
  };
  for (const BetweenCase& c : cases) {
    SCOPED_TRACE(c.name);
    hookCalls = 0;
    TextArray list{"stale"};
    const int count = AllTextBetween(c.text, c.left, c.right, list, c.options);
    EXPECT_EQ(Items(list), c.expected);
    EXPECT_EQ(count, list.Count());
    EXPECT_EQ(hookCalls, c.calls);
  }
}

TEST_F(AllTextBetweenTest, EmptyMarkersGiveAnEmptyList) {
  TextArray list{"stale"};
  EXPECT_EQ(AllTextBetween("<a>", "", ">", list), 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(AllTextBetween("<a>", "<", "", list, Options(false, 0, "p")), 0);
  EXPECT_EQ(hookCalls, 0);
}

TEST(ProcessEventsTest, DefaultHookDoesNothingAndCanBeRestored) {
  ProcessEvents();
  hookCalls = 0;
  SetProcessEventsHook(&CountCall);
  ProcessEvents();
  SetProcessEventsHook(nullptr);
  ProcessEvents();
  EXPECT_EQ(hookCalls, 1);
}

TEST(ValueAfterColonTest, TrimsWhatFollowsTheFirstColon) {
  const std::pair<std::string, std::string> cases[] = {
      {"Location: https://a.b:8080/x", "https://a.b:8080/x"},
      {"Content-Length:12", "12"},
      {"X: v\r", "v\r"},
      {std::string("X:") + kFullSpace + "v " + kFullSpace, "v"},
      {"no colon here", ""},
      {"X:", ""},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ValueAfterColon(text), expected);
  }
}

}  // namespace
}  // namespace zemlaro
