#include "tools/cli/cli_run.h"

#include "search/market.h"
#include "search/search_run.h"
#include "tools/cli/cli_args.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/cli_view.h"
#include "web/curl_session.h"

namespace zemlaro::cli {
namespace {

void WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

bool WriteAll(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
           bool showProgress) {
  const ParsedArgs parsed = ParseArgs(args);
  if (!parsed.ok) {
    WriteLine(err, "zemlaro-cli: " + parsed.error);
    WriteLine(err, "Try 'zemlaro-cli --help'.");
    return kExitUsage;
  }
  const CliOptions& options = parsed.options;
  if (options.action == Action::Help) return WriteAll(out, UsageText()) ? kExitOk : kExitFailure;
  if (options.action == Action::Version) {
    return WriteAll(out, VersionText()) ? kExitOk : kExitFailure;
  }

  CurlSettings settings;
  settings.extraCaFile = options.caFile;
  const std::unique_ptr<InternetSession> session = MakeCurlSession(settings);
  if (!session) {
    WriteLine(err, "zemlaro-cli: cannot set up the HTTP client");
    return kExitFailure;
  }

  CliView view(options.keyword, options.pagesText, options.sellerFragment);
  if (showProgress) {
    view.onPageStart = [err](int page, int pageCount) {
      WriteLine(err, ProgressLine(page, pageCount));
    };
  }
  view.onPageDone = [err](const PageReport& report) {
    if (const std::string line = EmptyPageLine(report); !line.empty()) WriteLine(err, line);
  };

  const SearchHosts hosts{options.host, kItemHost};
  RunSearch(view, *session, hosts);
  if (options.filterBySeller) FilterBySeller(view);

  if (!WriteAll(out, FormatRows(view.Rows(), options.format))) {
    WriteLine(err, "zemlaro-cli: cannot write the rows to stdout");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace zemlaro::cli
