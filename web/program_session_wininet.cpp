// WinINet checks a server's certificate against the system's store only: a CA file
// of the user's could be trusted only by turning the system's check off and doing
// our own, which is weaker, so --cacert is refused. The CA goes into the user's Root
// store instead, where the system's check finds it.
#include "web/program_session.h"

namespace zemlaro {

void PrepareSessions() {}

std::unique_ptr<InternetSession> MakeProgramSession(const SessionSettings& limits,
                                                    const std::string& caFile, std::string* why) {
  if (!caFile.empty()) {
    if (why) {
      *why =
          "--cacert is not available on Windows: certificates are checked by the system "
          "against its own store; add the CA to the user's Root store (certmgr.msc) instead";
    }
    return nullptr;
  }
  return MakeWinInetSession(limits);
}

}  // namespace zemlaro
