#include "search/current_service.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "search/current_answer.h"
#include "search/current_constants.h"
#include "search/current_request.h"
#include "tests/search/fakes.h"
#include "text/codepage.h"

namespace zemlaro {
namespace {

using Json = nlohmann::json;

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The query keys of an address in the order sent, values still encoded.
std::vector<std::pair<std::string, std::string>> QueryOf(std::string_view url) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string_view query = url.substr(url.find('?') + 1);
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    const std::size_t eq = pair.find('=');
    keys.emplace_back(std::string(pair.substr(0, eq)),
                      eq == pair.npos ? std::string() : std::string(pair.substr(eq + 1)));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
  }
  return keys;
}

std::string QueryValue(std::string_view url, const std::string& key) {
  for (const auto& [k, v] : QueryOf(url)) {
    if (k == key) return v;
  }
  return "<no " + key + ">";
}

Bytes BodyOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string Answer(const std::string& ret, const std::string& data = "{}") {
  return "mtopjsonp7({\"api\":\"mtop.relationrecommend.wirelessrecommend.recommend\",\"data\":" +
         data + ",\"ret\":[\"" + ret + "\"],\"v\":\"2.0\"})";
}

// ---- the request ----------------------------------------------------------------

TEST(CurrentSign, LowerCaseHexMd5OfTokenTimeAppKeyAndData) {
  // Expected values computed once with:
  //   printf '%s' '<token>&1700000000000&12574478&<data>' | md5sum
  const std::string data = R"({"appId":"34385","params":"{\"page\":1}"})";
  struct Case {
    const char* token;
    const char* sign;
  };
  const Case cases[] = {
      {"0123456789abcdef0123456789abcdef", "5fc56e78cfac6bac98d6592589732f68"},
      {"", "486d958b2c46a067682e66a64bad8048"},  // the first request, before any token
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CurrentSign(c.token, 1700000000000, "12574478", data), c.sign) << c.token;
  }
}

TEST(CurrentRequestData, AppIdAndParamsAsAJsonString) {
  const std::string data = CurrentRequestData("手机 壳", 3);
  const Json outer = Json::parse(data, nullptr, false);
  ASSERT_TRUE(outer.is_object()) << data;
  EXPECT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer["appId"], "34385");
  ASSERT_TRUE(outer["params"].is_string());
  const Json params = Json::parse(outer["params"].get<std::string>(), nullptr, false);
  ASSERT_TRUE(params.is_object());
  EXPECT_EQ(params["page"], 3);
  EXPECT_EQ(params["n"], 48);
  EXPECT_EQ(params["pageSize"], 48);
  EXPECT_EQ(params["q"], "%E6%89%8B%E6%9C%BA%20%E5%A3%B3");
  EXPECT_EQ(PercentDecoded(params["q"].get<std::string>()), "手机 壳");
  EXPECT_EQ(params["sort"], "_coefp");
  EXPECT_EQ(params["tab"], "all");
  EXPECT_EQ(params["m"], "pc");
  EXPECT_EQ(params["style"], "list");
  EXPECT_TRUE(params.contains("device"));
  EXPECT_TRUE(params.contains("from"));
  // ASCII only, so that it is signed and sent as the same bytes.
  for (const char c : data) EXPECT_LT(static_cast<unsigned char>(c), 0x80u);
  // A keyword with quotes and backslashes cannot break out of the string.
  const Json odd = Json::parse(
      Json::parse(CurrentRequestData("a\"}\\", 1), nullptr, false)["params"].get<std::string>(),
      nullptr, false);
  ASSERT_TRUE(odd.is_object());
  EXPECT_EQ(PercentDecoded(odd["q"].get<std::string>()), "a\"}\\");
}

TEST(CurrentRequestUrl, QueryKeysInOrderAndDataRoundTrip) {
  const std::string data = CurrentRequestData("abc", 2);
  const Text url = CurrentRequestUrl("127.0.0.1:8443", data, 1700000000123, "0a1b", 5);
  EXPECT_EQ(url.rfind("https://127.0.0.1:8443/h5/mtop.relationrecommend.wirelessrecommend."
                      "recommend/2.0/?",
                      0),
            0u)
      << url;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"jsv", "2.7.2"},
      {"appKey", "12574478"},
      {"t", "1700000000123"},
      {"sign", "0a1b"},
      {"api", "mtop.relationrecommend.wirelessrecommend.recommend"},
      {"v", "2.0"},
      {"type", "jsonp"},
      {"dataType", "jsonp"},
      {"callback", "mtopjsonp5"},
      {"data", QueryValue(url, "data")},
  };
  EXPECT_EQ(QueryOf(url), expected);
  const std::string sent = QueryValue(url, "data");
  EXPECT_EQ(sent.find_first_of("{}\":,&=?# "), std::string::npos) << sent;
  EXPECT_EQ(PercentDecoded(sent), data);
}

