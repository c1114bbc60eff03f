// What zemlaro-cli needs of the system besides the Internet session: the command
// line as UTF-8, binary standard streams, terminals and a private temporary folder.
// cli_platform_posix.cpp on Linux, cli_platform_windows.cpp on Windows.
//
// Thread rules: Utf8Arguments and PrepareStreams from main only; the rest any thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zemlaro::cli {

// The arguments without the program name, each UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Standard output and error pass bytes as they are (no CR before LF).
void PrepareStreams();
bool IsTerminal(std::FILE* stream);
// A new folder only this user may use; empty when none could be made.
std::string MakePrivateTemporaryFolder();
// Removes an empty folder.
void RemoveFolder(const std::string& folder);

}  // namespace zemlaro::cli
