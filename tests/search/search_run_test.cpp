#include "search/search_run.h"

#include <gtest/gtest.h>

#include <climits>

#include "search/market.h"
#include "search/search_page.h"
#include "tests/search/fakes.h"
#include "web/web_request.h"

namespace zemlaro {
namespace {

using testing::CannedSession;
using testing::FakeView;
using testing::NumberedAnswer;
using testing::SearchAnswer;

const SearchHosts kHosts{"127.0.0.1:4443", kItemHost};

// The page a request asked for, from its callback value ("jsonp10" + page).
int PageOf(const CannedSession::Request& request) {
  const std::size_t at = request.path.find("callback=jsonp10");
  if (at == std::string::npos) return 0;
  return std::stoi(request.path.substr(at + 16));
}

struct CannedRun {
  FakeView view;
  CannedSession session;

  CannedRun(const Text& pages, const Text& keyword = "kw") {
    view.boxes[SearchBox::PageCount] = pages;
    view.boxes[SearchBox::Keyword] = keyword;
    view.rows.push_back({"1", "left over", "9", "old"});
  }
  void Go() { RunSearch(view, session, kHosts); }
};

TEST(PageCountOf, ReadsARealTruncatedAndClamped) {
  struct Case {
    const char* text;
    int count;
  };
  const Case cases[] = {
      {"10", 10},
      {"2.7", 2},
      {"-3", -3},
      {"-2.9", -2},
      {"0", 0},
      {"", 0},
      {"abc", 0},
      {"7 pages", 7},
      {"\xA3\xB1\xA3\xB0", 10},  // full-width 10
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"1e300", INT_MAX},
      {"-2147483649", INT_MIN},
      {"-1e300", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(PageCountOf(c.text), c.count) << c.text;
}

TEST(RunSearch, FetchesAsManyPagesAsTheBoxSays) {
  struct Case {
    const char* pages;
    int fetched;
  };
  const Case cases[] = {{"10", 10}, {"2.7", 2}, {"0", 0},       {"-1", 0},
                        {"", 0},    {"abc", 0}, {"\xA3\xB3", 3} /* full-width 3 */};
  for (const Case& c : cases) {
    CannedRun run(c.pages);
    run.Go();
    EXPECT_EQ(static_cast<int>(run.session.requests.size()), c.fetched) << c.pages;
    // The list is emptied and the caption put back even when no page is fetched.
    ASSERT_FALSE(run.view.events.empty());
    EXPECT_EQ(run.view.events.front(), "clear") << c.pages;
    EXPECT_EQ(run.view.events.back(), "restore") << c.pages;
    EXPECT_TRUE(run.view.rows.empty()) << c.pages;
  }
}

TEST(RunSearch, EveryPageIsAPlainGetOfItsAddressUnderItsCaption) {
  CannedRun run("10", "\xCA\xD6\xBB\xFA");  // 手机
  std::vector<Text> captionsAtRequest;
  run.session.onSend = [&](const CannedSession::Request&) {
    captionsAtRequest.push_back(run.view.caption);
  };
  run.Go();
  ASSERT_EQ(run.session.requests.size(), 10u);
  for (int i = 1; i <= 10; ++i) {
    const CannedSession::Request& request = run.session.requests[i - 1];
    const Text url = BuildSearchUrl("\xCA\xD6\xBB\xFA", i, kHosts.search);
    EXPECT_EQ("https://" + request.host + ":" + std::to_string(request.port) + request.path, url);
    EXPECT_NE(request.path.find("data-value=" + std::to_string(44 * (i - 1)) + "&"),
              std::string::npos);
    EXPECT_EQ(PageOf(request), i);
    EXPECT_EQ(captionsAtRequest[i - 1], ProgressCaption(i));
    // WebRequest with the address alone: defaults everywhere.
    EXPECT_EQ(request.verb, "GET");
    EXPECT_EQ(request.agent, kDefaultAgent);
    EXPECT_EQ(request.accessType, kAccessDirect);
    EXPECT_TRUE(request.proxyAbsent);
    EXPECT_EQ(request.flags, 0x80800010u);
    EXPECT_EQ(request.headers, "Accept: */*\r\nReferer: " + url +
                                   "\r\nAccept-Language: zh-cn"
                                   "\r\nContent-Type: application/x-www-form-urlencoded");
    EXPECT_TRUE(request.dataAbsent);
  }
  EXPECT_EQ(run.view.caption, "start-up caption");
}

TEST(RunSearch, ProgressCaptionText) {
  // 正在获取宝贝数据 第3页···
  EXPECT_EQ(ProgressCaption(3),
            "\xD5\xFD\xD4\xDA\xBB\xF1\xC8\xA1\xB1\xA6\xB1\xB4\xCA\xFD\xBE\xDD \xB5\xDA"
            "3\xD2\xB3\xA1\xA4\xA1\xA4\xA1\xA4");
}

TEST(RunSearch, StepsOfEveryPageComeInOrder) {
  CannedRun run("3");
  run.session.body = [](const CannedSession::Request& r) -> std::optional<std::string> {
    return PageOf(r) == 2 ? SearchAnswer({}) : NumberedAnswer(2);
  };
  run.Go();
  EXPECT_EQ(run.view.events, (std::vector<std::string>{"clear", "caption", "append:2", "done:1",
                                                       "caption", "append:0", "done:2", "caption",
                                                       "append:2", "done:3", "restore"}));
}

TEST(RunSearch, RowsAreNumberedOnAcrossPagesAndAFailedPageIsSkipped) {
  CannedRun run("4");
  run.session.body = [](const CannedSession::Request& r) -> std::optional<std::string> {
    switch (PageOf(r)) {
      case 1:
        return NumberedAnswer(44, 0);
      case 2:
        return std::nullopt;  // the request fails
      case 3:
        return NumberedAnswer(3, 100);
      default:
        return "<html>no listings here</html>";
    }
  };
  run.Go();
  ASSERT_EQ(run.session.requests.size(), 4u);
  ASSERT_EQ(run.view.rows.size(), 47u);
  for (int r = 0; r < 47; ++r) EXPECT_EQ(run.view.rows[r][0], std::to_string(r + 1));
  EXPECT_EQ(run.view.rows[43], (FakeView::Row{"44", "title44", "44", "nick44"}));
  EXPECT_EQ(run.view.rows[44], (FakeView::Row{"45", "title101", "101", "nick101"}));

  ASSERT_EQ(run.view.reports.size(), 4u);
  const int added[] = {44, 0, 3, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(run.view.reports[i].page, i + 1);
    EXPECT_EQ(run.view.reports[i].pageCount, 4);
    EXPECT_EQ(run.view.reports[i].rowsAdded, added[i]);
  }
  EXPECT_EQ(run.view.reports[0].requestError, "");
  EXPECT_EQ(run.view.reports[1].requestError, "could not connect");
  EXPECT_TRUE(run.view.reportAnswers[1].empty());
  EXPECT_EQ(run.view.reportAnswers[3], BytesOfText("<html>no listings here</html>"));
  EXPECT_EQ(run.view.reports[3].requestError, "");
}

TEST(RunSearch, OnlyTheTitlesDecideTheRows) {
  struct Case {
    const char* name;
    std::string answer;
    std::vector<FakeView::Row> rows;
  };
  std::string extraNicks = NumberedAnswer(44);
  extraNicks += R"({"nick":"extra1"},{"nick":"extra2"})";
  const Case cases[] = {
      {"fewer nicks and ids than titles",
       R"({"raw_title":"a","nid":"1","nick":"x"},{"raw_title":"b","nid":"2"},{"raw_title":"c"})",
       {{"1", "a", "1", "x"}, {"2", "b", "2", ""}, {"3", "c", "", ""}}},
      {"an empty nick shifts the later nicks up",
       SearchAnswer({{"a", "1", ""}, {"b", "2", "y"}}),
       {{"1", "a", "1", "y"}, {"2", "b", "2", ""}}},
  };
  for (const Case& c : cases) {
    CannedRun run("1");
    run.session.body = [&](const CannedSession::Request&) { return c.answer; };
    run.Go();
    EXPECT_EQ(run.view.rows, c.rows) << c.name;
  }

  CannedRun run("1");
  run.session.body = [&](const CannedSession::Request&) { return extraNicks; };
  run.Go();
  ASSERT_EQ(run.view.rows.size(), 44u) << "44 titles, 46 nicks";
  EXPECT_EQ(run.view.rows[43], (FakeView::Row{"44", "title44", "44", "nick44"}));
}

TEST(RunSearch, KeywordIsReadAnewForEveryPage) {
  CannedRun run("3", "first");
  run.view.afterPage = [](FakeView& view, const PageReport& report) {
    if (report.page == 1) view.boxes[SearchBox::Keyword] = "second";
  };
  run.Go();
  ASSERT_EQ(run.session.requests.size(), 3u);
  EXPECT_NE(run.session.requests[0].path.find("&q=%66%69%72%73%74&"), std::string::npos);
  EXPECT_NE(run.session.requests[1].path.find("&q=%73%65%63%6F%6E%64&"), std::string::npos);
  EXPECT_NE(run.session.requests[2].path.find("&q=%73%65%63%6F%6E%64&"), std::string::npos);
}

TEST(RunSearch, AStoppedViewEndsTheRunAtTheNextStep) {
  CannedRun run("5");
  run.view.stopAfterPages = 2;
  run.session.body = [](const CannedSession::Request&) { return NumberedAnswer(1); };
  run.Go();
  EXPECT_EQ(run.session.requests.size(), 2u);
  EXPECT_EQ(run.view.rows.size(), 2u);
  EXPECT_EQ(run.view.events.back(), "done:2");
}

struct FilterCase {
  const char* name;
  std::vector<const char*> sellers;
  const char* fragment;
  std::vector<const char*> kept;  // row numbers left
};

TEST(FilterBySeller, KeepsRowsWhoseSellerHoldsTheFragment) {
  const FilterCase cases[] = {
      {"a leading fragment of a Chinese name",
       {"\xB7\xA2\xB8\xF6\xB9\xFE\xB9\xFE\xBC\xB8\xB8\xF6", "\xB9\xFE\xB9\xFE",
        "\xB7\xA2\xB8\xF6\xD0\xA1\xB5\xEA"},  // 发个哈哈几个, 哈哈, 发个小店
       "\xB7\xA2\xB8\xF6",                    // 发个
       {"1", "3"}},
      {"letter case counts", {"xabcx", "xABCx"}, "abc", {"1"}},
      {"a trailing space must be there", {"ab", "ab c", "xab"}, "ab ", {"2"}},
      {"an empty fragment deletes only empty sellers", {"a", "", "b", ""}, "", {"1", "3"}},
      {"a match must start on a character boundary",
       {"\xB7\xA2\xB8\xF6", "\xA2\xB8"},  // 发个; the fragment is its middle bytes
       "\xA2\xB8",
       {"2"}},
      {"nothing matches", {"a", "b"}, "z", {}},
      {"empty list", {}, "a", {}},
  };
  for (const FilterCase& c : cases) {
    FakeView view;
    for (std::size_t i = 0; i < c.sellers.size(); ++i) {
      view.rows.push_back({std::to_string(i + 1), "t", "id", c.sellers[i]});
    }
    view.boxes[SearchBox::Seller] = c.fragment;
    FilterBySeller(view);
    std::vector<Text> kept;
    for (const auto& row : view.rows) kept.push_back(row[0]);
    EXPECT_EQ(kept, std::vector<Text>(c.kept.begin(), c.kept.end())) << c.name;
    // The fragment is read once per row visited.
    EXPECT_EQ(view.controlTextReads, static_cast<int>(c.sellers.size())) << c.name;

    const auto before = view.rows;
    FilterBySeller(view);
    EXPECT_EQ(view.rows, before) << c.name << ": a second filter changes nothing";
  }
}

TEST(FilterBySeller, DeletesFromTheLastRowToTheFirst) {
  FakeView view;
  for (const char* seller : {"x", "keep", "y", "z"}) view.rows.push_back({"n", "t", "i", seller});
  view.boxes[SearchBox::Seller] = "keep";
  FilterBySeller(view);
  EXPECT_EQ(view.events, (std::vector<std::string>{"delete:3", "delete:2", "delete:0"}));
}

TEST(OpenItemPage, OpensTheDetailAddressOfTheSelectedRow) {
  FakeView view;
  view.rows = {{"1", "a", "111", "s"}, {"2", "b", "12345", "s"}};
  view.selectedRow = 1;
  OpenItemPage(view, kHosts);
  view.selectedRow = -1;
  OpenItemPage(view, kHosts);
  EXPECT_EQ(view.openedAddresses, (std::vector<Text>{"https://item.taobao.com/item.htm?id=12345",
                                                     "https://item.taobao.com/item.htm?id="}));
}

}  // namespace
}  // namespace zemlaro
