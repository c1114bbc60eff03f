// The command-line tool's SearchView: three fixed "boxes" and a plain in-memory
// row list, with hooks for the progress and page lines on stderr.
#pragma once

#include <functional>
#include <vector>

#include "search/search_run.h"
#include "tools/cli/cli_output.h"

namespace zemlaro::cli {

class CliView : public SearchView {
 public:
  CliView(Text keyword, Text pagesText, Text sellerFragment);

  // Called as a page starts, with its number and the page count.
  std::function<void(int page, int pageCount)> onPageStart;
  std::function<void(const PageReport&)> onPageDone;

  const std::vector<Row>& Rows() const { return rows_; }
  const Text& Caption() const { return caption_; }
  const Text& OpenedAddress() const { return openedAddress_; }

  Text ControlText(SearchBox box) override;
  void ClearList() override;
  int RowCount() override;
  void AppendRows(const std::vector<Listing>& listings) override;
  Text CellText(int row, int column) override;
  void DeleteRow(int row) override;
  void DeleteRows(const std::vector<int>& rowsDescending) override;
  int SelectedRow() override { return -1; }
  void SetCaption(const Text& caption) override;
  void RestoreCaption() override { caption_.clear(); }
  void OpenAddress(const Text& address) override { openedAddress_ = address; }
  void PageDone(const PageReport& report) override;
  bool WantsDetails() override { return wantsDetails; }

  bool wantsDetails = false;

 private:
  Text keyword_;
  Text pagesText_;
  Text sellerFragment_;
  std::vector<Row> rows_;
  Text caption_;
  Text openedAddress_;
  int pagesStarted_ = 0;
};

}  // namespace zemlaro::cli
