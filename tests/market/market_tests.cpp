#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/sample-market/market_server.h"

namespace zemlaro::market {
namespace {

// ---- a small libcurl client -------------------------------------------------------------------

struct CurlFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct FetchOptions {
  std::string caFile;
  bool follow = false;
  long timeoutMs = 60000;
  std::vector<std::string> headers;
  size_t abortAfterBytes = 0;   // 0: never
  size_t abortAfterChunks = 0;  // 0: never
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
    for (int i = 0; i < c.perPage; ++i) {
      const SampleListing l = ListingAt(kPhone, c.page, i);
      EXPECT_EQ(titles[i], l.title);
      EXPECT_EQ(ids[i], l.itemId);
      EXPECT_EQ(nicks[i], l.sellerNick);
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
