// The Internet session zemlaro-cli runs over, chosen at build time here alone:
// libcurl's on Linux (cli_session_curl.cpp), WinINet's on Windows
// (cli_session_wininet.cpp). The limits are that session's own settings.
//
// Thread rules: PrepareSessions before any thread starts; MakeCliSession from any thread.
#pragma once

#include <memory>
#include <string>

#if defined(_WIN32)
#include "web/wininet_session.h"
#else
#include "web/curl_session.h"
#endif

namespace zemlaro::cli {

#if defined(_WIN32)
using SessionLimits = WinInetSettings;
#else
using SessionLimits = CurlSettings;
#endif

// Sets the session's library up for the process, first thing in main.
void PrepareSessions();

// A session with `limits` that trusts the CAs of the PEM file `caFile` besides the
// system's (empty for none). Null, with the reason in `why`, when the platform
// cannot trust that file without trusting more than it.
std::unique_ptr<InternetSession> MakeCliSession(const SessionLimits& limits,
                                                const std::string& caFile, std::string* why);

}  // namespace zemlaro::cli
