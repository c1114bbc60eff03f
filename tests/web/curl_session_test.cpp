// WebRequest over the libcurl session, against servers on 127.0.0.1 started once
// for the whole binary.
#include "web/curl_session.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/web/local_server.h"
#include "tools/sample-market/market_server.h"
#include "web/web_request.h"

// Option structs and case tables name only the fields that matter to them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zemlaro {
namespace {

namespace fs = std::filesystem;
using market::Mode;
using market::SampleMarket;

constexpr int kNormalPage = 1;
constexpr int kSilentPage = 2;
constexpr int kEndlessPage = 3;
constexpr int kRedirectLoopPage = 4;
constexpr int kRedirectOncePage = 5;
constexpr int kResetPage = 6;
constexpr int kDripPage = 7;

// Large enough that the session hands a body's pages back while it is read.
constexpr std::size_t kBodyLimit = 8 << 20;

// `n` bytes that differ from their neighbours, so that a byte out of place shows.
std::string Pattern(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// Bodies whose Content-Length is right, over kBodyLimit, wrong, huge, or absent.
std::string LengthAnswer(const std::string& kind) {
  const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
  if (kind == "limit") return HttpAnswer("200 OK", "", Pattern(kBodyLimit));
  if (kind == "over") return HttpAnswer("200 OK", "", Pattern(kBodyLimit + 1));
  if (kind == "short") return head + "Content-Length: 5000\r\n\r\n" + Pattern(10);
  if (kind == "huge") return head + "Content-Length: 1099511627776\r\n\r\n" + Pattern(10);
  if (kind == "chunked") {
    return head + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
  }
  return HttpAnswer("200 OK", "", "");
}

// Mixed-case cookie lines, a header block too big for the buffer, bare line feeds.
RawReply AnswerSite(const std::string& request) {
  const std::string target = RequestTarget(request);
  if (target.rfind("/setcookie?name=", 0) == 0) {
    return {HttpAnswer("200 OK", "Set-Cookie: " + target.substr(16) + "=1; Path=/\r\n", "set")};
  }
  if (target == "/cookies") {
    return {HttpAnswer("200 OK",
                       "Set-Cookie: a=1; path=/\r\nset-cookie: b=2; HttpOnly\r\n"
                       "SET-COOKIE: c=3\r\n",
                       "cookies")};
  }
  if (target == "/big") {
    std::string lines = "Set-Cookie: big=1\r\n";
    for (int i = 0; lines.size() < 6000; ++i)
      lines += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'f') + "\r\n";
    return {HttpAnswer("200 OK", lines, "big")};
  }
  if (target == "/bare-lf") {
    return {"HTTP/1.1 200 OK\nContent-Length: 2\nX-Lf: 1\nConnection: close\n\nlf"};
  }
  if (target.rfind("/length/", 0) == 0) return {LengthAnswer(target.substr(8))};
  if (target == "/missing") return {HttpAnswer("404 Not Found", "", "not here")};
  if (target == "/away") return {HttpAnswer("302 Found", "Location: /landed?from=away\r\n", "")};
  if (target == "/hold") return {"", true};
  return {HttpAnswer("200 OK", "X-Test: 1\r\n", request)};
}

RawReply AnswerAsProxy(const std::string& request) {
  if (request.rfind("CONNECT ", 0) == 0)
    return {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"};
  return {HttpAnswer("200 OK", "", "via proxy")};
}

struct Servers {
  std::unique_ptr<SampleMarket> market;        // https, fixed misbehaving pages
  std::unique_ptr<SampleMarket> cookieMarket;  // http, sets a cookie on every answer
  std::unique_ptr<RawServer> site;             // http, answers by path
  std::unique_ptr<RawServer> proxy;
  ThrowawayCertificate otherCert;
  std::unique_ptr<RawServer> otherTlsSite;  // https with a certificate of its own
  fs::path directory;                       // holds otherCert as a hashed CA directory
};
Servers* servers = nullptr;

class LocalServers : public ::testing::Environment {
 public:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    servers = new Servers;
    servers->market = std::make_unique<SampleMarket>(
        market::MarketOptions{.pageModes = {{kSilentPage, Mode::Silent},
                                            {kEndlessPage, Mode::EndlessBody},
                                            {kRedirectLoopPage, Mode::RedirectLoop},
                                            {kRedirectOncePage, Mode::RedirectOnce},
                                            {kResetPage, Mode::Reset},
                                            {kDripPage, Mode::Drip}},
                              // A byte well within any stall limit below, so that only the
                              // total limit can end a drip.
                              .dripInterval = std::chrono::milliseconds(50)});
    servers->cookieMarket =
        std::make_unique<SampleMarket>(market::MarketOptions{.tls = false, .setCookies = true});
    servers->site = std::make_unique<RawServer>(&AnswerSite);
    servers->proxy = std::make_unique<RawServer>(&AnswerAsProxy);
    servers->otherCert = MakeThrowawayCertificate("Zemlaro other test CA");
    servers->otherTlsSite = std::make_unique<RawServer>(&AnswerSite, &servers->otherCert);
    ASSERT_TRUE(servers->market->Start());
    ASSERT_TRUE(servers->cookieMarket->Start());
    ASSERT_TRUE(servers->site->Start());
    ASSERT_TRUE(servers->proxy->Start());
    ASSERT_TRUE(servers->otherTlsSite->Start());

    char pattern[] = "/tmp/zemlaro-web-ca-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    servers->directory = pattern;
    std::ofstream(servers->directory / servers->otherCert.hashName) << servers->otherCert.certPem;
  }
  void TearDown() override {
    fs::remove_all(servers->directory);
    delete servers;
    servers = nullptr;
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new LocalServers);

std::string MarketUrl(const SampleMarket& market, int page, const std::string& host = "127.0.0.1") {
  return std::string(market.CaFile().empty() ? "http://" : "https://") + host + ":" +
         std::to_string(market.Port()) +
         "/search?data-key=s&data-value=" + std::to_string(44 * (page - 1)) + "&q=%61%62%63";
}
std::string SiteUrl(const std::string& target, const std::string& host = "127.0.0.1") {
  return "http://" + host + ":" + std::to_string(servers->site->Port()) + target;
}
std::string OtherTlsUrl(const std::string& target) {
  return "https://127.0.0.1:" + std::to_string(servers->otherTlsSite->Port()) + target;
}

// Settings that trust the market and give up on a hung server within seconds.
CurlSettings TestSettings() {
  CurlSettings settings;
  settings.extraCaFile = servers->market->CaFile();
  settings.connectTimeout = std::chrono::seconds(5);
  settings.stallTimeout = std::chrono::seconds(5);
  return settings;
}

std::string TextOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool HasListings(const Bytes& body) {
  return TextOf(body).find("\"raw_title\":\"") != std::string::npos;
}

struct SentCase {
  const char* name;
  int method = 0;
  Text headers;
  Text dataText;
  std::size_t dataSize = 0;  // of 'd' bytes, instead of dataText
  // The request as the server received it, after the request line and Host.
  Text expected;
};

TEST(CurlSession, SendsExactlyTheRequestComposed) {
  const Text url = SiteUrl("/echo/a?q=%61&b=[,]");
  const Text agent = Text("User-Agent: ") + kDefaultAgent + "\r\n";
  const Text defaults =
      "Accept: */*\r\nReferer: " + url +
      "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  const SentCase cases[] = {
      {.name = "a plain GET", .expected = agent + defaults + "\r\n"},
      {.name = "POST with data",
       .method = 1,
       .dataText = "a=1&b=2",
       .expected = agent + defaults + "Content-Length: 7\r\n\r\na=1&b=2"},
      {.name = "HEAD without data", .method = 2, .expected = agent + defaults + "\r\n"},
      {.name = "HEAD with data",
       .method = 2,
       .dataText = "h=1",
       .expected = agent + defaults + "Content-Length: 3\r\n\r\nh=1"},
      {.name = "a large POST does not wait for a 100 Continue",
       .method = 1,
       .dataSize = 1536 * 1024,
       .expected = agent + defaults + "Content-Length: 1572864\r\n\r\n" + Text(1536 * 1024, 'd')},
      {.name = "no Accept of libcurl's own when the block's test found one",
       .headers = "X-Accept: 1",
       .expected =
           agent + "X-Accept: 1\r\nReferer: " + url +
           "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"},
      {.name = "the caller's agent line replaces the default",
       .headers = "User-Agent: Bot/1\r\nX-Empty:",
       .expected = "User-Agent: Bot/1\r\nX-Empty:\r\n" + defaults + "\r\n"},
  };
  auto session = MakeCurlSession(TestSettings());
  for (const SentCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = servers->site->Requests().size();
    Text headers = c.headers;
    Bytes data = c.dataSize ? Bytes(c.dataSize, 'd') : Bytes();
    Text responseHeaders;
    WebRequestArgs args;
    args.method = c.method;
    args.headers = &headers;
    args.dataText = c.dataText;
    args.dataBytes = &data;
    args.responseHeaders = &responseHeaders;

    const Bytes body = WebRequest(*session, url, args);

    EXPECT_EQ(session->LastError(), "");
    const std::vector<std::string> requests = servers->site->Requests();
    ASSERT_EQ(requests.size(), before + 1);
    const Text verb = c.method == 1 ? "POST" : c.method == 2 ? "HEAD" : "GET";
    const Text expected = verb + " /echo/a?q=%61&b=[,] HTTP/1.1\r\nHost: 127.0.0.1:" +
                          std::to_string(servers->site->Port()) + "\r\n" + c.expected;
    // Compared line by line first, for a readable difference.
    EXPECT_EQ(requests.back().substr(0, 1000), expected.substr(0, 1000));
    EXPECT_TRUE(requests.back() == expected);
    if (c.method == 2) {
      EXPECT_TRUE(body.empty());
    } else {
      EXPECT_EQ(TextOf(body), requests.back());
    }
    const Text length = std::to_string(requests.back().size());
    EXPECT_EQ(responseHeaders, "HTTP/1.1 200 OK\r\nContent-Length: " + length +
                                   "\r\nX-Test: 1\r\nConnection: close\r\n\r\n");
  }
}

TEST(CurlSession, CookiesComeBackUnlessTurnedOff) {
  // localhost, so that these cookies never reach the tests that look at 127.0.0.1.
  auto session = MakeCurlSession(TestSettings());
  WebRequestArgs noCookies;
  noCookies.cookies = Text();
  auto lastCookieLine = [] {
    const std::string request = servers->site->Requests().back();
    const std::size_t at = request.find("\r\nCookie: ");
    return at == std::string::npos ? std::string()
                                   : request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
  };

  ASSERT_EQ(TextOf(WebRequest(*session, SiteUrl("/setcookie?name=kept", "localhost"))), "set");
  WebRequest(*session, SiteUrl("/echo", "localhost"), noCookies);
  EXPECT_EQ(lastCookieLine(), "") << "no stored cookie goes out with cookies switched off";
  WebRequest(*session, SiteUrl("/setcookie?name=dropped", "localhost"), noCookies);
  // Another session of the process shares the store.
  auto other = MakeCurlSession(TestSettings());
  WebRequest(*other, SiteUrl("/echo", "localhost"));
  EXPECT_EQ(lastCookieLine(), "Cookie: kept=1") << "a cookie set with cookies off is not stored";

  // The search run's way: each page carries what the page before set.
  const std::size_t before = servers->cookieMarket->Requests().size();
  EXPECT_TRUE(HasListings(WebRequest(*session, MarketUrl(*servers->cookieMarket, 1, "localhost"))));
  EXPECT_TRUE(HasListings(WebRequest(*session, MarketUrl(*servers->cookieMarket, 2, "localhost"))));
  const auto requests = servers->cookieMarket->Requests();
  ASSERT_EQ(requests.size(), before + 2);
  EXPECT_TRUE(requests.back().cookieCameBack);
}

struct AnswerCase {
  const char* target;
  Text body;
  Text responseHeaders;  // empty: not delivered
  Text cookies;
};

TEST(CurlSession, DeliversTheRawHeaderBlockOfTheAnswer) {
  const AnswerCase cases[] = {
      {"/cookies", "cookies",
       "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nSet-Cookie: a=1; path=/\r\n"
       "Set-Cookie: b=2; HttpOnly\r\nSet-Cookie: c=3\r\nConnection: close\r\n\r\n",
       "a=1; b=2; c=3"},
      {"/bare-lf", "lf",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Lf: 1\r\nConnection: close\r\n\r\n", ""},
      // Over 5000 bytes: the body comes, the block and its cookie do not.
      {"/big", "big", "", ""},
      // A status other than 2xx is an answer like any other.
      {"/missing", "not here",
       "HTTP/1.1 404 Not Found\r\nContent-Length: 8\r\nConnection: close\r\n\r\n", ""},
  };
  auto session = MakeCurlSession(TestSettings());
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.target);
    Text responseHeaders = "untouched";
    Text cookies = "untouched";
    WebRequestArgs args;
    args.cookies = Text();  // keeps these cookies out of the shared store
    args.responseHeaders = &responseHeaders;
    args.receivedCookies = &cookies;
    EXPECT_EQ(TextOf(WebRequest(*session, SiteUrl(c.target, "localhost"), args)), c.body);
    EXPECT_EQ(responseHeaders, c.responseHeaders);
    EXPECT_EQ(cookies, c.cookies);
    EXPECT_EQ(session->LastError(), "");
  }
}

