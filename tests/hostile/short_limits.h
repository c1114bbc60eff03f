// The time limits the test builds of the programs run with, in place of the real
// ones, so that a hostile page ends within seconds. Linked with
// -Wl,--wrap=<MakeCurlSession>: every session the program makes goes through
// ShortLimits first; the body limit, the trusted CAs and the cancel flag stay as
// the program set them.
#pragma once

#include <chrono>

#include "web/curl_session.h"

namespace zemlaro::hostile {

inline constexpr std::chrono::milliseconds kShortConnectTimeout{2000};
inline constexpr std::chrono::milliseconds kShortStallTimeout{1000};
inline constexpr std::chrono::milliseconds kShortTotalTimeout{2000};

inline CurlSettings ShortLimits(CurlSettings settings) {
  settings.connectTimeout = kShortConnectTimeout;
  settings.stallTimeout = kShortStallTimeout;
  settings.totalTimeout = kShortTotalTimeout;
  return settings;
}

}  // namespace zemlaro::hostile
