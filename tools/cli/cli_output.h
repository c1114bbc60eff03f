// The rows of zemlaro-cli as tsv, csv or json, and its lines on stderr.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "search/search_run.h"
#include "text/text.h"
#include "tools/cli/cli_args.h"

namespace zemlaro::cli {

// The cells of a row by Field, code page 936: number, title, item id, seller nick,
// price, sales, location.
using Row = std::array<Text, kFieldCount>;

// row, title, id, seller.
std::vector<Field> DefaultFields();
// The header of the fields, UTF-8.
std::vector<std::string> HeaderOf(const std::vector<Field>& fields);
// The fields of a row, converted to valid UTF-8.
std::vector<std::string> CellsOf(const Row& row, const std::vector<Field>& fields);

// Header row and rows as tsv, csv or json, converted to valid UTF-8.
std::string FormatRows(const std::vector<Row>& rows, OutputFormat format,
                       const std::vector<Field>& fields = DefaultFields());

// One field of each format, from UTF-8.
std::string TsvField(std::string_view value);    // tab, CR and LF each become one space
std::string JsonString(std::string_view value);  // with its quotes

// Why a page added no row, one line without its line end; empty when it added rows.
// `cookieFile` is the store in use (empty for none), named in the advice to sign in.
std::string EmptyPageLine(const PageReport& report, const std::string& cookieFile = {});

// "page 3/10".
std::string ProgressLine(int page, int pageCount);

}  // namespace zemlaro::cli
