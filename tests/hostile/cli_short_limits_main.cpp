// zemlaro-cli as built for the hostile-server tests: the program's own CliMain over
// the same library, with the short limits of short_limits.h.
#include "tests/hostile/short_limits.h"
#include "tools/cli/cli_run.h"

int main(int argc, char** argv) {
  return zemlaro::cli::CliMain(argc, argv, zemlaro::hostile::ShortLimits({}));
}