TEST(CurlSession, FollowsRedirectsUnlessToldNot) {
  auto session = MakeCurlSession(TestSettings());
  const Text url = MarketUrl(*servers->market, kRedirectOncePage);
  Text responseHeaders;
  WebRequestArgs args;
  args.responseHeaders = &responseHeaders;

  EXPECT_TRUE(HasListings(WebRequest(*session, url, args)));
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << responseHeaders;
  EXPECT_EQ(responseHeaders.find("302"), std::string::npos) << "only the last answer's block";

  args.noRedirect = true;
  EXPECT_FALSE(HasListings(WebRequest(*session, url, args)));
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << responseHeaders;
  EXPECT_NE(responseHeaders.find("\r\nLocation: " + url + "&market_redirected=1\r\n"),
            std::string::npos)
      << responseHeaders;

  const std::size_t before = servers->market->Requests().size();
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kRedirectLoopPage)).empty());
  EXPECT_NE(session->LastError().find("redirects"), std::string::npos) << session->LastError();
  EXPECT_EQ(servers->market->Requests().size() - before, 11u) << "the first answer and 10 more";
}

struct FinalAddressCase {
  const char* name;
  Text url;
  bool noRedirect = false;
  Text finalAddress;
};

TEST(CurlSession, TellsTheAddressWhereTheRequestEnded) {
  const FinalAddressCase cases[] = {
      {"a redirect to another path", SiteUrl("/away"), false, SiteUrl("/landed?from=away")},
      {"no redirect: the request's own", SiteUrl("/echo?q=1"), false, SiteUrl("/echo?q=1")},
      {"a redirect not followed", SiteUrl("/away"), true, SiteUrl("/away")},
      {"a request that failed after redirects", MarketUrl(*servers->market, kRedirectLoopPage),
       false, ""},
  };
  auto session = MakeCurlSession(TestSettings());
  for (const FinalAddressCase& c : cases) {
    SCOPED_TRACE(c.name);
    Text finalAddress = "untouched";
    WebRequestArgs args;
    args.noRedirect = c.noRedirect;
    args.finalAddress = &finalAddress;
    WebRequest(*session, c.url, args);
    EXPECT_EQ(finalAddress, c.finalAddress);
  }
}

