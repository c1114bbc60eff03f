#include "app/toolkit/toolkit.h"

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTableView>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "app/toolkit/events.h"
#include "text/codepage.h"
#include "text/process_events.h"

namespace zemlaro::toolkit {
namespace {

// ---- Steps and workers ----------------------------------------------------------

thread_local bool tWindowThread = false;

// Guards the stop flag, the worker count and the state of every queued step. Never
// destroyed: a detached worker may still be leaving while the program exits.
std::mutex& gMutex = *new std::mutex;
std::condition_variable& gChanged = *new std::condition_variable;
std::atomic<bool> gStopping{false};
int gWorkers = 0;

enum class StepState { Queued, Running, Done, Abandoned };

void PumpEvents() {
  if (tWindowThread) QCoreApplication::processEvents();
}

// ---- The report list model ------------------------------------------------------

class ReportModel final : public QAbstractTableModel {
 public:
  ReportModel(std::vector<QString> headers, QObject* parent)
      : QAbstractTableModel(parent), headers_(std::move(headers)) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!HasCell(index.row(), index.column())) return {};
    if (role == Qt::DisplayRole) return ToQString(rows_[index.row()][index.column()]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(headers_.size())) {
      return {};
    }
    if (role == Qt::DisplayRole) return headers_[section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  int Count() const { return static_cast<int>(rows_.size()); }
  bool HasCell(int row, int column) const {
    return row >= 0 && row < Count() && column >= 0 && column < columnCount();
  }
  void Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
  }
  int Append(std::vector<std::vector<Text>> rows) {
    const int first = Count();
    if (rows.empty()) return first;
    for (auto& row : rows) row.resize(headers_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    endInsertRows();
    return first;
  }
  void SetCell(int row, int column, Text text) {
    if (!HasCell(row, column)) return;
    rows_[row][column] = std::move(text);
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
  }
  Text Cell(int row, int column) const {
    return HasCell(row, column) ? rows_[row][column] : Text();
  }
  void Delete(int row) {
    if (row < 0 || row >= Count()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
  }
  // Each removal of rows costs the table's header time in proportion to the whole
  // list, however few rows go, so many scattered rows go in one layout change. The
  // persistent indexes (the selection, the current row) follow their rows or, with
  // a deleted row, become invalid, as they would after removals one by one.
  void DeleteRows(const std::vector<int>& rows) {
    std::vector<bool> deleted(rows_.size(), false);
    bool any = false;
    for (const int row : rows) {
      if (row < 0 || row >= Count()) continue;
      deleted[row] = true;
      any = true;
    }
    if (!any) return;
    emit layoutAboutToBeChanged();
    std::vector<int> newRow(rows_.size(), -1);
    int kept = 0;
    for (int row = 0; row < Count(); ++row) {
      if (deleted[row]) continue;
      newRow[row] = kept;
      if (kept != row) rows_[kept] = std::move(rows_[row]);
      ++kept;
    }
    rows_.resize(kept);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
      const int row = old.row() < 0 ? -1 : newRow[old.row()];
      to.push_back(row < 0 ? QModelIndex() : index(row, old.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged();
  }

 private:
  std::vector<QString> headers_;
  std::vector<std::vector<Text>> rows_;
};

ReportModel* ModelOf(QTableView* view) {
  return view ? dynamic_cast<ReportModel*>(view->model()) : nullptr;
}

// Runs `body` on the window thread with the list's model, when both still exist.
template <typename Body>
void WithModel(const List& list, Body&& body) {
  RunStep([&] {
    if (ReportModel* model = ModelOf(list.data())) body(*model);
  });
}

// ---- Loaded windows -------------------------------------------------------------

struct LoadedEntry {
  const WindowLayout* layout = nullptr;
  QPointer<QWidget> window;
  bool flagged = false;
};

std::vector<LoadedEntry>& Loaded() {
  static std::vector<LoadedEntry> entries;
  return entries;
}

std::function<void()>& LastWindowGone() {
  static std::function<void()> handler;
  return handler;
}

LoadedEntry* FindLoaded(const WindowLayout* layout) {
  for (LoadedEntry& entry : Loaded()) {
    if (entry.layout == layout && entry.window) return &entry;
  }
  return nullptr;
}

// Set while LoadWindow replaces a flagged window: the program is not ending then.
bool gReplacing = false;

// A widget emits destroyed() before its QPointers clear, so the dying window is
// matched by address.
void ForgetDestroyedWindow(const QObject* dying) {
  auto& entries = Loaded();
  const auto before = entries.size();
  std::erase_if(entries, [dying](const LoadedEntry& entry) {
    return entry.window.isNull() || entry.window.data() == dying;
  });
  if (before != 0 && entries.empty() && !gReplacing && LastWindowGone()) LastWindowGone()();
}

// Keeps the outer size fixed: the client area is the outer size less the frame
// the window manager draws, which is known only once the window is mapped.
void KeepOuterSize(QWidget* window, QSize outer) {
  auto fit = [window, outer] {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const QSize wanted(outer.width() - (frame.width() - client.width()),
                       outer.height() - (frame.height() - client.height()));
    if (wanted != window->size() && wanted.isValid()) window->setFixedSize(wanted);
  };
  window->setFixedSize(outer);
  HookEvents(window, [fit](QObject*, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) fit();
    return false;
  });
}

}  // namespace

// ---- Text at the boundary -------------------------------------------------------

QString ToQString(std::string_view gbk) {
  if (gbk.empty()) return {};
  const Text utf8 = GbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text FromQString(const QString& text) {
  if (text.isEmpty()) return {};
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToGbk(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

// ---- Threads and steps ----------------------------------------------------------

void InitToolkit() {
  tWindowThread = true;
  SetProcessEventsHook(&PumpEvents);
}

void BeginStopping() {
  {
    std::lock_guard lock(gMutex);
    gStopping = true;
  }
  gChanged.notify_all();
}

bool Stopping() { return gStopping.load(); }

bool WaitForWorkers(std::chrono::milliseconds limit) {
  std::unique_lock lock(gMutex);
  return gChanged.wait_for(lock, limit, [] { return gWorkers == 0; });
}

bool RunStep(const std::function<void()>& step) {
  if (tWindowThread) {
    step();
    return true;
  }
  auto state = std::make_shared<StepState>(StepState::Queued);
  std::unique_lock lock(gMutex);
  // Posting under the lock: once BeginStopping has returned no worker is half-way
  // through posting, so the application may go away.
  QCoreApplication* app = QCoreApplication::instance();
  if (gStopping || app == nullptr) return false;
  QMetaObject::invokeMethod(
      app,
      [state, &step] {
        {
          std::lock_guard guard(gMutex);
          if (*state == StepState::Abandoned) return;
          *state = StepState::Running;
        }
        step();
        {
          std::lock_guard guard(gMutex);
          *state = StepState::Done;
        }
        gChanged.notify_all();
      },
      Qt::QueuedConnection);
  gChanged.wait(lock, [&] {
    return *state == StepState::Done || (gStopping && *state == StepState::Queued);
  });
  if (*state == StepState::Done) return true;
  // Never started and never will: the window thread drops it when it comes by.
  *state = StepState::Abandoned;
  return false;
}

void StartThread(std::function<void()> routine) {
  {
    std::lock_guard lock(gMutex);
    ++gWorkers;
  }
  std::thread([routine = std::move(routine)]() mutable {
    routine();
    routine = nullptr;  // what it holds goes before the count says the worker left
    // Told under the lock: once a waiter sees the count at zero this worker has done.
    std::lock_guard lock(gMutex);
    --gWorkers;
    gChanged.notify_all();
  }).detach();
}

void ProcessEvents() { zemlaro::ProcessEvents(); }

// ---- The report list ------------------------------------------------------------

QTableView* CreateReportList(QWidget* parent, const QString& name,
                             const std::vector<Column>& columns) {
  auto* view = new QTableView(parent);
  view->setObjectName(name);
  std::vector<QString> headers;
  for (const Column& column : columns) headers.push_back(column.header);
  view->setModel(new ReportModel(std::move(headers), view));
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSortingEnabled(false);
  view->setShowGrid(true);
  view->setWordWrap(false);
  view->setCornerButtonEnabled(false);
  view->setTextElideMode(Qt::ElideRight);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QHeaderView* header = view->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setSortIndicatorShown(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    header->resizeSection(i, columns[i].width);
  }

  QHeaderView* rowsHeader = view->verticalHeader();
  rowsHeader->hide();
  rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
  rowsHeader->setDefaultSectionSize(view->fontMetrics().height() + 4);

  HideSelectionWithoutFocus(view);
  return view;
}

void HideSelectionWithoutFocus(QWidget* control) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Inactive, QPalette::Base));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Inactive, QPalette::Text));
  control->setPalette(palette);
}

void ListClear(const List& list) {
  WithModel(list, [](ReportModel& model) { model.Clear(); });
}

int ListRowCount(const List& list) {
  int count = 0;
  WithModel(list, [&](ReportModel& model) { count = model.Count(); });
  return count;
}

int ListInsertRow(const List& list, const Text& text) {
  int row = -1;
  WithModel(list, [&](ReportModel& model) { row = model.Append({{text}}); });
  return row;
}

void ListSetCell(const List& list, int row, int column, const Text& text) {
  WithModel(list, [&](ReportModel& model) { model.SetCell(row, column, text); });
}

Text ListCellText(const List& list, int row, int column) {
  Text text;
  WithModel(list, [&](ReportModel& model) { text = model.Cell(row, column); });
  return text;
}

void ListDeleteRow(const List& list, int row) {
  WithModel(list, [&](ReportModel& model) { model.Delete(row); });
}

void ListDeleteRows(const List& list, const std::vector<int>& rowsDescending) {
  WithModel(list, [&](ReportModel& model) { model.DeleteRows(rowsDescending); });
}

int ListSelectedRow(const List& list) {
  int row = -1;
  RunStep([&] {
    QTableView* view = list.data();
    if (view == nullptr || view->selectionModel() == nullptr) return;
    for (const QModelIndex& index : view->selectionModel()->selectedIndexes()) {
      if (row == -1 || index.row() < row) row = index.row();
    }
  });
  return row;
}

int ListAppendRows(const List& list, std::vector<std::vector<Text>> rows) {
  int first = -1;
  WithModel(list, [&](ReportModel& model) { first = model.Append(std::move(rows)); });
  return first;
}

// ---- Captions and edit boxes ----------------------------------------------------

void SetCaption(const Window& window, const Text& text) {
  RunStep([&] {
    if (QWidget* w = window.data()) w->setWindowTitle(ToQString(text));
  });
}

Text ControlText(const Control& control) {
  Text text;
  RunStep([&] {
    QWidget* widget = control.data();
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
      text = FromQString(line->text());
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
      text = FromQString(box->toPlainText());
    }
  });
  return text;
}

