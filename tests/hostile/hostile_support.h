// What the hostile-server tests share: the cases, the reading of a spawned
// program's rows and page lines, the checks on the rows of a run, and the table
// of results printed at the end.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/hostile/connection_switch.h"
#include "tests/hostile/spawn.h"
#include "text/text.h"
#include "tools/sample-market/market_server.h"

namespace zemlaro::hostile {

// UTF-8; every character is in code page 936.
inline constexpr char kKeyword[] = "连衣裙";
inline constexpr int kPages = 3;
inline constexpr int kHostilePage = 2;
inline constexpr long kRssLimitKib = 200 * 1024;
// A sanitizer's shadow memory and quarantine belong to the tool, not to the program.
#ifdef ZEMLARO_SANITIZED
inline constexpr bool kCheckRss = false;
#else
inline constexpr bool kCheckRss = true;
#endif
// How long after its time limit a page may still take to end: the child's own work
// (parsing, rows) and a busy machine. A bound for hangs, not a speed target.
inline constexpr std::chrono::milliseconds kEndSlack{3000};
// A whole spawned run, after which the child is killed and the case fails.
inline constexpr std::chrono::seconds kRunDeadline{60};

enum class Hostile {
  None,  // every page answered normally, for comparison
  Silent,
  Drip,
  EndlessBody,
  Reset,
  RedirectLoop,
  UntrustedCertificate,
  LoginPage,
  Garbage,
  Huge,
};

struct HostileCase {
  const char* id;    // for test names
  const char* name;  // for the table
  Hostile hostile;
  // A text the page-2 line holds when that page adds no row; empty when it adds rows.
  std::vector<const char*> reasons;
};
void PrintTo(const HostileCase& c, std::ostream* os);
const std::vector<HostileCase>& HostileCases();
const HostileCase& CaseOf(Hostile hostile);

// The servers of one case: the sample market with the hostile mode on page 2
// alone; for an untrusted certificate, a relay that puts a second market (with a
// certificate of its own) behind the second connection.
class CaseServers {
 public:
  explicit CaseServers(Hostile hostile);
  bool Start();
  std::string Host() const;    // 127.0.0.1:PORT
  std::string CaFile() const;  // trusted for pages 1 and 3
  market::SampleMarket& Market() { return *market_; }

 private:
  Hostile hostile_;
  std::unique_ptr<market::SampleMarket> market_;
  std::unique_ptr<market::SampleMarket> stranger_;
  std::unique_ptr<ConnectionSwitch> relay_;
};

// A row's four cells in code page 936: number, title, item id, seller nick.
using Row = std::array<Text, 4>;

// The rows of a tsv answer (header dropped), each UTF-8 cell turned into 936.
std::vector<Row> RowsOfTsv(const std::string& tsv);

// The page lines a run printed: "page i/N" as each page starts.
struct PageTimes {
  std::optional<double> start[kPages + 2];
  // From the start of page 2 to the start of page 3.
  std::optional<double> HostilePageSeconds() const;
};
PageTimes PageTimesOf(const std::vector<StampedLine>& lines);
// The line "page 2/3: no rows: ..." if there is one.
std::string NoRowsLine(const std::vector<StampedLine>& lines, int page, int pageCount = kPages);

// Checks the rows of a whole run of kPages pages: numbered 1.. without a gap,
// pages 1 and 3 exactly the market's listings, page 2 as the case has it.
void ExpectRunRows(const std::vector<Row>& rows, Hostile hostile);

// The checks every spawned run must pass, and a line of the table. Only
// zemlaro-cli says why a page added no row (`explainsEmptyPages`).
void ExpectRunEndedWell(const SpawnResult& run, const HostileCase& c, const std::string& program,
                        std::chrono::milliseconds pageLimit, bool explainsEmptyPages = true);

struct TableLine {
  std::string program;
  std::string name;
  double pageSeconds = -1;
  long peakRssKib = 0;
  std::string outcome;
};
void AddTableLine(TableLine line);
void PrintTable();

}  // namespace zemlaro::hostile
