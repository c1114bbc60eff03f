// The command line of zemlaro-cli:
//   zemlaro-cli search [--pages TEXT] [--seller FRAGMENT] [--format tsv|csv|json]
//                      [--host HOST[:PORT]] [--cacert FILE] [--] KEYWORD
//   zemlaro-cli --help
//   zemlaro-cli --version
#pragma once

#include <string>
#include <vector>

#include "text/text.h"

namespace zemlaro::cli {

enum class OutputFormat { Tsv, Csv, Json };
enum class Action { Search, Help, Version };

struct CliOptions {
  Action action = Action::Search;
  // The texts below are in code page 936, as the desktop program's boxes hold them.
  Text keyword;
  Text pagesText = "10";
  bool filterBySeller = false;  // --seller was given
  Text sellerFragment;
  OutputFormat format = OutputFormat::Tsv;
  Text host;  // host[:port] of the search service
  Text caFile;
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

std::string UsageText();
std::string VersionText();

}  // namespace zemlaro::cli
