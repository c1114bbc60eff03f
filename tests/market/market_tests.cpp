#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/sample-market/market_api.h"
#include "tools/sample-market/market_server.h"
#include "tools/support/escape.h"

namespace zemlaro::market {
namespace {

// ---- a small libcurl client -------------------------------------------------------------------

struct CurlFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct ShareFree {
  void operator()(CURLSH* s) const { curl_share_cleanup(s); }
};

struct FetchOptions {
  std::string caFile;
  bool follow = false;
  long timeoutMs = 60000;
  std::vector<std::string> headers;
  size_t abortAfterBytes = 0;   // 0: never
  size_t abortAfterChunks = 0;  // 0: never
  std::string post;             // not empty: a POST of this form body
  CURLSH* cookies = nullptr;    // a cookie store kept between requests
};

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string headers;
  std::vector<size_t> chunkSizes;
  const FetchOptions* options = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* f = static_cast<Fetched*>(user);
  f->body.append(data, size * count);
  f->chunkSizes.push_back(size * count);
  const FetchOptions& o = *f->options;
  if (o.abortAfterBytes && f->body.size() >= o.abortAfterBytes) return 0;
  if (o.abortAfterChunks && f->chunkSizes.size() >= o.abortAfterChunks) return 0;
  return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  static_cast<Fetched*>(user)->headers.append(data, size * count);
  return size * count;
}

Fetched Fetch(const std::string& url, const FetchOptions& o = {}) {
  Fetched f;
  f.options = &o;
  std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
  std::unique_ptr<curl_slist, SlistFree> headers;
  for (const auto& h : o.headers) headers.reset(curl_slist_append(headers.release(), h.c_str()));
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, o.timeoutMs);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, o.follow ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  if (!o.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, o.caFile.c_str());
  if (!o.post.empty()) curl_easy_setopt(c, CURLOPT_POSTFIELDS, o.post.c_str());
  if (o.cookies) {
    curl_easy_setopt(c, CURLOPT_SHARE, o.cookies);
    curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");
  }
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &f);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &f);
  f.code = curl_easy_perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &f.status);
  f.options = nullptr;
  return f;
}

// ---- helpers ----------------------------------------------------------------------------------

// 手机 in UTF-8, escaped as the client sends it.
constexpr char kPhoneEscaped[] = "%E6%89%8B%E6%9C%BA";
constexpr char kPhone[] = "\xE6\x89\x8B\xE6\x9C\xBA";

std::string SearchUrl(const SampleMarket& m, bool tls, int page, const std::string& q) {
  return std::string(tls ? "https://" : "http://") + m.HostAndPort() +
         "/search?data-key=s&data-value=" + std::to_string(44 * (page - 1)) +
         "&ajax=true&_ksTS=1464678556216_793&callback=jsonp10" + std::to_string(page) + "&q=" + q +
         "&imgfile=&js=1&stats_click=search_radio_all:1&initiative_id=staobaoz_20160531&ie=utf8"
         "&bcoffset=1&p4ppushleft=1,48&sort=default&tab=all&loc=&filter=reserve_price[,]";
}

// Every value between `left` and the next double quote, in order.
std::vector<std::string> Cut(const std::string& body, const std::string& left) {
  std::vector<std::string> values;
  for (size_t at = body.find(left); at != std::string::npos; at = body.find(left, at)) {
    at += left.size();
    const size_t end = body.find('"', at);
    if (end == std::string::npos) break;
    values.push_back(body.substr(at, end - at));
    at = end;
  }
  return values;
}

std::vector<std::string> Titles(const std::string& body) { return Cut(body, "\"raw_title\":\""); }

std::string HeaderValue(const RecordedRequest& r, const std::string& name) {
  for (const auto& [n, v] : r.headers) {
    if (n == name) return v;
  }
  return "<none>";
}

