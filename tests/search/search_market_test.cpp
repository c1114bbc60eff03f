// The search run over real libcurl against the sample market on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "search/market.h"
#include "search/search_page.h"
#include "search/search_run.h"
#include "tests/search/fakes.h"
#include "text/codepage.h"
#include "tools/sample-market/market_server.h"
#include "web/curl_session.h"
#include "web/web_request.h"

namespace zemlaro {
namespace {

using market::Mode;
using testing::FakeView;

constexpr char kKeywordUtf8[] = "手机";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct MarketRun {
  market::SampleMarket market;
  FakeView view;
  std::unique_ptr<InternetSession> session;

  explicit MarketRun(market::MarketOptions options, bool trustMarket = true,
                     std::size_t maxBodyBytes = 1u << 20)
      : market(std::move(options)) {
    EXPECT_TRUE(market.Start());
    CurlSettings settings;
    settings.connectTimeout = std::chrono::milliseconds(1000);
    settings.stallTimeout = std::chrono::milliseconds(1000);
    settings.maxBodyBytes = maxBodyBytes;
    if (trustMarket) settings.extraCaFile = market.CaFile();
    session = MakeCurlSession(settings);
    view.boxes[SearchBox::Keyword] = Utf8ToGbk(kKeywordUtf8);
  }
  SearchHosts Hosts() const { return {market.HostAndPort(), kItemHost}; }
  void Go(const Text& pages) {
    view.boxes[SearchBox::PageCount] = pages;
    RunSearch(view, *session, Hosts());
  }
  std::vector<int> RowsPerPage() const {
    std::vector<int> added;
    for (const PageReport& report : view.reports) added.push_back(report.rowsAdded);
    return added;
  }
};

TEST(SearchOverCurl, ThreePagesGiveTheMarketsListingsNumberedOn) {
  MarketRun run({});
  run.Go("3");
  ASSERT_EQ(run.view.rows.size(), 3u * 44u);
  for (int page = 1; page <= 3; ++page) {
    for (int index = 0; index < 44; ++index) {
      const int row = (page - 1) * 44 + index;
      const market::SampleListing listing = market::ListingAt(kKeywordUtf8, page, index);
      EXPECT_EQ(run.view.rows[row],
                (FakeView::Row{std::to_string(row + 1), Utf8ToGbk(listing.title),
                               Utf8ToGbk(listing.itemId), Utf8ToGbk(listing.sellerNick)}))
          << "page " << page << " index " << index;
    }
  }
  EXPECT_EQ(run.view.caption, "start-up caption");
}

TEST(SearchOverCurl, ServerReceivesTheAddressAndTheDefaultHeaderBlock) {
  MarketRun run({});
  run.Go("2");
  const std::vector<market::RecordedRequest> requests = run.market.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (int page = 1; page <= 2; ++page) {
    const market::RecordedRequest& request = requests[page - 1];
    const Text url = BuildSearchUrl(Utf8ToGbk(kKeywordUtf8), page, run.market.HostAndPort());
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ("https://" + run.market.HostAndPort() + request.target, url);
    // The market's HTTP library keeps header values percent-decoded and sorted by
    // name, so the block is compared as a set, the Referer in decoded form. The exact
    // bytes and order of the block are pinned over the canned session.
    std::multiset<std::pair<std::string, std::string>> headers;
    for (const auto& [name, value] : request.headers) headers.emplace(Lower(name), value);
    const std::multiset<std::pair<std::string, std::string>> expected = {
        {"host", run.market.HostAndPort()},
        {"user-agent", kDefaultAgent},
        {"accept", "*/*"},
        {"referer", PercentDecoded(url)},
        {"accept-language", "zh-cn"},
        {"content-type", "application/x-www-form-urlencoded"},
    };
    EXPECT_EQ(headers, expected) << "page " << page;
  }
}

TEST(SearchOverCurl, CookiesComeBackOnLaterPages) {
  market::MarketOptions options;
  options.setCookies = true;
  MarketRun run(options);
  run.Go("3");
  const std::vector<market::RecordedRequest> requests = run.market.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[0].cookieCameBack);
  EXPECT_TRUE(requests[1].cookieCameBack);
  EXPECT_TRUE(requests[2].cookieCameBack);
  EXPECT_EQ(run.view.rows.size(), 3u * 44u);
}

TEST(SearchOverCurl, AMisbehavingPageIsSkippedAndTheRunGoesOn) {
  struct Case {
    Mode mode;
    const char* name;
    bool failsRequest;  // the session reports an error for the page
    int page2Rows;      // -1: not pinned (a cut answer may carry some listings)
  };
  const Case cases[] = {
      {Mode::RedirectOnce, "redirect once", false, 44},
      {Mode::Silent, "silent server", true, 0},
      {Mode::EndlessBody, "endless body", true, 0},
      {Mode::RedirectLoop, "redirect loop", true, 0},
      {Mode::Reset, "connection cut", true, -1},
      {Mode::LoginPage, "login page", false, 0},
      {Mode::Empty, "no listings", false, 0},
  };
  for (const Case& c : cases) {
    market::MarketOptions options;
    options.pageModes[2] = c.mode;
    MarketRun run(options);
    run.Go("3");
    const std::vector<int> added = run.RowsPerPage();
    ASSERT_EQ(added.size(), 3u) << c.name;
    EXPECT_EQ(added[0], 44) << c.name;
    if (c.page2Rows >= 0) {
      EXPECT_EQ(added[1], c.page2Rows) << c.name;
    }
    EXPECT_EQ(added[2], 44) << c.name;
    EXPECT_EQ(run.view.reports[1].requestError.empty(), !c.failsRequest)
        << c.name << ": " << run.view.reports[1].requestError;
    EXPECT_EQ(run.view.reports[2].requestError, "") << c.name;
    // Numbers run on without a gap whatever page 2 did.
    for (std::size_t r = 0; r < run.view.rows.size(); ++r) {
      EXPECT_EQ(run.view.rows[r][0], std::to_string(r + 1)) << c.name;
    }
  }
}

TEST(SearchOverCurl, BrokenAndHugeAnswersStillGiveTheirRows) {
  market::MarketOptions options;
  options.pageModes[1] = Mode::Garbage;  // bad UTF-8, a 2 MB title, a zero byte
  options.pageModes[2] = Mode::Huge;
  MarketRun run(options, true, 16u << 20);
  run.Go("2");
  constexpr int kBeforeZero = market::kGarbageZeroAfterIndex + 1;
  EXPECT_EQ(run.RowsPerPage(), (std::vector<int>{kBeforeZero, market::kHugeListingCount}));
  ASSERT_EQ(run.view.rows.size(),
            static_cast<std::size_t>(kBeforeZero + market::kHugeListingCount));
  for (std::size_t r = 0; r < run.view.rows.size(); ++r) {
    ASSERT_EQ(run.view.rows[r][0], std::to_string(r + 1));
  }
  const auto expectListing = [&](int row, int page, int index) {
    const market::SampleListing l = market::ListingAt(kKeywordUtf8, page, index);
    EXPECT_EQ(run.view.rows[row][2], l.itemId) << row;
    EXPECT_EQ(run.view.rows[row][3], Utf8ToGbk(l.sellerNick)) << row;
  };
  expectListing(0, 1, 0);
  expectListing(market::kGarbageBadUtf8Index, 1, market::kGarbageBadUtf8Index);
  expectListing(kBeforeZero - 1, 1, kBeforeZero - 1);
  expectListing(kBeforeZero, 2, 0);
  expectListing(kBeforeZero + market::kHugeListingCount - 1, 2, market::kHugeListingCount - 1);
  // 2 MB of UTF-8, two thirds of it in code page 936.
  EXPECT_GT(run.view.rows[market::kGarbageLongTitleIndex][1].size(), 1000u * 1000);
}

TEST(SearchOverCurl, AnUntrustedCertificateGivesEmptyPages) {
  MarketRun run({}, /*trustMarket=*/false);
  run.Go("2");
  ASSERT_EQ(run.view.reports.size(), 2u);
  for (const PageReport& report : run.view.reports) {
    EXPECT_EQ(report.rowsAdded, 0);
    EXPECT_NE(report.requestError, "");
  }
  EXPECT_TRUE(run.view.rows.empty());
  EXPECT_EQ(run.view.events.back(), "restore");
}

}  // namespace
}  // namespace zemlaro
