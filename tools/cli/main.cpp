// zemlaro-cli: the listing search from the command line, with the real limits.
#include "tools/cli/cli_run.h"

int main(int argc, char** argv) { return zemlaro::cli::CliMain(argc, argv, {}); }