// Waits (up to a generous bound) until the server has seen `count` requests.
bool AwaitRequests(const SampleMarket& m, size_t count) {
  for (int i = 0; i < 1000; ++i) {
    if (m.Requests().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

FetchOptions Trusting(const SampleMarket& m) {
  FetchOptions o;
  o.caFile = m.CaFile();
  return o;
}

MarketOptions PageModes(std::map<int, Mode> modes) {
  MarketOptions o;
  o.pageModes = std::move(modes);
  return o;
}

MarketOptions AllPages(Mode mode) {
  MarketOptions o;
  o.defaultMode = mode;
  return o;
}

std::string Escape(const std::string& s) {
  char* e = curl_easy_escape(nullptr, s.data(), static_cast<int>(s.size()));
  std::string out = e ? e : "";
  curl_free(e);
  return out;
}

// The last value of a response header, or empty.
std::string ResponseHeader(const Fetched& f, const std::string& name) {
  std::string value;
  size_t at = 0;
  while (at < f.headers.size()) {
    const size_t end = f.headers.find("\r\n", at);
    const std::string line = f.headers.substr(at, end - at);
    if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
        line[name.size()] == ':') {
      value = line.substr(name.size() + 2);
    }
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return value;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A cookie as libcurl's store holds it.
struct StoredCookie {
  std::string domain;
  bool subdomains = false;
  bool httpOnly = false;
  int64_t expires = 0;  // seconds since the epoch; 0: a session cookie
  std::string value;
};

// A browser's cookie store: cookies set by one answer go with the next requests.
class Browser {
 public:
  Browser() : share_(curl_share_init()) {
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  }
  FetchOptions Options(const SampleMarket& m) const {
    FetchOptions o;
    o.caFile = m.CaFile();
    o.cookies = share_.get();
    return o;
  }
  Fetched Get(const SampleMarket& m, const std::string& url) const {
    return Fetch(url, Options(m));
  }
  Fetched Post(const SampleMarket& m, const std::string& url, const std::string& form) const {
    FetchOptions o = Options(m);
    o.post = form;
    return Fetch(url, o);
  }
  std::map<std::string, StoredCookie> Cookies() const {
    std::map<std::string, StoredCookie> found;
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    curl_easy_setopt(curl.get(), CURLOPT_SHARE, share_.get());
    curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, "");
    curl_slist* list = nullptr;
    curl_easy_getinfo(curl.get(), CURLINFO_COOKIELIST, &list);
    for (curl_slist* l = list; l; l = l->next) {
      // domain, subdomains, path, secure, expires, name, value; tab-separated
      std::vector<std::string> f;
      std::string line = l->data;
      for (size_t at = 0;;) {
        const size_t tab = line.find('\t', at);
        f.push_back(line.substr(at, tab - at));
        if (tab == std::string::npos) break;
        at = tab + 1;
      }
      if (f.size() != 7) continue;
      StoredCookie c;
      const std::string httpOnlyMark = "#HttpOnly_";
      c.httpOnly = f[0].rfind(httpOnlyMark, 0) == 0;
      c.domain = c.httpOnly ? f[0].substr(httpOnlyMark.size()) : f[0];
      c.subdomains = f[1] == "TRUE";
      c.expires = std::stoll(f[4]);
      c.value = f[6];
      found[f[5]] = c;
    }
    curl_slist_free_all(list);
    return found;
  }
  std::string Value(const std::string& name) const {
    const auto cookies = Cookies();
    const auto it = cookies.find(name);
    return it == cookies.end() ? std::string() : it->second.value;
  }

 private:
  std::unique_ptr<CURLSH, ShareFree> share_;
};

std::string Origin(const SampleMarket& m) { return "https://" + m.HostAndPort(); }

// Signs in through the login form, as a person would.
void SignIn(const SampleMarket& m, const Browser& b) {
  const Fetched f = b.Post(m, Origin(m) + kLoginPath,
                           "username=someone&password=secret&redirectURL=" + Escape("/search"));
  ASSERT_EQ(f.code, CURLE_OK);
  ASSERT_EQ(f.status, 302);
}

// ---- the signed API: a client as the contract describes it ---------------------------------

using Json = nlohmann::json;

constexpr char kAppKey[] = "12574478";

std::string ApiData(const std::string& keywordEscaped, int page, bool complete = true) {
  Json params = {{"page", page},     {"n", 48},      {"pageSize", 48}, {"q", keywordEscaped},
                 {"sort", "_coefp"}, {"tab", "all"}, {"style", "list"}};
  if (complete) params["m"] = "pc";
  return Json{{"appId", "34385"}, {"params", params.dump()}}.dump();
}

std::string ApiUrl(const SampleMarket& m, const std::string& data, const std::string& t,
                   const std::string& sign, int callback) {
  return Origin(m) + kApiPath + "?jsv=2.7.2&appKey=" + kAppKey + "&t=" + t + "&sign=" + sign +
         "&api=mtop.relationrecommend.wirelessrecommend.recommend&v=2.0&type=jsonp"
         "&dataType=jsonp&callback=mtopjsonp" +
         std::to_string(callback) + "&data=" + Escape(data);
}

struct ApiAnswer {
  Fetched fetched;
  std::string callback;  // the name before "("
  Json json;             // discarded when the body is not "name(JSON)"
  std::string Ret() const {
    return json.is_object() && json["ret"].is_array() && !json["ret"].empty()
               ? json["ret"][0].get<std::string>()
               : std::string("<no ret>");
  }
};

ApiAnswer ReadApi(Fetched f) {
  ApiAnswer a;
  const size_t open = f.body.find('(');
  if (open != std::string::npos && f.body.size() > open + 1 && f.body.back() == ')') {
    a.callback = f.body.substr(0, open);
    a.json = Json::parse(f.body.substr(open + 1, f.body.size() - open - 2), nullptr, false);
  }
  a.fetched = std::move(f);
  return a;
}

std::string BrowserToken(const Browser& b) {
  return std::string(ApiTokenOf(b.Value(kApiTokenCookie)));
}

// One request signed with the browser's current token and the clock's time.
ApiAnswer ApiOnce(const SampleMarket& m, const Browser& b, const std::string& data) {
  const std::string t = std::to_string(NowMs());
  return ReadApi(b.Get(m, ApiUrl(m, data, t, ApiSign(BrowserToken(b), t, kAppKey, data), 1)));
}

bool IsTokenRefusal(const ApiAnswer& a) { return a.Ret().rfind("FAIL_SYS_TOKEN_", 0) == 0; }

// A request, and after a token refusal one retry with the fresh token.
ApiAnswer ApiSearch(const SampleMarket& m, const Browser& b, const std::string& data) {
  ApiAnswer a = ApiOnce(m, b, data);
  return IsTokenRefusal(a) ? ApiOnce(m, b, data) : a;
}

bool IsCard(const Json& item) { return !item.contains("title") || item.contains("customCardType"); }

std::string Unmarked(std::string title) {
  for (const std::string mark : {"<span class=H>", "</span>"}) {
    for (size_t at; (at = title.find(mark)) != std::string::npos;) title.erase(at, mark.size());
  }
  return title;
}

std::string StringOr(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The listings of a legacy answer, each read within its own object.
Json LegacyAuctions(const std::string& body) {
  const size_t open = body.find('(');
  if (open == std::string::npos || body.size() < open + 3) return Json();
  const Json j = Json::parse(body.substr(open + 1, body.size() - open - 3), nullptr, false);
  if (j.is_discarded()) return Json();
  return j["mods"]["itemlist"]["data"]["auctions"];
}

// ---- listings ---------------------------------------------------------------------------------

TEST(SampleListings, AreDeterministicDistinctAndVaried) {
  EXPECT_EQ(ListingAt("abc", 3, 7).title, ListingAt("abc", 3, 7).title);
  EXPECT_EQ(ListingAt("abc", 3, 7).itemId, ListingAt("abc", 3, 7).itemId);
  EXPECT_EQ(ListingAt("abc", 3, 7).sellerNick, ListingAt("abc", 3, 7).sellerNick);

  std::set<std::string> ids;
  int asciiNicks = 0, chineseNicks = 0;
  for (const std::string keyword : {"abc", kPhone}) {
    for (int page = 1; page <= 3; ++page) {
      for (int i = 0; i < 44; ++i) {
        const SampleListing l = ListingAt(keyword, page, i);
        EXPECT_NE(l.title.find(keyword), std::string::npos) << l.title;
        EXPECT_EQ(l.title.find('"'), std::string::npos);
        EXPECT_NE(l.title.front(), ' ');
        EXPECT_NE(l.title.back(), ' ');
        EXPECT_FALSE(l.itemId.empty());
        EXPECT_TRUE(std::all_of(l.itemId.begin(), l.itemId.end(), ::isdigit)) << l.itemId;
        ids.insert(l.itemId);
        const bool ascii = std::any_of(l.sellerNick.begin(), l.sellerNick.end(), ::isalpha);
        const bool chinese = std::any_of(l.sellerNick.begin(), l.sellerNick.end(), [](char c) {
          return static_cast<unsigned char>(c) >= 0x80;
        });
        asciiNicks += ascii;
        chineseNicks += chinese;
      }
    }
  }
  EXPECT_EQ(ids.size(), 2u * 3 * 44);
  // A fragment filter on either kind of text keeps part of the rows, not all or none.
  EXPECT_GT(asciiNicks, 0);
  EXPECT_LT(asciiNicks, 2 * 3 * 44);
  EXPECT_GT(chineseNicks, 0);
  EXPECT_LT(chineseNicks, 2 * 3 * 44);
}

TEST(SampleListings, CarryPriceSalesAndLocationExceptOnTheirGaps) {
  for (int i = 0; i < 44; ++i) {
    SCOPED_TRACE(i);
    const SampleListing l = ListingAt(kPhone, 2, i);
    EXPECT_EQ(l.price.empty(), i % 7 == 6);
    EXPECT_EQ(l.location.empty(), i % 11 == 10);
    EXPECT_EQ(l.sales.empty(), i % 13 == 12);
    if (!l.price.empty()) {
      const size_t dot = l.price.find('.');
      ASSERT_NE(dot, std::string::npos) << l.price;
      EXPECT_EQ(l.price.size() - dot, 3u) << l.price;
      EXPECT_EQ(l.price.find_first_not_of("0123456789."), std::string::npos) << l.price;
    }
    if (!l.sales.empty()) {
      EXPECT_NE(l.sales.find("人付款"), std::string::npos) << l.sales;
    }
  }
  EXPECT_EQ(ListingAt("abc", 1, 3).price, ListingAt("abc", 1, 3).price);
  EXPECT_EQ(ListingAt("abc", 1, 3).location, ListingAt("abc", 1, 3).location);
}

// ---- normal answers over HTTPS ----------------------------------------------------------------

TEST(SampleMarketHttps, NormalPagesCarryTheListingsOfListingAt) {
  struct Case {
    int page;
    int perPage;
  };
  for (const Case c : {Case{1, 44}, Case{2, 44}, Case{7, 3}}) {
    SCOPED_TRACE(c.page);
    MarketOptions options;
    options.listingsPerPage = c.perPage;
    SampleMarket m(options);
    ASSERT_TRUE(m.Start());
    ASSERT_FALSE(m.CaFile().empty());
    // The certificate is trusted only through its own file, with full verification.
    const Fetched f = Fetch(SearchUrl(m, true, c.page, kPhoneEscaped), Trusting(m));
    ASSERT_EQ(f.code, CURLE_OK) << curl_easy_strerror(f.code);
    EXPECT_EQ(f.status, 200);
    EXPECT_EQ(f.body.rfind("jsonp10" + std::to_string(c.page) + "(", 0), 0u);
    const auto titles = Titles(f.body);
    const auto ids = Cut(f.body, "\"nid\":\"");
    const auto nicks = Cut(f.body, "\"nick\":\"");
    ASSERT_EQ(titles.size(), static_cast<size_t>(c.perPage));
    ASSERT_EQ(ids.size(), titles.size());
    ASSERT_EQ(nicks.size(), titles.size());
    const Json auctions = LegacyAuctions(f.body);
    ASSERT_TRUE(auctions.is_array());
    ASSERT_EQ(auctions.size(), titles.size());
    for (int i = 0; i < c.perPage; ++i) {
      SCOPED_TRACE(i);
      const SampleListing l = ListingAt(kPhone, c.page, i);
      EXPECT_EQ(titles[i], l.title);
      EXPECT_EQ(ids[i], l.itemId);
      EXPECT_EQ(nicks[i], l.sellerNick);
      // A listing that lacks a field lacks its key.
      const Json& a = auctions[static_cast<size_t>(i)];
      EXPECT_EQ(a.contains("view_price"), !l.price.empty());
      EXPECT_EQ(a.contains("view_sales"), !l.sales.empty());
      EXPECT_EQ(a.contains("item_loc"), !l.location.empty());
      EXPECT_EQ(StringOr(a, "view_price"), l.price);
      EXPECT_EQ(StringOr(a, "view_sales"), l.sales);
      EXPECT_EQ(StringOr(a, "item_loc"), l.location);
    }
  }
}

TEST(SampleMarketHttps, ServesItemPages) {
  SampleMarket m;
  ASSERT_TRUE(m.Start());
  const Fetched item = Fetch("https://" + m.HostAndPort() + "/item.htm?id=12345", Trusting(m));
  ASSERT_EQ(item.code, CURLE_OK);
  EXPECT_EQ(item.status, 200);
  EXPECT_NE(item.body.find("12345"), std::string::npos);
}

// ---- modes ------------------------------------------------------------------------------------

TEST(SampleMarketModes, AreChosenByPage) {
  MarketOptions options;
  options.defaultMode = Mode::Empty;
  options.pageModes = {{1, Mode::Normal}, {3, Mode::LoginPage}, {4, Mode::Huge}};
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  m.SetPageMode(5, Mode::Normal);

  struct Case {
    int page;
    size_t titles;
    const char* contains;
  };
  for (const Case c : {Case{1, 44, "jsonp101("}, Case{2, 0, "jsonp102("},
                       Case{3, 0, "\xE4\xBA\xB2\xEF\xBC\x8C\xE8\xAF\xB7\xE7\x99\xBB\xE5\xBD\x95"},
                       Case{4, kHugeListingCount, "jsonp104("}, Case{5, 44, "jsonp105("},
                       Case{6, 0, "\"auctions\":[]"}}) {
    SCOPED_TRACE(c.page);
    const Fetched f = Fetch(SearchUrl(m, true, c.page, "abc"), Trusting(m));
    ASSERT_EQ(f.code, CURLE_OK);
    EXPECT_EQ(f.status, 200);
    EXPECT_EQ(Titles(f.body).size(), c.titles);
    EXPECT_NE(f.body.find(c.contains), std::string::npos);
    if (c.titles == 0) {
      for (const char* marker : {"\"nid\":\"", "\"nick\":\"", "raw_title"}) {
        EXPECT_EQ(f.body.find(marker), std::string::npos) << marker;
      }
    }
  }
}

TEST(SampleMarketModes, GarbageHoldsBadUtf8ALongTitleAndAZeroByte) {
  SampleMarket m(AllPages(Mode::Garbage));
  ASSERT_TRUE(m.Start());
  const Fetched f = Fetch(SearchUrl(m, true, 1, "abc"), Trusting(m));
  ASSERT_EQ(f.code, CURLE_OK);
  const size_t zero = f.body.find('\0');
  ASSERT_NE(zero, std::string::npos);
  EXPECT_EQ(Titles(f.body.substr(0, zero)).size(), static_cast<size_t>(kGarbageZeroAfterIndex + 1));
  const auto titles = Titles(f.body);
  ASSERT_EQ(titles.size(), 44u);
  EXPECT_EQ(titles[kGarbageLongTitleIndex].size(), static_cast<size_t>(kGarbageLongTitleBytes));
  EXPECT_EQ(titles[kGarbageBadUtf8Index].rfind(ListingAt("abc", 1, kGarbageBadUtf8Index).title, 0),
            0u);
  EXPECT_NE(titles[kGarbageBadUtf8Index].find('\xFF'), std::string::npos);
  EXPECT_EQ(titles[5], ListingAt("abc", 1, 5).title);
}

TEST(SampleMarketModes, RedirectsOnceOrForever) {
  SampleMarket m(PageModes({{1, Mode::RedirectOnce}, {2, Mode::RedirectLoop}}));
  ASSERT_TRUE(m.Start());
  FetchOptions follow = Trusting(m);
  follow.follow = true;
  const Fetched once = Fetch(SearchUrl(m, true, 1, "abc"), follow);
  ASSERT_EQ(once.code, CURLE_OK);
  EXPECT_EQ(Titles(once.body).size(), 44u);
  auto requests = m.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target.rfind(requests[0].target, 0), 0u);
  EXPECT_NE(requests[1].target.find("market_redirected=1"), std::string::npos);

  const Fetched loop = Fetch(SearchUrl(m, true, 2, "abc"), follow);
  EXPECT_EQ(loop.code, CURLE_TOO_MANY_REDIRECTS);
  requests = m.Requests();
  ASSERT_EQ(requests.size(), 2u + 6u);
  EXPECT_EQ(requests[7].target, requests[2].target);
}

TEST(SampleMarketModes, ResetCutsTheAnswerShort) {
  SampleMarket m(AllPages(Mode::Reset));
  ASSERT_TRUE(m.Start());
  const Fetched f = Fetch(SearchUrl(m, true, 1, "abc"), Trusting(m));
  EXPECT_TRUE(f.code == CURLE_RECV_ERROR || f.code == CURLE_PARTIAL_FILE)
      << curl_easy_strerror(f.code);
  EXPECT_EQ(f.status, 200);
  EXPECT_GT(f.body.size(), 0u);
  EXPECT_LT(Titles(f.body).size(), 44u);
}

TEST(SampleMarketModes, DripSendsOneByteAtATimeAndEndlessNeverEnds) {
  MarketOptions options = PageModes({{1, Mode::Drip}, {2, Mode::EndlessBody}});
  options.dripInterval = std::chrono::milliseconds(5);
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  FetchOptions fewChunks = Trusting(m);
  fewChunks.abortAfterChunks = 6;
  const Fetched drip = Fetch(SearchUrl(m, true, 1, "abc"), fewChunks);
  EXPECT_EQ(drip.code, CURLE_WRITE_ERROR);
  EXPECT_EQ(drip.chunkSizes, std::vector<size_t>(6, 1));
  EXPECT_EQ(drip.body, "jsonp1");

  const size_t enough = 4u << 20;
  FetchOptions manyBytes = Trusting(m);
  manyBytes.abortAfterBytes = enough;
  const Fetched endless = Fetch(SearchUrl(m, true, 2, "abc"), manyBytes);
  EXPECT_EQ(endless.code, CURLE_WRITE_ERROR);
  EXPECT_GE(endless.body.size(), enough);
  EXPECT_GT(Titles(endless.body).size(), 44u);
}

// ---- recording and cookies (plain HTTP) -------------------------------------------------------

TEST(SampleMarketPlain, RecordsRequestsAndNoticesItsCookieComingBack) {
  MarketOptions options;
  options.tls = false;
  options.setCookies = true;
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  EXPECT_TRUE(m.CaFile().empty());
  const std::string url = SearchUrl(m, false, 2, kPhoneEscaped);
  const auto withHeaders = [](std::vector<std::string> headers) {
    FetchOptions o;
    o.headers = std::move(headers);
    return o;
  };

  const Fetched first = Fetch(url, withHeaders({"X-Probe: one", "Accept: */*"}));
  ASSERT_EQ(first.code, CURLE_OK);
  EXPECT_EQ(Titles(first.body).size(), 44u);
  const std::string setCookie = "Set-Cookie: market_session=";
  const size_t at = first.headers.find(setCookie);
  ASSERT_NE(at, std::string::npos) << first.headers;
  const size_t semi = first.headers.find(';', at);
  const std::string value =
      first.headers.substr(at + setCookie.size(), semi - at - setCookie.size());
  EXPECT_EQ(first.headers.compare(semi, 9, "; Path=/\r"), 0);

  ASSERT_EQ(Fetch(url, withHeaders({"Cookie: a=1; market_session=" + value})).code, CURLE_OK);
  ASSERT_EQ(Fetch(url, withHeaders({"Cookie: market_session=forged"})).code, CURLE_OK);

  const auto requests = m.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, url.substr(url.find("/search")));
  EXPECT_EQ(HeaderValue(requests[0], "X-Probe"), "one");
  EXPECT_EQ(HeaderValue(requests[0], "Accept"), "*/*");
  EXPECT_EQ(HeaderValue(requests[0], "Host"), m.HostAndPort());
  EXPECT_EQ(HeaderValue(requests[0], "REMOTE_ADDR"), "<none>");
  EXPECT_FALSE(requests[0].cookieCameBack);
  EXPECT_TRUE(requests[1].cookieCameBack);
  EXPECT_FALSE(requests[2].cookieCameBack);
}

// ---- login wall -------------------------------------------------------------------------------

TEST(SampleMarketLoginWall, SearchGoesToTheFormWhoseSignInLetsItAnswer) {
  MarketOptions options;
  options.loginWall = true;
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string search = SearchUrl(m, true, 1, "abc");

  const Fetched walled = b.Get(m, search);
  ASSERT_EQ(walled.code, CURLE_OK);
  EXPECT_EQ(walled.status, 302);
  EXPECT_TRUE(Titles(walled.body).empty());
  const std::string login = Origin(m) + kLoginPath + "?redirectURL=" + Escape(search);
  EXPECT_EQ(ResponseHeader(walled, "Location"), login);
  const std::string firstRefresh = b.Value(kRefreshedCookieName);
  EXPECT_FALSE(firstRefresh.empty());

  const Fetched form = b.Get(m, login);
  ASSERT_EQ(form.code, CURLE_OK);
  EXPECT_EQ(form.status, 200);
  for (const std::string& part :
       {std::string("action=\"/member/login.jhtml\" method=\"post\""),
        std::string("id=\"username\" name=\"username\""),
        std::string("id=\"password\" name=\"password\""), std::string("type=\"submit\""),
        "name=\"redirectURL\" value=\"" + HtmlEscaped(search) + "\""}) {
    EXPECT_NE(form.body.find(part), std::string::npos) << part;
  }

  const Fetched signIn =
      b.Post(m, Origin(m) + kLoginPath,
             "username=" + Escape(kPhone) + "&password=anything&redirectURL=" + Escape(search));
  ASSERT_EQ(signIn.code, CURLE_OK);
  EXPECT_EQ(signIn.status, 302);
  EXPECT_EQ(ResponseHeader(signIn, "Location"), search);
  const auto cookies = b.Cookies();
  for (std::string_view name : kSessionCookieNames) {
    SCOPED_TRACE(name);
    const auto it = cookies.find(std::string(name));
    ASSERT_NE(it, cookies.end());
    EXPECT_TRUE(it->second.httpOnly);
    EXPECT_EQ(it->second.expires, 0);
    EXPECT_EQ(it->second.domain, "127.0.0.1");
    EXPECT_FALSE(it->second.subdomains);
  }
  ASSERT_TRUE(cookies.count(kTokenCookieName));
  EXPECT_GT(cookies.at(kTokenCookieName).expires, NowMs() / 1000);

  const Fetched answered = b.Get(m, search);
  ASSERT_EQ(answered.code, CURLE_OK);
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(Titles(answered.body).size(), 44u);
  const std::string secondRefresh = b.Value(kRefreshedCookieName);
  EXPECT_FALSE(secondRefresh.empty());
  EXPECT_NE(secondRefresh, firstRefresh);

  // Session cookies pass only as the three values of one sign-in.
  const std::string c2 = cookies.at("cookie2").value, sg = cookies.at("sgcookie").value,
                    tb = cookies.at("_tb_token_").value;
  for (const std::string& cookie : {"cookie2=" + sg + "; sgcookie=" + c2 + "; _tb_token_=" + tb,
                                    "cookie2=" + c2 + "; sgcookie=" + sg}) {
    FetchOptions forged = Trusting(m);
    forged.headers = {"Cookie: " + cookie};
    EXPECT_EQ(Fetch(search, forged).status, 302) << cookie;
  }
}

TEST(SampleMarketLoginWall, TheApiWantsTheSignInAndNoTokenMintedBeforeIt) {
  MarketOptions options;
  options.loginWall = true;
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string data = ApiData(kPhoneEscaped, 1);

  const ApiAnswer walled = ApiSearch(m, b, data);
  EXPECT_EQ(walled.Ret(), kApiRetUserValidate);
  const std::string url = StringOr(walled.json["data"], "url");
  EXPECT_EQ(url.rfind(Origin(m) + kLoginPath + "?redirectURL=", 0), 0u) << url;
  const Fetched form = b.Get(m, url);
  EXPECT_EQ(form.status, 200);
  EXPECT_NE(form.body.find("id=\"username\""), std::string::npos);

  const std::string refreshed = b.Value(kRefreshedCookieName);
  SignIn(m, b);
  const ApiAnswer stale = ApiOnce(m, b, data);
  EXPECT_EQ(stale.Ret(), kApiRetTokenExpired);
  const ApiAnswer answered = ApiOnce(m, b, data);
  EXPECT_EQ(answered.Ret(), kApiRetSuccess);
  EXPECT_NE(b.Value(kRefreshedCookieName), refreshed);
}

// ---- verification -----------------------------------------------------------------------------

TEST(SampleMarketVerification, BothServicesAnswerOnceThePunishPageButtonIsPressed) {
  MarketOptions options;
  options.verificationWall = true;
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string search = SearchUrl(m, true, 1, "abc");
  const std::string data = ApiData(kPhoneEscaped, 1);
  const std::string punishPrefix = Origin(m) + kPunishPath + "?x5secdata=";

  const Fetched walled = b.Get(m, search);
  ASSERT_EQ(walled.code, CURLE_OK);
  EXPECT_EQ(walled.status, 200);
  const Json verification = Json::parse(walled.body, nullptr, false);
  ASSERT_TRUE(verification.is_object()) << walled.body;
  EXPECT_EQ(StringOr(verification, "rgv587_flag"), "sm");
  const std::string punish = StringOr(verification, "url");
  ASSERT_EQ(punish.rfind(punishPrefix, 0), 0u) << punish;
  const ApiAnswer apiWalled = ApiSearch(m, b, data);
  EXPECT_EQ(apiWalled.Ret(), kApiRetBlock);
  EXPECT_EQ(StringOr(apiWalled.json["data"], "url").rfind(punishPrefix, 0), 0u);

  const Fetched page = b.Get(m, punish);
  EXPECT_EQ(page.status, 200);
  const size_t dataEnd = punish.find('&', punishPrefix.size());
  const std::string x5secData = punish.substr(punishPrefix.size(), dataEnd - punishPrefix.size());
  for (const std::string& part :
       {std::string("action=\"/punish\" method=\"post\""), std::string("type=\"submit\""),
        "name=\"x5secdata\" value=\"" + x5secData + "\"",
        "name=\"redirectURL\" value=\"" + HtmlEscaped(search) + "\""}) {
    EXPECT_NE(page.body.find(part), std::string::npos) << part;
  }

  const Fetched pressed = b.Post(m, Origin(m) + kPunishPath,
                                 "x5secdata=" + x5secData + "&redirectURL=" + Escape(search));
  EXPECT_EQ(pressed.status, 302);
  EXPECT_EQ(ResponseHeader(pressed, "Location"), search);
  EXPECT_FALSE(b.Value(kVerificationCookieName).empty());
  EXPECT_EQ(Titles(b.Get(m, search).body).size(), 44u);
  EXPECT_EQ(ApiOnce(m, b, data).Ret(), kApiRetSuccess);

  FetchOptions forged = Trusting(m);
  forged.headers = {"Cookie: x5sec=forged"};
  EXPECT_NE(Fetch(search, forged).body.find("rgv587_flag"), std::string::npos);
}

// ---- the signed API ---------------------------------------------------------------------------

TEST(SampleMarketApi, SignIsTheMd5OfTokenTimeAppKeyAndData) {
  struct Case {
    const char *token, *t, *appKey, *data, *md5;
  };
  for (const Case c : {
           Case{"0123456789abcdef0123456789abcdef", "1700000000000", "12574478",
                R"({"appId":"34385","params":"{\"q\":\"%E6%89%8B\"}"})",
                "3611e9893a932d5aee9db9f581772957"},
           Case{"", "", "", "", "9c553730ef5b6c8c542bfd31b5e25b69"},
           Case{"t", "1", "k", kPhone, "252fc91e3953f355cc285c1b87319357"},
       }) {
    EXPECT_EQ(ApiSign(c.token, c.t, c.appKey, c.data), c.md5) << c.data;
  }
  EXPECT_EQ(ApiTokenOf("0123abcd_1700000000000"), "0123abcd");
  EXPECT_EQ(ApiTokenOf("0123abcd"), "0123abcd");
}

TEST(SampleMarketApi, HandsOutATokenThenAnswersOnlyRequestsSignedWithIt) {
  SampleMarket m;
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string data = ApiData(kPhoneEscaped, 1);

  const ApiAnswer refused = ApiOnce(m, b, data);
  ASSERT_EQ(refused.fetched.code, CURLE_OK);
  EXPECT_EQ(refused.callback, "mtopjsonp1");
  EXPECT_EQ(refused.Ret(), kApiRetTokenEmpty);
  const auto isHex = [](const std::string& s) {
    return s.find_first_not_of("0123456789abcdef") == std::string::npos;
  };
  const std::string tokenCookie = b.Value(kApiTokenCookie);
  ASSERT_EQ(tokenCookie.size(), 32u + 1 + 13) << "<32 hex>_<expiry ms>";
  EXPECT_TRUE(isHex(tokenCookie.substr(0, 32)));
  EXPECT_EQ(tokenCookie[32], '_');
  EXPECT_GT(std::stoll(tokenCookie.substr(33)), NowMs());
  const std::string enc = b.Value(kApiTokenEncCookie);
  EXPECT_EQ(enc.size(), 32u);
  EXPECT_TRUE(isHex(enc));

  const ApiAnswer answered = ApiOnce(m, b, data);
  ASSERT_EQ(answered.Ret(), kApiRetSuccess);
  const Json& items = answered.json["data"]["itemsArray"];
  ASSERT_TRUE(items.is_array());
  const auto cards = std::count_if(items.begin(), items.end(), IsCard);
  EXPECT_EQ(static_cast<int>(items.size()) - cards, kApiPageSize);
  EXPECT_GT(cards, 0);
  EXPECT_EQ(StringOr(answered.json["data"]["mainInfo"], "totalPage"), "100");

  const std::string token = BrowserToken(b);
  const std::string t = std::to_string(NowMs());
  struct Case {
    const char* what;
    std::string sign;
  };
  for (const Case& c : {
           Case{"another token", ApiSign("0123456789abcdef0123456789abcdef", t, kAppKey, data)},
           Case{"another time", ApiSign(token, "1", kAppKey, data)},
           Case{"another app key", ApiSign(token, t, "12574479", data)},
           Case{"other data", ApiSign(token, t, kAppKey, ApiData(kPhoneEscaped, 2))},
           Case{"no sign", ""},
       }) {
    EXPECT_EQ(ReadApi(b.Get(m, ApiUrl(m, data, t, c.sign, 2))).Ret(), kApiRetBadSign) << c.what;
  }
  EXPECT_EQ(ApiOnce(m, b, ApiData(kPhoneEscaped, 1, false)).Ret(), kApiRetBadParams);

  FetchOptions forged = Trusting(m);
  forged.headers = {std::string("Cookie: ") + kApiTokenCookie +
                    "=0123456789abcdef0123456789abcdef_" + std::to_string(NowMs() + 600000)};
  const std::string forgedSign = ApiSign("0123456789abcdef0123456789abcdef", t, kAppKey, data);
  EXPECT_EQ(ReadApi(Fetch(ApiUrl(m, data, t, forgedSign, 3), forged)).Ret(), kApiRetTokenEmpty);
}

TEST(SampleMarketApi, AnExpiredTokenIsRefusedAsExpiredWithAFreshOne) {
  MarketOptions options;
  options.apiTokenLifetime = std::chrono::milliseconds(0);
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string data = ApiData(kPhoneEscaped, 1);
  EXPECT_EQ(ApiOnce(m, b, data).Ret(), kApiRetTokenEmpty);
  const std::string first = b.Value(kApiTokenCookie);
  EXPECT_EQ(ApiOnce(m, b, data).Ret(), kApiRetTokenExpired);
  EXPECT_NE(b.Value(kApiTokenCookie), first);
}

TEST(SampleMarketApi, WhenTheClockIsCheckedATimeFarFromItIsABadSign) {
  MarketOptions options;
  options.apiClockTolerance = std::chrono::minutes(5);
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string data = ApiData(kPhoneEscaped, 1);
  ASSERT_EQ(ApiOnce(m, b, data).Ret(), kApiRetTokenEmpty);
  const std::string token = BrowserToken(b);
  const std::string late = std::to_string(NowMs() - 10 * 60 * 1000);
  EXPECT_EQ(ReadApi(b.Get(m, ApiUrl(m, data, late, ApiSign(token, late, kAppKey, data), 2))).Ret(),
            kApiRetBadSign);
  EXPECT_EQ(ApiOnce(m, b, data).Ret(), kApiRetSuccess);
}

TEST(SampleMarketApi, AnswersEachPageByItsMode) {
  MarketOptions options;
  options.apiPageModes = {{2, ApiMode::Empty}, {3, ApiMode::Block}, {4, ApiMode::FlowLimit}};
  options.apiTotalPages = 6;
  SampleMarket m(options);
  ASSERT_TRUE(m.Start());
  m.SetApiPageMode(5, ApiMode::SessionExpired);
  Browser b;
  ASSERT_EQ(ApiOnce(m, b, ApiData(kPhoneEscaped, 1)).Ret(), kApiRetTokenEmpty);

  struct Case {
    int page;
    const char* ret;
    int listings;
    bool punishUrl;
  };
  for (const Case c :
       {Case{1, kApiRetSuccess, kApiPageSize, false}, Case{2, kApiRetSuccess, 0, false},
        Case{3, kApiRetBlock, 0, true}, Case{4, kApiRetFlowLimit, 0, false},
        Case{5, kApiRetSessionExpired, 0, false}, Case{6, kApiRetSuccess, kApiPageSize, false},
        Case{7, kApiRetSuccess, 0, false}}) {
    SCOPED_TRACE(c.page);
    const ApiAnswer a = ApiOnce(m, b, ApiData(kPhoneEscaped, c.page));
    EXPECT_EQ(a.Ret(), c.ret);
    const Json& d = a.json["data"];
    const Json items = d.contains("itemsArray") ? d["itemsArray"] : Json::array();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const Json& i) { return !IsCard(i); }),
              c.listings);
    if (std::string(c.ret) == kApiRetSuccess) {
      EXPECT_EQ(StringOr(d["mainInfo"], "totalPage"), "6");
      EXPECT_EQ(StringOr(d["mainInfo"], "page"), std::to_string(c.page));
    }
    EXPECT_EQ(StringOr(d, "url").rfind(Origin(m) + kPunishPath + "?x5secdata=", 0) == 0,
              c.punishUrl);
  }
}

