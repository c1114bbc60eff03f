#include "tests/hostile/hostile_ids.h"

#include <stdlib.h>

#include <fstream>

namespace zemlaro::hostile {
namespace fs = std::filesystem;

HostileIdServer::HostileIdServer() {
  char pattern[] = "/tmp/zemlaro-hostile-ids-XXXXXX";
  if (mkdtemp(pattern) != nullptr) directory_ = pattern;
  const std::string m = (directory_ / "ran-").string();
  ids_ = {
      "$(touch " + m + "1)",    ";touch " + m + "2;",       "`touch " + m + "3`",
      "1|touch " + m + "4",     "1&&touch " + m + "5&",     "1>" + m + "6",
      "1'$(touch " + m + "7)'", "1\\\\$(touch " + m + "8)", "1 --new-window file:///etc/passwd",
      "1#@evil.example/x?id=2", "\n touch " + m + "9\n",    "宝贝10",
  };
  certificate_ = MakeThrowawayCertificate("Zemlaro hostile ids");
  std::ofstream(directory_ / "ca.pem") << certificate_.certPem;
  std::string body = "jsonp10({\"mods\":{\"itemlist\":{\"data\":{\"auctions\":[";
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    if (i > 0) body += ',';
    body += "{\"nid\":\"" + ids_[i] + "\",\"raw_title\":\"$(touch " + m +
            "title)\",\"nick\":\"`touch " + m + "nick`\"}";
  }
  body += "]}}}});";
  server_ = std::make_unique<RawServer>(
      [body](const std::string&) {
        return RawReply{
            HttpAnswer("200 OK", "Content-Type: text/javascript; charset=utf-8\r\n", body)};
      },
      &certificate_);
}

HostileIdServer::~HostileIdServer() {
  server_.reset();
  if (!directory_.empty()) fs::remove_all(directory_);
}

bool HostileIdServer::Start() { return !directory_.empty() && server_->Start(); }

std::string HostileIdServer::Host() const { return "127.0.0.1:" + std::to_string(server_->Port()); }

std::string HostileIdServer::CaFile() const { return (directory_ / "ca.pem").string(); }

std::vector<fs::path> HostileIdServer::MarkersMade() const {
  std::vector<fs::path> made;
  for (const auto& entry : fs::directory_iterator(directory_)) {
    if (entry.path().filename().string().rfind("ran-", 0) == 0) made.push_back(entry.path());
  }
  return made;
}

}  // namespace zemlaro::hostile
