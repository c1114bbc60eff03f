// The result list: a QTableView over a plain vector of rows, and the List* calls
// that fill and read it.
//
// Thread rules: CreateReportList on the window thread only (it makes a widget). The
// List* calls from any thread: from a worker each runs as one step on the window thread
// (steps.h) and gives an empty result once the program is stopping.
#pragma once

#include <QPointer>
#include <QString>
#include <vector>

#include "text/text.h"

class QTableView;
class QWidget;

namespace zemlaro::toolkit {

// A handle a worker may hold: null once the list is destroyed, dereferenced only on
// the window thread.
using List = QPointer<QTableView>;

struct Column {
  QString header;
  int width = 0;
};
// A QTableView named `name`, child of `parent`, with the columns given. Rows are
// selected whole (several with Shift or Ctrl, for copying), never sorted and never edited.
QTableView* CreateReportList(QWidget* parent, const QString& name,
                             const std::vector<Column>& columns);

void ListClear(const List& list);
int ListRowCount(const List& list);
// Appends a row with `text` in column 0; returns its index, -1 on failure.
int ListInsertRow(const List& list, const Text& text);
void ListSetCell(const List& list, int row, int column, const Text& text);
Text ListCellText(const List& list, int row, int column);
void ListDeleteRow(const List& list, int row);
// Deletes the rows given, highest first and each once, in one model change: the
// list ends as after ListDeleteRow for each in turn. Rows not in the list are skipped.
void ListDeleteRows(const List& list, const std::vector<int>& rowsDescending);
int ListSelectedRow(const List& list);
// Appends whole rows (cells from column 0) in one model change; returns the index
// of the first, -1 on failure. Cells past the column count are dropped.
int ListAppendRows(const List& list, std::vector<std::vector<Text>> rows);

}  // namespace zemlaro::toolkit
