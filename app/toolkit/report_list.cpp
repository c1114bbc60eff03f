#include "app/toolkit/report_list.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <utility>

#include "app/toolkit/controls.h"
#include "app/toolkit/gbk_text.h"
#include "app/toolkit/steps.h"

namespace zemlaro::toolkit {
namespace {

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

}  // namespace

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

}  // namespace zemlaro::toolkit
