// What the sample market says: the deterministic listings of each page and the bodies of its
// answers (JSONP search answers, HTML pages). Plain functions of their arguments, safe to call
// from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/sample-market/market_constants.h"

namespace zemlaro::market {

// Layout of a Garbage answer: the listings of a Normal page, except that the title of
// listing kGarbageBadUtf8Index ends in invalid UTF-8 bytes, the title of listing
// kGarbageLongTitleIndex is kGarbageLongTitleBytes long, and a zero byte stands right after
// listing kGarbageZeroAfterIndex (or after the last listing on a shorter page).
inline constexpr int kGarbageBadUtf8Index = 1;
inline constexpr int kGarbageLongTitleIndex = 2;
inline constexpr int kGarbageLongTitleBytes = 2 * 1024 * 1024;
inline constexpr int kGarbageZeroAfterIndex = 29;
inline constexpr int kHugeListingCount = 20000;

// A listing as the client should read it. UTF-8. price, sales and location are empty where
// the listing lacks them.
struct SampleListing {
  std::string title;
  std::string itemId;
  std::string sellerNick;
  std::string price;     // "39.90"
  std::string sales;     // "1234人付款" (legacy), "1200+人付款" (API)
  std::string location;  // "浙江 杭州"
};

// Which listings of a page lack a field: the k-th listing of every k (index % k == k - 1).
inline constexpr int kNoPriceEvery = 7;
inline constexpr int kNoLocationEvery = 11;
inline constexpr int kNoSalesEvery = 13;

// The listing a Normal legacy page holds at `index` (0-based within the page), for tests
// that check rows against what the server sent. Its answer leaves out "view_price",
// "view_sales" and "item_loc" where the field is empty.
SampleListing ListingAt(const std::string& keyword, int page, int index);

// The listings a Normal API page of `page` (1-based) yields to a correct reader, in order:
// kApiPageSize of them, cards skipped, highlight markup removed, the seller's nick taken
// from "shopInfo"."title" where the item has no "nick".
std::vector<SampleListing> ApiListingsOf(const std::string& keyword, int page);
// On an API page, a card stands before the listings at these indexes (of ApiListingsOf);
// the cards are, in this order: one with "customCardType" and a "title", one with
// "customCardType" and no "title", one with neither.
inline constexpr int kApiCardsBefore[] = {4, 19, 33};
// Items whose index % kApiNoNickEvery == kApiNoNickEvery - 1 carry no "nick".
inline constexpr int kApiNoNickEvery = 8;

// What a search request asks for.
struct SearchQuery {
  std::string keyword;  // decoded from q, UTF-8
  int offset = 0;
  int page = 1;
  std::string callback;
  std::string host;  // 127.0.0.1:PORT
};

// One listing of the auctions array, roughly 600 bytes.
std::string ListingJson(const SampleListing& l, const std::string& keyword, int page, int index,
                        const std::string& host);
// The start of a search answer, up to the first listing.
std::string AnswerHead(const SearchQuery& q);
// A whole search answer with `count` listings; `garbage` lays them out as a Garbage page.
std::string ListingsAnswer(const SearchQuery& q, int count, bool garbage);
// The HTML page of Mode::LoginPage (a login prompt in place of an answer).
std::string LoginPageHtml();
std::string ItemPageHtml(const std::string& id);

// The sign-in form at kLoginPath: inputs "username" and "password" (ids the same), a submit
// button "login-submit", and a hidden input "redirectURL" holding `redirectUrl`; it posts to
// kLoginPath.
std::string SignInPageHtml(const std::string& redirectUrl);
// The verification page at kPunishPath: a form with one button "verify-submit" that posts
// `x5secData` and `redirectUrl` (hidden inputs "x5secdata" and "redirectURL") to kPunishPath.
std::string PunishPageHtml(const std::string& x5secData, const std::string& redirectUrl);
// The legacy search's verification answer: {"rgv587_flag":"sm","url":"<url>"}.
std::string VerificationAnswer(const std::string& url);

// An API answer "<callback>(<JSON>)" with ret SUCCESS: the items of (keyword, page) with the
// cards between them, or none when `withListings` is false; "mainInfo" gives totalPages.
std::string ApiPageAnswer(const std::string& callback, const std::string& keyword, int page,
                          int totalPages, bool withListings);
// An API answer with `ret` and, when `url` is not empty, "data":{"url":url}.
std::string ApiRefusalAnswer(const std::string& callback, std::string_view ret,
                             const std::string& url);

// Percent-encodes every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~).
std::string PercentEncode(std::string_view s);
// Decodes %XX escapes; leaves '+' and malformed escapes as they are.
std::string PercentDecode(std::string_view s);

}  // namespace zemlaro::market
