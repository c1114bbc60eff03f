// Slow, literal reference versions of the text primitives, written straight from
// their rules and independent of text/: positions are 1-based, -1 is "not found",
// searches step over double-byte characters (a byte of 0x80 or above takes the next
// byte with it), and only ASCII letters fold when case is ignored.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zemlaro::fuzz::ref {

inline unsigned char At(std::string_view text, int position) {
  return static_cast<unsigned char>(text[static_cast<std::size_t>(position - 1)]);
}

inline bool IsLeadByte(unsigned char b) { return b >= 0x80; }

inline unsigned char FoldAscii(unsigned char b) {
  return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

// Whether needle's bytes stand at 1-based position p (which must leave room for it).
inline bool MatchesAt(std::string_view text, int p, std::string_view needle, bool ignoreCase) {
  for (int k = 0; k < static_cast<int>(needle.size()); ++k) {
    unsigned char a = At(text, p + k);
    unsigned char b = static_cast<unsigned char>(needle[static_cast<std::size_t>(k)]);
    if (ignoreCase) {
      a = FoldAscii(a);
      b = FoldAscii(b);
    }
    if (a != b) return false;
  }
  return true;
}

// The next candidate after p when stepping by character.
inline int NextCharacter(std::string_view text, int p) {
  return IsLeadByte(At(text, p)) ? p + 2 : p + 1;
}

inline int FindForward(std::string_view text, std::string_view needle, std::optional<int> start,
                       bool ignoreCase) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(needle.size());
  const int begin = !start || *start <= 1 ? 1 : *start;
  const bool regionEmpty = length == 0 || begin > length;
  if (m == 0) return regionEmpty ? -1 : 1;
  if (regionEmpty) return -1;
  for (int p = begin; length - p + 1 >= m; p = NextCharacter(text, p)) {
    if (MatchesAt(text, p, needle, ignoreCase)) return p;
  }
  return -1;
}

inline int FindBackward(std::string_view text, std::string_view needle, std::optional<int> start,
                        bool ignoreCase) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(needle.size());
  int regionEnd = length;
  if (start) {
    if (*start <= 1) return -1;
    regionEnd = std::min(length, *start - 1);
  }
  if (m == 0) return regionEnd >= 1 ? 1 : -1;
  int last = -1;
  for (int p = 1; p + m - 1 <= regionEnd; p = NextCharacter(text, p)) {
    if (MatchesAt(text, p, needle, ignoreCase)) last = p;
  }
  return last;
}

inline std::string MiddlePart(std::string_view text, int start, int n) {
  const int length = static_cast<int>(text.size());
  if (start < 1 || start > length || n <= 0) return {};
  return std::string(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

inline std::string LeftPart(std::string_view text, int n) {
  if (n <= 0) return {};
  return std::string(text.substr(0, static_cast<std::size_t>(n)));
}

// `joins`, when given, receives for every replacement the 0-based offset in the
// result right behind the replacement text.
inline std::string Substitute(std::string_view text, std::string_view subtext,
                              std::string_view replacement, std::optional<int> start,
                              std::optional<int> count, bool caseSensitive,
                              std::vector<std::size_t>* joins = nullptr) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(subtext.size());
  const int begin = !start || *start < 1 ? 1 : *start;
  if (length == 0 || m == 0 || begin > length || (count && *count == 0)) return std::string(text);
  std::string out(text.substr(0, static_cast<std::size_t>(begin - 1)));
  std::optional<int> left = count;
  int p = begin;
  while (length - p + 1 >= m) {
    if (MatchesAt(text, p, subtext, !caseSensitive)) {
      out.append(replacement);
      p += m;
      if (joins) joins->push_back(out.size());
      if (left && *left > 0 && --*left == 0) break;
      continue;
    }
    const int step = std::min(IsLeadByte(At(text, p)) ? 2 : 1, length - p + 1);
    out.append(text.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(step)));
    p += step;
  }
  out.append(text.substr(static_cast<std::size_t>(p - 1)));
  return out;
}

inline std::vector<std::string> SplitOn(std::string_view text, std::string_view delimiter,
                                        std::optional<int> maximum) {
  const int length = static_cast<int>(text.size());
  const int m = static_cast<int>(delimiter.size());
  const int limit = maximum ? std::max(0, *maximum) : 0;
  std::vector<std::string> pieces;
  if (length == 0 || (maximum && limit == 0)) return pieces;
  if (m == 0) return {std::string(text)};
  int pieceStart = 1;
  int p = 1;
  while (p <= length) {
    if (length - p + 1 >= m && MatchesAt(text, p, delimiter, false)) {
      pieces.emplace_back(text.substr(static_cast<std::size_t>(pieceStart - 1),
                                      static_cast<std::size_t>(p - pieceStart)));
      p += m;
      pieceStart = p;
      if (maximum && static_cast<int>(pieces.size()) == limit) return pieces;
      continue;
    }
    p = NextCharacter(text, p);
  }
  if (pieceStart <= length)
    pieces.emplace_back(text.substr(static_cast<std::size_t>(pieceStart - 1)));
  return pieces;
}

inline bool IsFullWidthSpaceAt(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xA1 &&
         static_cast<unsigned char>(text[i + 1]) == 0xA1;
}

inline std::string TrimSpaces(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t begin = 0;
  for (;;) {
    if (begin < n && text[begin] == ' ') {
      begin += 1;
    } else if (IsFullWidthSpaceAt(text, begin)) {
      begin += 2;
    } else {
      break;
    }
  }
  std::size_t end = n;
  std::optional<std::size_t> runStart;
  std::size_t i = begin;
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(b) && i + 1 == n) {
      // A cut double-byte character goes; a run of spaces before it stays.
      runStart.reset();
      end = i;
      break;
    }
    const bool space = b == ' ' || IsFullWidthSpaceAt(text, i);
    if (space) {
      if (!runStart) runStart = i;
    } else {
      runStart.reset();
    }
    i += IsLeadByte(b) ? 2 : 1;
  }
  if (runStart) end = *runStart;
  return std::string(text.substr(begin, end - begin));
}

// The text between the markers (markers taken as they stand).
inline std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                               std::optional<int> start, bool ignoreCase) {
  const int a = FindForward(text, left, start, ignoreCase);
  if (a == -1) return {};
  const int v = a + static_cast<int>(left.size());
  const int b = FindForward(text, right, v, ignoreCase);
  if (b == -1) return {};
  return MiddlePart(text, v, b - v);
}

inline std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size();) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(b)) {
      i += 2;
    } else {
      out[i] = static_cast<char>(FoldAscii(b));
      i += 1;
    }
  }
  return out;
}

// Whether the text ends inside a double-byte character, stepping from byte 1.
inline bool EndsInCutCharacter(std::string_view text) {
  const int length = static_cast<int>(text.size());
  int p = 1;
  while (p <= length) p = NextCharacter(text, p);
  return p == length + 2;
}

}  // namespace zemlaro::fuzz::ref