// ---- Windows --------------------------------------------------------------------

QPoint CentredOrigin(QSize screen, QSize outer) {
  // Integer division truncating toward zero, as the layout's arithmetic does.
  return QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

Window LoadWindow(const WindowLayout& layout) {
  Window result;
  RunStep([&] {
    LoadedEntry* entry = FindLoaded(&layout);
    if (entry != nullptr && entry->flagged) {
      gReplacing = true;
      delete entry->window.data();  // its destroyed() hook drops the entry
      gReplacing = false;
      entry = FindLoaded(&layout);
    }
    if (entry != nullptr) {
      QWidget* window = entry->window;
      if (window->isMinimized()) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
      } else if (window->isVisible()) {
        window->raise();
        window->activateWindow();
      }
      result = window;
      return;
    }
    QWidget* window = layout.create ? layout.create() : nullptr;
    if (window == nullptr) return;
    window->setAttribute(Qt::WA_DeleteOnClose);
    KeepOuterSize(window, layout.outerSize);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect();
    window->move(area.topLeft() + CentredOrigin(area.size(), layout.outerSize));
    Loaded().push_back({&layout, window, false});
    QObject::connect(window, &QObject::destroyed, qApp, &ForgetDestroyedWindow);
    if (layout.visible) window->show();
    result = window;
  });
  return result;
}

