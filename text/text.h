// Byte-oriented text primitives over code page 936 (GBK) text.
//
// Positions are 1-based byte positions into the whole text; -1 means "not found".
// A byte of 0x80 or above and the byte after it form one double-byte character:
// searches step over both bytes at once and never begin a match on the second.
// Letter case folds for ASCII letters only. No function throws; an argument out of
// range gives an empty result.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zemlaro {

// Code page 936 bytes without an embedded zero byte. UTF-8 text is carried in a
// Text as its raw bytes where a conversion needs it.
using Text = std::string;
// A byte buffer that may hold zero bytes (HTTP bodies, UTF-16 units, data to send).
using Bytes = std::vector<std::uint8_t>;

// An ordered list of texts indexed from 1. There is no operator[]: Item() takes the
// 1-based position and reads any position outside 1..Count() as the empty text.
class TextArray {
 public:
  TextArray() = default;
  TextArray(std::initializer_list<Text> items) : items_(items) {}

  int Count() const { return static_cast<int>(items_.size()); }
  const Text& Item(int position) const;
  void Append(Text value) { items_.push_back(std::move(value)); }
  void Clear() { items_.clear(); }
  // The items, moved out in order; the list is left empty.
  std::vector<Text> TakeItems() { return std::exchange(items_, {}); }

  std::vector<Text>::const_iterator begin() const { return items_.begin(); }
  std::vector<Text>::const_iterator end() const { return items_.end(); }
  bool operator==(const TextArray&) const = default;

 private:
  std::vector<Text> items_;
};

int LengthOf(std::string_view text);
int ByteCount(const Bytes& bytes);
int CountOf(const TextArray& list);

Text JoinTexts(std::initializer_list<std::string_view> texts);
Bytes JoinBytes(std::initializer_list<const Bytes*> buffers);
// Byte-wise comparison of unsigned bytes: negative, zero or positive.
int CompareTexts(std::string_view a, std::string_view b);
bool SameBytes(const Bytes& a, const Bytes& b);

Text LeftPart(std::string_view text, int n);
Text RightPart(std::string_view text, int n);
Text MiddlePart(std::string_view text, int start, int n);

// First occurrence at or after `start` (left out, 0 or negative: the whole text).
int FindForward(std::string_view text, std::string_view needle,
                std::optional<int> start = std::nullopt, bool ignoreCase = false);
// Last occurrence that ends before byte `start` (left out: the whole text).
int FindBackward(std::string_view text, std::string_view needle,
                 std::optional<int> start = std::nullopt, bool ignoreCase = false);

// Replaces non-overlapping occurrences left to right; `count` left out means no limit.
Text Substitute(std::string_view text, std::string_view subtext, std::string_view replacement = {},
                std::optional<int> start = std::nullopt, std::optional<int> count = std::nullopt,
                bool caseSensitive = true);
TextArray SplitOn(std::string_view text, std::string_view delimiter = ",",
                  std::optional<int> maximum = std::nullopt);
// Removes leading and trailing ASCII spaces and full-width spaces (0xA1 0xA1) only.
Text TrimSpaces(std::string_view text);
Text LowerAscii(std::string_view text);

// Folds full-width digits, letters and signs to ASCII, then reads a leading number.
double ParseReal(std::string_view text);
int ParseInteger(std::string_view text);
// As "%.13g" writes it.
Text FormatReal(double value);
// As "%d" writes it.
Text FormatInteger(std::int64_t value);
// As "%X" writes it: no leading zeros.
Text HexOfByte(int value);
// The one-byte text of a byte value; 0 gives the empty text.
Text CharOfCode(int value);

Bytes BytesOfText(std::string_view text);
// The bytes before the first zero byte.
Text TextOfBytes(const Bytes& bytes);
// The same bytes as TextOfBytes, read in place: valid while `bytes` is unchanged.
std::string_view TextViewOfBytes(const Bytes& bytes);
Text SpaceText(int n);
Bytes ZeroBytes(int n);
Bytes FirstBytes(const Bytes& bytes, int n);
std::uint32_t OrBits(std::initializer_list<std::uint32_t> values);

// The text between the first left marker at or after `start` and the first right
// marker after it. "#引号" in either marker stands for a double quote.
Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 std::optional<int> start = std::nullopt, bool ignoreCase = false);

struct BetweenOptions {
  // Note the sense: true asks for matching letter case. The default ignores ASCII case.
  bool caseSensitive = false;
  // 0: no limit. Otherwise only values shorter than this are kept.
  int maximumLength = 0;
  Text prefix;
  Text suffix;
  bool includeLeft = false;
  bool includeRight = false;
  // 0: from byte 1.
  int start = 0;
};

// Every trimmed, non-empty text between the markers, into `list` (emptied first).
// Calls ProcessEvents() three times per pair found, and once more per non-empty
// value when a maximum length is set (whether the value is kept or dropped). An
// empty marker gives an empty list. Returns the number of elements in the list.
int AllTextBetween(std::string_view text, std::string_view left, std::string_view right,
                   TextArray& list, const BetweenOptions& options = {});

// One list of AllTextBetweenUtf8: the values between `left` and `right`.
struct MarkerCut {
  std::string_view left;
  std::string_view right;
  TextArray* list;
};

inline constexpr std::size_t kUtf8BetweenBlock = 64 * 1024;

// For each cut, the list AllTextBetween(Utf8ToGbk(utf8), left, right, list) gives with
// the default options (markers in any letter case, from byte 1), and the same calls
// of ProcessEvents() in all. The text is converted `blockBytes` at a time (at least 1)
// and scanned as it is made, keeping only the stretch from the earliest point some
// cut still needs (an open value, a marker that may be cut by the block's end): the
// whole converted text is never held at once.
void AllTextBetweenUtf8(std::string_view utf8, std::span<const MarkerCut> cuts,
                        std::size_t blockBytes = kUtf8BetweenBlock);

// The trimmed text after the first ":" (an HTTP header line's value).
Text ValueAfterColon(std::string_view text);

}  // namespace zemlaro