TEST(SampleMarketApi, PagesYieldTheListingsOfApiListingsOf) {
  SampleMarket m;
  ASSERT_TRUE(m.Start());
  Browser b;
  const ApiAnswer a = ApiSearch(m, b, ApiData(kPhoneEscaped, 3));
  ASSERT_EQ(a.Ret(), kApiRetSuccess);
  const Json& items = a.json["data"]["itemsArray"];
  ASSERT_TRUE(items.is_array());

  std::vector<SampleListing> read;
  int marked = 0, withoutNick = 0, shopNameDiffers = 0, lacking = 0;
  std::set<std::pair<bool, bool>> cardKinds;  // (has a title, has a customCardType)
  for (const Json& item : items) {
    if (IsCard(item)) {
      cardKinds.emplace(item.contains("title"), item.contains("customCardType"));
      continue;
    }
    SampleListing l;
    const std::string title = StringOr(item, "title");
    l.title = Unmarked(title);
    marked += title != l.title;
    l.itemId = StringOr(item, "item_id");
    const std::string shopName = StringOr(item["shopInfo"], "title");
    l.sellerNick = StringOr(item, "nick");
    if (l.sellerNick.empty()) {
      ++withoutNick;
      l.sellerNick = shopName;
    } else {
      shopNameDiffers += shopName != l.sellerNick;
    }
    l.price = StringOr(item, "price");
    l.sales = StringOr(item, "realSales");
    l.location = StringOr(item, "procity");
    lacking += l.price.empty() || l.sales.empty() || l.location.empty();
    read.push_back(l);
  }

  const std::vector<SampleListing> expected = ApiListingsOf(kPhone, 3);
  ASSERT_EQ(expected.size(), static_cast<size_t>(kApiPageSize));
  ASSERT_EQ(read.size(), expected.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read[i].title, expected[i].title);
    EXPECT_NE(read[i].title.find(kPhone), std::string::npos);
    EXPECT_EQ(read[i].itemId, expected[i].itemId);
    EXPECT_EQ(read[i].sellerNick, expected[i].sellerNick);
    EXPECT_EQ(read[i].price, expected[i].price);
    EXPECT_EQ(read[i].sales, expected[i].sales);
    EXPECT_EQ(read[i].location, expected[i].location);
  }
  EXPECT_EQ(marked, kApiPageSize);
  EXPECT_GT(withoutNick, 0);
  EXPECT_EQ(shopNameDiffers, kApiPageSize - withoutNick);
  EXPECT_GT(lacking, 0);
  EXPECT_EQ(cardKinds,
            (std::set<std::pair<bool, bool>>{{true, true}, {false, true}, {false, false}}));
}

