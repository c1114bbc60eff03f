// The sample market: a small local HTTPS server that answers like the
// marketplace's search services, for tests, benchmarks and the demo program: the legacy
// JSONP search at kSearchPath and the signed API at kApiPath, on one port. It listens on
// 127.0.0.1 only. It can be told to misbehave, page by page, to want a sign-in
// (kLoginPath) or a verification (kPunishPath).
//
// Thread rules: a SampleMarket is started, stopped and destroyed from one thread; Requests,
// SetPageMode and SetApiPageMode may be called from any thread while it serves.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/sample-market/market_constants.h"
#include "tools/sample-market/market_content.h"

namespace zemlaro::market {

// How the legacy search answers a page.
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

// How the signed API answers a page whose request passed the token, the sign and the walls.
enum class ApiMode {
  Normal,          // the listings of ApiListingsOf, with cards between them
  Empty,           // SUCCESS with no items
  Block,           // kApiRetBlock with a "data.url" at kPunishPath (an x5sec does not lift it)
  FlowLimit,       // kApiRetFlowLimit
  SessionExpired,  // kApiRetSessionExpired
};

struct MarketOptions {
  bool tls = true;  // false: plain HTTP
  // The host name of the market's own addresses (redirects, the login and punish pages).
  // A client that checks a certificate's name against an address only by DNS name asks
  // "localhost"; the certificate names both.
  std::string hostName = "127.0.0.1";
  Mode defaultMode = Mode::Normal;
  std::map<int, Mode> pageModes;  // by page number (offset / 44 + 1)
  int listingsPerPage = 44;
  std::chrono::milliseconds dripInterval{2000};
  bool setCookies = false;  // every answer sets a cookie "market_session=..."

  // Both services want the session cookies of a sign-in (kSessionCookieNames): the legacy
  // search redirects to kLoginPath, the API answers kApiRetUserValidate with "data.url" there.
  // Every answer of either service then also sets kRefreshedCookieName anew.
  bool loginWall = false;
  // Both services answer a verification until the x5sec cookie of the punish page is sent:
  // the legacy search {"rgv587_flag":"sm","url":...}, the API kApiRetBlock with "data.url".
  bool verificationWall = false;
  ApiMode apiDefaultMode = ApiMode::Normal;
  std::map<int, ApiMode> apiPageModes;  // by 1-based page
  int apiTotalPages = 100;              // "mainInfo"."totalPage"; later pages have no items
  // How long a token (kApiTokenCookie) the API hands out stays valid; a token of zero
  // lifetime is expired at once, which makes every request with it a token refusal.
  std::chrono::milliseconds apiTokenLifetime = std::chrono::minutes(30);
  // When above zero, a `t` further than this from the market's clock is refused as a bad
  // sign; at zero `t` is not compared with the clock.
  std::chrono::milliseconds apiClockTolerance{0};
};

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as received
  // Names as received. The HTTP library hands headers over sorted by name (letter case
  // ignored), so only headers of the same name keep the order in which they arrived.
  std::vector<std::pair<std::string, std::string>> headers;
  bool cookieCameBack = false;               // the request carried a cookie this server had set
  std::chrono::steady_clock::time_point at;  // when the request's head had been read
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
  void SetApiPageMode(int page, ApiMode mode);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zemlaro::market
