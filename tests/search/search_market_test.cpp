// The search run over real libcurl against the sample market on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "search/current_constants.h"
#include "search/market.h"
#include "search/search_page.h"
#include "search/search_run.h"
#include "tests/search/fakes.h"
#include "text/codepage.h"
#include "tools/sample-market/market_server.h"
#include "web/cookie_store.h"
#include "web/curl_session.h"
#include "web/web_request.h"

// Option structs name only the fields that matter to them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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

// The session's limits in these runs. A stall that is the case under test ends
// within kShortStall; every other run has the real limits, as a sanitized build on a
// busy machine may take seconds to make and parse a huge page.
constexpr std::chrono::milliseconds kShortStall{2000};

struct RunLimits {
  bool trustMarket = true;
  std::size_t maxBodyBytes = 1u << 20;
  std::chrono::milliseconds stallTimeout = CurlSettings{}.stallTimeout;
};

struct MarketRun {
  market::SampleMarket market;
  FakeView view;
  std::unique_ptr<InternetSession> session;

  explicit MarketRun(market::MarketOptions options, RunLimits limits = {})
      : market(std::move(options)) {
    EXPECT_TRUE(market.Start());
    CurlSettings settings;
    settings.stallTimeout = limits.stallTimeout;
    settings.maxBodyBytes = limits.maxBodyBytes;
    const bool trustMarket = limits.trustMarket;
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
    MarketRun run(options, {.stallTimeout = kShortStall});
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
  MarketRun run(options, {.maxBodyBytes = 16u << 20});
  run.Go("2");
  for (const PageReport& report : run.view.reports) EXPECT_EQ(report.requestError, "");
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
  MarketRun run({}, {.trustMarket = false});
  run.Go("2");
  ASSERT_EQ(run.view.reports.size(), 2u);
  for (const PageReport& report : run.view.reports) {
    EXPECT_EQ(report.rowsAdded, 0);
    EXPECT_NE(report.requestError, "");
  }
  EXPECT_TRUE(run.view.rows.empty());
  EXPECT_EQ(run.view.events.back(), "restore");
}

// ---- the current service ----

struct CurrentRun : MarketRun {
  SearchSetup setup;
  explicit CurrentRun(market::MarketOptions options) : MarketRun(std::move(options)) {
    ClearCookies();  // the store is the process's: no token of an earlier market
    setup.service = SearchService::Current;
    setup.hosts = Hosts();
    setup.pacing = {std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
    setup.storedToken = [] { return CookieValue(kCurrentTokenCookie); };
  }
  void Go(const Text& pages) {
    view.boxes[SearchBox::PageCount] = pages;
    RunSearch(view, *session, setup);
  }
  // The page of every API request that passed the handshake, in order.
  std::vector<int> ApiPagesAsked() const {
    std::vector<int> pages;
    for (const market::RecordedRequest& request : market.Requests()) {
      if (request.target.rfind(kCurrentServicePath, 0) != 0) continue;
      const std::string data = PercentDecoded(request.target);
      const std::size_t at = data.find("\\\"page\\\":");
      if (at != std::string::npos) pages.push_back(std::atoi(data.c_str() + at + 9));
    }
    return pages;
  }
};

TEST(CurrentServiceOverCurl, PagesGiveTheMarketsListingsWithTheirDetails) {
  CurrentRun run({});
  run.Go("3");
  std::vector<market::SampleListing> expected;
  for (int page = 1; page <= 3; ++page) {
    const std::vector<market::SampleListing> listings = market::ApiListingsOf(kKeywordUtf8, page);
    expected.insert(expected.end(), listings.begin(), listings.end());
  }
  ASSERT_EQ(run.view.listings.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const Listing& got = run.view.listings[k];
    EXPECT_EQ(run.view.rows[k][0], std::to_string(k + 1));
    EXPECT_EQ(got.title, Utf8ToGbk(expected[k].title)) << k;
    EXPECT_EQ(got.itemId, Utf8ToGbk(expected[k].itemId)) << k;
    EXPECT_EQ(got.sellerNick, Utf8ToGbk(expected[k].sellerNick)) << k;
    EXPECT_EQ(got.price, Utf8ToGbk(expected[k].price)) << k;
    EXPECT_EQ(got.sales, Utf8ToGbk(expected[k].sales)) << k;
    EXPECT_EQ(got.location, Utf8ToGbk(expected[k].location)) << k;
  }
  for (const PageReport& report : run.view.reports) {
    EXPECT_EQ(report.outcome.kind, PageOutcomeKind::Listings) << report.page;
  }
  EXPECT_EQ(run.view.caption, "start-up caption");
  // The token handshake happens once: later pages are signed with the token it gave.
  EXPECT_EQ(run.ApiPagesAsked(), (std::vector<int>{1, 1, 2, 3}));
}

TEST(CurrentServiceOverCurl, PausesBeforeEveryPageButTheFirstUnderACaptionNamingIt) {
  CurrentRun run({});
  std::vector<Text> captionsAtWait;
  run.setup.pacing = {std::chrono::milliseconds(8000), std::chrono::milliseconds(15000)};
  run.setup.drawPause = [](const Pacing& pacing) {
    return pacing.least + std::chrono::milliseconds(7);
  };
  run.view.afterPage = [&](FakeView& view, const PageReport&) {
    captionsAtWait.push_back(view.caption);
  };
  run.Go("3");
  EXPECT_EQ(run.view.waits,
            (std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(8007))));
  std::vector<std::string> steps;
  for (const std::string& event : run.view.events) {
    if (event == "wait" || event.rfind("done:", 0) == 0) steps.push_back(event);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"done:1", "wait", "done:2", "wait", "done:3"}));
  EXPECT_EQ(run.view.rows.size(), run.view.listings.size());

  // The caption shows the next page while the run waits for it.
  FakeView probe;
  probe.boxes[SearchBox::PageCount] = "2";
  probe.boxes[SearchBox::Keyword] = Utf8ToGbk(kKeywordUtf8);
  Text captionDuringWait;
  struct WaitingView : FakeView {
    Text* seen = nullptr;
    bool WaitBeforePage(std::chrono::milliseconds delay) override {
      *seen = caption;
      return FakeView::WaitBeforePage(delay);
    }
  } waiting;
  waiting.seen = &captionDuringWait;
  waiting.boxes = probe.boxes;
  RunSearch(waiting, *run.session, run.setup);
  EXPECT_EQ(captionDuringWait, WaitingCaption(2));
  EXPECT_EQ(GbkToUtf8(WaitingCaption(2)), "稍候获取宝贝数据 第2页···");
}

