// A search service on 127.0.0.1 (HTTPS, a certificate of its own) whose every
// answer carries listings with item ids, titles and nicks made to look like shell
// commands: each would create a file in a marker directory if any of them ever
// reached a shell.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/web/local_server.h"

namespace zemlaro::hostile {

class HostileIdServer {
 public:
  HostileIdServer();
  ~HostileIdServer();
  bool Start();
  std::string Host() const;    // 127.0.0.1:PORT
  std::string CaFile() const;  // trusts this server
  // UTF-8, in answer order; none holds '"' (it would end the marker) or '%'.
  const std::vector<std::string>& Ids() const { return ids_; }
  // The files the commands would have made; none may exist.
  std::vector<std::filesystem::path> MarkersMade() const;

 private:
  std::filesystem::path directory_;
  std::vector<std::string> ids_;
  ThrowawayCertificate certificate_;
  std::unique_ptr<RawServer> server_;
};

}  // namespace zemlaro::hostile