TEST(CurlSession, HungOrHostileServersFailInTime) {
  // The short stall limit only where a stall is the case: a TLS handshake of a
  // sanitized build on a busy machine may itself take longer than 0.3 s.
  CurlSettings stalling = TestSettings();
  stalling.stallTimeout = std::chrono::milliseconds(300);
  auto impatient = MakeCurlSession(stalling);

  EXPECT_TRUE(WebRequest(*impatient, MarketUrl(*servers->market, kSilentPage)).empty());
  EXPECT_EQ(impatient->LastError(), "timed out: no byte for 0.3 s");

  // The raw site sends nothing at all, not even a status line.
  EXPECT_TRUE(WebRequest(*impatient, SiteUrl("/hold")).empty());
  EXPECT_EQ(impatient->LastError(), "timed out: no byte for 0.3 s");

  CurlSettings settings = TestSettings();
  settings.maxBodyBytes = 1 << 20;
  auto session = MakeCurlSession(settings);
  Text responseHeaders = "untouched";
  WebRequestArgs args;
  args.responseHeaders = &responseHeaders;
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kEndlessPage), args).empty());
  EXPECT_EQ(session->LastError(), "body larger than 1 MiB");
  EXPECT_EQ(responseHeaders, "");

  // An answer cut off halfway counts as failed, not as a shorter page.
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kResetPage)).empty());
  EXPECT_NE(session->LastError(), "");

  EXPECT_FALSE(WebRequest(*session, SiteUrl("/echo")).empty());
  EXPECT_EQ(session->LastError(), "");
}

