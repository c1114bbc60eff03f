#include "search/listing_details.h"

#include <gtest/gtest.h>

#include "search/search_page.h"
#include "text/codepage.h"

namespace zemlaro {
namespace {

// One legacy listing; a null detail leaves its key out.
std::string Item(const char* title, const char* price, const char* sales, const char* location) {
  std::string j = R"({"nid":"1","title":"x","raw_title":")" + std::string(title) +
                  R"(","pic_url":"//img/x.jpg")";
  if (price) j += R"(,"view_price":")" + std::string(price) + "\"";
  if (location) j += R"(,"item_loc":")" + std::string(location) + "\"";
  if (sales) j += R"(,"view_sales":")" + std::string(sales) + "\"";
  return j + R"(,"nick":"n"})";
}

std::string AnswerOf(const std::vector<std::string>& items) {
  std::string out = R"(jsonp101({"mods":{"itemlist":{"data":{"auctions":[)";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]}}}});";
}

TEST(LegacyListingDetails, EachValueStaysOnItsOwnListing) {
  struct Case {
    const char* name;
    std::string answerUtf8;
    std::vector<std::array<const char*, 3>> details;  // price, sales, location
  };
  const Case cases[] = {
      {"all keys",
       AnswerOf({Item("a", "1.00", "5人付款", "浙江 杭州"), Item("b", "2.50", "0人付款", "上海")}),
       {{"1.00", "5人付款", "浙江 杭州"}, {"2.50", "0人付款", "上海"}}},
      {"the middle one lacks each key",
       AnswerOf({Item("a", "1", "10", "l1"), Item("b", nullptr, nullptr, nullptr),
                 Item("c", "3", nullptr, "l3"), Item("d", "4", "40", "l4")}),
       {{"1", "10", "l1"}, {"", "", ""}, {"3", "", "l3"}, {"4", "40", "l4"}}},
      {"the first lacks them, the last has them",
       AnswerOf({Item("a", nullptr, nullptr, nullptr), Item("b", "2", "20", "l2")}),
       {{"", "", ""}, {"2", "20", "l2"}}},
      {"an empty title is skipped with its details; its neighbour keeps its own gap",
       AnswerOf({Item("a", nullptr, "10", "l1"), Item("  ", "9", "90", "l9"),
                 Item("c", "3", "30", "l3")}),
       {{"", "10", "l1"}, {"3", "30", "l3"}}},
      {"an empty title first and last",
       AnswerOf({Item("", "9", "90", "l9"), Item("b", nullptr, nullptr, nullptr),
                 Item("\xE3\x80\x80", "8", "80", "l8")}),  // a full-width space only
       {{"", "", ""}}},
      {"values trimmed, keys in any letter case",
       R"({"RAW_TITLE":"a","View_Price":" 7.00 ","ITEM_LOC":"l"},{"raw_title":"b"})",
       {{"7.00", "", "l"}, {"", "", ""}}},
      {"no listings", R"(jsonp101({"mods":{}});)", {}},
      {"a title that never closes",
       R"({"raw_title":"a","view_price":"1"},{"raw_title":"b)",
       {{"1", "", ""}}},
  };
  for (const Case& c : cases) {
    const std::vector<ListingDetails> details = LegacyListingDetails(Utf8ToGbk(c.answerUtf8));
    // One entry per title of the specified extraction, whatever the case.
    const SearchPage page = ParseSearchPage(Bytes(c.answerUtf8.begin(), c.answerUtf8.end()));
    EXPECT_EQ(static_cast<int>(details.size()), page.titles.Count()) << c.name;
    ASSERT_EQ(details.size(), c.details.size()) << c.name;
    for (std::size_t i = 0; i < details.size(); ++i) {
      EXPECT_EQ(details[i].price, Utf8ToGbk(c.details[i][0])) << c.name << " #" << i;
      EXPECT_EQ(details[i].sales, Utf8ToGbk(c.details[i][1])) << c.name << " #" << i;
      EXPECT_EQ(details[i].location, Utf8ToGbk(c.details[i][2])) << c.name << " #" << i;
    }
  }
}

}  // namespace
}  // namespace zemlaro
