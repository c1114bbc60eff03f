// The searches take shortcuts (block scans, candidate bytes); here they are checked
// against a plain byte-by-byte walk over random texts full of double-byte
// characters, letters of both cases and marker bytes.
#include <gtest/gtest.h>

#include <random>

#include "text/codepage.h"
#include "text/process_events.h"
#include "text/text.h"

namespace zemlaro {
namespace {

bool SameByte(unsigned char a, unsigned char b, bool ignoreCase) {
  auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  return ignoreCase ? fold(a) == fold(b) : a == b;
}

bool MatchesAt(const std::string& text, int p, const std::string& needle, bool ignoreCase) {
  for (std::size_t k = 0; k < needle.size(); ++k) {
    if (!SameByte(static_cast<unsigned char>(text[p - 1 + k]),
                  static_cast<unsigned char>(needle[k]), ignoreCase)) {
      return false;
    }
  }
  return true;
}

int StepFrom(const std::string& text, int p) {
  return static_cast<unsigned char>(text[p - 1]) >= 0x80 ? p + 2 : p + 1;
}

int WalkForward(const std::string& text, const std::string& needle, std::optional<int> start,
                bool ignoreCase) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(needle.size());
  int p = !start || *start <= 1 ? 1 : *start;
  if (p > length) return -1;
  if (m == 0) return 1;
  while (length - p + 1 >= m) {
    if (MatchesAt(text, p, needle, ignoreCase)) return p;
    p = StepFrom(text, p);
  }
  return -1;
}

int WalkBackward(const std::string& text, const std::string& needle, std::optional<int> start,
                 bool ignoreCase) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(needle.size());
  if (start && *start <= 1) return -1;
  const int last = start ? std::min(length, *start - 1) : length;
  if (last < 1) return -1;
  if (m == 0) return 1;
  int found = -1;
  for (int p = 1; p + m - 1 <= last; p = StepFrom(text, p)) {
    if (MatchesAt(text, p, needle, ignoreCase)) found = p;
  }
  return found;
}

std::string RandomText(std::mt19937& random, std::size_t length) {
  static const unsigned char alphabet[] = {'a',  'A',  'n',  'N',  'i',  '"',  ':',  ' ',
                                           '\\', 0x81, 0x80, 0xA1, 0xB0, 0xE1, 0xC1, 0xFE,
                                           'k',  'K',  '_',  0x41, 0x61, 0xCA};
  std::string text(length, ' ');
  for (char& c : text) c = static_cast<char>(alphabet[random() % std::size(alphabet)]);
  return text;
}

TEST(SearchWalkTest, FindForwardAndBackwardAgreeWithAPlainWalk) {
  std::mt19937 random(20160531);
  for (int round = 0; round < 20000; ++round) {
    const std::size_t length = round % 50 == 0 ? random() % 3000 : random() % 70;
    const std::string text = RandomText(random, length);
    std::string needle;
    if (random() % 2 == 0 && length > 0) {
      const std::size_t at = random() % length;
      needle = text.substr(at, 1 + random() % 8);
    } else {
      needle = RandomText(random, random() % 4);
    }
    const bool ignoreCase = random() % 2 == 0;
    std::optional<int> start;
    if (random() % 3 != 0) start = static_cast<int>(random() % (length + 3)) - 1;
    SCOPED_TRACE(testing::Message() << "round " << round << " needle " << needle << " start "
                                    << start.value_or(-99) << " ignore " << ignoreCase);
    ASSERT_EQ(FindForward(text, needle, start, ignoreCase),
              WalkForward(text, needle, start, ignoreCase));
    ASSERT_EQ(FindBackward(text, needle, start, ignoreCase),
              WalkBackward(text, needle, start, ignoreCase));
  }
}