// The body is kept in room its Content-Length asks for (up to the limit) and handed
// back as it is read out in pieces; whatever the length says, the body is the bytes
// that came, the limit holds, and a body that stops short of its length fails.
TEST(CurlSession, BodyIsWhatCameWhateverItsLengthSays) {
  struct LengthCase {
    const char* name;
    const char* kind;
    std::string body;  // expected; empty for a failed request
    bool fails;
  };
  const LengthCase cases[] = {
      {"a length of exactly the limit", "limit", Pattern(kBodyLimit), false},
      {"a length over the limit", "over", "", true},
      {"a length that promises more than comes", "short", "", true},
      {"a length far over the limit that is never sent", "huge", "", true},
      {"chunks without a length", "chunked", "hello world", false},
      {"a length of zero", "empty", "", false},
  };
  CurlSettings settings = TestSettings();
  settings.maxBodyBytes = kBodyLimit;
  auto session = MakeCurlSession(settings);
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes body = WebRequest(*session, SiteUrl(std::string("/length/") + c.kind));
    EXPECT_TRUE(TextOf(body) == c.body) << body.size() << " bytes";
    EXPECT_EQ(session->LastError().empty(), !c.fails) << session->LastError();
  }
  EXPECT_EQ(session->LastError(), "");
  WebRequest(*session, SiteUrl("/length/over"));
  EXPECT_EQ(session->LastError(), "body larger than 8 MiB");
}

