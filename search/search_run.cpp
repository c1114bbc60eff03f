#include "search/search_run.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "search/market.h"
#include "search/search_page.h"
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

std::vector<Listing> PageListings(const TextArray& titles, const TextArray& itemIds,
                                  const TextArray& sellerNicks) {
  std::vector<Listing> listings;
  const int count = CountOf(titles);
  listings.reserve(static_cast<std::size_t>(count));
  // Paired by position alone; Item() reads a missing id or nick as empty.
  for (int j = 1; j <= count; ++j) {
    listings.push_back({titles.Item(j), itemIds.Item(j), sellerNicks.Item(j)});
  }
  return listings;
}

Text ItemPageAddress(std::string_view itemId, std::string_view itemHost) {
  return JoinTexts({"https://", itemHost, "/item.htm?id=", itemId});
}

void RunSearch(SearchView& view, InternetSession& session, const SearchHosts& hosts) {
  view.ClearList();
  const int pageCount = PageCountOf(view.ControlText(SearchBox::PageCount));
  // A view that goes away ends the run at once: nothing more is asked of it.
  for (std::int64_t i = 1; i <= pageCount; ++i) {
    const int page = static_cast<int>(i);
    if (view.Stopped()) return;
    view.SetCaption(ProgressCaption(page));
    const Text keyword = view.ControlText(SearchBox::Keyword);
    const Bytes answer = WebRequest(session, BuildSearchUrl(keyword, page, hosts.search));
    if (view.Stopped()) return;
    const SearchPage parsed = ParseSearchPage(answer);
    const std::vector<Listing> rows =
        PageListings(parsed.titles, parsed.itemIds, parsed.sellerNicks);
    view.AppendRows(rows);
    PageReport report;
    report.page = page;
    report.pageCount = pageCount;
    report.rowsAdded = static_cast<int>(rows.size());
    report.answer = &answer;
    report.requestError = session.LastError();
    view.PageDone(report);
  }
  if (view.Stopped()) return;
  view.RestoreCaption();
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
