// The sample market: a small local HTTPS server that answers like the
// marketplace's search service, for tests, benchmarks and the demo program.
// It listens on 127.0.0.1 only. It can be told to misbehave, page by page.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/sample-market/market_content.h"

namespace zemlaro::market {

enum class Mode {
  Normal,        // 44 listings (listingsPerPage) whose titles hold the keyword
  Empty,         // a well-formed answer with no listings
  LoginPage,     // an HTML login / verification page, as the live service sends without a login
  Silent,        // accepts the connection and never answers
  Drip,          // sends the answer one byte every dripInterval
  EndlessBody,   // a body that never ends
  Reset,         // the connection is cut in the middle of the answer
  RedirectLoop,  // redirects to itself forever
  RedirectOnce,  // one redirect to the same page answered normally
  Garbage,       // invalid UTF-8, zero bytes and a 2 MB title among normal listings
  Huge,          // 20,000 listings in one answer
};

struct MarketOptions {
  bool tls = true;  // false: plain HTTP
  Mode defaultMode = Mode::Normal;
  std::map<int, Mode> pageModes;  // by page number (offset / 44 + 1)
  int listingsPerPage = 44;
  std::chrono::milliseconds dripInterval{2000};
  bool setCookies = false;  // every answer sets a cookie "market_session=..."
};

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as received
  // Names as received. The HTTP library hands headers over sorted by name (letter case
  // ignored), so only headers of the same name keep the order in which they arrived.
  std::vector<std::pair<std::string, std::string>> headers;
  bool cookieCameBack = false;  // the request carried a cookie this server had set
};

class SampleMarket {
 public:
  explicit SampleMarket(MarketOptions options = {});
  ~SampleMarket();  // stops the server, ending every hanging answer at once
  SampleMarket(const SampleMarket&) = delete;
  SampleMarket& operator=(const SampleMarket&) = delete;

  // Makes a throw-away self-signed certificate for 127.0.0.1 (when tls), binds a
  // free loopback port and starts serving on a thread of its own. False on failure, and
  // when called a second time.
  bool Start();
  void Stop();
  int Port() const;
  // "127.0.0.1:PORT", usable as the search host.
  std::string HostAndPort() const;
  // PEM file of the certificate's CA (the certificate itself), to trust it.
  std::string CaFile() const;
  std::vector<RecordedRequest> Requests() const;
  void SetPageMode(int page, Mode mode);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zemlaro::market
