// The search run and the two result-list actions, written once over SearchView,
// so that the desktop window and the command-line tool share them.
#pragma once

#include <vector>

#include "text/text.h"
#include "web/session.h"

namespace zemlaro {

enum class SearchBox { Keyword, PageCount, Seller };

// One listing as a row's cells 1 to 3; column 0 is the row number.
struct Listing {
  Text title;
  Text itemId;
  Text sellerNick;
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
  const Bytes* answer = nullptr;
  Text requestError;  // the session's LastError() for this page
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

// Once view.Stopped() is true the run returns at its next step and asks nothing more
// of the view, RestoreCaption() included.
void RunSearch(SearchView& view, InternetSession& session, const SearchHosts& hosts);
void FilterBySeller(SearchView& view);
void OpenItemPage(SearchView& view, const SearchHosts& hosts);

}  // namespace zemlaro
