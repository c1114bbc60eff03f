#include "tools/cli/cli_output.h"

#include <cstdio>

#include "text/codepage.h"
#include "tools/cli/utf8.h"

namespace zemlaro::cli {
namespace {

constexpr std::array<std::string_view, 4> kHeader = {"序号", "宝贝标题", "宝贝ID", "商家名"};
constexpr std::array<std::string_view, 4> kJsonKeys = {"row", "title", "id", "seller"};

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view word) {
  const auto lower = [](unsigned char c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  };
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < word.size() && lower(text[i + k]) == lower(word[k])) ++k;
    if (k == word.size()) return true;
  }
  return false;
}

}  // namespace

std::string TsvField(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

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

std::string JsonString(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

// GbkToUtf8 writes only well-formed UTF-8: a byte it cannot read becomes U+FFFD.
std::string FormatRows(const std::vector<Row>& rows, OutputFormat format) {
  std::string out;
  if (format == OutputFormat::Json) {
    out += "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
      out += r == 0 ? "\n  {" : ",\n  {";
      for (std::size_t c = 0; c < kJsonKeys.size(); ++c) {
        if (c > 0) out += ", ";
        out += JsonString(kJsonKeys[c]) + ": " + JsonString(GbkToUtf8(rows[r][c]));
      }
      out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
  }
  const bool csv = format == OutputFormat::Csv;
  const char separator = csv ? ',' : '\t';
  const std::string_view lineEnd = csv ? "\r\n" : "\n";
  const auto writeLine = [&](const auto& cells, auto convert) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) out += separator;
      const std::string value = convert(cells[c]);
      out += csv ? CsvField(value) : TsvField(value);
    }
    out += lineEnd;
  };
  writeLine(kHeader, [](std::string_view cell) { return std::string(cell); });
  for (const Row& row : rows) writeLine(row, GbkToUtf8);
  return out;
}

bool LooksLikeLoginPage(const Bytes& answer) {
  const std::string_view text(reinterpret_cast<const char*>(answer.data()), answer.size());
  // 登录 and 验证 stand twice: in UTF-8 and in code page 936.
  static constexpr std::string_view kWords[] = {"login",  "captcha",          "punish",
                                                "verify", "sec.taobao.com",   "登录",
                                                "验证",   "\xB5\xC7\xC2\xBC", "\xD1\xE9\xD6\xA4"};
  for (const std::string_view word : kWords) {
    if (ContainsIgnoringAsciiCase(text, word)) return true;
  }
  return false;
}

std::string EmptyPageLine(const PageReport& report) {
  if (report.rowsAdded > 0) return {};
  std::string line = ProgressLine(report.page, report.pageCount) + ": no rows: ";
  const std::size_t bytes = report.answer ? report.answer->size() : 0;
  if (!report.requestError.empty()) {
    line += "the request failed (" + ValidUtf8(report.requestError) + ")";
  } else if (bytes == 0) {
    line += "the answer was empty";
  } else if (LooksLikeLoginPage(*report.answer)) {
    line += "the answer looks like a login or verification page (" + std::to_string(bytes) +
            " bytes); the service sends one to a client without a login cookie";
  } else {
    line += "the answer holds no listings (" + std::to_string(bytes) + " bytes)";
  }
  return line;
}

std::string ProgressLine(int page, int pageCount) {
  return "page " + std::to_string(page) + "/" + std::to_string(pageCount);
}

}  // namespace zemlaro::cli
