#include "text/text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>

#include "text/codepage_steps.h"
#include "text/find.h"
#include "text/process_events.h"

namespace zemlaro {
namespace {

using detail::kNotFound;

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }
constexpr bool IsHigh(char c) { return Byte(c) >= 0x80; }
// "#引号" in code page 936.
constexpr std::string_view kQuoteName = "#\xD2\xFD\xBA\xC5";

int ToInt(std::size_t n) {
  return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

// 1-based position or -1 from a 0-based index or kNotFound.
int ToPosition(std::size_t index) { return index == kNotFound ? -1 : ToInt(index + 1); }

// The bytes [begin, end) of `text` without the leading and trailing spaces and
// full-width spaces. A cut double-byte character at the very end is dropped, and a
// run of spaces just before it then stays.
std::string_view TrimSpan(std::string_view text) {
  const std::size_t length = text.size();
  std::size_t begin = 0;
  while (begin < length) {
    if (text[begin] == ' ') {
      ++begin;
    } else if (Byte(text[begin]) == 0xA1 && begin + 1 < length && Byte(text[begin + 1]) == 0xA1) {
      begin += 2;
    } else {
      break;
    }
  }
  std::size_t runStart = kNotFound;
  std::size_t i = begin;
  while (i < length) {
    const char c = text[i];
    if (c == ' ') {
      if (runStart == kNotFound) runStart = i;
      ++i;
    } else if (IsHigh(c)) {
      if (i + 1 == length) return text.substr(begin, i - begin);
      if (Byte(c) == 0xA1 && Byte(text[i + 1]) == 0xA1) {
        if (runStart == kNotFound) runStart = i;
      } else {
        runStart = kNotFound;
      }
      i += 2;
    } else {
      runStart = kNotFound;
      ++i;
    }
  }
  const std::size_t end = runStart == kNotFound ? length : runStart;
  return text.substr(begin, end - begin);
}

// Folds the full-width digits, letters and signs (and a few look-alikes) to ASCII.
std::string FoldFullWidth(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = Byte(text[i]);
    if (lead < 0x80 || i + 1 == text.size()) {
      folded.push_back(text[i]);
      ++i;
      continue;
    }
    const unsigned char trail = Byte(text[i + 1]);
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      folded.push_back(static_cast<char>(trail - 0x80));
    } else if (lead == 0xA1 && trail == 0xA1) {
      folded.push_back(' ');
    } else if (lead == 0xA1 && trail == 0xAB) {
      folded.push_back('~');
    } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
      folded.push_back('*');
    } else {
      folded.append(text.substr(i, 2));
    }
    i += 2;
  }
  return folded;
}

bool IsNumberSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where a number's digits begin: after leading white space and an optional sign.
std::size_t SkipSpaceAndSign(std::string_view s, bool& negative) {
  std::size_t i = 0;
  while (i < s.size() && IsNumberSpace(s[i])) ++i;
  negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  return i;
}

}  // namespace

const Text& TextArray::Item(int position) const {
  static const Text empty;
  if (position < 1 || position > Count()) return empty;
  return items_[static_cast<std::size_t>(position - 1)];
}

int LengthOf(std::string_view text) { return ToInt(text.size()); }
int ByteCount(const Bytes& bytes) { return ToInt(bytes.size()); }
int CountOf(const TextArray& list) { return list.Count(); }

Text JoinTexts(std::initializer_list<std::string_view> texts) {
  std::size_t total = 0;
  for (std::string_view t : texts) total += t.size();
  Text joined;
  joined.reserve(total);
  for (std::string_view t : texts) joined.append(t);
  return joined;
}

Bytes JoinBytes(std::initializer_list<const Bytes*> buffers) {
  std::size_t total = 0;
  for (const Bytes* b : buffers) total += b ? b->size() : 0;
  Bytes joined;
  joined.reserve(total);
  for (const Bytes* b : buffers) {
    if (b) joined.insert(joined.end(), b->begin(), b->end());
  }
  return joined;
}

