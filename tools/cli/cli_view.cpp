#include "tools/cli/cli_view.h"

#include <algorithm>

#include "search/market.h"

namespace zemlaro::cli {

CliView::CliView(Text keyword, Text pagesText, Text sellerFragment)
    : keyword_(std::move(keyword)),
      pagesText_(std::move(pagesText)),
      sellerFragment_(std::move(sellerFragment)) {}

Text CliView::ControlText(SearchBox box) {
  switch (box) {
    case SearchBox::Keyword:
      return keyword_;
    case SearchBox::PageCount:
      return pagesText_;
    case SearchBox::Seller:
      return sellerFragment_;
  }
  return {};
}

void CliView::ClearList() {
  rows_.clear();
  pagesStarted_ = 0;
}

int CliView::RowCount() { return static_cast<int>(rows_.size()); }

void CliView::AppendRows(const std::vector<Listing>& listings) {
  // Room for the page at once, still growing geometrically over many pages.
  const std::size_t needed = rows_.size() + listings.size();
  if (needed > rows_.capacity()) rows_.reserve(std::max(needed, 2 * rows_.capacity()));
  for (const Listing& listing : listings) {
    rows_.push_back({RowNumberText(RowCount()), listing.title, listing.itemId, listing.sellerNick,
                     listing.price, listing.sales, listing.location});
  }
}

Text CliView::CellText(int row, int column) {
  if (row < 0 || row >= RowCount() || column < 0 || column >= kFieldCount) return {};
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void CliView::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
}

// One pass over the list instead of one erase per row.
void CliView::DeleteRows(const std::vector<int>& rowsDescending) {
  std::vector<bool> doomed(rows_.size(), false);
  for (int row : rowsDescending) {
    if (row >= 0 && row < RowCount()) doomed[static_cast<std::size_t>(row)] = true;
  }
  std::size_t kept = 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (doomed[r]) continue;
    if (kept != r) rows_[kept] = std::move(rows_[r]);
    ++kept;
  }
  rows_.resize(kept);
}

void CliView::SetCaption(const Text& caption) {
  caption_ = caption;
  // The run sets the progress caption once as each page starts (and the waiting
  // caption before some).
  if (caption.rfind(kProgressCaptionHead, 0) != 0) return;
  ++pagesStarted_;
  if (onPageStart) onPageStart(pagesStarted_, PageCountOf(pagesText_));
}

void CliView::PageDone(const PageReport& report) {
  if (onPageDone) onPageDone(report);
}

}  // namespace zemlaro::cli
