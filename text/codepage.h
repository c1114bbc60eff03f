// Conversions between code page 936 (GBK) and UTF-8, through UTF-16, and
// percent-encoding. Invalid input bytes and unrepresentable characters never
// stop a conversion: they decode to U+FFFD and encode to 936 as '?'.
#pragma once

#include "text/text.h"

namespace zemlaro {

inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;
// The ANSI code page of the system the program was written for.
inline constexpr int kCodePageAnsi = kCodePageGbk;

// Little-endian UTF-16 units followed by one zero unit.
Bytes ToUtf16(std::string_view text, int codePage = kCodePageUtf8);
// The units up to the first zero unit, written in `codePage`.
Text FromUtf16(const Bytes& units, int codePage = kCodePageAnsi);

Text GbkToUtf8(std::string_view text);
Text Utf8ToGbk(std::string_view text);

// Every byte (of the text, or of its UTF-8 form) as "%" and two upper-case hex
// digits; with keepSafe, '-', '.', digits and ASCII letters pass unchanged.
Text PercentEncode(std::string_view text, bool keepSafe = false, bool toUtf8 = false);

}  // namespace zemlaro
