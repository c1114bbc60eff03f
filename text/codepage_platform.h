// The code page 936 characters as the platform's own converter reads them: iconv
// on Linux (iconv_converter.cpp), MultiByteToWideChar on Windows
// (windows_converter.cpp); text/CMakeLists.txt builds one of the two. The decode
// table of codepage.cpp is filled from here once, row by row (the encode table is
// that table turned round). Internal to the text library.
// Plain functions; any thread (each thread keeps its own converter state).
#pragma once

#include <string_view>

namespace zemlaro::detail {

// The UTF-16 unit that `bytes` (one or two bytes) decode to in code page 936,
// or 0 when they are not exactly one character that maps to one unit.
char16_t DecodeGbkCharacter(std::string_view bytes);
// DecodeGbkCharacter of `lead` followed by each byte of `trails` (at most 256),
// into units[k] for trails[k], asked in a few conversions of the whole row
// rather than one per pair.
void DecodeGbkRow(unsigned char lead, std::string_view trails, char16_t* units);

}  // namespace zemlaro::detail