// What is waiting to be read, as the reads go on; nothing for a request that failed.
TEST(CurlSession, TellsHowMuchOfTheBodyIsLeftToRead) {
  CurlSettings settings = TestSettings();
  settings.maxBodyBytes = kBodyLimit;
  auto session = MakeCurlSession(settings);
  const SessionHandle internet = session->Open("agent", kAccessDirect, std::nullopt, std::nullopt);
  const SessionHandle connection = session->Connect(internet, "127.0.0.1", servers->site->Port());
  for (const char* path : {"/length/limit", "/length/over"}) {
    SCOPED_TRACE(path);
    const SessionHandle request = session->OpenRequest(connection, "GET", path, "HTTP/1.1", 0);
    EXPECT_EQ(session->QueryDataAvailable(request), 0u);
    const bool sent = session->Send(request, "Accept: */*", nullptr);
    EXPECT_EQ(sent, std::string(path) == "/length/limit");
    std::uint8_t buffer[1000];
    int read = 0;
    std::size_t left = sent ? kBodyLimit : 0;
    EXPECT_EQ(session->QueryDataAvailable(request), left);
    session->Read(request, buffer, sizeof buffer, read);
    left -= static_cast<std::size_t>(read);
    EXPECT_EQ(session->QueryDataAvailable(request), left);
    while (session->Read(request, buffer, sizeof buffer, read) && read > 0) {
    }
    EXPECT_EQ(session->QueryDataAvailable(request), 0u);
    session->Close(request);
    EXPECT_EQ(session->QueryDataAvailable(request), 0u);
  }
  session->Close(connection);
  session->Close(internet);
}

