// Conversions between code page 936 (GBK) and UTF-8, through UTF-16, and
// percent-encoding. Invalid input bytes and unrepresentable characters never
// stop a conversion: they decode to U+FFFD and encode to 936 as '?'.
//  - 936 input: a lead byte with a byte that may follow a lead (0x40-0xFE but
//    0x7F) but no character for the pair gives one U+FFFD for both bytes; a lead
//    byte followed by any other byte, or at the end, gives U+FFFD and that next
//    byte is read afresh; 0xFF gives U+FFFD.
//  - UTF-8 input: each ill-formed sequence gives one U+FFFD per longest valid
//    beginning (a stray byte, a cut or overlong sequence, an encoded surrogate).
//  - Writing 936: one '?' per character it lacks (a pair of surrogates is one
//    character); a lone surrogate also gives '?', and U+FFFD in UTF-8.
// The 936 table is the C library's "CP936", the Windows table (0x80 is the euro
// sign), plus the user-defined areas it lacks, mapped to the private use area as
// Windows does, row by row: AA A1-AF FE to U+E000-U+E233, F8 A1-FE FE to
// U+E234-U+E4C5, A1 40-A7 A0 to U+E4C6-U+E765. The Windows build reads the
// platform's own table (MultiByteToWideChar), which has those areas too and besides
// maps the 255 pairs that GBK leaves open, A2 AB to FE A0, to U+E766-U+E864: there
// every pair of a lead and a byte that may follow it is a character. Code pages
// other than 936 and 65001 convert to nothing.
// Input ends at the first zero byte, as a zero-terminated text does.
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