void UnloadWindow(const WindowLayout& layout) {
  RunStep([&] {
    LoadedEntry* entry = FindLoaded(&layout);
    if (entry == nullptr || entry->flagged) return;
    entry->flagged = true;
    QMetaObject::invokeMethod(
        entry->window.data(),
        [window = entry->window] {
          if (window) window->close();
          // A window that was never shown is not deleted by close(); this is.
          if (window) window->deleteLater();
        },
        Qt::QueuedConnection);
  });
}

Window LoadedWindow(const WindowLayout& layout) {
  Window result;
  RunStep([&] {
    if (LoadedEntry* entry = FindLoaded(&layout)) result = entry->window;
  });
  return result;
}

int LoadedWindowCount() {
  int count = 0;
  RunStep([&] {
    count = static_cast<int>(std::count_if(
        Loaded().begin(), Loaded().end(), [](const LoadedEntry& e) { return !e.window.isNull(); }));
  });
  return count;
}

void DestroyAllWindows() {
  RunStep([] {
    std::vector<QPointer<QWidget>> windows;
    for (const LoadedEntry& entry : Loaded()) windows.push_back(entry.window);
    for (const QPointer<QWidget>& window : windows) delete window.data();
  });
}

void SetLastWindowGoneHandler(std::function<void()> handler) {
  LastWindowGone() = std::move(handler);
}

// ---- Browser and desktop --------------------------------------------------------

void BrowserNavigate(const Browser& browser, const Text& address) {
  RunStep([&] {
    if (QWebEngineView* view = browser.data()) view->load(QUrl(ToQString(address)));
  });
}

void OpenAddress(const Text& address) {
  RunStep([&] { QDesktopServices::openUrl(QUrl(ToQString(address))); });
}

}  // namespace zemlaro::toolkit
