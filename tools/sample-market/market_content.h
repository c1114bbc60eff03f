// What the sample market says: the deterministic listings of each page and the bodies of its
// answers (JSONP search answers, HTML pages). Plain functions of their arguments, safe to call
// from any thread.
#pragma once

#include <string>

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

// The listing a Normal page holds at `index` (0-based within the page), for tests
// that check rows against what the server sent. UTF-8.
struct SampleListing {
  std::string title;
  std::string itemId;
  std::string sellerNick;
};
SampleListing ListingAt(const std::string& keyword, int page, int index);

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
std::string LoginPageHtml();
std::string ItemPageHtml(const std::string& id);

}  // namespace zemlaro::market
