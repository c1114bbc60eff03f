#include "tests/hostile/hostile_support.h"

#include <cstdio>
#include <mutex>

#include "text/codepage.h"

namespace zemlaro::hostile {
namespace {

using market::Mode;

std::optional<Mode> ModeOf(Hostile hostile) {
  switch (hostile) {
    case Hostile::None:
      return Mode::Normal;
    case Hostile::Silent:
      return Mode::Silent;
    case Hostile::Drip:
      return Mode::Drip;
    case Hostile::EndlessBody:
      return Mode::EndlessBody;
    case Hostile::Reset:
      return Mode::Reset;
    case Hostile::RedirectLoop:
      return Mode::RedirectLoop;
    case Hostile::LoginPage:
      return Mode::LoginPage;
    case Hostile::Garbage:
      return Mode::Garbage;
    case Hostile::Huge:
      return Mode::Huge;
    case Hostile::UntrustedCertificate:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string Utf8(const Text& gbk) { return GbkToUtf8(gbk); }

// The rows page `page` adds, from `rows[first]` on, against the market's listings.
void ExpectListings(const std::vector<Row>& rows, std::size_t first, int page, int count) {
  int mismatches = 0;
  for (int i = 0; i < count && mismatches < 5; ++i) {
    const market::SampleListing l = market::ListingAt(kKeyword, page, i);
    const Row& row = rows[first + static_cast<std::size_t>(i)];
    const Row expected = {row[0], Utf8ToGbk(l.title), Utf8ToGbk(l.itemId), Utf8ToGbk(l.sellerNick)};
    if (row != expected) {
      ++mismatches;
      ADD_FAILURE() << "page " << page << " listing " << i << ": got \"" << Utf8(row[1]) << "\" "
                    << Utf8(row[2]) << " \"" << Utf8(row[3]) << "\", want \"" << l.title << "\" "
                    << l.itemId << " \"" << l.sellerNick << "\"";
    }
  }
}

// A Garbage page: listings up to the zero byte, the bad-UTF-8 title read with its
// ill-formed bytes as '?', the 2 MB title whole.
void ExpectGarbageListings(const std::vector<Row>& rows, std::size_t first) {
  const int count = market::kGarbageZeroAfterIndex + 1;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE("garbage listing " + std::to_string(i));
    const market::SampleListing l = market::ListingAt(kKeyword, kHostilePage, i);
    const Row& row = rows[first + static_cast<std::size_t>(i)];
    EXPECT_EQ(row[2], Utf8ToGbk(l.itemId));
    EXPECT_EQ(row[3], Utf8ToGbk(l.sellerNick));
    const Text base = Utf8ToGbk(l.title);
    if (i == market::kGarbageBadUtf8Index) {
      ASSERT_GT(row[1].size(), base.size());
      EXPECT_EQ(row[1].substr(0, base.size()), base);
      EXPECT_EQ(row[1].find_first_not_of('?', base.size()), Text::npos) << Utf8(row[1]);
    } else if (i == market::kGarbageLongTitleIndex) {
      EXPECT_EQ(row[1].substr(0, base.size()), base);
      EXPECT_EQ(Utf8(row[1]).size(), static_cast<std::size_t>(market::kGarbageLongTitleBytes));
    } else {
      EXPECT_EQ(row[1], base);
    }
  }
}

std::mutex tableMutex;
std::vector<TableLine>& Table() {
  static std::vector<TableLine> table;
  return table;
}

}  // namespace

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.id; }

const std::vector<HostileCase>& HostileCases() {
  static const std::vector<HostileCase> cases = {
      {"Control", "normal pages (control)", Hostile::None, {}},
      {"Silent", "Silent: accepts, never answers", Hostile::Silent, {"timed out: no byte for"}},
      {"Drip", "Drip: one byte every 0.5 s", Hostile::Drip, {"timed out: not done within"}},
      {"EndlessBody",
       "EndlessBody",
       Hostile::EndlessBody,
       {"body larger than", "timed out: not done within"}},
      {"Reset", "Reset mid-answer", Hostile::Reset, {"the request failed ("}},
      {"RedirectLoop", "RedirectLoop", Hostile::RedirectLoop, {"redirects"}},
      {"Untrusted",
       "untrusted certificate",
       Hostile::UntrustedCertificate,
       {"certificate not trusted"}},
      {"LoginPage", "LoginPage", Hostile::LoginPage, {"asks to sign in first"}},
      {"Garbage", "Garbage: bad UTF-8, zero byte, 2 MB title", Hostile::Garbage, {}},
      {"Huge", "Huge: 20,000 listings", Hostile::Huge, {}},
  };
  return cases;
}

const HostileCase& CaseOf(Hostile hostile) {
  for (const HostileCase& c : HostileCases()) {
    if (c.hostile == hostile) return c;
  }
  return HostileCases().front();
}

CaseServers::CaseServers(Hostile hostile) : hostile_(hostile) {
  market::MarketOptions options;
  // A byte well within the stall limit: only the limit on the whole transfer ends it.
  options.dripInterval = std::chrono::milliseconds(500);
  if (const std::optional<Mode> mode = ModeOf(hostile)) options.pageModes[kHostilePage] = *mode;
  market_ = std::make_unique<market::SampleMarket>(options);
  if (hostile == Hostile::UntrustedCertificate) {
    stranger_ = std::make_unique<market::SampleMarket>();
  }
}

bool CaseServers::Start() {
  if (!market_->Start()) return false;
  if (!stranger_) return true;
  if (!stranger_->Start()) return false;
  relay_ = std::make_unique<ConnectionSwitch>(market_->Port(), stranger_->Port(), kHostilePage);
  return relay_->Start();
}

std::string CaseServers::Host() const {
  return relay_ ? "127.0.0.1:" + std::to_string(relay_->Port()) : market_->HostAndPort();
}

std::string CaseServers::CaFile() const { return market_->CaFile(); }

std::vector<Row> RowsOfTsv(const std::string& tsv) {
  std::vector<Row> rows;
  std::size_t at = tsv.find('\n');  // the header
  while (at != std::string::npos && at + 1 < tsv.size()) {
    const std::size_t end = tsv.find('\n', at + 1);
    const std::string line = tsv.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    Row row;
    std::size_t from = 0;
    for (int c = 0; c < 4; ++c) {
      const std::size_t tab = c < 3 ? line.find('\t', from) : std::string::npos;
      row[static_cast<std::size_t>(c)] = Utf8ToGbk(line.substr(from, tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    rows.push_back(std::move(row));
    at = end;
  }
  return rows;
}

std::optional<double> PageTimes::HostilePageSeconds() const {
  if (!start[kHostilePage] || !start[kHostilePage + 1]) return std::nullopt;
  return *start[kHostilePage + 1] - *start[kHostilePage];
}

PageTimes PageTimesOf(const std::vector<StampedLine>& lines) {
  PageTimes times;
  for (int page = 1; page <= kPages; ++page) {
    const std::string line = "page " + std::to_string(page) + "/" + std::to_string(kPages);
    for (const StampedLine& l : lines) {
      if (l.text == line && !times.start[page]) times.start[page] = l.seconds;
    }
  }
  return times;
}

std::string NoRowsLine(const std::vector<StampedLine>& lines, int page, int pageCount) {
  const std::string head = "page " + std::to_string(page) + "/" + std::to_string(pageCount) + ": ";
  for (const StampedLine& l : lines) {
    if (l.text.rfind(head, 0) == 0) return l.text;
  }
  return {};
}

void ExpectRunRows(const std::vector<Row>& rows, Hostile hostile) {
  const int perPage = 44;
  const int hostileRows = hostile == Hostile::None      ? perPage
                          : hostile == Hostile::Garbage ? market::kGarbageZeroAfterIndex + 1
                          : hostile == Hostile::Huge    ? market::kHugeListingCount
                                                        : 0;
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(2 * perPage + hostileRows));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r][0] != std::to_string(r + 1)) {
      ADD_FAILURE() << "row " << r << " is numbered " << rows[r][0];
      break;
    }
  }
  ExpectListings(rows, 0, 1, perPage);
  if (hostile == Hostile::Garbage) {
    ExpectGarbageListings(rows, perPage);
  } else {
    ExpectListings(rows, perPage, kHostilePage, hostileRows);
  }
  ExpectListings(rows, static_cast<std::size_t>(perPage + hostileRows), 3, perPage);
}

