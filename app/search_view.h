// The main window as the search run and the list actions see it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/toolkit/toolkit.h"
#include "search/search_run.h"

namespace zemlaro::app {

// Shared by the main window and its workers; outlives whichever goes last.
struct MainWindowState {
  // Set when the window is destroyed: a run on it stops, a transfer under way aborts.
  std::atomic<bool> closed{false};
  // The number of the run in progress, 0 when none: the Find buttons wait for it.
  std::atomic<int> runningSearch{0};
  int lastSearch = 0;  // window thread only
  // Wakes a run that waits between pages when the window goes.
  std::mutex wakeMutex;
  std::condition_variable wake;
  void Close();
};

struct MainWindowControls {
  toolkit::Window window;
  toolkit::List list;
  toolkit::Control keyword;
  toolkit::Control pageCount;
  toolkit::Control seller;
};

// Every call goes through the toolkit, so it works on the window thread and on a
// search worker alike.
class WindowSearchView final : public SearchView {
 public:
  WindowSearchView(MainWindowControls controls, std::shared_ptr<MainWindowState> state,
                   int run = 0);

  Text ControlText(SearchBox box) override;
  void ClearList() override;
  int RowCount() override;
  void AppendRows(const std::vector<Listing>& listings) override;
  Text CellText(int row, int column) override;
  void DeleteRow(int row) override;
  void DeleteRows(const std::vector<int>& rowsDescending) override;
  int SelectedRow() override;
  void SetCaption(const Text& caption) override;
  void RestoreCaption() override;
  void OpenAddress(const Text& address) override;
  bool Stopped() override;
  void PageDone(const PageReport& report) override;
  // Waits on the worker, and wakes at once when the window goes.
  bool WaitBeforePage(std::chrono::milliseconds delay) override;

  // The run is over: the Find buttons work again.
  void EndRun();
  // The outcome of every page so far, in page order (the worker's own).
  const std::vector<PageReport>& Reports() const { return reports_; }

 private:
  MainWindowControls controls_;
  std::shared_ptr<MainWindowState> state_;
  int run_;
  std::vector<PageReport> reports_;  // without their answers
};

// The main window's start-up caption in code page 936.
Text MainCaption();

}  // namespace zemlaro::app
