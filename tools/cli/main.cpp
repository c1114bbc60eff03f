#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli_run.h"
#include "web/curl_session.h"

int main(int argc, char** argv) {
  zemlaro::PrepareCurl();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return zemlaro::cli::RunCli(args, stdout, stderr, isatty(STDERR_FILENO) == 1);
}
