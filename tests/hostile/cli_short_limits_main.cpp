// zemlaro-cli as built for the hostile-server tests: the same main over the same
// library, with the short time limits of short_limits.h.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli_run.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return zemlaro::cli::RunCli(args, stdout, stderr, isatty(STDERR_FILENO) == 1);
}