void ExpectRunEndedWell(const SpawnResult& run, const HostileCase& c, const std::string& program,
                        std::chrono::milliseconds pageLimit, bool explainsEmptyPages) {
  std::string errText;
  for (const StampedLine& l : run.errLines) errText += l.text.substr(0, 300) + "\n";
  ASSERT_TRUE(run.started) << program;
  EXPECT_FALSE(run.killed) << "still running after " << kRunDeadline.count() << " s\n" << errText;
  EXPECT_EQ(run.signal, 0) << errText;
  // The command-line tool tells a script that a page wanted a sign-in.
  const bool signInAsked = explainsEmptyPages && c.hostile == Hostile::LoginPage;
  EXPECT_EQ(run.exitCode, signInAsked ? 3 : 0) << errText;
  if (kCheckRss) {
    EXPECT_LT(run.peakRssKib, kRssLimitKib);
  }

  const PageTimes times = PageTimesOf(run.errLines);
  for (int page = 1; page <= kPages; ++page) {
    EXPECT_TRUE(times.start[page].has_value()) << "no line for page " << page << "\n" << errText;
  }
  const std::optional<double> pageSeconds = times.HostilePageSeconds();
  if (pageSeconds) {
    EXPECT_LT(*pageSeconds, std::chrono::duration<double>(pageLimit + kEndSlack).count());
  }

  const std::string line = NoRowsLine(run.errLines, kHostilePage);
  std::string outcome;
  if (c.reasons.empty()) {
    EXPECT_EQ(line, "") << "page 2 should have added rows";
  } else if (!explainsEmptyPages) {
    outcome = "no rows (the window shows no reason)";
  } else {
    bool named = false;
    for (const char* reason : c.reasons) named = named || line.find(reason) != std::string::npos;
    EXPECT_TRUE(named) << "page 2's line: \"" << line << "\"\n" << errText;
    const std::string mark = ": no rows: ";
    const std::size_t at = line.find(mark);
    outcome = at == std::string::npos ? line : line.substr(at + mark.size());
  }
  const std::vector<Row> rows = RowsOfTsv(run.out);
  ExpectRunRows(rows, c.hostile);
  if (c.reasons.empty()) {
    outcome = std::to_string(rows.size()) + " rows in all";
  }
  AddTableLine({program, c.name, pageSeconds.value_or(-1), run.peakRssKib, outcome});
}

void AddTableLine(TableLine line) {
  std::lock_guard lock(tableMutex);
  Table().push_back(std::move(line));
}

void PrintTable() {
  std::lock_guard lock(tableMutex);
  if (Table().empty()) return;
  std::printf(
      "\nHostile page 2 of a 3-page run: time from its start to the start of page 3,\n"
      "and the peak resident size of the whole process (wait4 ru_maxrss).\n");
  if (!kCheckRss) std::printf("Sanitizer build: the sizes are shown, not held to the limit.\n");
  std::printf("%-26s %-44s %10s %10s  %s\n", "program", "case", "page 2", "peak RSS",
              "how page 2 ended");
  for (const TableLine& l : Table()) {
    char seconds[32] = "-";
    if (l.pageSeconds >= 0) std::snprintf(seconds, sizeof seconds, "%.2f s", l.pageSeconds);
    char rss[32];
    std::snprintf(rss, sizeof rss, "%.1f MB", static_cast<double>(l.peakRssKib) / 1024.0);
    std::printf("%-26s %-44s %10s %10s  %s\n", l.program.c_str(), l.name.c_str(), seconds, rss,
                l.outcome.c_str());
  }
  std::fflush(stdout);
}

}  // namespace zemlaro::hostile
