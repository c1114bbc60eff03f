#include "search/search_page.h"

#include <gtest/gtest.h>

#include "search/market.h"
#include "tests/search/fakes.h"

namespace zemlaro {
namespace {

using testing::SearchAnswer;

// What stands between two markers of an address, e.g. the value of a query key.
std::string Between(const std::string& text, const std::string& left, const std::string& right) {
  const std::size_t start = text.find(left);
  if (start == std::string::npos) return "<no " + left + ">";
  const std::size_t from = start + left.size();
  return text.substr(from, text.find(right, from) - from);
}

TEST(BuildSearchUrl, WholeAddressOfTheFirstPage) {
  EXPECT_EQ(BuildSearchUrl("abc", 1, kSearchHost),
            "https://s.taobao.com/search?data-key=s&data-value=0&ajax=true"
            "&_ksTS=1464678556216_793&callback=jsonp101&q=%61%62%63&imgfile=&js=1"
            "&stats_click=search_radio_all:1&initiative_id=staobaoz_20160531&ie=utf8"
            "&bcoffset=1&p4ppushleft=1,48&sort=default&tab=all&loc=&filter=reserve_price[,]");
}

TEST(BuildSearchUrl, OffsetAndCallbackFollowThePage) {
  struct Case {
    int page;
    const char* offset;
    const char* callback;
  };
  const Case cases[] = {{1, "0", "jsonp101"},     {2, "44", "jsonp102"},
                        {3, "88", "jsonp103"},    {10, "396", "jsonp1010"},
                        {12, "484", "jsonp1012"}, {100000000, "4399999956", "jsonp10100000000"}};
  for (const Case& c : cases) {
    const Text url = BuildSearchUrl("x", c.page, kSearchHost);
    EXPECT_EQ(Between(url, "data-value=", "&"), c.offset) << c.page;
    EXPECT_EQ(Between(url, "callback=", "&"), c.callback) << c.page;
  }
}

TEST(BuildSearchUrl, EveryKeywordByteIsEscapedFromUtf8) {
  struct Case {
    const char* keyword;  // code page 936
    const char* q;
  };
  const Case cases[] = {
      {"abc", "%61%62%63"},
      {"\xCA\xD6\xBB\xFA", "%E6%89%8B%E6%9C%BA"},  // 手机
      {"a b", "%61%20%62"},
      {"+", "%2B"},
      {"a-Z.9_~", "%61%2D%5A%2E%39%5F%7E"},
      {"", ""},
  };
  for (const Case& c : cases) {
    const Text url = BuildSearchUrl(c.keyword, 1, kSearchHost);
    EXPECT_EQ(Between(url, "&q=", "&imgfile="), c.q) << c.keyword;
  }
  EXPECT_NE(BuildSearchUrl("", 1, kSearchHost).find("&q=&imgfile=&js=1"), std::string::npos);
}

TEST(BuildSearchUrl, HostMayCarryAPort) {
  const Text url = BuildSearchUrl("a", 2, "127.0.0.1:8443");
  EXPECT_EQ(url.rfind("https://127.0.0.1:8443/search?data-key=s&data-value=44&", 0), 0u) << url;
}

struct ParseCase {
  const char* name;
  std::string answer;  // UTF-8
  TextArray titles;    // code page 936
  TextArray itemIds;
  TextArray sellerNicks;
};

TEST(ParseSearchPage, CutsTheThreeListsByMarkers) {
  const ParseCase cases[] = {
      {"three listings in answer order",
       SearchAnswer({{"t1", "11", "n1"}, {"t2", "22", "n2"}, {"t3", "33", "n3"}}),
       {"t1", "t2", "t3"},
       {"11", "22", "33"},
       {"n1", "n2", "n3"}},
      {"UTF-8 becomes code page 936",
       SearchAnswer({{"手机", "1", "发个小店"}}),
       {"\xCA\xD6\xBB\xFA"},
       {"1"},
       {"\xB7\xA2\xB8\xF6\xD0\xA1\xB5\xEA"}},
      {"titles are trimmed, an all-space title is skipped",
       SearchAnswer({{"  a b  ", "1", "n"}, {"   ", "2", "m"}, {"\xE3\x80\x80x", "3", "o"}}),
       {"a b", "x"},
       {"1", "2", "3"},
       {"n", "m", "o"}},
      {"markers match in any letter case",
       R"({"NID":"7","Raw_Title":"T","NICK":"N"})",
       {"T"},
       {"7"},
       {"N"}},
      {"an empty nick leaves the nick list shorter",
       SearchAnswer({{"t1", "1", ""}, {"t2", "2", "n2"}}),
       {"t1", "t2"},
       {"1", "2"},
       {"n2"}},
      {"an escaped quote ends the value at the backslash",
       R"({"raw_title":"say \"hi\"","nid":"1","nick":"n"})",
       {"say \\"},
       {"1"},
       {"n"}},
      {"a marker outside the listings adds an entry",
       R"({"nick":"me","auctions":[{"raw_title":"t","nid":"1","nick":"n"}]})",
       {"t"},
       {"1"},
       {"me", "n"}},
      {"an unclosed value adds nothing", R"({"raw_title":"open)", {}, {}, {}},
      {"a login page holds no markers",
       "<html><head><title>登录</title></head><body>login.taobao.com</body></html>",
       {},
       {},
       {}},
      {"empty answer", "", {}, {}, {}},
  };
  for (const ParseCase& c : cases) {
    const SearchPage page = ParseSearchPage(BytesOfText(c.answer));
    EXPECT_EQ(page.titles, c.titles) << c.name;
    EXPECT_EQ(page.itemIds, c.itemIds) << c.name;
    EXPECT_EQ(page.sellerNicks, c.sellerNicks) << c.name;
  }
}

TEST(ParseSearchPage, StopsAtTheFirstZeroByte) {
  std::string answer = SearchAnswer({{"t1", "1", "n1"}});
  answer += '\0';
  answer += SearchAnswer({{"t2", "2", "n2"}});
  const SearchPage page = ParseSearchPage(BytesOfText(answer));
  EXPECT_EQ(page.titles, TextArray({"t1"}));
  EXPECT_EQ(page.itemIds, TextArray({"1"}));
  EXPECT_EQ(page.sellerNicks, TextArray({"n1"}));
}

}  // namespace
}  // namespace zemlaro
