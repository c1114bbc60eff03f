// The search run and the two result-list actions, written once over SearchView,
// so that the desktop window and the command-line tool share them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "search/page_outcome.h"
#include "text/text.h"
#include "web/session.h"

namespace zemlaro {

enum class SearchBox { Keyword, PageCount, Seller };

// One listing as a row's cells 1 to 3; column 0 is the row number. Price, sales and
// location are extra details that only some views show; empty when not known.
struct Listing {
  Text title;
  Text itemId;
  Text sellerNick;
  Text price;
  Text sales;
  Text location;
};

inline constexpr int kColumnNumber = 0;
inline constexpr int kColumnTitle = 1;
inline constexpr int kColumnItemId = 2;
inline constexpr int kColumnSellerNick = 3;

// What a page brought, for views that report it (the command-line tool does).
struct PageReport {
  int page = 0;
  int pageCount = 0;
  int rowsAdded = 0;
  const Bytes* answer = nullptr;  // null for the current service
  Text requestError;              // the session's LastError() for this page
  PageOutcome outcome;
};

// What the run and the actions touch. Rows and columns count from 0.
class SearchView {
 public:
  virtual ~SearchView() = default;

  virtual Text ControlText(SearchBox box) = 0;
  virtual void ClearList() = 0;
  virtual int RowCount() = 0;
  // Appends the listings as rows in one step, nothing coming between them: each
  // row's number is RowNumberText(row count just before it was added).
  virtual void AppendRows(const std::vector<Listing>& listings) = 0;
  virtual Text CellText(int row, int column) = 0;
  virtual void DeleteRow(int row) = 0;
  // The rows given, highest first and each once, deleted as DeleteRow would one by
  // one; a view may delete them in one step.
  virtual void DeleteRows(const std::vector<int>& rowsDescending) {
    for (const int row : rowsDescending) DeleteRow(row);
  }
  // The lowest selected row, -1 when none.
  virtual int SelectedRow() = 0;
  virtual void SetCaption(const Text& caption) = 0;
  // Back to the caption the window had at start-up.
  virtual void RestoreCaption() = 0;
  virtual void OpenAddress(const Text& address) = 0;
  // True once the view is going away: the run stops at its next step.
  virtual bool Stopped() { return false; }
  virtual void PageDone(const PageReport& /*report*/) {}
  // The current service's pause before a page. Returns false when the view stopped
  // during it (the run then ends at once). The default sleeps the whole time.
  virtual bool WaitBeforePage(std::chrono::milliseconds delay);
  // True when the view shows price, sales and location: the search page contract's
  // run then also cuts them out of each answer.
  virtual bool WantsDetails() { return false; }
};

// The first cell of a row at index `rowIndex`: rowIndex + 1 in decimal.
Text RowNumberText(int rowIndex);
// "正在获取宝贝数据 第" + page + "页···", in code page 936.
Text ProgressCaption(int page);
// The page-count box read as a real and truncated toward zero; clamped to 32 bits.
int PageCountOf(std::string_view boxText);
// The rows a page adds: one per title, paired by position; a missing id or nick is empty.
std::vector<Listing> PageListings(const TextArray& titles, const TextArray& itemIds,
                                  const TextArray& sellerNicks);
// "https://" + item host + "/item.htm?id=" + id, the id unchanged.
Text ItemPageAddress(std::string_view itemId, std::string_view itemHost);

struct SearchHosts {
  Text search;  // host[:port] of the search service
  Text item;    // host of the item detail pages
};

// "稍候获取宝贝数据 第" + page + "页···": the caption while the run waits before a page.
Text WaitingCaption(int page);

// The two services a run can ask. Legacy is the search page contract (s.taobao.com's
// JSONP with 44 listings a page); Current is the signed API that serves listings
// today, to a signed-in session, at an unhurried pace.
enum class SearchService { Current, Legacy };

// The current service's pause before every page after the first: a random time
// between `least` and `most`.
struct Pacing {
  std::chrono::milliseconds least{8000};
  std::chrono::milliseconds most{15000};
};

struct SearchSetup {
  SearchService service = SearchService::Current;
  // hosts.search is the host of the service chosen.
  SearchHosts hosts;
  Pacing pacing;
  // Milliseconds since the epoch; null for the system clock.
  std::function<std::int64_t()> nowMs;
  // The stored _m_h5_tk cookie's value; null when there is no store.
  std::function<std::optional<std::string>()> storedToken;
  // Draws one pause from the pacing; null for a uniform random draw.
  std::function<std::chrono::milliseconds(const Pacing&)> drawPause;
};

// A uniform random time between pacing.least and pacing.most (least when most is not above it).
std::chrono::milliseconds RandomPause(const Pacing& pacing);

// Once view.Stopped() is true the run returns at its next step and asks nothing more
// of the view, RestoreCaption() included. This one asks the search page contract.
void RunSearch(SearchView& view, InternetSession& session, const SearchHosts& hosts);
// The same run over the service the setup chooses. The current service's run pauses
// between pages, stops at the page count the service gives, and stops rather than
// asking again once a page needs sign-in or verification or the service limits the
// flow; the rows found stay.
void RunSearch(SearchView& view, InternetSession& session, const SearchSetup& setup);
void FilterBySeller(SearchView& view);
void OpenItemPage(SearchView& view, const SearchHosts& hosts);

}  // namespace zemlaro
