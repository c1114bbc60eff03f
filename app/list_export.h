// Getting the result list out: its selected rows to the clipboard, every row to an
// .xlsx or CSV file.
//
// Window thread only. The list is read as it is at the call (rows a worker appends
// later are not in it) and is never changed.
#pragma once

#include <QString>

#include "search/table_export.h"

class QTableView;
class QWidget;

namespace zemlaro::app {

// The selected rows, top to bottom, as tab-separated lines of the list's four
// columns (a tab, CR or LF inside a value becomes one space), each line ended by
// "\n". Empty when no row is selected.
QString SelectedRowsText(QTableView* list);
// Puts SelectedRowsText on the clipboard; with no row selected the clipboard stays.
void CopySelectedRows(QTableView* list);

// Every row of the list as UTF-8 cells of its four columns, with the header
// 序号 / 宝贝标题 / 宝贝ID / 商家名.
Table ListTable(QTableView* list);

// Asks for a file ("Excel 工作簿 (*.xlsx)" or "CSV (*.csv)"; a name without a suffix
// takes the chosen filter's, asking before it replaces a file so named), then writes
// the rows the list holds at that moment. A failure is shown in a message box
// naming the file and the reason.
// True when the file was written; false when it was not or the user cancelled.
bool ExportAllRows(QWidget* parent, QTableView* list);
// What ExportAllRows does once the dialog has given `path` (and whether the CSV
// filter was the chosen one): the suffix, the question, the rows, the message.
bool ExportToChosenFile(QWidget* parent, QTableView* list, QString path, bool csvChosen);

// Writes `table` to `path` by its suffix: .xlsx as a workbook, .csv as UTF-8 CSV
// with a byte-order mark (either case). False with the message text in `why`.
bool ExportRowsTo(const QString& path, const Table& table, QString* why);

}  // namespace zemlaro::app