TEST(CurrentServiceOverCurl, RandomPausesStayWithinThePacing) {
  const Pacing pacing{std::chrono::milliseconds(8000), std::chrono::milliseconds(15000)};
  std::set<std::int64_t> seen;
  for (int k = 0; k < 200; ++k) {
    const std::chrono::milliseconds pause = RandomPause(pacing);
    EXPECT_GE(pause, pacing.least);
    EXPECT_LE(pause, pacing.most);
    seen.insert(pause.count());
  }
  EXPECT_GT(seen.size(), 100u);  // not one fixed value
  EXPECT_EQ(RandomPause({std::chrono::milliseconds(0), std::chrono::milliseconds(0)}).count(), 0);
}

TEST(CurrentServiceOverCurl, AWallOrAFlowLimitStopsTheRunAndKeepsTheRows) {
  struct Case {
    const char* name;
    market::MarketOptions options;
    int wallPage;  // the page that meets the wall
    PageOutcomeKind kind;
    const char* addressHolds;
  };
  market::MarketOptions block;
  block.apiPageModes[2] = market::ApiMode::Block;
  market::MarketOptions flow;
  flow.apiPageModes[2] = market::ApiMode::FlowLimit;
  market::MarketOptions expired;
  expired.apiPageModes[3] = market::ApiMode::SessionExpired;
  market::MarketOptions wall;
  wall.loginWall = true;
  const Case cases[] = {
      {"block", block, 2, PageOutcomeKind::VerificationRequired, "punish"},
      {"flow limit", flow, 2, PageOutcomeKind::SlowDown, ""},
      {"session expired", expired, 3, PageOutcomeKind::SignInRequired, ""},
      {"login wall", wall, 1, PageOutcomeKind::SignInRequired, "/member/login.jhtml"},
  };
  for (const Case& c : cases) {
    CurrentRun run(c.options);
    run.Go("5");
    ASSERT_EQ(static_cast<int>(run.view.reports.size()), c.wallPage) << c.name;
    const PageOutcome& outcome = run.view.reports.back().outcome;
    EXPECT_EQ(outcome.kind, c.kind) << c.name;
    EXPECT_NE(outcome.address.find(c.addressHolds), std::string::npos) << c.name << outcome.address;
    std::size_t before = 0;
    for (int page = 1; page < c.wallPage; ++page)
      before += market::ApiListingsOf(kKeywordUtf8, page).size();
    EXPECT_EQ(run.view.rows.size(), before) << c.name;
    for (const int page : run.ApiPagesAsked()) EXPECT_LE(page, c.wallPage) << c.name;
    EXPECT_EQ(run.view.events.back(), "restore") << c.name;
  }
}