TEST(TokenCookies, TokenIsTheValueBeforeItsFirstUnderscore) {
  const std::pair<const char*, const char*> tokens[] = {
      {"0123456789abcdef0123456789abcdef_1700000000000", "0123456789abcdef0123456789abcdef"},
      {"abc", "abc"},
      {"", ""},
      {"_123", ""},
      {"a_b_c", "a"},
  };
  for (const auto& [value, token] : tokens) EXPECT_EQ(TokenOfCookie(value), token) << value;

  const std::pair<const char*, const char*> received[] = {
      {"_m_h5_tk_enc=e1; _m_h5_tk=abc_1", "abc_1"},
      {"_m_h5_tk=abc_1; _m_h5_tk_enc=e1", "abc_1"},
      {"_m_h5_tk=old_1; x=y; _m_h5_tk=new_2", "new_2"},
      {"_m_h5_tk=new_2; _m_h5_tk=", "new_2"},  // a deletion does not wipe out the new one
      {"_m_h5_tk_enc=e1; other=2", ""},
      {"", ""},
  };
  for (const auto& [cookies, value] : received) EXPECT_EQ(TokenCookieOf(cookies), value) << cookies;
}

// ---- the answer -----------------------------------------------------------------

TEST(ParseCurrentAnswer, ListingsWithoutMarkupAndCards) {
  const std::string items = R"({"itemsArray":[
      {"title":"<span class=H>手机</span>壳 <span class=H>新款</span>","item_id":"601",
       "nick":"小店","price":"12.50","realSales":"1000+人付款","procity":"浙江 杭州"},
      {"title":"广告","customCardType":"banner","item_id":"0"},
      {"item_id":"602","nick":"no title"},
      {"title":"第二","item_id":603,"nick":"","shopInfo":{"title":"旗舰店"},
       "price":9.9,"realSales":25},
      {"title":"第三","item_id":"604","shopInfo":{"title":"店三"},"procity":"上海"},
      {"title":"<span class=H></span>","item_id":"605"},
      "not an object"],
      "mainInfo":{"totalPage":"87"}})";
  const CurrentAnswer answer = ParseCurrentAnswer(BodyOf(Answer("SUCCESS::调用成功", items)));
  EXPECT_EQ(answer.ret, CurrentRet::Success);
  EXPECT_EQ(answer.retCode, "SUCCESS");
  EXPECT_EQ(answer.totalPages, 87);
  struct Row {
    const char* title;
    const char* itemId;
    const char* nick;
    const char* price;
    const char* sales;
    const char* location;
  };
  const Row rows[] = {
      {"手机壳 新款", "601", "小店", "12.50", "1000+人付款", "浙江 杭州"},
      {"第二", "603", "旗舰店", "9.9", "25", ""},
      {"第三", "604", "店三", "", "", "上海"},
  };
  ASSERT_EQ(answer.listings.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Listing& l = answer.listings[i];
    const Row& r = rows[i];
    EXPECT_EQ(l.title, Utf8ToGbk(r.title)) << i;
    EXPECT_EQ(l.itemId, r.itemId) << i;
    EXPECT_EQ(l.sellerNick, Utf8ToGbk(r.nick)) << i;
    EXPECT_EQ(l.price, r.price) << i;
    EXPECT_EQ(l.sales, Utf8ToGbk(r.sales)) << i;
    EXPECT_EQ(l.location, Utf8ToGbk(r.location)) << i;
  }
}

