// zemlaro-cli as a function: arguments in, exit status out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "web/program_session.h"

namespace zemlaro::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the output could not be written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSignIn = 3;  // a page needed sign-in or verification

// `args` without the program name. Rows go to `out`; usage errors, page lines and,
// when `showProgress`, "page i/N" lines go to `err`. Every session of the run starts
// from `limits` (time and size limits; the trusted CAs come from the arguments).
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, bool showProgress,
           const SessionSettings& limits);

// The whole program: sets the session's library up, then runs the arguments over
// stdout and stderr with `limits`. zemlaro-cli's main passes the real limits, its
// test build short ones.
int CliMain(int argc, char** argv, const SessionSettings& limits);

}  // namespace zemlaro::cli
