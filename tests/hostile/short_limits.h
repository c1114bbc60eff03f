// The time limits the test builds of the programs run with, in place of the real
// ones, so that a hostile page ends within seconds. The test builds hand them to the
// programs' own entry points (cli::CliMain, AppConfig::sessionLimits); the body limit,
// the trusted CAs and the cancel flag stay as the program sets them.
#pragma once

#include <chrono>

#include "web/curl_session.h"

namespace zemlaro::hostile {

// Short, but not so short that a huge page of a sanitized build on a busy machine
// overruns them: a silent page ends after the stall limit, a dripping one after the
// total limit.
inline constexpr std::chrono::milliseconds kShortConnectTimeout{2000};
inline constexpr std::chrono::milliseconds kShortStallTimeout{4000};
inline constexpr std::chrono::milliseconds kShortTotalTimeout{6000};

inline CurlSettings ShortLimits(CurlSettings settings) {
  settings.connectTimeout = kShortConnectTimeout;
  settings.stallTimeout = kShortStallTimeout;
  settings.totalTimeout = kShortTotalTimeout;
  return settings;
}

}  // namespace zemlaro::hostile
