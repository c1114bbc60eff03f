#include "web/web_request.h"

#include <algorithm>
#include <cstring>

#include "web/large_buffer.h"
#include "web/url.h"

namespace zemlaro {

namespace {

Text VerbOf(int method) {
  switch (method) {
    case 1:
      return "POST";
    case 2:
      return "HEAD";
    default:
      return "GET";
  }
}

Text AgentOf(const Text& headers) {
  if (FindForward(headers, "User-Agent:", std::nullopt, true) == -1) return kDefaultAgent;
  // The line is found in any letter case but read in exact case only; when that
  // gives nothing, the value after the first colon of the whole text stands in.
  Text agent = TrimSpaces(TextBetween(headers + "\r\n", "User-Agent:", "\r\n"));
  if (agent.empty()) agent = ValueAfterColon(headers);
  return agent;
}

Text HeaderBlock(const Text& headers, std::string_view url, const std::optional<Text>& cookies) {
  Text block = headers;
  if (block.empty()) {
    block = "Accept: */*";
  } else if (FindForward(block, "Accept:") == -1) {
    block += "\r\nAccept: */*";
  }
  if (FindForward(block, "Referer:") == -1) block += JoinTexts({"\r\nReferer: ", url});
  if (FindForward(block, "Accept-Language:") == -1) block += "\r\nAccept-Language: zh-cn";
  if (FindForward(block, "Content-Type:") == -1) {
    block += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  if (cookies && !cookies->empty()) {
    block += FindForward(*cookies, "Cookie:") != -1 ? "\r\n" + *cookies : "\r\nCookie: " + *cookies;
  }
  return block;
}

// The whole body, or empty when it grows past what the session allows.
Bytes ReadBody(InternetSession& session, SessionHandle request) {
  Bytes body;
  Bytes buffer = ZeroBytes(kReadChunk);
  const std::size_t limit = session.MaxBodyBytes();
  // Room for what the session says is waiting, so that a large body is not moved
  // again and again as it grows.
  ReserveLarge(body, std::min(session.QueryDataAvailable(request), limit));
  for (;;) {
    int n = 0;
    session.Read(request, buffer.data(), kReadChunk, n);
    if (n <= 0) break;
    if (n > kReadChunk) n = kReadChunk;
    if (body.size() + static_cast<std::size_t>(n) > limit) return {};
    body.insert(body.end(), buffer.begin(), buffer.begin() + n);
  }
  return body;
}

// The raw response header block, or empty when it does not fit the buffer.
Text RawHeaders(InternetSession& session, SessionHandle request) {
  Text buffer = SpaceText(kRawHeaderBuffer);
  int length = kRawHeaderBuffer;
  if (!session.QueryRawHeaders(request, buffer.data(), length)) return {};
  return Text(buffer.c_str(), strnlen(buffer.c_str(), buffer.size()));
}

Text CookiesOf(const Text& responseHeaders) {
  Text cookies;
  for (const Text& line : SplitOn(responseHeaders, "\r\n")) {
    if (FindForward(line, "Set-Cookie") == -1) continue;
    const Text part =
        FindForward(line, ";") != -1
            ? TrimSpaces(TextBetween(line, "Set-Cookie:", ";"))
            : TrimSpaces(Substitute(line, "Set-Cookie:", {}, std::nullopt, std::nullopt, false));
    cookies += part + "; ";
  }
  return LeftPart(cookies, LengthOf(cookies) - 2);
}

}  // namespace

Bytes WebRequest(InternetSession& session, std::string_view url, const WebRequestArgs& args) {
  const Text verb = VerbOf(args.method);
  const bool secure = LowerAscii(LeftPart(url, 8)) == "https://";
  const Text headers = args.headers ? *args.headers : Text();

  SessionHandle internet = 0;
  if (args.proxy.empty()) {
    internet = session.Open(AgentOf(headers), kAccessDirect, std::nullopt, std::nullopt);
  } else {
    const Text proxyName = secure ? args.proxy : "http=" + args.proxy;
    internet = session.Open(AgentOf(headers), kAccessProxy, proxyName, Text());
  }
  if (internet == 0) return {};

  const SessionHandle connection = session.Connect(internet, UrlHost(url), UrlPort(url));
  if (connection == 0) {
    session.Close(internet);
    return {};
  }

  const std::uint32_t flags =
      OrBits({kFlagReload, kFlagNeedFile, args.cookies ? kFlagNoCookies : 0u,
              args.noRedirect ? kFlagNoAutoRedirect : 0u,
              secure ? kFlagSecure : kFlagIgnoreRedirectToHttps});
  const SessionHandle request =
      session.OpenRequest(connection, verb, UrlPath(url), "HTTP/1.1", flags);
  if (request == 0) {
    session.Close(connection);
    session.Close(internet);
    return {};
  }

  const Text block = HeaderBlock(headers, url, args.cookies);
  if (args.headers) *args.headers = block;

  if (verb == "GET") {
    session.Send(request, block, nullptr);
  } else {
    Bytes localData;
    Bytes& data = args.dataBytes ? *args.dataBytes : localData;
    if (data.empty()) data = BytesOfText(args.dataText);
    session.Send(request, block, data.empty() ? nullptr : &data);
  }

  Bytes body = ReadBody(session, request);
  const Text finalAddress = args.finalAddress ? session.QueryFinalUrl(request) : Text();
  const Text responseHeaders = Substitute(RawHeaders(session, request), "Set-Cookie", "Set-Cookie",
                                          std::nullopt, std::nullopt, false);

  session.Close(request);
  session.Close(connection);
  session.Close(internet);

  if (args.responseHeaders) *args.responseHeaders = responseHeaders;
  if (args.receivedCookies) *args.receivedCookies = CookiesOf(responseHeaders);
  if (args.finalAddress) *args.finalAddress = finalAddress;
  return body;
}

}  // namespace zemlaro