TEST(SearchWalkTest, LongTextsWithRareMatchesAtEveryOffset) {
  // A long run of double-byte characters with one marker placed at each offset in
  // turn, so that block edges and character parity both move across the match.
  const std::string marker = "\"Nick\":\"";
  for (std::size_t at = 0; at < 80; ++at) {
    std::string text;
    for (int k = 0; k < 60; ++k) text += "\xB0\xA1";
    text.insert(at, marker);
    text += "tail";
    for (bool ignoreCase : {false, true}) {
      for (const std::string& needle :
           {marker, std::string("\"nick\":\""), std::string("\xA1\xB0")}) {
        SCOPED_TRACE(testing::Message() << "at " << at << " needle " << needle);
        ASSERT_EQ(FindForward(text, needle, std::nullopt, ignoreCase),
                  WalkForward(text, needle, std::nullopt, ignoreCase));
      }
    }
  }
}

int hookCalls = 0;
void CountCall() { ++hookCalls; }

// The marker extraction step by step over the plain walk, counting hook calls.
std::vector<std::string> WalkBetween(const std::string& text, const std::string& left,
                                     const std::string& right, const BetweenOptions& o,
                                     int& calls) {
  std::vector<std::string> list;
  int p = o.start;
  for (;;) {
    const int a = WalkForward(text, left, p, !o.caseSensitive);
    if (a == -1) break;
    const int v = a + static_cast<int>(left.size());
    const int b = WalkForward(text, right, v, !o.caseSensitive);
    if (b == -1) break;
    p = v;
    std::string value = o.prefix;
    value += TrimSpaces(MiddlePart(text, v, b - v));
    value += o.suffix;
    if (!value.empty()) {
      if (o.includeLeft) value.insert(0, left);
      if (o.includeRight) value += right;
      if (o.maximumLength != 0) {
        if (static_cast<int>(value.size()) < o.maximumLength) list.push_back(value);
        ++calls;
      } else {
        list.push_back(value);
      }
      p = b;
    }
    calls += 3;
  }
  return list;
}

TEST(SearchWalkTest, AllTextBetweenAgreesWithAPlainWalk) {
  static const char* const pieces[] = {"<",  ">",           "<<",         "ab",       "AB",
                                       " ",  "\xA1\xA1",    "\x81",       "\xB0\xA1", "x",
                                       "\"", "\"NICK\":\"", "\"nick\":\""};
  static const char* const markers[][2] = {{"<", ">"},   {"<<", ">"},           {"ab", "AB"},
                                           {"\"", "\""}, {"\"nick\":\"", "\""}, {" ", ">"}};
  std::mt19937 random(44);
  SetProcessEventsHook(&CountCall);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % (round % 20 == 0 ? 400 : 30));
    for (int k = 0; k < count; ++k) text += pieces[random() % std::size(pieces)];
    const auto& marker = markers[random() % std::size(markers)];
    BetweenOptions options;
    options.caseSensitive = random() % 2 == 0;
    options.maximumLength = static_cast<int>(random() % 5) - 1;
    if (random() % 3 == 0) options.prefix.push_back('p');
    if (random() % 3 == 0) options.suffix.push_back('s');
    options.includeLeft = random() % 2 == 0;
    options.includeRight = random() % 2 == 0;
    options.start = static_cast<int>(random() % 8) - 2;
    SCOPED_TRACE(testing::Message() << "round " << round << " text " << text);
    int expectedCalls = 0;
    const std::vector<std::string> expected =
        WalkBetween(text, marker[0], marker[1], options, expectedCalls);
    TextArray list;
    hookCalls = 0;
    ASSERT_EQ(AllTextBetween(text, marker[0], marker[1], list, options),
              static_cast<int>(expected.size()));
    ASSERT_EQ(std::vector<std::string>(list.begin(), list.end()), expected);
    ASSERT_EQ(hookCalls, expectedCalls);
  }
  SetProcessEventsHook(nullptr);
}

