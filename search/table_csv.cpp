// CSV text, the same on every platform.
#include <string>
#include <string_view>
#include <vector>

#include "search/table_export.h"

namespace zemlaro {

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

void AppendCsvLine(const std::vector<std::string>& fields, std::string* out) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) *out += ',';
    *out += CsvField(fields[i]);
  }
  *out += "\r\n";
}

}  // namespace

std::string CsvText(const Table& table, bool byteOrderMark) {
  std::string out = byteOrderMark ? "\xEF\xBB\xBF" : "";
  if (!table.header.empty()) AppendCsvLine(table.header, &out);
  for (const auto& row : table.rows) AppendCsvLine(row, &out);
  return out;
}

}  // namespace zemlaro