TEST(CurlSession, TransferNotDoneWithinTheTotalLimitFails) {
  CurlSettings settings = TestSettings();
  settings.totalTimeout = std::chrono::milliseconds(800);
  auto session = MakeCurlSession(settings);
  Text responseHeaders = "untouched";
  WebRequestArgs args;
  args.responseHeaders = &responseHeaders;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kDripPage), args).empty());
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(session->LastError(), "timed out: not done within 0.8 s");
  EXPECT_EQ(responseHeaders, "");
  EXPECT_GE(took, std::chrono::milliseconds(800));
  EXPECT_LT(took, std::chrono::seconds(4)) << "the stall limit (5 s) must not be what ended it";

  // The limit is per transfer: the next request on the same session has it afresh.
  EXPECT_TRUE(HasListings(WebRequest(*session, MarketUrl(*servers->market, kNormalPage))));
  EXPECT_EQ(session->LastError(), "");

  // Without a total limit a drip runs on until something else stops it.
  std::atomic<bool> cancel{false};
  CurlSettings unlimited = TestSettings();
  unlimited.totalTimeout = std::chrono::milliseconds(0);
  unlimited.cancel = &cancel;
  auto patient = MakeCurlSession(unlimited);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    cancel = true;
  });
  EXPECT_TRUE(WebRequest(*patient, MarketUrl(*servers->market, kDripPage)).empty());
  canceller.join();
  EXPECT_EQ(patient->LastError(), "cancelled");
}

TEST(CurlSession, PathGoesAsGivenAndBadAddressesFailAtOnce) {
  auto session = MakeCurlSession(TestSettings());
  WebRequest(*session, SiteUrl("/a/../b c"));
  EXPECT_EQ(RequestTarget(servers->site->Requests().back()), "/a/../b%20c");

  const std::size_t before = servers->site->Requests().size();
  struct Bad {
    const char* url;
    const char* error;
  };
  for (const Bad& bad : {Bad{"", "bad host name"}, Bad{"https://aa.bb?x=1", "bad host name"},
                         Bad{"http://127.0.0.1:70000/", "bad port"}}) {
    SCOPED_TRACE(bad.url);
    EXPECT_TRUE(WebRequest(*session, bad.url).empty());
    EXPECT_EQ(session->LastError(), bad.error);
  }
  EXPECT_EQ(servers->site->Requests().size(), before);
}

TEST(CurlSession, OneSessionServesSeveralThreads) {
  auto session = MakeCurlSession(TestSettings());
  std::atomic<int> withListings{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int page : {kNormalPage, kRedirectOncePage, kNormalPage}) {
        const Text url = t == 0 ? MarketUrl(*servers->market, page)
                                : MarketUrl(*servers->cookieMarket, page, "localhost");
        if (HasListings(WebRequest(*session, url))) ++withListings;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(withListings, 9);
}

TEST(CurlSession, ConnectionNotUpInTimeFails) {
  // Takes connections into its backlog and never answers the TLS greeting.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);

  CurlSettings settings = TestSettings();
  settings.connectTimeout = std::chrono::milliseconds(300);
  settings.stallTimeout = std::chrono::seconds(20);
  auto session = MakeCurlSession(settings);
  EXPECT_TRUE(
      WebRequest(*session, "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/")
          .empty());
  EXPECT_EQ(session->LastError(), "timed out: not connected within 0.3 s");
  close(fd);
}

TEST(CurlSession, CancelStopsATransferUnderWay) {
  std::atomic<bool> cancel{false};
  CurlSettings settings = TestSettings();
  settings.stallTimeout = std::chrono::seconds(20);
  settings.cancel = &cancel;
  auto session = MakeCurlSession(settings);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel = true;
  });
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kSilentPage)).empty());
  canceller.join();
  EXPECT_EQ(session->LastError(), "cancelled");

  // Once set, nothing more goes out.
  const std::size_t before = servers->market->Requests().size();
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kNormalPage)).empty());
  EXPECT_EQ(servers->market->Requests().size(), before);
}

