// The Internet session the programs (zemlaro, zemlaro-cli) run over, chosen at build
// time here alone: libcurl's on Linux (program_session_curl.cpp), WinINet's on
// Windows (program_session_wininet.cpp). The settings are that session's own.
//
// Thread rules: PrepareSessions before any thread starts; MakeProgramSession from any
// thread.
#pragma once

#include <memory>
#include <string>

#if defined(_WIN32)
#include "web/wininet_session.h"
#else
#include "web/curl_session.h"
#endif

namespace zemlaro {

#if defined(_WIN32)
using SessionSettings = WinInetSettings;
#else
using SessionSettings = CurlSettings;
#endif

// Sets the session's library up for the process, first thing in main.
void PrepareSessions();

// A session with `limits` that trusts the CAs of the PEM file `caFile` besides the
// system's (empty for none). Null, with the reason in `why`, when the platform
// cannot trust that file without trusting more than it.
std::unique_ptr<InternetSession> MakeProgramSession(const SessionSettings& settings,
                                                    const std::string& caFile, std::string* why);

}  // namespace zemlaro