TEST(ParseCurrentAnswer, PageCountAndWrappers) {
  struct Case {
    std::string body;
    CurrentRet ret;
    int totalPages;
  };
  const Case cases[] = {
      {Answer("SUCCESS::ok", R"({"mainInfo":{"totalPage":100}})"), CurrentRet::Success, 100},
      {Answer("SUCCESS::ok", R"({"mainInfo":{"totalPage":"x"}})"), CurrentRet::Success, 0},
      {Answer("SUCCESS::ok", R"({"mainInfo":{"totalPage":-3}})"), CurrentRet::Success, 0},
      {Answer("SUCCESS::ok", R"({"mainInfo":{"totalPage":1e12}})"), CurrentRet::Success,
       2147483647},
      {Answer("SUCCESS::ok", R"({"mainInfo":[]})"), CurrentRet::Success, 0},
      {Answer("SUCCESS::ok", "[]"), CurrentRet::Success, 0},
      {R"( {"ret":["SUCCESS::ok"],"data":{"mainInfo":{"totalPage":4}}})", CurrentRet::Success, 4},
      {"\n mtopjsonp12( {\"ret\":[\"SUCCESS::ok\"]} );\n", CurrentRet::Success, 0},
      {"", CurrentRet::Unreadable, 0},
      {"mtopjsonp1(", CurrentRet::Unreadable, 0},
      {"mtopjsonp1({\"ret\":[\"SUCCESS::ok\"]", CurrentRet::Unreadable, 0},
      {"<html><body>busy</body></html>", CurrentRet::Unreadable, 0},
      {R"(mtopjsonp1({"ret":"SUCCESS::ok"}))", CurrentRet::Unreadable, 0},
      {R"(mtopjsonp1({"ret":[]}))", CurrentRet::Unreadable, 0},
      {R"(mtopjsonp1({"ret":[7]}))", CurrentRet::Unreadable, 0},
      {R"(mtopjsonp1([1,2]))", CurrentRet::Unreadable, 0},
  };
  for (const Case& c : cases) {
    const CurrentAnswer answer = ParseCurrentAnswer(BodyOf(c.body));
    EXPECT_EQ(answer.ret, c.ret) << c.body;
    EXPECT_EQ(answer.totalPages, c.totalPages) << c.body;
    EXPECT_TRUE(answer.listings.empty()) << c.body;
  }
}

TEST(WithoutHighlight, RemovesSpanMarkupOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"<span class=H>手机</span>壳", "手机壳"},
      {"<SPAN class=H>a</Span> b", "a b"},
      {"  <span class=H>x</span>  ", "x"},
      {"a < b > c", "a < b > c"},
      {"plain", "plain"},
      {"cut <span class=H", "cut <span class=H"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(WithoutHighlight(Utf8ToGbk(in)), Utf8ToGbk(out)) << in;
  }
}

TEST(ClassifyCurrentAnswer, EveryRetClass) {
  const std::string oneItem = R"({"itemsArray":[{"title":"t","item_id":"1","nick":"n"}]})";
  const std::string punish =
      "https://h5api.m.taobao.com:443//h5/x/_____tmd_____/punish?x5secdata=abc&x5step=1";
  const std::string login = "https://login.taobao.com/member/login.jhtml?redirectURL=x";
  struct Case {
    std::string body;
    PageOutcomeKind kind;
    std::string reason;  // held in the outcome's reason
    std::string address;
  };
  const Case cases[] = {
      {Answer("SUCCESS::调用成功", oneItem), PageOutcomeKind::Listings, "", ""},
      {Answer("SUCCESS::调用成功"), PageOutcomeKind::NoListings, "", ""},
      {Answer("SUCCESS::调用成功", R"({"itemsArray":[{"customCardType":"x","title":"t"}]})"),
       PageOutcomeKind::NoListings, "", ""},
      {Answer("FAIL_SYS_SESSION_EXPIRED::Session过期", R"({"url":")" + login + "\"}"),
       PageOutcomeKind::SignInRequired, "FAIL_SYS_SESSION_EXPIRED", login},
      {Answer("FAIL_SYS_SESSION_EXPIRED::Session过期"), PageOutcomeKind::SignInRequired,
       "FAIL_SYS_SESSION_EXPIRED", ""},
      {Answer("FAIL_SYS_USER_VALIDATE", R"({"url":")" + login + "\"}"),
       PageOutcomeKind::SignInRequired, "FAIL_SYS_USER_VALIDATE", login},
      {Answer("FAIL_SYS_USER_VALIDATE", R"({"url":")" + punish + "\"}"),
       PageOutcomeKind::VerificationRequired, "FAIL_SYS_USER_VALIDATE", punish},
      {Answer("RGV587_ERROR::SM::哎哟喂,被挤爆啦", R"({"url":")" + punish + "\"}"),
       PageOutcomeKind::VerificationRequired, "RGV587_ERROR", punish},
      {Answer("RGV587_ERROR::SM", R"({"url":"http://127.0.0.1:8443/member/login.jhtml?a=1"})"),
       PageOutcomeKind::SignInRequired, "RGV587_ERROR",
       "http://127.0.0.1:8443/member/login.jhtml?a=1"},
      {Answer("FAIL_SYS_ILLEGAL_ACCESS::非法请求"), PageOutcomeKind::RequestFailed, "bad sign", ""},
      {Answer("FAIL_SYS_SERVICE_FLOW_LIMIT::被挤爆啦"), PageOutcomeKind::SlowDown,
       "FAIL_SYS_SERVICE_FLOW_LIMIT", ""},
      {Answer("FAIL_SYS_TRAFFIC_LIMIT::x"), PageOutcomeKind::SlowDown, "FAIL_SYS_TRAFFIC_LIMIT",
       ""},
      {Answer("FAIL_SYS_TOKEN_EXOIRED::令牌过期"), PageOutcomeKind::RequestFailed,
       "FAIL_SYS_TOKEN_EXOIRED", ""},
      {Answer("FAIL_SYS_API_NOT_FOUNDED::api不存在"), PageOutcomeKind::RequestFailed,
       "FAIL_SYS_API_NOT_FOUNDED::api不存在", ""},
      {"<html>", PageOutcomeKind::RequestFailed, "unreadable answer", ""},
  };
  for (const Case& c : cases) {
    const PageOutcome outcome = ClassifyCurrentAnswer(ParseCurrentAnswer(BodyOf(c.body)));
    EXPECT_EQ(outcome.kind, c.kind) << c.body;
    if (c.reason.empty()) {
      EXPECT_EQ(outcome.reason, "") << c.body;
    } else {
      EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
    }
    EXPECT_EQ(outcome.address, c.address) << c.body;
  }
}