TEST(CurlSession, VerifiesCertificatesAgainstBothStores) {
  CurlSettings untrusting = TestSettings();
  untrusting.extraCaFile.clear();
  auto plain = MakeCurlSession(untrusting);
  EXPECT_TRUE(WebRequest(*plain, MarketUrl(*servers->market, kNormalPage)).empty());
  EXPECT_EQ(plain->LastError().rfind("certificate not trusted", 0), 0u) << plain->LastError();
  EXPECT_TRUE(WebRequest(*plain, OtherTlsUrl("/echo")).empty());
  EXPECT_EQ(plain->LastError().rfind("certificate not trusted", 0), 0u) << plain->LastError();

  // The extra CA file and the hashed directory standing in for the system's store
  // are both honoured by one session.
  CurlSettings both = TestSettings();
  both.systemCaPath = servers->directory.string();
  auto trusting = MakeCurlSession(both);
  EXPECT_TRUE(HasListings(WebRequest(*trusting, MarketUrl(*servers->market, kNormalPage))));
  EXPECT_EQ(trusting->LastError(), "");
  EXPECT_EQ(TextOf(WebRequest(*trusting, OtherTlsUrl("/echo"))).rfind("GET /echo HTTP/1.1\r\n", 0),
            0u);
  EXPECT_EQ(trusting->LastError(), "");
}

TEST(CurlSession, ProxyAppliesAsNamed) {
  auto session = MakeCurlSession(TestSettings());
  const Text proxy = "127.0.0.1:" + std::to_string(servers->proxy->Port());
  WebRequestArgs viaProxy;
  viaProxy.proxy = proxy;
  viaProxy.cookies = Text();

  // A plain address goes through "http=" + proxy, with the same header lines.
  const Text url = SiteUrl("/echo?x=1");
  EXPECT_EQ(TextOf(WebRequest(*session, url, viaProxy)), "via proxy");
  ASSERT_FALSE(servers->proxy->Requests().empty());
  EXPECT_EQ(
      servers->proxy->Requests().back(),
      "GET " + url + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(servers->site->Port()) +
          "\r\nUser-Agent: " + kDefaultAgent + "\r\nAccept: */*\r\nReferer: " + url +
          "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n");

  // A secure address with the bare proxy text tunnels through it; this proxy refuses.
  const Text marketPort = std::to_string(servers->market->Port());
  EXPECT_TRUE(WebRequest(*session, MarketUrl(*servers->market, kNormalPage), viaProxy).empty());
  EXPECT_EQ(servers->proxy->Requests().back(), "CONNECT 127.0.0.1:" + marketPort +
                                                   " HTTP/1.1\r\nHost: 127.0.0.1:" + marketPort +
                                                   "\r\nUser-Agent: " + kDefaultAgent + "\r\n\r\n");
  EXPECT_NE(session->LastError(), "");

  // "http=" names plain addresses only: a secure one goes direct.
  const std::size_t before = servers->proxy->Requests().size();
  const SessionHandle internet = session->Open("agent", kAccessProxy, "http=" + proxy, Text());
  const SessionHandle connection = session->Connect(internet, "127.0.0.1", servers->market->Port());
  const SessionHandle request =
      session->OpenRequest(connection, "GET", "/search?data-value=0", "HTTP/1.1", kFlagSecure);
  EXPECT_TRUE(session->Send(request, "Accept: */*", nullptr));
  std::uint8_t buffer[64];
  int read = 0;
  EXPECT_TRUE(session->Read(request, buffer, sizeof buffer, read));
  EXPECT_EQ(read, 64);
  session->Close(request);
  session->Close(connection);
  session->Close(internet);

  // The environment's proxy settings never apply.
  setenv("http_proxy", ("http://" + proxy).c_str(), 1);
  setenv("https_proxy", ("http://" + proxy).c_str(), 1);
  EXPECT_NE(TextOf(WebRequest(*session, SiteUrl("/echo"))), "via proxy");
  EXPECT_TRUE(HasListings(WebRequest(*session, MarketUrl(*servers->market, kNormalPage))));
  unsetenv("http_proxy");
  unsetenv("https_proxy");
  EXPECT_EQ(servers->proxy->Requests().size(), before);
}

}  // namespace
}  // namespace zemlaro
