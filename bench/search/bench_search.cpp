// zemlaro-cli against the curl command-line tool on the sample market, in two
// cases: a 10-page search timed against curl fetching the same 10 addresses one
// after another, and one answer of 20,000 listings (the legacy search's huge mode)
// timed against curl fetching that address, with zemlaro-cli's peak memory beside
// the answer's size.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "search/search_page.h"
#include "text/codepage.h"
#include "tools/sample-market/market_server.h"

extern char** environ;

namespace {

constexpr int kPages = 10;
constexpr int kRounds = 9;
constexpr int kHugeListings = 20000;
constexpr int kHugeRounds = 7;
constexpr char kCurl[] = "/usr/bin/curl";

constexpr char kTime[] = "/usr/bin/time";
constexpr int kMemoryRounds = 3;

struct Timing {
  double wall = -1;  // seconds; -1 when the program failed
  double cpu = -1;   // user + system seconds of the child
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Runs a program with stdout sent to `out` and stderr to /dev/null.
Timing TimeProgram(std::vector<std::string> args, const char* out = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Timing timing;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = -1;
  rusage usage{};
  const bool ran = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                   wait4(pid, &status, 0, &usage) == pid;
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (ran && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    timing.wall = std::chrono::duration<double>(end - start).count();
    timing.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  }
  return timing;
}

// Several programs one after another, as one timing.
Timing TimePrograms(const std::vector<std::vector<std::string>>& programs) {
  Timing total{0, 0};
  for (const auto& program : programs) {
    const Timing t = TimeProgram(program);
    if (t.wall < 0) return {};
    total.wall += t.wall;
    total.cpu += t.cpu;
  }
  return total;
}

struct Series {
  const char* name;
  std::vector<std::vector<std::string>> programs;  // run one after another
  std::vector<double> wall;
  std::vector<double> cpu;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// zemlaro-cli asking the market's legacy search for `pages` pages, cookies in memory only.
std::vector<std::string> CliSearch(const std::string& pages,
                                   const zemlaro::market::SampleMarket& market,
                                   const std::string& keyword) {
  return {ZEMLARO_CLI, "search", "--service",          "legacy",   "--no-cookie-store", "--pages",
          pages,       "--host", market.HostAndPort(), "--cacert", market.CaFile(),     keyword};
}

long LinesIn(const std::string& path) {
  std::ifstream in(path);
  return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
}

long SizeOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<long>(in.tellg()) : -1;
}

// The program's peak resident set in kB, as /usr/bin/time reports it; -1 on failure.
// A child's own ru_maxrss will not do: it starts from the peak of the process that
// spawned it (this one, which also serves the answers), not from what it used.
long PeakKb(const std::vector<std::string>& program) {
  const std::string report = "/tmp/bench-search-time-" + std::to_string(getpid());
  std::vector<std::string> timed = {kTime, "-f", "%M", "-o", report};
  timed.insert(timed.end(), program.begin(), program.end());
  long kb = -1;
  if (TimeProgram(timed).wall >= 0) std::ifstream(report) >> kb;
  unlink(report.c_str());
  return kb;
}

// The legacy search's first page in huge mode: zemlaro-cli and curl (one process, a
// fresh connection, as zemlaro-cli makes) take turns on the same address, round by
// round. False when a run failed or brought the wrong rows.
bool BenchHugeAnswer(const std::string& keyword) {
  zemlaro::market::MarketOptions options;
  options.pageModes = {{1, zemlaro::market::Mode::Huge}};
  zemlaro::market::SampleMarket market(options);
  if (!market.Start()) {
    std::fprintf(stderr, "bench-search: the huge-answer market did not start\n");
    return false;
  }
  const std::string url =
      zemlaro::BuildSearchUrl(zemlaro::Utf8ToGbk(keyword), 1, market.HostAndPort());
  const std::vector<std::string> cli = CliSearch("1", market, keyword);
  const std::string answerFile = "/tmp/bench-search-answer-" + std::to_string(getpid());
  const std::vector<std::string> curlSave = {
      kCurl,           "--silent", "--show-error",      "--fail",   "--globoff", "--cacert",
      market.CaFile(), "--header", "Connection: close", "--output", answerFile,  url};
  std::vector<std::string> curl = curlSave;
  curl[curl.size() - 2] = "/dev/null";

  // Warm-up: the answer's size, and every row in zemlaro-cli's output.
  const std::string rowsFile = "/tmp/bench-search-rows-" + std::to_string(getpid());
  const bool warm = TimeProgram(curlSave).wall >= 0 && TimeProgram(cli, rowsFile.c_str()).wall >= 0;
  const long answerBytes = SizeOf(answerFile);
  const long lines = LinesIn(rowsFile);
  unlink(answerFile.c_str());
  unlink(rowsFile.c_str());
  if (!warm || answerBytes <= 0 || lines != 1 + kHugeListings) {
    std::fprintf(stderr, "bench-search: the huge-answer warm-up failed (%ld bytes, %ld lines)\n",
                 answerBytes, lines);
    return false;
  }

  std::vector<double> cliWall, cliCpu, curlWall, curlCpu;
  for (int round = 0; round < kHugeRounds; ++round) {
    const Timing a = TimeProgram(cli);
    const Timing b = TimeProgram(curl);
    if (a.wall < 0 || b.wall < 0) {
      std::fprintf(stderr, "bench-search: a timed huge-answer run failed\n");
      return false;
    }
    cliWall.push_back(a.wall);
    cliCpu.push_back(a.cpu);
    curlWall.push_back(b.wall);
    curlCpu.push_back(b.cpu);
  }
  // The highest of a few runs.
  long peakKb = -1;
  for (int round = 0; round < kMemoryRounds; ++round) peakKb = std::max(peakKb, PeakKb(cli));
  if (peakKb <= 0) {
    std::fprintf(stderr, "bench-search: %s gave no peak memory\n", kTime);
    return false;
  }

  const double answerMb = static_cast<double>(answerBytes) / 1e6;
  std::printf(
      "bench-search: one answer of %d listings (%.2f MB) from the sample market, median "
      "of %d rounds\n",
      kHugeListings, answerMb, kHugeRounds);
  std::printf("  %-40s %10s %10s\n", "", "wall ms", "cpu ms");
  std::printf("  %-40s %10.1f %10.1f\n", "zemlaro-cli search --pages 1", Median(cliWall) * 1000,
              Median(cliCpu) * 1000);
  std::printf("  %-40s %10.1f %10.1f\n", "curl, the same address", Median(curlWall) * 1000,
              Median(curlCpu) * 1000);
  const double wallRatio = Median(cliWall) / Median(curlWall);
  const double peakMb = static_cast<double>(peakKb) * 1024 / 1e6;
  const double peakRatio = peakMb / answerMb;
  std::printf(
      "  %d listings: wall ratio %.2f (goal <= 1.3), peak RSS %.1f MB = %.2f x answer "
      "(goal <= 3): %s\n",
      kHugeListings, wallRatio, peakMb, peakRatio,
      wallRatio <= 1.3 && peakRatio <= 3 ? "met" : "MISSED");
  return true;
}

}  // namespace

// With the argument "huge", only the case of the one large answer runs.
int main(int argc, char** argv) {
  const std::string keyword = "手机";
  if (argc > 1 && std::string(argv[1]) == "huge") return BenchHugeAnswer(keyword) ? 0 : 1;
  zemlaro::market::SampleMarket market;
  if (!market.Start()) {
    std::fprintf(stderr, "bench-search: the sample market did not start\n");
    return 1;
  }
  std::vector<std::string> urls;
  for (int page = 1; page <= kPages; ++page) {
    urls.push_back(
        zemlaro::BuildSearchUrl(zemlaro::Utf8ToGbk(keyword), page, market.HostAndPort()));
  }

  const std::vector<std::string> cli = CliSearch(std::to_string(kPages), market, keyword);
  // --pages 0: what the tool costs before its first request.
  const std::vector<std::string> cliStart = CliSearch("0", market, keyword);

  // curl fetching the ten addresses in turn (--globoff: the addresses hold "[,]"): one
  // process on a fresh connection per address, as zemlaro-cli does (each request opens
  // and closes its own handles); one process reusing its connection; ten processes.
  const std::vector<std::string> curlBase = {kCurl,       "--silent", "--show-error", "--fail",
                                             "--globoff", "--cacert", market.CaFile()};
  std::vector<std::string> curlFresh = curlBase;
  curlFresh.insert(curlFresh.end(), {"--header", "Connection: close"});
  std::vector<std::string> curlReuse = curlBase;
  std::vector<std::vector<std::string>> curlEach;
  for (const std::string& url : urls) {
    curlFresh.insert(curlFresh.end(), {"--output", "/dev/null", url});
    curlReuse.insert(curlReuse.end(), {"--output", "/dev/null", url});
    curlEach.push_back(curlBase);
    curlEach.back().insert(curlEach.back().end(), {"--output", "/dev/null", url});
  }

  std::vector<Series> series = {
      {"zemlaro-cli search", {cli}, {}, {}},
      {"curl, 1 process, fresh connections", {curlFresh}, {}, {}},
      {"curl, 1 process, one kept-alive conn.", {curlReuse}, {}, {}},
      {"curl, 10 processes", curlEach, {}, {}},
      {"zemlaro-cli search --pages 0", {cliStart}, {}, {}},
      {"curl --version", {{kCurl, "--version"}}, {}, {}},
  };

  // Warm-up round (page cache, first certificate load), which also checks that the
  // tool really brought every row.
  const std::string rowsFile = "/tmp/bench-search-rows-" + std::to_string(getpid());
  bool warm = TimeProgram(cli, rowsFile.c_str()).wall >= 0;
  for (const Series& s : series) warm = warm && TimePrograms(s.programs).wall >= 0;
  const long lines = LinesIn(rowsFile);
  unlink(rowsFile.c_str());
  if (!warm || lines != 1 + kPages * 44) {
    std::fprintf(stderr, "bench-search: a warm-up run failed (%ld lines of rows)\n", lines);
    return 1;
  }

  for (int round = 0; round < kRounds; ++round) {
    for (Series& s : series) {
      const Timing t = TimePrograms(s.programs);
      if (t.wall < 0) {
        std::fprintf(stderr, "bench-search: a timed run of %s failed\n", s.name);
        return 1;
      }
      s.wall.push_back(t.wall);
      s.cpu.push_back(t.cpu);
    }
  }

  std::printf(
      "bench-search: %d pages x 44 listings from the sample market (HTTPS, 127.0.0.1), "
      "median of %d rounds\n",
      kPages, kRounds);
  std::printf("  %-40s %10s %10s %14s\n", "", "wall ms", "cpu ms", "cli/this wall");
  const double cliWall = Median(series[0].wall);
  for (const Series& s : series) {
    std::printf("  %-40s %10.1f %10.1f %14.2f\n", s.name, Median(s.wall) * 1000,
                Median(s.cpu) * 1000, cliWall / Median(s.wall));
  }
  const double ratio = cliWall / Median(series[1].wall);
  std::printf("  goal zemlaro-cli <= 1.2 x curl (1 process, fresh connections): %s (%.2f)\n",
              ratio <= 1.2 ? "met" : "MISSED", ratio);
  return BenchHugeAnswer(keyword) ? 0 : 1;
}