TEST(IsCurrentLoginAddress, LoginHostOrLoginPath) {
  const std::pair<const char*, bool> cases[] = {
      {"https://login.taobao.com/member/login.jhtml?redirectURL=x", true},
      {"https://LOGIN.taobao.com/havanaone/login/login.htm", true},
      {"//login.taobao.com:443/x", true},
      {"http://127.0.0.1:9/member/login.jhtml", true},
      {"https://h5api.m.taobao.com/h5/havanaone/login/x", true},
      {"https://h5api.m.taobao.com/_____tmd_____/punish?x5secdata=1"
       "&redirect=https%3A%2F%2Flogin.taobao.com%2Fmember%2Flogin.jhtml",
       false},
      {"https://login.taobao.com.evil.test/x", false},
      {"https://sec.taobao.com/query.htm?action=captcha", false},
      {"", false},
  };
  for (const auto& [address, login] : cases) {
    EXPECT_EQ(IsCurrentLoginAddress(address), login) << address;
  }
}

// ---- the page step over a scripted session --------------------------------------

// Answers the k-th request with bodies[k] and headers[k] (the last ones past the end).
class ScriptedSession : public testing::CannedSession {
 public:
  std::vector<std::string> bodies;
  std::vector<std::string> headers;

  ScriptedSession() {
    body = [this](const Request&) -> std::optional<std::string> { return Pick(bodies, ""); };
  }
  bool QueryRawHeaders(SessionHandle, char* buffer, int& length) override {
    const std::string block = Pick(headers, "HTTP/1.1 200 OK\r\n\r\n");
    if (static_cast<int>(block.size()) + 1 > length) {
      length = static_cast<int>(block.size()) + 1;
      return false;
    }
    std::copy(block.begin(), block.end(), buffer);
    buffer[block.size()] = '\0';
    length = static_cast<int>(block.size());
    return true;
  }

 private:
  std::string Pick(const std::vector<std::string>& list, const std::string& otherwise) const {
    if (list.empty()) return otherwise;
    return list[std::min(requests.size() - 1, list.size() - 1)];
  }
};

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";
constexpr char kFreshToken[] = "fedcba9876543210fedcba9876543210";

struct Fixture {
  ScriptedSession session;
  std::int64_t clock = 1700000000000;
  int clockReads = 0;
  int counter = 6;
  std::vector<std::optional<std::string>> store = {std::string(kToken) + "_1700000999000"};
  int storeReads = 0;