// The piecewise extraction against the whole conversion scanned once per marker pair,
// over UTF-8 texts whose converted form steps out of line (the euro sign is the
// single byte 0x80, which takes the next byte with it), holds full-width spaces to
// trim, ill-formed bytes, zero bytes, and markers in either letter case; the blocks
// are small enough to cut markers, characters and values anywhere.
TEST(SearchWalkTest, AllTextBetweenUtf8AgreesWithTheWholeConversion) {
  static constexpr std::string_view pieces[] = {"\"raw_title\":\"",
                                                "\"RAW_TITLE\":\"",
                                                "\"nid\":\"",
                                                "\"Nick\":\"",
                                                "\"",
                                                ":",
                                                " ",
                                                "a",
                                                "Z",
                                                "\xE3\x80\x80" /* U+3000 */,
                                                "\xE2\x82\xAC" /* euro */,
                                                "\xE6\x89\x8B" /* 手 */,
                                                "\xC2\xB7",
                                                "\xF0\x9F\x98\x80",
                                                "\x80",
                                                "\xE6\x41",
                                                "\xFF",
                                                std::string_view("\0", 1),
                                                "<",
                                                ">"};
  // Pairs in code page 936, as AllTextBetween is given them.
  static const char* const pairs[][2] = {
      {"\"raw_title\":\"", "\""}, {"\"nid\":\"", "\""}, {"\"nick\":\"", "\""}, {"\"", "\""},
      {"\xCA\xD6", "<"},          {"<", ">"},           {"a", "\x80"}};
  std::mt19937 random(936);
  SetProcessEventsHook(&CountCall);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % (round % 25 == 0 ? 3000 : 60));
    for (int k = 0; k < count; ++k) text += pieces[random() % std::size(pieces)];
    const std::size_t cuts = 1 + random() % 3;
    const std::size_t block = round % 7 == 0 ? kUtf8BetweenBlock : 1 + random() % 40;
    SCOPED_TRACE(testing::Message() << "round " << round << " block " << block);
    const std::string converted = Utf8ToGbk(text);
    std::vector<std::vector<std::string>> expected;
    int expectedCalls = 0;
    std::size_t first = random() % std::size(pairs);
    for (std::size_t c = 0; c < cuts; ++c) {
      const auto& pair = pairs[(first + c) % std::size(pairs)];
      TextArray list;
      hookCalls = 0;
      AllTextBetween(converted, pair[0], pair[1], list);
      expectedCalls += hookCalls;
      expected.emplace_back(list.begin(), list.end());
    }
    TextArray lists[3] = {{"left over"}, {"left over"}, {"left over"}};
    std::vector<MarkerCut> given;
    for (std::size_t c = 0; c < cuts; ++c) {
      const auto& pair = pairs[(first + c) % std::size(pairs)];
      given.push_back({pair[0], pair[1], &lists[c]});
    }
    hookCalls = 0;
    AllTextBetweenUtf8(text, given, block);
    for (std::size_t c = 0; c < cuts; ++c) {
      ASSERT_EQ(std::vector<std::string>(lists[c].begin(), lists[c].end()), expected[c])
          << "cut " << c;
    }
    ASSERT_EQ(hookCalls, expectedCalls);
  }
  SetProcessEventsHook(nullptr);
}

// The block scan sees candidates whose probe bytes fit in the text but whose whole
// needle would not; giving up there must not send the scan back over candidates it
// has already judged (here the second byte of a double-byte character).
TEST(SearchWalkTest, CandidatesNearTheEndAreJudgedOnce) {
  for (std::size_t filler = 0; filler < 70; ++filler) {
    const std::string text = "\x81xy\"" + std::string(filler, '-') + "xy";
    SCOPED_TRACE(filler);
    EXPECT_EQ(FindForward(text, "xy\""), -1);
    EXPECT_EQ(FindForward(text, "XY\"", std::nullopt, true), -1);
    EXPECT_EQ(FindBackward(text, "xy\""), -1);
  }
}

}  // namespace
}  // namespace zemlaro