int CompareTexts(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  if (common > 0) {
    const int order = std::memcmp(a.data(), b.data(), common);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameBytes(const Bytes& a, const Bytes& b) { return a == b; }

Text LeftPart(std::string_view text, int n) {
  if (n <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text RightPart(std::string_view text, int n) {
  if (n <= 0) return {};
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(n));
  return Text(text.substr(text.size() - count));
}

Text MiddlePart(std::string_view text, int start, int n) {
  if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) return {};
  return Text(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

int FindForward(std::string_view text, std::string_view needle, std::optional<int> start,
                bool ignoreCase) {
  // Positions are 1-based; a start of 1 or less (or none) searches the whole text.
  std::size_t from = 0;
  if (start && *start > 1) from = static_cast<std::size_t>(*start - 1);
  if (from >= text.size()) return -1;
  // An empty needle is found at byte 1, whatever the start.
  if (needle.empty()) return 1;
  return ToPosition(detail::FindFrom(text, from, needle, ignoreCase));
}

int FindBackward(std::string_view text, std::string_view needle, std::optional<int> start,
                 bool ignoreCase) {
  std::size_t regionEnd = text.size();
  if (start) {
    if (*start <= 1) return -1;
    regionEnd = std::min(text.size(), static_cast<std::size_t>(*start - 1));
  }
  if (regionEnd == 0) return -1;
  if (needle.empty()) return 1;
  // Candidates are the character starts counted from byte 1; the match must end
  // inside the region, so search the region alone and keep the last hit.
  const std::string_view region = text.substr(0, regionEnd);
  const detail::Finder finder(needle, ignoreCase);
  std::size_t last = kNotFound;
  std::size_t from = 0;
  while (from < region.size()) {
    const std::size_t hit = finder.Find(region, from);
    if (hit == kNotFound) break;
    last = hit;
    from = hit + (IsHigh(region[hit]) ? 2 : 1);
  }
  return ToPosition(last);
}

Text Substitute(std::string_view text, std::string_view subtext, std::string_view replacement,
                std::optional<int> start, std::optional<int> count, bool caseSensitive) {
  const std::size_t from = start && *start > 1 ? static_cast<std::size_t>(*start - 1) : 0;
  if (text.empty() || subtext.empty() || from >= text.size() || (count && *count == 0)) {
    return Text(text);
  }
  // A negative count never runs out.
  const bool limited = count && *count > 0;
  int left = limited ? *count : 0;
  Text result;
  result.reserve(text.size());
  result.append(text.substr(0, from));
  const detail::Finder finder(subtext, !caseSensitive);
  std::size_t i = from;
  while (i < text.size()) {
    const std::size_t hit = finder.Find(text, i);
    if (hit == kNotFound) break;
    result.append(text.substr(i, hit - i));
    result.append(replacement);
    i = hit + subtext.size();
    if (limited && --left == 0) break;
  }
  result.append(text.substr(std::min(i, text.size())));
  return result;
}

TextArray SplitOn(std::string_view text, std::string_view delimiter, std::optional<int> maximum) {
  TextArray list;
  const bool limited = maximum.has_value();
  const int most = limited ? std::max(*maximum, 0) : 0;
  if (text.empty() || (limited && most == 0)) return list;
  if (delimiter.empty()) {
    list.Append(Text(text));
    return list;
  }
  const detail::Finder finder(delimiter, false);
  std::size_t pieceStart = 0;
  while (pieceStart < text.size()) {
    const std::size_t hit = finder.Find(text, pieceStart);
    if (hit == kNotFound) break;
    list.Append(Text(text.substr(pieceStart, hit - pieceStart)));
    pieceStart = hit + delimiter.size();
    if (limited && list.Count() == most) return list;
  }
  if (pieceStart < text.size()) list.Append(Text(text.substr(pieceStart)));
  return list;
}

Text TrimSpaces(std::string_view text) { return Text(TrimSpan(text)); }

Text LowerAscii(std::string_view text) {
  Text lowered(text);
  std::size_t i = 0;
  while (i < lowered.size()) {
    const char c = lowered[i];
    if (IsHigh(c)) {
      // Both bytes of a double-byte character stay as they are.
      i += 2;
    } else {
      if (c >= 'A' && c <= 'Z') lowered[i] = static_cast<char>(c + ('a' - 'A'));
      ++i;
    }
  }
  return lowered;
}

double ParseReal(std::string_view text) {
  const std::string folded = FoldFullWidth(text);
  const std::string_view s = folded;
  bool negative = false;
  std::size_t i = SkipSpaceAndSign(s, negative);
  // The number as from_chars reads it: digits, '.', fraction, 'e', exponent.
  std::string number;
  std::size_t digits = 0;
  // The decimal place of the first non-zero digit, for values beyond the double range.
  long place = 0;
  bool nonZero = false;
  while (i < s.size() && IsDigit(s[i])) {
    if (!nonZero && s[i] != '0') nonZero = true;
    if (nonZero) ++place;
    number.push_back(s[i++]);
    ++digits;
  }
  if (nonZero) --place;
  if (i < s.size() && s[i] == '.' && (digits > 0 || (i + 1 < s.size() && IsDigit(s[i + 1])))) {
    number.push_back(s[i++]);
    while (i < s.size() && IsDigit(s[i])) {
      if (!nonZero) {
        --place;
        nonZero = s[i] != '0';
      }
      number.push_back(s[i++]);
      ++digits;
    }
  }
  if (digits == 0) return 0.0;
  long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    bool expNegative = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
      expNegative = s[j] == '-';
      ++j;
    }
    if (j < s.size() && IsDigit(s[j])) {
      while (j < s.size() && IsDigit(s[j])) {
        if (exponent < 100000000) exponent = exponent * 10 + (s[j] - '0');
        ++j;
      }
      if (expNegative) exponent = -exponent;
      number.push_back('e');
      number.append(std::to_string(exponent));
    }
  }
  double value = 0.0;
  const std::from_chars_result read = std::from_chars(number.data(), number.data() + number.size(),
                                                      value, std::chars_format::general);
  if (read.ec == std::errc::result_out_of_range) {
    value = nonZero && place + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (read.ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

int ParseInteger(std::string_view text) {
  const std::string folded = FoldFullWidth(text);
  const std::string_view s = folded;
  bool negative = false;
  std::size_t i = SkipSpaceAndSign(s, negative);
  // Beyond the 32-bit range the value saturates.
  long long value = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (value <= INT_MAX) value = value * 10 + (s[i] - '0');
    ++i;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

Text FormatReal(double value) {
  // to_chars with a precision writes exactly what "%.13g" writes, in any locale.
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 13);
  return Text(buffer, result.ptr);
}

Text FormatInteger(std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Text(buffer, result.ptr);
}

Text HexOfByte(int value) {
  char buffer[16];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, static_cast<unsigned>(value), 16);
  Text hex(buffer, result.ptr);
  for (char& c : hex) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - ('a' - 'A'));
  }
  return hex;
}

Text CharOfCode(int value) {
  if (value < 1 || value > 255) return {};
  return Text(1, static_cast<char>(value));
}

Bytes BytesOfText(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string_view TextViewOfBytes(const Bytes& bytes) {
  const char* begin = reinterpret_cast<const char*>(bytes.data());
  const void* zero = bytes.empty() ? nullptr : std::memchr(begin, 0, bytes.size());
  const std::size_t length = zero == nullptr
                                 ? bytes.size()
                                 : static_cast<std::size_t>(static_cast<const char*>(zero) - begin);
  return std::string_view(begin, length);
}

Text TextOfBytes(const Bytes& bytes) { return Text(TextViewOfBytes(bytes)); }

Text SpaceText(int n) { return n < 1 ? Text() : Text(static_cast<std::size_t>(n), ' '); }

Bytes ZeroBytes(int n) { return n < 1 ? Bytes() : Bytes(static_cast<std::size_t>(n), 0); }

Bytes FirstBytes(const Bytes& bytes, int n) {
  if (n < 0) return {};
  const std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(n));
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

std::uint32_t OrBits(std::initializer_list<std::uint32_t> values) {
  std::uint32_t bits = 0;
  for (std::uint32_t v : values) bits |= v;
  return bits;
}

Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 std::optional<int> start, bool ignoreCase) {
  const Text leftMarker = Substitute(left, kQuoteName, "\"");
  const Text rightMarker = Substitute(right, kQuoteName, "\"");
  const int a = FindForward(text, leftMarker, start, ignoreCase);
  if (a == -1) return {};
  const int v = a + LengthOf(leftMarker);
  const int b = FindForward(text, rightMarker, v, ignoreCase);
  if (b == -1) return {};
  return MiddlePart(text, v, b - v);
}

int AllTextBetween(std::string_view text, std::string_view left, std::string_view right,
                   TextArray& list, const BetweenOptions& options) {
  list.Clear();
  // Empty markers would find the same place again and again: nothing to cut out.
  if (left.empty() || right.empty()) return 0;
  // The flag asks for matching case; the searches take the opposite sense.
  const bool ignoreCase = !options.caseSensitive;
  const detail::Finder leftFinder(left, ignoreCase);
  const detail::Finder rightFinder(right, ignoreCase);
  std::size_t p = options.start > 1 ? static_cast<std::size_t>(options.start - 1) : 0;
  while (p < text.size()) {
    const std::size_t a = leftFinder.Find(text, p);
    if (a == kNotFound) break;
    const std::size_t v = a + left.size();
    const std::size_t b = rightFinder.Find(text, v);
    if (b == kNotFound) break;
    p = v;
    const std::string_view trimmed = TrimSpan(text.substr(v, b - v));
    const std::size_t length = options.prefix.size() + trimmed.size() + options.suffix.size();
    if (length > 0) {
      Text value;
      value.reserve(length + (options.includeLeft ? left.size() : 0) +
                    (options.includeRight ? right.size() : 0));
      if (options.includeLeft) value.append(left);
      value.append(options.prefix);
      value.append(trimmed);
      value.append(options.suffix);
      if (options.includeRight) value.append(right);
      if (options.maximumLength != 0) {
        if (options.maximumLength > 0 &&
            value.size() < static_cast<std::size_t>(options.maximumLength)) {
          list.Append(std::move(value));
        }
        ProcessEvents();
      } else {
        list.Append(std::move(value));
      }
      p = b;
    }
    ProcessEvents();
    ProcessEvents();
    ProcessEvents();
  }
  return list.Count();
}

namespace {

// One cut of AllTextBetweenUtf8 as AllTextBetween walks it. Positions count bytes of
// the whole converted text from 0.
struct CutWalk {
  explicit CutWalk(const MarkerCut& cut)
      : left(cut.left, true),
        right(cut.right, true),
        cut(cut),
        done(cut.left.empty() || cut.right.empty()) {}
  detail::Finder left;
  detail::Finder right;
  const MarkerCut& cut;
  bool done;
  bool inValue = false;
  // Where the value begins (after a left marker), while inValue.
  std::size_t value = 0;
  // Where the search under way goes on: where AllTextBetween began it, or a character
  // start past what is known to hold no match.
  std::size_t from = 0;
};

// Takes the walk as far as the converted text held in `held` (from byte `base` of the
// whole) allows; `ended` tells that no more text will come.
void Walk(CutWalk& walk, std::string_view held, std::size_t base, bool ended) {
  const std::size_t end = base + held.size();
  // The search found nothing in what is held. At the end the walk is over; otherwise
  // it goes on, once more text comes, from the first start whose match would not
  // have fitted in what is held.
  auto stop = [&](std::size_t needle) {
    if (ended) {
      walk.done = true;
      return;
    }
    const std::size_t unsure = std::max(walk.from, end - std::min(end, needle - 1));
    walk.from = base + detail::NextCharacterStart(held, walk.from - base, unsure - base);
  };
  while (!walk.done) {
    if (!walk.inValue) {
      const std::size_t a = walk.left.Find(held, walk.from - base);
      if (a == kNotFound) {
        stop(walk.cut.left.size());
        return;
      }
      walk.value = base + a + walk.cut.left.size();
      walk.from = walk.value;
      walk.inValue = true;
    }
    const std::size_t b = walk.right.Find(held, walk.from - base);
    if (b == kNotFound) {
      stop(walk.cut.right.size());
      return;
    }
    const std::string_view trimmed =
        TrimSpan(held.substr(walk.value - base, b - (walk.value - base)));
    walk.inValue = false;
    if (trimmed.empty()) {
      walk.from = walk.value;
    } else {
      walk.cut.list->Append(Text(trimmed));
      walk.from = base + b;
    }
    ProcessEvents();
    ProcessEvents();
    ProcessEvents();
  }
}

}  // namespace

void AllTextBetweenUtf8(std::string_view utf8, std::span<const MarkerCut> cuts,
                        std::size_t blockBytes) {
  std::vector<CutWalk> walks;
  walks.reserve(cuts.size());
  for (const MarkerCut& cut : cuts) {
    cut.list->Clear();
    walks.emplace_back(cut);
  }
  blockBytes = std::max<std::size_t>(blockBytes, 1);
  // The converted text from byte `base` of the whole on.
  Text held;
  std::size_t base = 0;
  std::size_t at = 0;
  for (;;) {
    const std::size_t size = held.size();
    held.resize(size + blockBytes + detail::kGbkStepBytes);
    held.resize(size + detail::Utf8ToGbkSome(utf8, at, held.data() + size, blockBytes));
    const bool ended = at >= utf8.size();
    std::size_t keep = base + held.size();
    bool open = false;
    for (CutWalk& walk : walks) {
      Walk(walk, held, base, ended);
      if (walk.done) continue;
      open = true;
      keep = std::min(keep, walk.inValue ? walk.value : walk.from);
    }
    if (ended || !open) return;
    // The bytes no walk needs go, once they are worth moving the rest for.
    const std::size_t spent = std::min(keep - base, held.size());
    if (spent >= blockBytes) {
      held.erase(0, spent);
      base += spent;
    }
  }
}

Text ValueAfterColon(std::string_view text) {
  const int c = FindForward(text, ":");
  if (c == -1) return {};
  return TrimSpaces(RightPart(text, LengthOf(text) - c));
}

}  // namespace zemlaro
