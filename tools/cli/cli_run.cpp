#include "tools/cli/cli_run.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "search/current_constants.h"
#include "search/market.h"
#include "search/search_run.h"
#include "search/table_export.h"
#include "tools/cli/cli_args.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/cli_platform.h"
#include "tools/cli/cli_view.h"
#include "web/cookie_store.h"
#include "web/program_session.h"

namespace zemlaro::cli {
namespace {

void WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

bool WriteAll(std::FILE* stream, std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written;
}

Table TableOf(const std::vector<Row>& rows, const std::vector<Field>& fields) {
  Table table;
  table.header = HeaderOf(fields);
  table.rows.reserve(rows.size());
  for (const Row& row : rows) table.rows.push_back(CellsOf(row, fields));
  return table;
}

// A workbook for stdout: written to a private temporary folder, then copied out.
bool WriteWorkbookTo(std::FILE* out, const Table& table, std::string* why) {
  const std::string folder = MakePrivateTemporaryFolder();
  if (folder.empty()) {
    *why = "cannot make a temporary folder";
    return false;
  }
  const std::string path = folder + "/rows.xlsx";
  bool written = WriteWorkbook(path, table, why);
  if (written) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    written = WriteAll(out, bytes.str());
    if (!written) *why = "cannot write to stdout";
  }
  std::remove(path.c_str());
  RemoveFolder(folder);
  return written;
}

// The rows in the chosen format, to --output or to stdout. False with a reason.
bool WriteRows(const CliView& view, const CliOptions& options, std::FILE* out, std::string* why) {
  if (options.format == OutputFormat::Xlsx) {
    const Table table = TableOf(view.Rows(), options.fields);
    if (options.outputFile.empty()) return WriteWorkbookTo(out, table, why);
    return WriteWorkbook(options.outputFile, table, why);
  }
  const std::string text = FormatRows(view.Rows(), options.format, options.fields);
  if (options.outputFile.empty()) {
    if (WriteAll(out, text)) return true;
    *why = "cannot write the rows to stdout";
    return false;
  }
  return WriteFileAtomically(options.outputFile, text, why);
}

bool NeedsSignIn(const PageReport& report) {
  return report.outcome.kind == PageOutcomeKind::SignInRequired ||
         report.outcome.kind == PageOutcomeKind::VerificationRequired;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, bool showProgress,
           const SessionSettings& limits) {
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
  if (options.format == OutputFormat::Xlsx && options.outputFile.empty() && IsTerminal(out)) {
    WriteLine(err,
              "zemlaro-cli: --format xlsx writes a workbook: give --output FILE, or send "
              "stdout to a file or a pipe");
    WriteLine(err, "Try 'zemlaro-cli --help'.");
    return kExitUsage;
  }
  if (options.delayRaised) {
    WriteLine(err, "zemlaro-cli: the live service is asked with at least 3 s between pages");
  }

  std::string sessionProblem;
  const std::unique_ptr<InternetSession> session =
      MakeProgramSession(limits, options.caFile, &sessionProblem);
  if (!session) {
    WriteLine(err, "zemlaro-cli: " + sessionProblem);
    return kExitUsage;
  }

  // The store is read before the first request and written back once the run is over;
  // a file that could not be read as it should is left as it was.
  std::string cookieFile;
  bool writeBack = false;
  if (!options.noCookieStore) {
    cookieFile = options.cookieFile.empty() ? DefaultCookieStorePath() : options.cookieFile;
    if (!cookieFile.empty()) {
      const StoreLoad load = LoadCookieStore(cookieFile);
      if (load.problem != StoreProblem::None) {
        WriteLine(err, "zemlaro-cli: " + StoreProblemText(load.problem, cookieFile));
      }
      writeBack = load.problem == StoreProblem::None || load.problem == StoreProblem::Malformed;
    }
  }

  CliView view(options.keyword, options.pagesText, options.sellerFragment);
  for (const Field field : options.fields) {
    if (field == Field::Price || field == Field::Sales || field == Field::Location) {
      view.wantsDetails = true;
    }
  }
  if (showProgress) {
    view.onPageStart = [err](int page, int pageCount) {
      WriteLine(err, ProgressLine(page, pageCount));
    };
  }
  bool signInNeeded = false;
  view.onPageDone = [err, &signInNeeded, &cookieFile](const PageReport& report) {
    if (NeedsSignIn(report)) signInNeeded = true;
    if (const std::string line = EmptyPageLine(report, cookieFile); !line.empty()) {
      WriteLine(err, line);
    }
  };

  SearchSetup setup;
  setup.service = options.service;
  setup.hosts = {options.host, kItemHost};
  setup.pacing = {options.delay, options.delay * 15 / 8};
  setup.storedToken = [] { return CookieValue(kCurrentTokenCookie); };
  RunSearch(view, *session, setup);
  if (options.filterBySeller) FilterBySeller(view);

  if (writeBack) {
    std::string why;
    if (!SaveCookieStore(cookieFile, &why)) {
      WriteLine(err, "zemlaro-cli: cannot write the cookie store: " + why);
    }
  }

  std::string why;
  if (!WriteRows(view, options, out, &why)) {
    WriteLine(err, "zemlaro-cli: " + why);
    return kExitFailure;
  }
  return signInNeeded ? kExitSignIn : kExitOk;
}

int CliMain(int argc, char** argv, const SessionSettings& limits) {
  PrepareSessions();
  PrepareStreams();
  return RunCli(Utf8Arguments(argc, argv), stdout, stderr, IsTerminal(stderr), limits);
}

}  // namespace zemlaro::cli
