#include "tools/cli/cli_args.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>

#include "search/current_constants.h"
#include "search/market.h"
#include "text/codepage.h"
#include "tools/cli/utf8.h"

#ifndef ZEMLARO_VERSION
#define ZEMLARO_VERSION "1.0.0"
#endif

namespace zemlaro::cli {
namespace {

std::string ByteName(unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[byte >> 4] + kHex[byte & 0x0F];
}

// A host, optionally with ":port", as it may stand between "https://" and the path.
bool PlausibleHost(std::string_view host) {
  if (host.empty()) return false;
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;
    if (c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
  }
  return host.front() != ':';
}

constexpr std::pair<std::string_view, Field> kFieldNames[] = {
    {"row", Field::Row},          {"title", Field::Title}, {"id", Field::Id},
    {"seller", Field::Seller},    {"price", Field::Price}, {"sales", Field::Sales},
    {"location", Field::Location}};

// "row,title,price": known names, each once at most.
std::optional<std::vector<Field>> ParseFields(std::string_view list, std::string& error) {
  std::vector<Field> fields;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view name = list.substr(start, comma - start);
    const auto known = std::find_if(std::begin(kFieldNames), std::end(kFieldNames),
                                    [&](const auto& entry) { return entry.first == name; });
    if (known == std::end(kFieldNames)) {
      error = "--fields: unknown field \"" + ValidUtf8(name) +
              "\" (known: row, title, id, seller, price, sales, location)";
      return std::nullopt;
    }
    if (std::find(fields.begin(), fields.end(), known->second) != fields.end()) {
      error = "--fields names \"" + std::string(name) + "\" twice";
      return std::nullopt;
    }
    fields.push_back(known->second);
    start = comma + 1;
  }
  return fields;
}

// Seconds as a plain decimal number, 0 or more, at most a day.
std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return {};
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(seconds) || seconds > 86400) return {};
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
}

ParsedArgs Failure(std::string error) {
  ParsedArgs parsed;
  parsed.error = std::move(error);
  return parsed;
}

}  // namespace

Converted ArgumentToGbk(std::string_view utf8, std::string_view what) {
  Converted result;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t start = pos;
    char32_t code = 0;
    if (!NextUtf8(utf8, pos, code)) {
      result.error = std::string(what) + " is not valid UTF-8 (byte " +
                     ByteName(static_cast<unsigned char>(utf8[start])) + " at byte " +
                     std::to_string(start + 1) + ")";
      return result;
    }
    const std::string_view character = utf8.substr(start, pos - start);
    const Text gbk = Utf8ToGbk(character);
    // A character the code page lacks comes back as '?' (or a look-alike): only an
    // exact round trip counts as representable.
    if (code == 0 || GbkToUtf8(gbk) != character) {
      result.error = std::string(what) + " holds \"" + std::string(character) + "\" (" +
                     CodePointName(code) + "), which code page 936 cannot represent";
      return result;
    }
    result.text += gbk;
  }
  result.ok = true;
  return result;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  if (args.empty()) return Failure("no command given");
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      ParsedArgs parsed;
      parsed.ok = true;
      parsed.options.action = Action::Help;
      return parsed;
    }
  }
  if (args[0] == "--version") {
    if (args.size() > 1) return Failure("--version takes no arguments");
    ParsedArgs parsed;
    parsed.ok = true;
    parsed.options.action = Action::Version;
    return parsed;
  }
  if (args[0] != "search") return Failure("unknown command \"" + ValidUtf8(args[0]) + "\"");

  CliOptions options;
  std::string pagesUtf8 = "10";
  std::optional<std::string> sellerUtf8;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name value" and "--name=value".
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != arg.npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    if (name == "--no-cookie-store") {
      if (value) return Failure("--no-cookie-store takes no value");
      options.noCookieStore = true;
      continue;
    }
    static constexpr std::string_view kValued[] = {"--pages",  "--seller", "--format", "--host",
                                                   "--cacert", "--fields", "--output", "--service",
                                                   "--delay",  "--cookies"};
    if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
      return Failure("unknown option \"" + ValidUtf8(name) + "\"");
    }
    if (!value) {
      if (i + 1 >= args.size()) return Failure(name + " needs a value");
      value = args[++i];
    }
    if (name == "--pages") {
      pagesUtf8 = *value;
    } else if (name == "--seller") {
      sellerUtf8 = *value;
    } else if (name == "--format") {
      if (*value == "tsv") {
        options.format = OutputFormat::Tsv;
      } else if (*value == "csv") {
        options.format = OutputFormat::Csv;
      } else if (*value == "json") {
        options.format = OutputFormat::Json;
      } else if (*value == "xlsx") {
        options.format = OutputFormat::Xlsx;
      } else {
        return Failure("--format takes tsv, csv, json or xlsx, not \"" + ValidUtf8(*value) + "\"");
      }
    } else if (name == "--fields") {
      std::string error;
      const std::optional<std::vector<Field>> fields = ParseFields(*value, error);
      if (!fields) return Failure(error);
      options.fields = *fields;
    } else if (name == "--output") {
      if (value->empty()) return Failure("--output needs a file name");
      options.outputFile = *value;
    } else if (name == "--service") {
      if (*value == "current") {
        options.service = SearchService::Current;
      } else if (*value == "legacy") {
        options.service = SearchService::Legacy;
      } else {
        return Failure("--service takes current or legacy, not \"" + ValidUtf8(*value) + "\"");
      }
    } else if (name == "--delay") {
      const std::optional<std::chrono::milliseconds> delay = ParseSeconds(*value);
      if (!delay) {
        return Failure("--delay takes SECONDS from 0 to 86400, not \"" + ValidUtf8(*value) + "\"");
      }
      options.delay = *delay;
    } else if (name == "--cookies") {
      if (value->empty()) return Failure("--cookies needs a file name");
      options.cookieFile = *value;
    } else if (name == "--host") {
      if (!PlausibleHost(*value)) {
        return Failure("--host takes HOST or HOST:PORT, not \"" + ValidUtf8(*value) + "\"");
      }
      options.host = *value;
      options.hostGiven = true;
    } else {
      if (value->empty() || !std::ifstream(*value, std::ios::binary).is_open()) {
        return Failure("--cacert: cannot read \"" + ValidUtf8(*value) + "\"");
      }
      options.caFile = *value;
    }
  }
  if (options.noCookieStore && !options.cookieFile.empty()) {
    return Failure("--cookies and --no-cookie-store exclude each other");
  }
  if (!options.hostGiven) {
    options.host = options.service == SearchService::Current ? kCurrentServiceHost : kSearchHost;
    // The live service blocks bursts: it is never asked faster than this.
    if (options.delay < kLeastLiveDelay) {
      options.delay = kLeastLiveDelay;
      options.delayRaised = true;
    }
  }
  if (positional.empty()) return Failure("search needs a KEYWORD");
  if (positional.size() > 1) {
    return Failure("search takes one KEYWORD; quote a keyword that holds spaces (extra: \"" +
                   ValidUtf8(positional[1]) + "\")");
  }

  const Converted keyword = ArgumentToGbk(positional[0], "KEYWORD");
  if (!keyword.ok) return Failure(keyword.error);
  const Converted pages = ArgumentToGbk(pagesUtf8, "--pages");
  if (!pages.ok) return Failure(pages.error);
  options.keyword = keyword.text;
  options.pagesText = pages.text;
  if (sellerUtf8) {
    const Converted seller = ArgumentToGbk(*sellerUtf8, "--seller");
    if (!seller.ok) return Failure(seller.error);
    options.filterBySeller = true;
    options.sellerFragment = seller.text;
  }
  ParsedArgs parsed;
  parsed.ok = true;
  parsed.options = std::move(options);
  return parsed;
}

