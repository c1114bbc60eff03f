#include "search/listing_details.h"

namespace zemlaro {

namespace {

// The title marker and value end of search_page.cpp; the titles are found as its
// AllTextBetween finds them: any letter case, trimmed, empty ones skipped.
constexpr char kTitleMarker[] = "\"raw_title\":\"";
constexpr char kValueEnd[] = "\"";

constexpr char kPriceMarker[] = "\"view_price\":\"";
constexpr char kSalesMarker[] = "\"view_sales\":\"";
constexpr char kLocationMarker[] = "\"item_loc\":\"";

struct TitleMark {
  int at = 0;         // 1-based position of the title marker
  bool kept = false;  // the title is not empty once trimmed
};

// Every title marker with a value after it, stepping on as AllTextBetween does: past
// a kept title's value, or just past the marker of an empty one.
std::vector<TitleMark> TitleMarks(const Text& text) {
  std::vector<TitleMark> marks;
  int from = 1;
  for (;;) {
    const int at = FindForward(text, kTitleMarker, from, true);
    if (at == -1) break;
    const int value = at + LengthOf(kTitleMarker);
    const int end = FindForward(text, kValueEnd, value, true);
    if (end == -1) break;
    const bool kept = !TrimSpaces(MiddlePart(text, value, end - value)).empty();
    marks.push_back({at, kept});
    from = kept ? end : value;
  }
  return marks;
}

Text ValueIn(const Text& extent, const char* marker) {
  return TrimSpaces(TextBetween(extent, marker, kValueEnd, std::nullopt, true));
}

}  // namespace

std::vector<ListingDetails> LegacyListingDetails(const Text& answerGbk) {
  const std::vector<TitleMark> marks = TitleMarks(answerGbk);
  std::vector<ListingDetails> details;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    if (!marks[i].kept) continue;
    const int end = i + 1 < marks.size() ? marks[i + 1].at : LengthOf(answerGbk) + 1;
    const Text extent = MiddlePart(answerGbk, marks[i].at, end - marks[i].at);
    details.push_back({ValueIn(extent, kPriceMarker), ValueIn(extent, kSalesMarker),
                       ValueIn(extent, kLocationMarker)});
  }
  return details;
}

}  // namespace zemlaro
