// The libcurl implementation of InternetSession, used by the programs.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "web/session.h"

namespace zemlaro {

inline constexpr char kSystemCaPath[] = "/etc/ssl/certs";

struct CurlSettings {
  // A connection that is not up by then fails.
  std::chrono::milliseconds connectTimeout{30000};
  // A transfer that delivers no byte for this long fails.
  std::chrono::milliseconds stallTimeout{30000};
  // A transfer not done by then fails, however steadily bytes trickle in; 0 or less for none.
  std::chrono::milliseconds totalTimeout{120000};
  // A body that grows past this stops the read and fails the request.
  std::size_t maxBodyBytes = 16u << 20;
  // A PEM file of CAs trusted besides the system's store; empty for none.
  Text extraCaFile;
  // The system's store as a hashed certificate directory; tests point it elsewhere.
  Text systemCaPath = kSystemCaPath;
  // When set and true, a transfer under way stops at once and fails.
  const std::atomic<bool>* cancel = nullptr;
};

// Sets libcurl up for the process. Programs call it first thing in main, before
// any thread starts, as it clears SSLKEYLOGFILE (libcurl would write TLS secrets
// there). MakeCurlSession calls it too.
void PrepareCurl();

std::unique_ptr<InternetSession> MakeCurlSession(const CurlSettings& settings = {});

}  // namespace zemlaro
