// Runs a program as a child process, as a user would run it from a terminal:
// stderr on a pseudo-terminal (so that the programs print their "page i/N"
// lines), stdout collected, every stderr line stamped with the time it arrived,
// and the child's peak resident size taken from wait4() when it ends.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zemlaro::hostile {

struct StampedLine {
  double seconds = 0;  // since the child started
  std::string text;    // without its line end
};

struct SpawnResult {
  bool started = false;
  bool killed = false;  // still running at the deadline, so killed
  int exitCode = -1;    // -1 unless it exited normally
  int signal = 0;       // the signal that ended it, if any
  double seconds = 0;   // from start to end
  long peakRssKib = 0;  // ru_maxrss
  std::string out;
  std::vector<StampedLine> errLines;
};

// `argv[0]` is the program's path. `env` replaces the environment when given.
SpawnResult Spawn(const std::vector<std::string>& argv,
                  const std::optional<std::vector<std::string>>& env,
                  std::chrono::milliseconds deadline);

// The environment of this process, as "NAME=value" strings.
std::vector<std::string> CurrentEnvironment();

}  // namespace zemlaro::hostile
