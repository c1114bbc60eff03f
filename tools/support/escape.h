// Escapers for the text that the sample market, the command-line tool and the tests
// write into JSON and HTML.
//
// Thread rules: any thread.
#pragma once

#include <string>
#include <string_view>

namespace zemlaro {

// The inside of a JSON string, without its quotes: '"' and '\' escaped with a backslash,
// control bytes and DEL as \u00XX; every other byte, UTF-8 included, as it is.
std::string JsonEscaped(std::string_view text);

// Text for an HTML element or a quoted attribute value: < > & " as entities.
std::string HtmlEscaped(std::string_view text);

}  // namespace zemlaro
