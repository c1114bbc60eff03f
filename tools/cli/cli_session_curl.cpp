#include "tools/cli/cli_session.h"

namespace zemlaro::cli {

void PrepareSessions() { PrepareCurl(); }

std::unique_ptr<InternetSession> MakeCliSession(const SessionLimits& limits,
                                                const std::string& caFile, std::string* /*why*/) {
  CurlSettings settings = limits;
  settings.extraCaFile = caFile;
  return MakeCurlSession(settings);
}

}  // namespace zemlaro::cli
