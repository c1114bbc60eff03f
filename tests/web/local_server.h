// Small loopback servers for the libcurl tests: a raw HTTP(S) server that answers
// each request with exactly the bytes a handler gives (so a test sees the request
// as received and controls every byte of the answer). Certificates come from
// tools/support/throwaway_cert.h.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/support/throwaway_cert.h"

namespace zemlaro {

struct RawReply {
  std::string bytes;      // sent as they stand, then the connection is closed
  bool holdOpen = false;  // keep the connection open (silent) until the server stops
};
// Gets the request as received: the head up to its empty line, then the body.
using RawHandler = std::function<RawReply(const std::string& request)>;

class RawServer {
 public:
  // With `tls`, it speaks HTTPS with that certificate; Start fails when the certificate
  // cannot be set up.
  explicit RawServer(RawHandler handler, const ThrowawayCertificate* tls = nullptr);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  bool Start();  // binds a free port on 127.0.0.1
  void Stop();
  int Port() const;
  std::vector<std::string> Requests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The target of a request line: "/path?query" or, for a proxy, the whole address.
std::string RequestTarget(const std::string& request);
// A whole answer with Content-Length and the given extra header lines.
std::string HttpAnswer(const std::string& status, const std::string& headerLines,
                       const std::string& body);

}  // namespace zemlaro
