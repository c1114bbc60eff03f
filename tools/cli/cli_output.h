// The rows of zemlaro-cli as tsv, csv or json, and its lines on stderr.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "search/search_run.h"
#include "text/text.h"
#include "tools/cli/cli_args.h"

namespace zemlaro::cli {

// The four cells of a row, code page 936: number, title, item id, seller nick.
using Row = std::array<Text, 4>;

// Header row and rows, converted to valid UTF-8.
std::string FormatRows(const std::vector<Row>& rows, OutputFormat format);

// One field of each format, from UTF-8.
std::string TsvField(std::string_view value);    // tab, CR and LF each become one space
std::string CsvField(std::string_view value);    // quoted when it holds , " CR or LF
std::string JsonString(std::string_view value);  // with its quotes

// True when an answer reads like the login or verification page that the live
// service sends to a client without a login cookie.
bool LooksLikeLoginPage(const Bytes& answer);

// Why a page added no row, one line without its line end; empty when it added rows.
std::string EmptyPageLine(const PageReport& report);

// "page 3/10".
std::string ProgressLine(int page, int pageCount);

}  // namespace zemlaro::cli
