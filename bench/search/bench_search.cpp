// A 10-page zemlaro-cli search against the sample market, timed against the curl
// command-line tool fetching the same 10 addresses one after another.
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
constexpr char kCurl[] = "/usr/bin/curl";

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

}  // namespace

int main() {
  zemlaro::market::SampleMarket market;
  if (!market.Start()) {
    std::fprintf(stderr, "bench-search: the sample market did not start\n");
    return 1;
  }
  const std::string keyword = "手机";
  std::vector<std::string> urls;
  for (int page = 1; page <= kPages; ++page) {
    urls.push_back(
        zemlaro::BuildSearchUrl(zemlaro::Utf8ToGbk(keyword), page, market.HostAndPort()));
  }

  const std::vector<std::string> cli = {ZEMLARO_CLI, "search",
                                        "--pages",   std::to_string(kPages),
                                        "--host",    market.HostAndPort(),
                                        "--cacert",  market.CaFile(),
                                        keyword};
  std::vector<std::string> cliStart = cli;
  cliStart[3] = "0";  // --pages 0: what the tool costs before its first request

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
  std::ifstream rows(rowsFile);
  const long lines = std::count(std::istreambuf_iterator<char>(rows), {}, '\n');
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
  return 0;
}
