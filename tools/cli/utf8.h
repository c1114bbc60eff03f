// Strict UTF-8 reading for the command-line tool: what arguments may hold and
// what its output must be.
#pragma once

#include <string>
#include <string_view>

namespace zemlaro::cli {

// Reads one well-formed UTF-8 character at `pos` (no overlong forms, no surrogates,
// nothing past U+10FFFF) and moves `pos` behind it. False, with `pos` unchanged,
// when the bytes there are not one.
bool NextUtf8(std::string_view text, std::size_t& pos, char32_t& code);

// `text` with every byte that does not start a well-formed character replaced by
// U+FFFD.
std::string ValidUtf8(std::string_view text);

// "U+1F600" for 0x1F600: at least four upper-case hex digits.
std::string CodePointName(char32_t code);

}  // namespace zemlaro::cli