  CurrentRequestContext Context() {
    CurrentRequestContext c;
    c.host = "127.0.0.1:8443";
    c.nowMs = [this] {
      ++clockReads;
      return clock + 1000 * (clockReads - 1);
    };
    c.storedToken = [this] {
      const std::optional<std::string> value =
          store[std::min<std::size_t>(storeReads, store.size() - 1)];
      ++storeReads;
      return value;
    };
    c.callbackCounter = &counter;
    return c;
  }

  // The token each request was signed with, found among the candidates.
  std::string SignedWith(std::size_t k) const {
    const Text url = "https://h" + session.requests[k].path;
    const std::string data = PercentDecoded(QueryValue(url, "data"));
    const std::int64_t t = std::stoll(QueryValue(url, "t"));
    for (const char* token : {"", kToken, kFreshToken}) {
      if (CurrentSign(token, t, kCurrentAppKey, data) == QueryValue(url, "sign")) return token;
    }
    return "<unknown>";
  }
  std::string Query(std::size_t k, const std::string& key) const {
    return QueryValue("https://h" + session.requests[k].path, key);
  }
};

const std::string kOneListing = Answer(
    "SUCCESS::调用成功",
    R"({"itemsArray":[{"title":"<span class=H>壳</span>","item_id":"9","nick":"n","price":"1.00",
        "realSales":"3","procity":"北京"}],"mainInfo":{"totalPage":12}})");

TEST(FetchCurrentPage, OneSignedRequestWithTheHeadersAndTheSessionsCookies) {
  Fixture f;
  f.session.bodies = {kOneListing};
  const CurrentPage page = FetchCurrentPage(f.session, f.Context(), Utf8ToGbk("手机壳"), 2);

  ASSERT_EQ(f.session.requests.size(), 1u);
  const auto& r = f.session.requests[0];
  EXPECT_EQ(r.host, "127.0.0.1");
  EXPECT_EQ(r.port, 8443);
  EXPECT_EQ(r.verb, "GET");
  EXPECT_EQ(r.path.rfind(std::string(kCurrentServicePath) + "?", 0), 0u) << r.path;
  EXPECT_NE(r.flags & kFlagSecure, 0u);
  EXPECT_EQ(r.flags & kFlagNoCookies, 0u);  // the session's cookie store stays in use
  EXPECT_EQ(r.agent, kCurrentUserAgent);
  EXPECT_NE(r.headers.find("Referer: https://s.taobao.com/\r\n"), std::string::npos) << r.headers;
  EXPECT_EQ(r.headers.find("Referer:"), r.headers.rfind("Referer:"));
  EXPECT_NE(r.headers.find(std::string("User-Agent: ") + kCurrentUserAgent), std::string::npos);
  EXPECT_EQ(r.headers.find("User-Agent:"), r.headers.rfind("User-Agent:"));
  EXPECT_EQ(r.headers.find("Cookie:"), std::string::npos);

  EXPECT_EQ(f.SignedWith(0), kToken);
  EXPECT_EQ(f.Query(0, "t"), "1700000000000");
  EXPECT_EQ(f.Query(0, "callback"), "mtopjsonp7");
  EXPECT_EQ(f.counter, 7);
  // What was sent decodes to the keyword and page asked for.
  const Json data = Json::parse(PercentDecoded(f.Query(0, "data")), nullptr, false);
  ASSERT_TRUE(data.is_object());
  const Json params = Json::parse(data["params"].get<std::string>(), nullptr, false);
  ASSERT_TRUE(params.is_object());
  EXPECT_EQ(PercentDecoded(params["q"].get<std::string>()), "手机壳");
  EXPECT_EQ(params["page"], 2);

  EXPECT_EQ(page.outcome.kind, PageOutcomeKind::Listings);
  EXPECT_EQ(page.totalPages, 12);
  ASSERT_EQ(page.listings.size(), 1u);
  EXPECT_EQ(page.listings[0].title, Utf8ToGbk("壳"));
  EXPECT_EQ(page.listings[0].itemId, "9");
  EXPECT_EQ(page.listings[0].price, "1.00");
  EXPECT_EQ(page.listings[0].sales, "3");
  EXPECT_EQ(page.listings[0].location, Utf8ToGbk("北京"));
}

