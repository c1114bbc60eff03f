#include "app/search_view.h"

#include <utility>

#include "app/constants.h"
#include "text/codepage.h"

namespace zemlaro::app {

Text MainCaption() { return Utf8ToGbk(kMainCaptionHead) + kAuthorQQ; }

WindowSearchView::WindowSearchView(MainWindowControls controls,
                                   std::shared_ptr<MainWindowState> state, int run)
    : controls_(std::move(controls)), state_(std::move(state)), run_(run) {}

Text WindowSearchView::ControlText(SearchBox box) {
  switch (box) {
    case SearchBox::Keyword:
      return toolkit::ControlText(controls_.keyword);
    case SearchBox::PageCount:
      return toolkit::ControlText(controls_.pageCount);
    case SearchBox::Seller:
      return toolkit::ControlText(controls_.seller);
  }
  return {};
}

void WindowSearchView::ClearList() { toolkit::ListClear(controls_.list); }

int WindowSearchView::RowCount() { return toolkit::ListRowCount(controls_.list); }

void WindowSearchView::AppendRows(const std::vector<Listing>& listings) {
  if (listings.empty()) return;
  std::vector<std::vector<Text>> rows;
  rows.reserve(listings.size());
  for (const Listing& listing : listings) {
    rows.push_back({Text(), listing.title, listing.itemId, listing.sellerNick});
  }
  // Numbering and appending are one step, so nothing can come between the row
  // count that numbers a row and the row itself.
  toolkit::RunStep([&] {
    const int first = toolkit::ListRowCount(controls_.list);
    for (size_t k = 0; k < rows.size(); ++k) {
      rows[k][kColumnNumber] = RowNumberText(first + static_cast<int>(k));
    }
    toolkit::ListAppendRows(controls_.list, std::move(rows));
  });
}

Text WindowSearchView::CellText(int row, int column) {
  return toolkit::ListCellText(controls_.list, row, column);
}

void WindowSearchView::DeleteRow(int row) { toolkit::ListDeleteRow(controls_.list, row); }

void WindowSearchView::DeleteRows(const std::vector<int>& rowsDescending) {
  toolkit::ListDeleteRows(controls_.list, rowsDescending);
}

int WindowSearchView::SelectedRow() { return toolkit::ListSelectedRow(controls_.list); }

void WindowSearchView::SetCaption(const Text& caption) {
  toolkit::SetCaption(controls_.window, caption);
}

void WindowSearchView::RestoreCaption() {
  // The caption and the end of the run in one step: once the caption is back, the
  // Find buttons answer again.
  toolkit::RunStep([&] {
    toolkit::SetCaption(controls_.window, MainCaption());
    EndRun();
  });
}

void WindowSearchView::OpenAddress(const Text& address) { toolkit::OpenAddress(address); }

bool WindowSearchView::Stopped() { return state_->closed || toolkit::Stopping(); }

void WindowSearchView::PageDone(const PageReport& report) {
  reports_.push_back(report);
  reports_.back().answer = nullptr;
}

bool WindowSearchView::WaitBeforePage(std::chrono::milliseconds delay) {
  const auto end = std::chrono::steady_clock::now() + delay;
  std::unique_lock<std::mutex> lock(state_->wakeMutex);
  // The program's stop has no wake of its own: it is looked at every so often.
  while (!Stopped() && std::chrono::steady_clock::now() < end) {
    state_->wake.wait_until(
        lock, std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
  }
  return !Stopped();
}

void MainWindowState::Close() {
  {
    const std::lock_guard<std::mutex> lock(wakeMutex);
    closed = true;
  }
  wake.notify_all();
}

void WindowSearchView::EndRun() {
  if (run_ == 0) return;
  int expected = run_;
  state_->runningSearch.compare_exchange_strong(expected, 0);
}

}  // namespace zemlaro::app
