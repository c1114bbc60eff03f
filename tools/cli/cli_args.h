// The command line of zemlaro-cli:
//   zemlaro-cli search [--pages TEXT] [--seller FRAGMENT] [--format tsv|csv|json|xlsx]
//                      [--fields LIST] [--output FILE] [--service current|legacy]
//                      [--delay SECONDS] [--host HOST[:PORT]] [--cacert FILE]
//                      [--cookies FILE | --no-cookie-store] [--] KEYWORD
//   zemlaro-cli --help
//   zemlaro-cli --version
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "search/search_run.h"
#include "text/text.h"

namespace zemlaro::cli {

enum class OutputFormat { Tsv, Csv, Json, Xlsx };

// The columns a row can show, in the order of the default output first.
enum class Field { Row, Title, Id, Seller, Price, Sales, Location };
inline constexpr int kFieldCount = 7;
enum class Action { Search, Help, Version };

struct CliOptions {
  Action action = Action::Search;
  // The texts below are in code page 936, as the desktop program's boxes hold them.
  Text keyword;
  Text pagesText = "10";
  bool filterBySeller = false;  // --seller was given
  Text sellerFragment;
  OutputFormat format = OutputFormat::Tsv;
  std::vector<Field> fields{Field::Row, Field::Title, Field::Id, Field::Seller};
  std::string outputFile;  // empty: stdout
  SearchService service = SearchService::Current;
  Text host;               // host[:port] of the chosen service
  bool hostGiven = false;  // --host was given
  // The least pause between the current service's pages; the most is 15/8 of it.
  std::chrono::milliseconds delay{8000};
  bool delayRaised = false;  // a --delay under the live service's floor was raised to it
  Text caFile;
  // --cookies FILE; empty for the desktop program's store.
  std::string cookieFile;
  bool noCookieStore = false;
};

struct ParsedArgs {
  bool ok = false;
  CliOptions options;
  std::string error;  // UTF-8, for stderr, when !ok
};

// `args` without the program name, each UTF-8.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

struct Converted {
  bool ok = false;
  Text text;          // code page 936
  std::string error;  // names the offending character or byte, when !ok
};

// UTF-8 to code page 936, refusing invalid UTF-8 and any character that code page
// 936 cannot hold. `what` names the argument in the error.
Converted ArgumentToGbk(std::string_view utf8, std::string_view what);

// The least pause the live service is asked with; --host lifts it (a local market).
inline constexpr std::chrono::milliseconds kLeastLiveDelay{3000};

std::string UsageText();
std::string VersionText();

}  // namespace zemlaro::cli
