#include <unistd.h>

#include "tools/cli/cli_platform.h"

namespace zemlaro::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void PrepareStreams() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::string MakePrivateTemporaryFolder() {
  char folder[] = "/tmp/zemlaro-cli-XXXXXX";
  return mkdtemp(folder) ? std::string(folder) : std::string();
}

void RemoveFolder(const std::string& folder) { rmdir(folder.c_str()); }

}  // namespace zemlaro::cli