TEST(SampleMarketApi, RecordsTheTimeEachRequestArrived) {
  SampleMarket m;
  ASSERT_TRUE(m.Start());
  Browser b;
  const std::string data = ApiData(kPhoneEscaped, 1);
  const auto before = std::chrono::steady_clock::now();
  ApiOnce(m, b, data);
  ApiOnce(m, b, data);
  const auto between = std::chrono::steady_clock::now();
  const auto gap = std::chrono::milliseconds(50);
  std::this_thread::sleep_for(gap);  // a pause the records must show, at the least
  ApiOnce(m, b, data);
  const auto after = std::chrono::steady_clock::now();

  const auto requests = m.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].target.rfind(kApiPath, 0), 0u);
  EXPECT_LE(before, requests[0].at);
  EXPECT_LE(requests[0].at, requests[1].at);
  EXPECT_LE(requests[1].at, between);
  EXPECT_GE(requests[2].at - requests[1].at, gap);
  EXPECT_LE(requests[2].at, after);
}

// ---- stopping ---------------------------------------------------------------------------------

TEST(SampleMarketStop, EndsHangingAnswersAndTheyHoldUpNoOtherRequest) {
  for (const Mode mode : {Mode::Silent, Mode::Drip, Mode::EndlessBody}) {
    SCOPED_TRACE(static_cast<int>(mode));
    MarketOptions options = PageModes({{2, mode}});
    options.dripInterval = std::chrono::seconds(30);
    SampleMarket m(options);
    ASSERT_TRUE(m.Start());
    FetchOptions patient = Trusting(m);
    patient.timeoutMs = 120000;
    std::vector<std::future<Fetched>> hanging;
    for (int i = 0; i < 3; ++i) {
      hanging.push_back(std::async(std::launch::async,
                                   [&] { return Fetch(SearchUrl(m, true, 2, "abc"), patient); }));
    }
    ASSERT_TRUE(AwaitRequests(m, 3));
    // A normal page still answers while three answers hang.
    const Fetched normal = Fetch(SearchUrl(m, true, 1, "abc"), Trusting(m));
    EXPECT_EQ(normal.code, CURLE_OK);
    EXPECT_EQ(Titles(normal.body).size(), 44u);

    m.Stop();
    for (auto& h : hanging) {
      // Far below the client's own two-minute limit: the stop ended the answer.
      ASSERT_EQ(h.wait_for(std::chrono::seconds(20)), std::future_status::ready);
      const Fetched f = h.get();
      EXPECT_NE(f.code, CURLE_OK);
      EXPECT_NE(f.code, CURLE_OPERATION_TIMEDOUT);
      if (mode == Mode::Silent) {
        EXPECT_EQ(f.status, 0) << "an answer came after all";
      }
    }
  }
}

}  // namespace
}  // namespace zemlaro::market
