#include "search/search_run.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>

#include "search/current_constants.h"
#include "search/current_service.h"
#include "search/listing_details.h"
#include "search/market.h"
#include "search/search_page.h"
#include "text/codepage.h"
#include "web/web_request.h"

namespace zemlaro {

Text RowNumberText(int rowIndex) { return FormatInteger(std::int64_t{rowIndex} + 1); }

Text ProgressCaption(int page) {
  return JoinTexts({kProgressCaptionHead, FormatInteger(page), kProgressCaptionTail});
}

int PageCountOf(std::string_view boxText) {
  const double value = ParseReal(boxText);
  if (std::isnan(value)) return 0;
  constexpr double kMax = std::numeric_limits<int>::max();
  constexpr double kMin = std::numeric_limits<int>::min();
  if (value >= kMax) return std::numeric_limits<int>::max();
  if (value <= kMin) return std::numeric_limits<int>::min();
  return static_cast<int>(std::trunc(value));
}

namespace {

// PageListings over lists whose texts move into the rows.
std::vector<Listing> PairListings(std::vector<Text> titles, std::vector<Text> itemIds,
                                  std::vector<Text> sellerNicks) {
  std::vector<Listing> listings;
  listings.reserve(titles.size());
  // Paired by position alone; a missing id or nick is empty.
  auto take = [](std::vector<Text>& list, std::size_t j) {
    return j < list.size() ? std::move(list[j]) : Text();
  };
  for (std::size_t j = 0; j < titles.size(); ++j) {
    listings.push_back({std::move(titles[j]), take(itemIds, j), take(sellerNicks, j), {}, {}, {}});
  }
  return listings;
}

}  // namespace

std::vector<Listing> PageListings(const TextArray& titles, const TextArray& itemIds,
                                  const TextArray& sellerNicks) {
  return PairListings({titles.begin(), titles.end()}, {itemIds.begin(), itemIds.end()},
                      {sellerNicks.begin(), sellerNicks.end()});
}

Text ItemPageAddress(std::string_view itemId, std::string_view itemHost) {
  return JoinTexts({"https://", itemHost, "/item.htm?id=", itemId});
}

bool SearchView::WaitBeforePage(std::chrono::milliseconds delay) {
  std::this_thread::sleep_for(delay);
  return !Stopped();
}

Text WaitingCaption(int page) {
  return JoinTexts({kWaitingCaptionHead, FormatInteger(page), kProgressCaptionTail});
}

std::chrono::milliseconds RandomPause(const Pacing& pacing) {
  if (pacing.most <= pacing.least) return pacing.least;
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::int64_t> draw(pacing.least.count(), pacing.most.count());
  return std::chrono::milliseconds(draw(random));
}

namespace {

// The details of a legacy page's listings, each cut from that listing's own extent.
void AddLegacyDetails(const Bytes& answer, std::vector<Listing>& rows) {
  const std::vector<ListingDetails> details =
      LegacyListingDetails(Utf8ToGbk(TextViewOfBytes(answer)));
  for (std::size_t j = 0; j < rows.size() && j < details.size(); ++j) {
    rows[j].price = details[j].price;
    rows[j].sales = details[j].sales;
    rows[j].location = details[j].location;
  }
}

void RunLegacySearch(SearchView& view, InternetSession& session, const SearchHosts& hosts) {
  view.ClearList();
  const int pageCount = PageCountOf(view.ControlText(SearchBox::PageCount));
  // A view that goes away ends the run at once: nothing more is asked of it.
  for (std::int64_t i = 1; i <= pageCount; ++i) {
    const int page = static_cast<int>(i);
    if (view.Stopped()) return;
    view.SetCaption(ProgressCaption(page));
    const Text keyword = view.ControlText(SearchBox::Keyword);
    Text finalAddress;
    WebRequestArgs args;
    args.finalAddress = &finalAddress;
    const Bytes answer = WebRequest(session, BuildSearchUrl(keyword, page, hosts.search), args);
    if (view.Stopped()) return;
    SearchPage parsed = ParseSearchPage(answer);
    std::vector<Listing> rows = PairListings(parsed.titles.TakeItems(), parsed.itemIds.TakeItems(),
                                             parsed.sellerNicks.TakeItems());
    if (view.WantsDetails() && !rows.empty()) AddLegacyDetails(answer, rows);
    view.AppendRows(rows);
    PageReport report;
    report.page = page;
    report.pageCount = pageCount;
    report.rowsAdded = static_cast<int>(rows.size());
    report.answer = &answer;
    report.requestError = session.LastError();
    report.outcome =
        ClassifyLegacyPage(report.rowsAdded, answer, report.requestError, finalAddress);
    view.PageDone(report);
  }
  if (view.Stopped()) return;
  view.RestoreCaption();
}

std::int64_t SystemMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void RunCurrentSearch(SearchView& view, InternetSession& session, const SearchSetup& setup) {
  view.ClearList();
  const int pageCount = PageCountOf(view.ControlText(SearchBox::PageCount));
  const int lastPage = std::min(pageCount, kCurrentPageCap);
  int callbackCounter = 0;
  CurrentRequestContext context;
  context.host = setup.hosts.search;
  context.nowMs = setup.nowMs ? setup.nowMs : &SystemMs;
  context.storedToken =
      setup.storedToken ? setup.storedToken : [] { return std::optional<std::string>(); };
  context.callbackCounter = &callbackCounter;
  for (int page = 1; page <= lastPage; ++page) {
    if (view.Stopped()) return;
    if (page > 1) {
      const std::chrono::milliseconds pause =
          setup.drawPause ? setup.drawPause(setup.pacing) : RandomPause(setup.pacing);
      if (pause.count() > 0) {
        view.SetCaption(WaitingCaption(page));
        if (!view.WaitBeforePage(pause)) return;
      }
    }
    view.SetCaption(ProgressCaption(page));
    const Text keyword = view.ControlText(SearchBox::Keyword);
    CurrentPage fetched = FetchCurrentPage(session, context, keyword, page);
    if (view.Stopped()) return;
    view.AppendRows(fetched.listings);
    PageReport report;
    report.page = page;
    report.pageCount = pageCount;
    report.rowsAdded = static_cast<int>(fetched.listings.size());
    report.requestError = session.LastError();
    report.outcome = fetched.outcome;
    view.PageDone(report);
    if (StopsTheRun(report.outcome.kind)) break;
    if (fetched.totalPages > 0 && page >= fetched.totalPages) break;
  }
  if (view.Stopped()) return;
  view.RestoreCaption();
}

}  // namespace

void RunSearch(SearchView& view, InternetSession& session, const SearchHosts& hosts) {
  RunLegacySearch(view, session, hosts);
}

void RunSearch(SearchView& view, InternetSession& session, const SearchSetup& setup) {
  if (setup.service == SearchService::Legacy) {
    RunLegacySearch(view, session, setup.hosts);
  } else {
    RunCurrentSearch(view, session, setup);
  }
}

void FilterBySeller(SearchView& view) {
  const int rowCount = view.RowCount();
  // From the last row to the first. The rows to go are deleted together, still last
  // to first, once every row has been read: no deletion moves a row still to visit,
  // and a long list is not changed row by row.
  std::vector<int> rowsToDelete;
  for (int k = rowCount; k >= 1; --k) {
    const Text seller = view.CellText(k - 1, kColumnSellerNick);
    const Text fragment = view.ControlText(SearchBox::Seller);
    if (FindForward(seller, fragment) == -1) rowsToDelete.push_back(k - 1);
  }
  if (!rowsToDelete.empty()) view.DeleteRows(rowsToDelete);
}

void OpenItemPage(SearchView& view, const SearchHosts& hosts) {
  const int row = view.SelectedRow();
  const Text itemId = row < 0 ? Text() : view.CellText(row, kColumnItemId);
  view.OpenAddress(ItemPageAddress(itemId, hosts.item));
}

}  // namespace zemlaro