std::string UsageText() {
  return "Usage:\n"
         "  zemlaro-cli search [--pages TEXT] [--seller FRAGMENT] [--format tsv|csv|json|xlsx]\n"
         "                     [--fields LIST] [--output FILE] [--service current|legacy]\n"
         "                     [--delay SECONDS] [--host HOST[:PORT]] [--cacert FILE]\n"
         "                     [--cookies FILE | --no-cookie-store] [--] KEYWORD\n"
         "  zemlaro-cli --help\n"
         "  zemlaro-cli --version\n"
         "\n"
         "Searches the marketplace for KEYWORD over a number of result pages and writes one\n"
         "row per listing to stdout in UTF-8: 序号 (row number), 宝贝标题 (title),\n"
         "宝贝ID (item id) and 商家名 (seller nick), after a header row.\n"
         "\n"
         "Options:\n"
         "  --pages TEXT       number of result pages, read like the desktop program's box:\n"
         "                     a leading number, truncated (\"2.7\" is 2, full-width digits\n"
         "                     count, no number is 0). Default \"10\".\n"
         "  --seller FRAGMENT  keep only the rows whose seller nick contains FRAGMENT\n"
         "                     (exact letter case).\n"
         "  --format FORMAT    tsv (default), csv (RFC 4180), json or xlsx (a workbook whose\n"
         "                     ids are text cells; needs --output or a stdout that is not a\n"
         "                     terminal).\n"
         "  --fields LIST      the columns, comma-separated, in order: row, title, id, seller,\n"
         "                     price (价格), sales (付款人数), location (发货地). Default\n"
         "                     row,title,id,seller.\n"
         "  --output FILE      write the rows to FILE (whole, by a temporary file and a\n"
         "                     rename) instead of stdout.\n"
         "  --service SERVICE  current (default): the signed search API that serves listings\n"
         "                     today, to a signed-in session; legacy: the JSONP search page.\n"
         "  --delay SECONDS    the least pause between pages of the current service, default 8;\n"
         "                     each pause is drawn between it and 15/8 of it. Without --host it\n"
         "                     is at least 3.\n"
         "  --host HOST[:PORT] host of the chosen service, default " +
         std::string(kCurrentServiceHost) + " (current) or " + std::string(kSearchHost) +
         " (legacy).\n"
         "  --cacert FILE      PEM file of extra certificate authorities to trust.\n"
         "  --cookies FILE     the cookie file (Netscape format, as browsers' cookie export\n"
         "                     writes it) to read before the search and write back after it.\n"
         "                     Default: the desktop program's store,\n"
         "                     $XDG_DATA_HOME/zemlaro/cookies.txt or\n"
         "                     ~/.local/share/zemlaro/cookies.txt. It must not be readable\n"
         "                     by others.\n"
         "  --no-cookie-store  keep cookies in memory only; nothing is read or written.\n"
         "  --                 ends the options (for a KEYWORD that starts with \"-\").\n"
         "\n"
         "KEYWORD, FRAGMENT and TEXT must be UTF-8 whose characters code page 936 (GBK)\n"
         "can represent. Progress (page i/N) goes to stderr when it is a terminal; a page\n"
         "that adds no row is explained on stderr.\n"
         "\n"
         "Exit status: 0 when the search ran, 3 when a page needed sign-in or verification\n"
         "(the rows found are still written), 2 on a usage error, 1 when the rows could\n"
         "not be written.\n";
}

std::string VersionText() { return std::string("zemlaro-cli ") + ZEMLARO_VERSION + "\n"; }

}  // namespace zemlaro::cli