TEST(FetchCurrentPage, TokenHandshakeRetriesOnceAndNoMore) {
  const std::string refusedWithCookie =
      std::string("HTTP/1.1 200 OK\r\nSet-Cookie: _m_h5_tk=") + kFreshToken +
      "_1700000999000; Path=/; Domain=.taobao.com\r\nSet-Cookie: _m_h5_tk_enc=abc; Path=/\r\n\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> bodies;
    std::vector<std::string> headers;
    std::vector<std::optional<std::string>> store;
    std::vector<std::string> signedWith;
    PageOutcomeKind kind;
  };
  const Case cases[] = {
      {"empty token, fresh one in Set-Cookie",
       {Answer("FAIL_SYS_TOKEN_EMPTY::令牌为空"), kOneListing},
       {refusedWithCookie, "HTTP/1.1 200 OK\r\n\r\n"},
       {std::nullopt},
       {"", kFreshToken},
       PageOutcomeKind::Listings},
      {"expired token, fresh one in Set-Cookie",
       {Answer("FAIL_SYS_TOKEN_EXOIRED::令牌过期"), kOneListing},
       {refusedWithCookie, "HTTP/1.1 200 OK\r\n\r\n"},
       {std::string(kToken) + "_1"},
       {kToken, kFreshToken},
       PageOutcomeKind::Listings},
      {"no Set-Cookie: the store is read again",
       {Answer("FAIL_SYS_TOKEN_EMPTY::令牌为空"), kOneListing},
       {},
       {std::nullopt, std::string(kFreshToken) + "_2"},
       {"", kFreshToken},
       PageOutcomeKind::Listings},
      {"refused twice",
       {Answer("FAIL_SYS_TOKEN_EMPTY::令牌为空")},
       {refusedWithCookie},
       {std::nullopt},
       {"", kFreshToken},
       PageOutcomeKind::RequestFailed},
      {"other failures are not retried",
       {Answer("FAIL_SYS_ILLEGAL_ACCESS::非法请求")},
       {refusedWithCookie},
       {std::string(kToken) + "_1"},
       {kToken},
       PageOutcomeKind::RequestFailed},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.session.bodies = c.bodies;
    f.session.headers = c.headers;
    f.store = c.store;
    const CurrentPage page = FetchCurrentPage(f.session, f.Context(), "abc", 1);
    ASSERT_EQ(f.session.requests.size(), c.signedWith.size()) << c.name;
    for (std::size_t k = 0; k < c.signedWith.size(); ++k) {
      EXPECT_EQ(f.SignedWith(k), c.signedWith[k]) << c.name << " request " << k;
      EXPECT_EQ(f.Query(k, "callback"), "mtopjsonp" + std::to_string(7 + k)) << c.name;
    }
    EXPECT_EQ(page.outcome.kind, c.kind) << c.name;
    if (c.signedWith.size() == 2) {
      // The retry is signed with the clock's time of that moment.
      EXPECT_EQ(f.Query(1, "t"), "1700000001000") << c.name;
      // The same DATA both times.
      EXPECT_EQ(f.Query(0, "data"), f.Query(1, "data")) << c.name;
    }
    EXPECT_EQ(page.listings.size(), c.kind == PageOutcomeKind::Listings ? 1u : 0u) << c.name;
  }
}

TEST(FetchCurrentPage, NoAnswerIsAFailedRequestWithTheSessionsWords) {
  Fixture f;
  f.session.body = [](const testing::CannedSession::Request&) -> std::optional<std::string> {
    return std::nullopt;
  };
  const CurrentPage page = FetchCurrentPage(f.session, f.Context(), "abc", 1);
  EXPECT_EQ(f.session.requests.size(), 1u);
  EXPECT_EQ(page.outcome.kind, PageOutcomeKind::RequestFailed);
  EXPECT_EQ(page.outcome.reason, "could not connect");
  EXPECT_TRUE(page.listings.empty());
  EXPECT_EQ(page.totalPages, 0);
}

TEST(FetchCurrentPage, WallsCarryTheirAddress) {
  Fixture f;
  const std::string punish = "https://h5api.m.taobao.com/_____tmd_____/punish?x5secdata=z";
  f.session.bodies = {Answer("RGV587_ERROR::SM::哎哟喂", R"({"url":")" + punish + "\"}")};
  const CurrentPage page = FetchCurrentPage(f.session, f.Context(), "abc", 1);
  EXPECT_EQ(f.session.requests.size(), 1u);
  EXPECT_EQ(page.outcome.kind, PageOutcomeKind::VerificationRequired);
  EXPECT_EQ(page.outcome.address, punish);
}

}  // namespace
}  // namespace zemlaro
