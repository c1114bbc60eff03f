#include "web/program_session.h"

namespace zemlaro {

void PrepareSessions() { PrepareCurl(); }

std::unique_ptr<InternetSession> MakeProgramSession(const SessionSettings& limits,
                                                    const std::string& caFile,
                                                    std::string* /*why*/) {
  CurlSettings settings = limits;
  settings.extraCaFile = caFile;
  return MakeCurlSession(settings);
}

}  // namespace zemlaro
