// Stands between the program and MakeCurlSession (see short_limits.h).
#include <memory>

#include "tests/hostile/short_limits.h"

namespace zemlaro {

std::unique_ptr<InternetSession> RealMakeCurlSession(const CurlSettings& settings) __asm__(
    "__real__ZN7zemlaro15MakeCurlSessionERKNS_12CurlSettingsE");
std::unique_ptr<InternetSession> ShortLimitsCurlSession(const CurlSettings& settings) __asm__(
    "__wrap__ZN7zemlaro15MakeCurlSessionERKNS_12CurlSettingsE");

std::unique_ptr<InternetSession> ShortLimitsCurlSession(const CurlSettings& settings) {
  return RealMakeCurlSession(hostile::ShortLimits(settings));
}

}  // namespace zemlaro
