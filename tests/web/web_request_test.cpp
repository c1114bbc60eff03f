#include "web/web_request.h"

#include <gtest/gtest.h>

#include "tests/web/recording_session.h"

// The case tables name only the fields that differ from the plain GET.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zemlaro {
namespace {

constexpr char kTail[] =
    "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded";
constexpr char kSecureUrl[] = "https://S.Example.cn/search?data-key=s&data-value=0&q=%61";
constexpr char kPlainUrl[] = "http://aa.bb:8080/p?x=1";

Text DefaultBlock(const Text& url) { return "Accept: */*\r\nReferer: " + url + kTail; }

struct ComposeCase {
  const char* name;
  Text url = kSecureUrl;
  // The arguments.
  int method = 0;
  Text dataText;
  std::optional<Text> cookies;
  std::optional<Text> headers;  // absent: the argument is left out
  std::optional<Bytes> dataBytes;
  Text proxy;
  bool noRedirect = false;
  // What the session is asked.
  Text verb = "GET";
  Text agent = kDefaultAgent;
  int accessType = kAccessDirect;
  std::optional<Text> proxyName;
  std::optional<Text> proxyBypass;
  Text host = "s.example.cn";
  int port = 443;
  Text path = "/search?data-key=s&data-value=0&q=%61";
  std::uint32_t flags = 0x80800010;
  Text block = DefaultBlock(kSecureUrl);
  std::optional<Bytes> dataSent;
  std::optional<Bytes> dataBytesAfter;
};

TEST(WebRequest, ComposesTheRequest) {
  const Bytes a1 = BytesOfText("a=1");
  const Bytes binary = {'b', 0, 'z', 0xFF};
  const ComposeCase cases[] = {
      {.name = "url alone, secure address"},
      {.name = "url alone, plain address",
       .url = kPlainUrl,
       .host = "aa.bb",
       .port = 8080,
       .path = "/p?x=1",
       .flags = 0x80004010,
       .block = DefaultBlock(kPlainUrl)},
      {.name = "method 3 is a GET without data", .method = 3, .dataText = "a=1"},
      {.name = "method -1 is a GET without data",
       .method = -1,
       .dataBytes = a1,
       .dataBytesAfter = a1},
      {.name = "POST sends dataText and hands its bytes back",
       .method = 1,
       .dataText = "a=1",
       .verb = "POST",
       .dataSent = a1,
       .dataBytesAfter = a1},
      {.name = "POST prefers dataBytes, zero bytes and all",
       .method = 1,
       .dataText = "a=1",
       .dataBytes = binary,
       .verb = "POST",
       .dataSent = binary,
       .dataBytesAfter = binary},
      {.name = "POST with dataText only and dataBytes left out",
       .method = 1,
       .dataText = "a=1",
       .verb = "POST",
       .dataSent = a1},
      {.name = "POST without data passes none", .method = 1, .verb = "POST"},
      {.name = "HEAD sends data as POST does",
       .method = 2,
       .dataText = "a=1",
       .verb = "HEAD",
       .dataSent = a1,
       .dataBytesAfter = a1},
      {.name = "an Accept line in other case gets the default one too",
       .headers = "accept: text/html",
       .block = Text("accept: text/html\r\nAccept: */*\r\nReferer: ") + kSecureUrl + kTail},
      {.name = "X-Accept: holds Accept:, so none is added",
       .headers = "X-Accept: 1",
       .block = Text("X-Accept: 1\r\nReferer: ") + kSecureUrl + kTail},
      {.name = "a given Referer is kept alone",
       .headers = "Referer: http://r.cn/",
       .block = Text("Referer: http://r.cn/\r\nAccept: */*") + kTail},
      {.name = "given Accept-Language and Content-Type are kept alone",
       .headers = "Accept-Language: en\r\nContent-Type: text/plain",
       .block =
           Text("Accept-Language: en\r\nContent-Type: text/plain\r\nAccept: */*\r\nReferer: ") +
           kSecureUrl},
      {.name = "User-Agent in exact case gives the agent and stays in the block",
       .headers = "User-Agent:  Bot/1 ",
       .agent = "Bot/1",
       .block = Text("User-Agent:  Bot/1 \r\nAccept: */*\r\nReferer: ") + kSecureUrl + kTail},
      {.name = "user-agent in other case, one line: its value",
       .headers = "user-agent: Bot/1",
       .agent = "Bot/1",
       .block = Text("user-agent: Bot/1\r\nAccept: */*\r\nReferer: ") + kSecureUrl + kTail},
      {.name = "user-agent in other case after another line: all after the first colon",
       .headers = "X-A: 1\r\nuser-agent: Bot/1",
       .agent = "1\r\nuser-agent: Bot/1",
       .block =
           Text("X-A: 1\r\nuser-agent: Bot/1\r\nAccept: */*\r\nReferer: ") + kSecureUrl + kTail},
      {.name = "cookies without Cookie: get the header name",
       .cookies = "a=1",
       .flags = 0x80880010,
       .block = DefaultBlock(kSecureUrl) + "\r\nCookie: a=1"},
      {.name = "cookies holding Cookie: go as they stand",
       .cookies = "X-Cookie: a=1",
       .flags = 0x80880010,
       .block = DefaultBlock(kSecureUrl) + "\r\nX-Cookie: a=1"},
      {.name = "empty cookies: no Cookie line, own cookies still off",
       .cookies = "",
       .flags = 0x80880010},
      {.name = "noRedirect", .noRedirect = true, .flags = 0x80A00010},
      {.name = "proxy for a plain address names the http scheme",
       .url = "http://aa.bb/",
       .proxy = "127.0.0.1:3128",
       .accessType = kAccessProxy,
       .proxyName = "http=127.0.0.1:3128",
       .proxyBypass = "",
       .host = "aa.bb",
       .port = 80,
       .path = "/",
       .flags = 0x80004010,
       .block = DefaultBlock("http://aa.bb/")},
      {.name = "proxy for a secure address is the bare text",
       .proxy = "127.0.0.1:3128",
       .accessType = kAccessProxy,
       .proxyName = "127.0.0.1:3128",
       .proxyBypass = ""},
      {.name = "the scheme is found in any case",
       .url = "HTTPS://AA.BB/X",
       .host = "aa.bb",
       .path = "/X",
       .block = DefaultBlock("HTTPS://AA.BB/X")},
  };
  for (const ComposeCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSession session;
    Text headers = c.headers.value_or(Text());
    Bytes dataBytes = c.dataBytes.value_or(Bytes());
    WebRequestArgs args;
    args.method = c.method;
    args.dataText = c.dataText;
    args.cookies = c.cookies;
    args.headers = c.headers ? &headers : nullptr;
    args.dataBytes = c.dataBytes || c.dataBytesAfter ? &dataBytes : nullptr;
    args.proxy = c.proxy;
    args.noRedirect = c.noRedirect;

    WebRequest(session, c.url, args);

    ASSERT_TRUE(session.opened && session.connected && session.requested && session.sent);
    EXPECT_EQ(session.opened->agent, c.agent);
    EXPECT_EQ(session.opened->accessType, c.accessType);
    EXPECT_EQ(session.opened->proxyName, c.proxyName);
    EXPECT_EQ(session.opened->proxyBypass, c.proxyBypass);
    EXPECT_EQ(session.connected->internet, RecordingSession::kInternet);
    EXPECT_EQ(session.connected->host, c.host);
    EXPECT_EQ(session.connected->port, c.port);
    EXPECT_EQ(session.requested->connection, RecordingSession::kConnection);
    EXPECT_EQ(session.requested->verb, c.verb);
    EXPECT_EQ(session.requested->path, c.path);
    EXPECT_EQ(session.requested->version, "HTTP/1.1");
    EXPECT_EQ(session.requested->flags, c.flags) << std::hex << session.requested->flags;
    EXPECT_EQ(session.sent->request, RecordingSession::kRequest);
    EXPECT_EQ(session.sent->headers, c.block);
    EXPECT_EQ(session.sent->data, c.dataSent);
    if (c.headers) {
      EXPECT_EQ(headers, c.block);
    }
    if (c.dataBytesAfter) {
      EXPECT_EQ(dataBytes, *c.dataBytesAfter);
    }
  }
}

struct AnswerCase {
  const char* name;
  Text rawHeaders;
  Text responseHeaders;
  Text cookies;
};

TEST(WebRequest, ReadsResponseHeadersAndCookies) {
  const Text big = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX: ";
  const Text fits = big + Text(4999 - big.size() - 4, 'x') + "\r\n\r\n";
  const Text tooBig = big + Text(5000 - big.size() - 4, 'x') + "\r\n\r\n";
  const AnswerCase cases[] = {
      {"three cookies, attributes dropped, names rewritten",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nset-cookie: b=2; HttpOnly\r\n"
       "Set-Cookie: c=3\r\n\r\n",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n"
       "Set-Cookie: c=3\r\n\r\n",
       "a=1; b=2; c=3"},
      {"a line without ';' loses its name in any case", "HTTP/1.1 200 OK\r\nSET-COOKIE:d=4\r\n\r\n",
       "HTTP/1.1 200 OK\r\nSet-Cookie:d=4\r\n\r\n", "d=4"},
      {"Set-Cookie2 with ';' adds an empty part",
       "HTTP/1.1 200 OK\r\nSet-Cookie2: x=1; v=1\r\nSet-Cookie: a=1\r\n\r\n",
       "HTTP/1.1 200 OK\r\nSet-Cookie2: x=1; v=1\r\nSet-Cookie: a=1\r\n\r\n", "; a=1"},
      {"no cookie lines", "HTTP/1.1 204 No Content\r\nX: 1\r\n\r\n",
       "HTTP/1.1 204 No Content\r\nX: 1\r\n\r\n", ""},
      {"4999 bytes fit the buffer with the terminator", fits, fits, "a=1"},
      {"5000 bytes do not: no block and no cookies", tooBig, "", ""},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSession session;
    session.rawHeaders = c.rawHeaders;
    session.body = BytesOfText("body");
    Text responseHeaders = "untouched";
    Text cookies = "untouched";
    WebRequestArgs args;
    args.responseHeaders = &responseHeaders;
    args.receivedCookies = &cookies;

    EXPECT_EQ(WebRequest(session, kSecureUrl, args), BytesOfText("body"));
    EXPECT_EQ(session.queryLengths, std::vector<int>{5000});
    EXPECT_EQ(responseHeaders, c.responseHeaders);
    EXPECT_EQ(cookies, c.cookies);
  }
}

struct FailureCase {
  const char* name;
  bool openFails;
  bool connectFails;
  bool openRequestFails;
  std::vector<SessionHandle> closed;
};

TEST(WebRequest, ClosesWhatItOpenedNewestFirst) {
  using S = RecordingSession;
  const FailureCase cases[] = {
      {"open fails", true, false, false, {}},
      {"connect fails", false, true, false, {S::kInternet}},
      {"open request fails", false, false, true, {S::kConnection, S::kInternet}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSession session;
    session.openFails = c.openFails;
    session.connectFails = c.connectFails;
    session.openRequestFails = c.openRequestFails;
    session.body = BytesOfText("body");
    session.rawHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n";
    Text headers = "X: 1";
    Bytes data = BytesOfText("d");
    Text responseHeaders = "untouched";
    Text cookies = "untouched";
    Text finalAddress = "untouched";
    WebRequestArgs args;
    args.finalAddress = &finalAddress;
    args.method = 1;
    args.dataText = "other";
    args.headers = &headers;
    args.dataBytes = &data;
    args.responseHeaders = &responseHeaders;
    args.receivedCookies = &cookies;

    EXPECT_TRUE(WebRequest(session, kSecureUrl, args).empty());
    EXPECT_EQ(session.closed, c.closed);
    EXPECT_FALSE(session.sent);
    EXPECT_EQ(session.connected.has_value(), !c.openFails);
    EXPECT_EQ(session.requested.has_value(), !c.openFails && !c.connectFails);
    EXPECT_EQ(headers, "X: 1");
    EXPECT_EQ(data, BytesOfText("d"));
    EXPECT_EQ(responseHeaders, "untouched");
    EXPECT_EQ(cookies, "untouched");
    EXPECT_EQ(finalAddress, "untouched");
    EXPECT_TRUE(session.finalUrlQueries.empty());
  }
}

TEST(WebRequest, ReadsTheWholeBodyInChunksAndClosesAll) {
  RecordingSession session;
  Bytes body(2500);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7);
  session.body = body;

  EXPECT_EQ(WebRequest(session, kSecureUrl), body);
  EXPECT_EQ(session.readSizes, (std::vector<int>{1024, 1024, 1024, 1024}));
  EXPECT_EQ(session.closed,
            (std::vector<SessionHandle>{RecordingSession::kRequest, RecordingSession::kConnection,
                                        RecordingSession::kInternet}));
}

TEST(WebRequest, AsksForTheFinalAddressOnceTheBodyIsRead) {
  RecordingSession session;
  session.body = Bytes(1500, 'b');
  session.finalUrl = "https://login.example.cn/member/login.jhtml?redirect=1";
  Text finalAddress = "untouched";
  WebRequestArgs args;
  args.finalAddress = &finalAddress;

  EXPECT_EQ(WebRequest(session, kSecureUrl, args), session.body);
  EXPECT_EQ(finalAddress, session.finalUrl);
  ASSERT_EQ(session.finalUrlQueries.size(), 1u);
  EXPECT_EQ(session.finalUrlQueries[0].request, RecordingSession::kRequest);
  EXPECT_EQ(session.finalUrlQueries[0].readsBefore, 3u) << "after the read that gave nothing";
  EXPECT_EQ(session.finalUrlQueries[0].closedBefore, 0u) << "before the request is closed";
}

TEST(WebRequest, NoBodyStillDeliversHeadersAndCookies) {
  RecordingSession session;
  session.rawHeaders = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\nSet-Cookie: s=1; path=/\r\n\r\n";
  Text responseHeaders;
  Text cookies;
  WebRequestArgs args;
  args.method = 2;
  args.responseHeaders = &responseHeaders;
  args.receivedCookies = &cookies;

  EXPECT_TRUE(WebRequest(session, kSecureUrl, args).empty());
  EXPECT_EQ(responseHeaders, session.rawHeaders);
  EXPECT_EQ(cookies, "s=1");
}

TEST(WebRequest, BodyPastTheSessionLimitFails) {
  RecordingSession endless;
  endless.endlessBody = true;
  endless.maxBodyBytes = 4096;
  EXPECT_TRUE(WebRequest(endless, kSecureUrl).empty());
  EXPECT_LE(endless.readSizes.size(), 5u);
  EXPECT_EQ(endless.closed.size(), 3u);

  RecordingSession exact;
  exact.body = Bytes(4096, 'y');
  exact.maxBodyBytes = 4096;
  EXPECT_EQ(WebRequest(exact, kSecureUrl), exact.body);
}

}  // namespace
}  // namespace zemlaro
