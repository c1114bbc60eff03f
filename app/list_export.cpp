#include "app/list_export.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>
#include <QTableView>
#include <set>

#include "app/constants.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "text/codepage.h"

namespace zemlaro::app {
namespace {

// The export's texts.
constexpr char kExportDialogTitle[] = "导出全部";
constexpr char kWorkbookFilter[] = "Excel 工作簿 (*.xlsx)";
constexpr char kCsvFilter[] = "CSV (*.csv)";
constexpr char kDefaultFileName[] = "宝贝列表.xlsx";
constexpr char kExportFailedHead[] = "导出失败：";
constexpr char kUnknownSuffix[] = "只能导出为 .xlsx 或 .csv 文件";
constexpr char kReplaceQuestion[] = "%1 已存在。要替换它吗？";

// The list's columns: 序号, 宝贝标题, 宝贝ID, 商家名.
constexpr int kColumns = 4;

QString ClipboardCell(QString value) {
  value.replace(QLatin1Char('\t'), QLatin1Char(' '));
  value.replace(QLatin1Char('\r'), QLatin1Char(' '));
  value.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return value;
}

QString Failure(const QString& reason) { return U(kExportFailedHead) + reason; }

}  // namespace

QString SelectedRowsText(QTableView* list) {
  if (list == nullptr || list->selectionModel() == nullptr) return {};
  std::set<int> rows;
  for (const QModelIndex& index : list->selectionModel()->selectedIndexes()) {
    rows.insert(index.row());
  }
  const toolkit::List handle = list;
  QString text;
  for (const int row : rows) {
    QStringList cells;
    for (int column = 0; column < kColumns; ++column) {
      cells << ClipboardCell(toolkit::ToQString(toolkit::ListCellText(handle, row, column)));
    }
    text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}

void CopySelectedRows(QTableView* list) {
  const QString text = SelectedRowsText(list);
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

Table ListTable(QTableView* list) {
  Table table{{kListHeaderNumber, kListHeaderTitle, kListHeaderItemId, kListHeaderSeller}, {}};
  const toolkit::List handle = list;
  const int count = toolkit::ListRowCount(handle);
  table.rows.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < kColumns; ++column) {
      cells.push_back(GbkToUtf8(toolkit::ListCellText(handle, row, column)));
    }
    table.rows.push_back(std::move(cells));
  }
  return table;
}

bool ExportRowsTo(const QString& path, const Table& table, QString* why) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  const std::string file = QFile::encodeName(path).toStdString();
  std::string reason;
  bool written = false;
  if (suffix == QLatin1String("xlsx")) {
    written = WriteWorkbook(file, table, &reason);
  } else if (suffix == QLatin1String("csv")) {
    written = WriteFileAtomically(file, CsvText(table, true), &reason);
  } else {
    if (why != nullptr) *why = Failure(path + QLatin1String(": ") + U(kUnknownSuffix));
    return false;
  }
  if (!written && why != nullptr) *why = Failure(QString::fromUtf8(reason));
  return written;
}

bool ExportAllRows(QWidget* parent, QTableView* list) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  QFileDialog dialog(parent, U(kExportDialogTitle), QDir(folder).filePath(U(kDefaultFileName)));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({U(kWorkbookFilter), U(kCsvFilter)});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  return ExportToChosenFile(parent, list, dialog.selectedFiles().constFirst(),
                            dialog.selectedNameFilter() == U(kCsvFilter));
}

bool ExportToChosenFile(QWidget* parent, QTableView* list, QString path, bool csvChosen) {
  // Not every platform's dialog adds the filter's suffix (nor asks about the file so
  // named), so it is done here.
  if (QFileInfo(path).suffix().isEmpty()) {
    path += csvChosen ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    if (QFileInfo::exists(path) &&
        QMessageBox::question(parent, U(kExportDialogTitle),
                              U(kReplaceQuestion).arg(QDir::toNativeSeparators(path))) !=
            QMessageBox::Yes) {
      return false;
    }
  }
  // The rows the list holds now, after the dialog: a search may have added some.
  QString why;
  if (ExportRowsTo(path, ListTable(list), &why)) return true;
  QMessageBox::warning(parent, U(kExportDialogTitle), why);
  return false;
}

}  // namespace zemlaro::app
