// The platform converter's own code page 936 encoder (iconv on Linux,
// WideCharToMultiByte on Windows), which the text library never uses: it turns
// its decode table round instead. For cp936-table only. Any thread.
#pragma once

#include <optional>
#include <string>

namespace zemlaro::test {

// The name of the converter, for the table's heading.
const char* PlatformConverterName();
// The code page 936 bytes of one UTF-16 unit with no best-fit substitute, or
// nothing when the converter has no character for it.
std::optional<std::string> PlatformEncode(char16_t unit);

}  // namespace zemlaro::test
