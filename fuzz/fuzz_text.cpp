// FindForward, FindBackward, Substitute, SplitOn and TrimSpaces against the slow
// references of reference.h, plus the properties that follow from their rules.
//
// Input: flags, start, count, maximum, needle length, replacement length, then the
// needle, the replacement and the text. Zero bytes are dropped (a Text holds none).
//   flags bit 0: ignore case (Substitute: not case sensitive)
//         bit 1: start given      bit 5: start times 32 (long texts)
//         bit 6: start is INT_MAX (odd byte) or INT_MIN
//         bit 2: count given      bit 3: maximum given
//         bit 4: SplitOn with its default delimiter ","
#include <climits>
#include <cstdint>
#include <optional>
#include <string>

#include "check.h"
#include "reference.h"
#include "text/text.h"

namespace {

using zemlaro::fuzz::Escaped;
using zemlaro::fuzz::WithoutZeros;
namespace ref = zemlaro::fuzz::ref;

std::string Show(std::optional<int> value) {
  return value ? std::to_string(*value) : std::string("(left out)");
}

std::string Join(const std::vector<std::string>& pieces, std::string_view delimiter) {
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out.append(delimiter);
    out += pieces[i];
  }
  return out;
}

std::vector<std::string> Pieces(const zemlaro::TextArray& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

std::string ShowPieces(const std::vector<std::string>& pieces) {
  std::string out = "[";
  for (const std::string& piece : pieces) out += Escaped(piece) + " ";
  return out + "]";
}

void CheckFind(const std::string& text, const std::string& needle, std::optional<int> start,
               bool ignoreCase) {
  const std::string what = "text " + Escaped(text) + " needle " + Escaped(needle) + " start " +
                           Show(start) + " ignoreCase " + std::to_string(ignoreCase);
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(needle.size());

  const int forward = zemlaro::FindForward(text, needle, start, ignoreCase);
  const int forwardRef = ref::FindForward(text, needle, start, ignoreCase);
  FUZZ_CHECK(forward == forwardRef, what + " FindForward " + std::to_string(forward) +
                                        " expected " + std::to_string(forwardRef));
  FUZZ_CHECK(forward == -1 || (forward >= 1 && forward + m - 1 <= length), what);

  const int backward = zemlaro::FindBackward(text, needle, start, ignoreCase);
  const int backwardRef = ref::FindBackward(text, needle, start, ignoreCase);
  FUZZ_CHECK(backward == backwardRef, what + " FindBackward " + std::to_string(backward) +
                                          " expected " + std::to_string(backwardRef));
  FUZZ_CHECK(backward == -1 || (backward >= 1 && backward + m - 1 <= length), what);
  // A match found backwards ends before the start byte.
  FUZZ_CHECK(backward == -1 || m == 0 || !start || backward + m - 1 < *start, what);
}

void CheckSubstitute(const std::string& text, const std::string& subtext,
                     const std::string& replacement, std::optional<int> start,
                     std::optional<int> count, bool caseSensitive) {
  const std::string what = "text " + Escaped(text) + " subtext " + Escaped(subtext) +
                           " replacement " + Escaped(replacement) + " start " + Show(start) +
                           " count " + Show(count) + " caseSensitive " +
                           std::to_string(caseSensitive);
  const std::string result =
      zemlaro::Substitute(text, subtext, replacement, start, count, caseSensitive);
  const std::string expected =
      ref::Substitute(text, subtext, replacement, start, count, caseSensitive);
  FUZZ_CHECK(result == expected,
             what + " gave " + Escaped(result) + " expected " + Escaped(expected));

  // Where the search finds nothing, nothing is replaced; where it finds the first
  // occurrence, everything before it is kept.
  const int first = ref::FindForward(text, subtext, start, !caseSensitive);
  if (first == -1 || subtext.empty() || (count && *count == 0)) {
    FUZZ_CHECK(result == text, what + " gave " + Escaped(result));
  } else {
    FUZZ_CHECK(result.compare(0, static_cast<std::size_t>(first - 1), text, 0,
                              static_cast<std::size_t>(first - 1)) == 0,
               what + " gave " + Escaped(result));
  }
  if (caseSensitive && replacement == subtext) {
    FUZZ_CHECK(result == text, what + " gave " + Escaped(result));
  }
}

// Deleting every occurrence from byte 1 leaves none behind, except occurrences that
// span a join, where a deletion brought bytes together that were apart before.
void CheckDeletion(const std::string& text, const std::string& subtext, bool caseSensitive) {
  if (subtext.empty()) return;
  std::vector<std::size_t> joins;
  ref::Substitute(text, subtext, "", std::nullopt, std::nullopt, caseSensitive, &joins);
  const std::string result =
      zemlaro::Substitute(text, subtext, {}, std::nullopt, std::nullopt, caseSensitive);
  const std::size_t m = subtext.size();
  for (int p = ref::FindForward(result, subtext, std::nullopt, !caseSensitive); p != -1;
       p = ref::FindForward(result, subtext, ref::NextCharacter(result, p), !caseSensitive)) {
    const std::size_t from = static_cast<std::size_t>(p - 1);
    bool spansJoin = false;
    for (const std::size_t join : joins) spansJoin = spansJoin || (join > from && join < from + m);
    FUZZ_CHECK(spansJoin, "text " + Escaped(text) + " subtext " + Escaped(subtext) +
                              " caseSensitive " + std::to_string(caseSensitive) +
                              ": occurrence left at " + std::to_string(p) + " in " +
                              Escaped(result));
    if (ref::NextCharacter(result, p) > static_cast<int>(result.size())) break;
  }
}

void CheckSplit(const std::string& text, std::optional<std::string> delimiter,
                std::optional<int> maximum) {
  const std::string d = delimiter.value_or(",");
  const std::string what =
      "text " + Escaped(text) + " delimiter " + Escaped(d) + " maximum " + Show(maximum);
  const std::vector<std::string> pieces =
      Pieces(delimiter ? zemlaro::SplitOn(text, *delimiter, maximum) : zemlaro::SplitOn(text));
  const std::vector<std::string> expected =
      ref::SplitOn(text, d, delimiter ? maximum : std::nullopt);
  FUZZ_CHECK(pieces == expected,
             what + " gave " + ShowPieces(pieces) + " expected " + ShowPieces(expected));

  if (text.empty() || d.empty()) return;
  const std::string joined = Join(pieces, d);
  if (!delimiter || !maximum) {
    // The pieces and delimiters rebuild the text; only an empty final piece is lost.
    FUZZ_CHECK(joined == text || joined + d == text, what + " rebuilt " + Escaped(joined));
  } else {
    FUZZ_CHECK(text.compare(0, joined.size(), joined) == 0, what + " rebuilt " + Escaped(joined));
    FUZZ_CHECK(static_cast<int>(pieces.size()) <= std::max(0, *maximum), what);
  }
}

void CheckTrim(const std::string& text) {
  const std::string trimmed = zemlaro::TrimSpaces(text);
  const std::string expected = ref::TrimSpaces(text);
  FUZZ_CHECK(trimmed == expected, "text " + Escaped(text) + " gave " + Escaped(trimmed) +
                                      " expected " + Escaped(expected));
  FUZZ_CHECK(text.find(trimmed) != std::string::npos, "text " + Escaped(text));
  // Idempotent, except where a cut double-byte character at the end was removed
  // and uncovered spaces before it, which a second pass then takes.
  if (!ref::EndsInCutCharacter(text)) {
    FUZZ_CHECK(zemlaro::TrimSpaces(trimmed) == trimmed,
               "text " + Escaped(text) + " trimmed twice " + Escaped(zemlaro::TrimSpaces(trimmed)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint8_t flags = data[0];
  const bool ignoreCase = (flags & 0x01) != 0;
  std::optional<int> start;
  if (flags & 0x02) {
    const int small = static_cast<std::int8_t>(data[1]);
    start = (flags & 0x40)   ? ((data[1] & 1) ? INT_MAX : INT_MIN)
            : (flags & 0x20) ? small * 32
                             : small;
  }
  std::optional<int> count;
  if (flags & 0x04) count = static_cast<std::int8_t>(data[2]);
  std::optional<int> maximum;
  if (flags & 0x08) maximum = static_cast<std::int8_t>(data[3]);

  std::size_t at = 6;
  const std::size_t needleLength = std::min<std::size_t>(data[4] % 33, size - at);
  const std::string needle = WithoutZeros(data + at, needleLength);
  at += needleLength;
  const std::size_t replacementLength = std::min<std::size_t>(data[5] % 17, size - at);
  const std::string replacement = WithoutZeros(data + at, replacementLength);
  at += replacementLength;
  const std::string text = WithoutZeros(data + at, size - at);

  CheckFind(text, needle, start, ignoreCase);
  CheckSubstitute(text, needle, replacement, start, count, !ignoreCase);
  CheckDeletion(text, needle, !ignoreCase);
  CheckSplit(text, (flags & 0x10) ? std::nullopt : std::optional<std::string>(needle), maximum);
  CheckTrim(text);
  return 0;
}
