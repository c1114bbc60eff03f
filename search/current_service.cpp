#include "search/current_service.h"

#include "search/current_answer.h"
#include "search/current_constants.h"
#include "search/current_request.h"
#include "text/codepage.h"
#include "web/web_request.h"

namespace zemlaro {

namespace {

std::string StoredToken(const CurrentRequestContext& context) {
  if (!context.storedToken) return {};
  return TokenOfCookie(context.storedToken().value_or(std::string()));
}

std::int64_t Now(const CurrentRequestContext& context) {
  return context.nowMs ? context.nowMs() : 0;
}

int NextCallback(const CurrentRequestContext& context) {
  return context.callbackCounter != nullptr ? ++*context.callbackCounter : 1;
}

struct Exchange {
  Bytes body;
  Text receivedCookies;
};

Exchange Send(InternetSession& session, const CurrentRequestContext& context,
              const std::string& data, std::int64_t t, const std::string& token) {
  const std::string sign = CurrentSign(token, t, kCurrentAppKey, data);
  const Text url = CurrentRequestUrl(context.host, data, t, sign, NextCallback(context));
  // WebRequest hands the User-Agent line to the session as its agent as well.
  Text headers = JoinTexts({"Referer: ", kCurrentReferer, "\r\nUser-Agent: ", kCurrentUserAgent});
  Exchange exchange;
  WebRequestArgs args;
  args.headers = &headers;
  args.receivedCookies = &exchange.receivedCookies;
  exchange.body = WebRequest(session, url, args);
  return exchange;
}

CurrentPage NoAnswer(const Text& why) {
  CurrentPage page;
  page.outcome.kind = PageOutcomeKind::RequestFailed;
  page.outcome.reason = why;
  return page;
}

}  // namespace

CurrentPage FetchCurrentPage(InternetSession& session, const CurrentRequestContext& context,
                             const Text& keywordGbk, int page) {
  const std::string data = CurrentRequestData(GbkToUtf8(keywordGbk), page);
  std::string token = StoredToken(context);
  std::int64_t t = Now(context);

  CurrentAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && kCurrentFreshTimestamp) t = Now(context);
    const Exchange exchange = Send(session, context, data, t, token);
    if (exchange.body.empty()) {
      const Text why = session.LastError();
      return NoAnswer(why.empty() ? "empty answer" : why);
    }
    answer = ParseCurrentAnswer(exchange.body);
    if (answer.ret != CurrentRet::TokenRefused) break;
    const std::string fresh = TokenCookieOf(exchange.receivedCookies);
    token = fresh.empty() ? StoredToken(context) : TokenOfCookie(fresh);
  }

  CurrentPage result;
  result.outcome = ClassifyCurrentAnswer(answer);
  if (result.outcome.kind == PageOutcomeKind::Listings) {
    result.listings = std::move(answer.listings);
  }
  result.totalPages = answer.totalPages;
  return result;
}

}  // namespace zemlaro