TEST(CurrentServiceOverCurl, TheRunEndsAtTheServicesPageCount) {
  market::MarketOptions options;
  options.apiTotalPages = 2;
  CurrentRun run(options);
  run.Go("6");
  EXPECT_EQ(run.view.reports.size(), 2u);
  EXPECT_EQ(run.ApiPagesAsked().back(), 2);
}

TEST(CurrentServiceOverCurl, AViewThatStopsDuringAPauseAsksNothingMore) {
  CurrentRun run({});
  run.setup.pacing = {std::chrono::milliseconds(5), std::chrono::milliseconds(5)};
  // The window goes while the run waits before page 2.
  struct ClosingView : FakeView {
    bool WaitBeforePage(std::chrono::milliseconds delay) override {
      stopAfterPages = 0;
      return FakeView::WaitBeforePage(delay);
    }
  } closing;
  closing.boxes = run.view.boxes;
  closing.boxes[SearchBox::PageCount] = "3";
  RunSearch(closing, *run.session, run.setup);
  EXPECT_EQ(closing.reports.size(), 1u);
  EXPECT_EQ(closing.events.back(), "wait");
  EXPECT_EQ(run.ApiPagesAsked().back(), 1);
}

TEST(LegacyService, TheSetupsLegacyChoiceIsTheSpecifiedRun) {
  MarketRun plain({});
  plain.Go("2");
  CurrentRun chosen({});
  chosen.setup.service = SearchService::Legacy;
  chosen.Go("2");
  EXPECT_EQ(chosen.view.rows, plain.view.rows);
  ASSERT_EQ(chosen.market.Requests().size(), 2u);
  for (int page = 1; page <= 2; ++page) {
    EXPECT_EQ("https://" + chosen.market.HostAndPort() + chosen.market.Requests()[page - 1].target,
              BuildSearchUrl(Utf8ToGbk(kKeywordUtf8), page, chosen.market.HostAndPort()));
  }
  // A legacy page behind the login wall is told, and the run goes on as it always did.
  market::MarketOptions wall;
  wall.loginWall = true;
  CurrentRun walled(wall);
  walled.setup.service = SearchService::Legacy;
  walled.Go("2");
  ASSERT_EQ(walled.view.reports.size(), 2u);
  for (const PageReport& report : walled.view.reports) {
    EXPECT_EQ(report.outcome.kind, PageOutcomeKind::SignInRequired);
    EXPECT_NE(report.outcome.address.find("/member/login.jhtml?redirectURL="), std::string::npos);
  }
}

}  // namespace
}  // namespace zemlaro
