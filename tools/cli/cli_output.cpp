#include "tools/cli/cli_output.h"

#include <cstdio>

#include "search/table_export.h"
#include "text/codepage.h"
#include "tools/cli/utf8.h"
#include "tools/support/escape.h"

namespace zemlaro::cli {
namespace {

constexpr std::array<std::string_view, kFieldCount> kHeader = {
    "序号", "宝贝标题", "宝贝ID", "商家名", "价格", "付款人数", "发货地"};
constexpr std::array<std::string_view, kFieldCount> kJsonKeys = {
    "row", "title", "id", "seller", "price", "sales", "location"};

std::size_t IndexOf(Field field) { return static_cast<std::size_t>(field); }

}  // namespace

std::string TsvField(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string JsonString(std::string_view value) {
  std::string out = "\"";
  out += JsonEscaped(value);
  out += '"';
  return out;
}

std::vector<Field> DefaultFields() { return {Field::Row, Field::Title, Field::Id, Field::Seller}; }

std::vector<std::string> HeaderOf(const std::vector<Field>& fields) {
  std::vector<std::string> header;
  for (const Field field : fields) header.emplace_back(kHeader[IndexOf(field)]);
  return header;
}

// GbkToUtf8 writes only well-formed UTF-8: a byte it cannot read becomes U+FFFD.
std::vector<std::string> CellsOf(const Row& row, const std::vector<Field>& fields) {
  std::vector<std::string> cells;
  for (const Field field : fields) cells.push_back(GbkToUtf8(row[IndexOf(field)]));
  return cells;
}

std::string FormatRows(const std::vector<Row>& rows, OutputFormat format,
                       const std::vector<Field>& fields) {
  std::string out;
  if (format == OutputFormat::Json) {
    out += "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
      out += r == 0 ? "\n  {" : ",\n  {";
      const std::vector<std::string> cells = CellsOf(rows[r], fields);
      for (std::size_t c = 0; c < fields.size(); ++c) {
        if (c > 0) out += ", ";
        out += JsonString(kJsonKeys[IndexOf(fields[c])]) + ": " + JsonString(cells[c]);
      }
      out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
  }
  const bool csv = format == OutputFormat::Csv;
  const char separator = csv ? ',' : '\t';
  const std::string_view lineEnd = csv ? "\r\n" : "\n";
  const auto writeLine = [&](const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) out += separator;
      out += csv ? CsvField(cells[c]) : TsvField(cells[c]);
    }
    out += lineEnd;
  };
  writeLine(HeaderOf(fields));
  for (const Row& row : rows) writeLine(CellsOf(row, fields));
  return out;
}

std::string EmptyPageLine(const PageReport& report, const std::string& cookieFile) {
  if (report.rowsAdded > 0) return {};
  std::string line = ProgressLine(report.page, report.pageCount) + ": no rows: ";
  const PageOutcome& outcome = report.outcome;
  const std::string address =
      outcome.address.empty() ? std::string() : " at " + ValidUtf8(outcome.address);
  const std::string remedy =
      "; sign in with the desktop program (zemlaro), or export your browser's cookies for the "
      "marketplace to " +
      (cookieFile.empty() ? std::string("a file and pass it with --cookies FILE")
                          : ValidUtf8(cookieFile)) +
      " and search again";
  switch (outcome.kind) {
    case PageOutcomeKind::SignInRequired:
      return line + "the service asks to sign in first" + address + remedy;
    case PageOutcomeKind::VerificationRequired:
      return line + "the service asks for a verification" + address +
             " (open it in a browser and pass the check)" + remedy;
    case PageOutcomeKind::SlowDown:
      return line + "the service limits the flow of requests (" + ValidUtf8(outcome.reason) +
             "); the search stopped here: try again later with a longer --delay";
    case PageOutcomeKind::RequestFailed:
      return line + "the request failed (" +
             ValidUtf8(outcome.reason.empty() ? report.requestError : outcome.reason) + ")";
    case PageOutcomeKind::Listings:
    case PageOutcomeKind::NoListings:
      break;
  }
  const std::size_t bytes = report.answer ? report.answer->size() : 0;
  if (!report.requestError.empty()) {
    return line + "the request failed (" + ValidUtf8(report.requestError) + ")";
  }
  if (report.answer && bytes == 0) return line + "the answer was empty";
  if (!report.answer) {
    return line + "the answer holds no listings" +
           (outcome.reason.empty() ? std::string() : " (" + ValidUtf8(outcome.reason) + ")");
  }
  return line + "the answer holds no listings (" + std::to_string(bytes) + " bytes)";
}

std::string ProgressLine(int page, int pageCount) {
  return "page " + std::to_string(page) + "/" + std::to_string(pageCount);
}

}  // namespace zemlaro::cli
