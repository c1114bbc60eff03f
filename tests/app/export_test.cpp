// Copy and export of the result list, under the offscreen platform.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "app/list_export.h"
#include "app/object_names.h"
#include "app/program.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "text/codepage.h"

using namespace zemlaro;
using namespace zemlaro::app;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PutFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

// The list as the main window makes it, with every row selectable at once.
QTableView* NewList(QWidget* parent) {
  QTableView* list = toolkit::CreateReportList(
      parent, U(kResultList),
      {{U("序号"), 50}, {U("宝贝标题"), 200}, {U("宝贝ID"), 100}, {U("商家名"), 100}});
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return list;
}

// Row `i` of a search, in code page 936 as the list holds it.
std::vector<Text> SearchRow(int i) {
  return {std::to_string(i + 1), Utf8ToGbk("台灯 第" + std::to_string(i) + "件"),
          "00" + std::to_string(700000 + i), Utf8ToGbk("店,\"" + std::to_string(i % 7) + "\"")};
}

// The same row as a CSV line, written out by hand.
QByteArray SearchCsvLine(int i) {
  return QByteArray::number(i + 1) + ",台灯 第" + QByteArray::number(i) + "件,00" +
         QByteArray::number(700000 + i) + ",\"店,\"\"" + QByteArray::number(i % 7) + "\"\"\"\r\n";
}

// What the view shows, read through the model, not through the code under test.
std::vector<std::vector<std::string>> Shown(QTableView* list) {
  std::vector<std::vector<std::string>> rows;
  QAbstractItemModel* model = list->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < model->columnCount(); ++column) {
      cells.push_back(model->index(row, column).data().toString().toStdString());
    }
    rows.push_back(cells);
  }
  return rows;
}

const QByteArray kCsvHeader = "\xEF\xBB\xBF序号,宝贝标题,宝贝ID,商家名\r\n";

// Runs `step` on the first modal dialog of type T once it is open. The watch ends
// with `scope`, so none outlives the test that set it.
template <typename T>
void WhenModalOpens(QObject* scope, const std::function<void(T*)>& step) {
  auto* timer = new QTimer(scope);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->deleteLater();
      timer->stop();
      step(dialog);
    }
  });
  timer->start(10);
}

}  // namespace

class ExportTest : public QObject {
  Q_OBJECT
 private slots:
  // Rows come in list order whatever the order of selecting; tabs and line breaks
  // inside a value become spaces.
  void selectedRowsText_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << QList<int>{} << QString();
    QTest::newRow("one row") << QList<int>{1} << U("2\t两行  标题 带 制表符\t0012\t商 家\n");
    QTest::newRow("several, selected out of order")
        << QList<int>{2, 0} << U("1\t台灯\t000123\t发个哈哈几个\n3\t\t9\t\n");
  }
  void selectedRowsText() {
    QFETCH(QList<int>, selected);
    QFETCH(QString, text);
    QWidget window;
    QTableView* list = NewList(&window);
    toolkit::ListAppendRows(
        list, {{"1", Utf8ToGbk("台灯"), "000123", Utf8ToGbk("发个哈哈几个")},
               {"2", Utf8ToGbk("两行\r\n标题\n带\t制表符"), "0012", Utf8ToGbk("商\t家")},
               {"3", "", "9", ""}});
    for (const int row : selected) {
      list->selectionModel()->select(list->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QCOMPARE(SelectedRowsText(list), text);

    QGuiApplication::clipboard()->setText(U("before"));
    CopySelectedRows(list);
    QCOMPARE(QGuiApplication::clipboard()->text(), text.isEmpty() ? U("before") : text);
  }

  // A worker fills the list as a search does; the export takes the rows present at
  // that moment, and the worker's rows keep coming and stay as they were sent.
  void exportDuringASearch() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QWidget window;
    QTableView* list = NewList(&window);
    toolkit::List handle = list;
    std::atomic<bool> stop{false}, done{false};
    std::atomic<int> sent{0};
    std::thread worker([&] {
      for (int batch = 0; !stop; ++batch) {
        std::vector<std::vector<Text>> rows;
        for (int i = 0; i < 5; ++i) rows.push_back(SearchRow(batch * 5 + i));
        toolkit::ListAppendRows(handle, rows);
        sent += 5;
      }
      done = true;
    });
    QTRY_VERIFY(toolkit::ListRowCount(handle) >= 50);

    const Table table = ListTable(list);
    QCOMPARE(table.rows, Shown(list));
    QCOMPARE(table.header, (std::vector<std::string>{"序号", "宝贝标题", "宝贝ID", "商家名"}));
    QString why;
    QVERIFY2(ExportRowsTo(folder.filePath(U("snapshot.csv")), table, &why), qPrintable(why));
    QVERIFY(ExportRowsTo(folder.filePath(U("snapshot.xlsx")), table, &why));
    const int taken = static_cast<int>(table.rows.size());
    QTRY_VERIFY(toolkit::ListRowCount(handle) > taken + 20);  // the search went on
    stop = true;
    QTRY_VERIFY(done);
    worker.join();

    QByteArray expected = kCsvHeader;
    for (int i = 0; i < taken; ++i) expected += SearchCsvLine(i);
    QCOMPARE(ReadAll(folder.filePath(U("snapshot.csv"))), expected);
    QVERIFY(ReadAll(folder.filePath(U("snapshot.xlsx"))).startsWith("PK\x03\x04"));
    const auto shown = Shown(list);
    QCOMPARE(static_cast<int>(shown.size()), sent.load());
    for (int i = 0; i < sent; ++i) {
      std::vector<std::string> row;
      for (const Text& cell : SearchRow(i)) row.push_back(GbkToUtf8(cell));
      QCOMPARE(shown[i], row);
    }
  }

  // By suffix, either case; anything that cannot be written gives a message naming
  // the file and the reason, and leaves an older file there as it was.
  void exportRowsTo_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("starts");  // empty: the export fails
    QTest::addColumn<QString>("reason");
    QTest::newRow("workbook") << U("列表.xlsx") << QByteArray("PK\x03\x04") << QString();
    QTest::newRow("csv, upper case") << U("列表.CSV") << kCsvHeader << QString();
    QTest::newRow("no such folder")
        << U("gone/列表.xlsx") << QByteArray() << U("No such file or directory");
    QTest::newRow("under a regular file")
        << U("old.csv/列表.csv") << QByteArray() << U("Not a directory");
    QTest::newRow("a folder") << U("folder.csv") << QByteArray() << U("Is a directory");
    QTest::newRow("other suffix") << U("old.txt") << QByteArray()
                                  << U("只能导出为 .xlsx 或 .csv 文件");
  }
  void exportRowsTo() {
    QFETCH(QString, name);
    QFETCH(QByteArray, starts);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PutFile(folder.filePath(U("old.csv")), "older export");
    PutFile(folder.filePath(U("old.txt")), "older notes");
    QVERIFY(QDir(folder.path()).mkpath(U("folder.csv/inside")));
    const QString path = folder.filePath(name);
    const Table table{{"序号", "宝贝标题", "宝贝ID", "商家名"}, {{"1", "台灯", "000123", "店"}}};

    QString why;
    const bool written = ExportRowsTo(path, table, &why);
    QCOMPARE(written, !starts.isEmpty());
    if (written) {
      QVERIFY(ReadAll(path).startsWith(starts));
    } else {
      QCOMPARE(why, U("导出失败：") + path + U(": ") + reason);
    }
    QCOMPARE(ReadAll(folder.filePath(U("old.csv"))), QByteArray("older export"));
    QCOMPARE(ReadAll(folder.filePath(U("old.txt"))), QByteArray("older notes"));
    QCOMPARE(QDir(folder.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             written ? 4 : 3);
  }

  // The dialog offers the two kinds of file; cancelled, it writes nothing.
  void exportDialogOffersWorkbookAndCsv() {
    QWidget window;
    QTableView* list = NewList(&window);
    toolkit::ListAppendRows(list, {SearchRow(0)});
    QObject scope;
    QString title;
    QStringList filters;
    bool saving = false;
    WhenModalOpens<QFileDialog>(&scope, [&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      filters = dialog->nameFilters();
      saving = dialog->acceptMode() == QFileDialog::AcceptSave;
      dialog->reject();
    });
    QVERIFY(!ExportAllRows(&window, list));
    QCOMPARE(title, U("导出全部"));
    QCOMPARE(filters, (QStringList{U("Excel 工作簿 (*.xlsx)"), U("CSV (*.csv)")}));
    QVERIFY(saving);
  }

  // After the dialog: a name without a suffix takes the chosen filter's, asking
  // before it replaces a file so named; a failure shows a message naming the file.
  void exportToChosenFile_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("csvChosen");
    QTest::addColumn<QString>("answer");   // to the box that opens, if one should
    QTest::addColumn<QString>("written");  // empty: nothing written
    QTest::newRow("workbook by its filter") << U("a") << false << QString() << U("a.xlsx");
    QTest::newRow("csv by its filter") << U("b") << true << QString() << U("b.csv");
    QTest::newRow("a suffix typed wins") << U("c.csv") << false << QString() << U("c.csv");
    QTest::newRow("replacing is confirmed") << U("old") << true << U("yes") << U("old.csv");
    QTest::newRow("replacing is refused") << U("old") << true << U("no") << QString();
    QTest::newRow("a failure is shown") << U("gone/e.csv") << true << U("ok") << QString();
  }
  void exportToChosenFile() {
    QFETCH(QString, typed);
    QFETCH(bool, csvChosen);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PutFile(folder.filePath(U("old.csv")), "older export");
    QWidget window;
    QTableView* list = NewList(&window);
    toolkit::ListAppendRows(list, {SearchRow(0), SearchRow(1)});

    QObject scope;
    QString message;
    bool asked = false;
    if (!answer.isEmpty()) {
      WhenModalOpens<QMessageBox>(&scope, [&](QMessageBox* box) {
        asked = true;
        message = box->text();
        const auto button = answer == U("no")    ? QMessageBox::No
                            : answer == U("yes") ? QMessageBox::Yes
                                                 : QMessageBox::Ok;
        box->button(button)->click();
      });
    }
    QCOMPARE(ExportToChosenFile(&window, list, folder.filePath(typed), csvChosen),
             !written.isEmpty());
    QCOMPARE(asked, !answer.isEmpty());
    if (answer == U("ok")) {
      QCOMPARE(message,
               U("导出失败：") + folder.filePath(typed) + U(": No such file or directory"));
    } else if (asked) {
      QVERIFY2(message.contains(folder.filePath(U("old.csv"))), qPrintable(message));
    }
    if (written.isEmpty()) {
      QCOMPARE(ReadAll(folder.filePath(U("old.csv"))), QByteArray("older export"));
      QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
      return;
    }
    const QByteArray content = ReadAll(folder.filePath(written));
    if (written.endsWith(U(".csv"))) {
      QCOMPARE(content, kCsvHeader + SearchCsvLine(0) + SearchCsvLine(1));
    } else {
      QVERIFY(content.startsWith("PK\x03\x04"));
    }
  }
};

int main(int argc, char** argv) {
  PrepareApplication();
  QApplication application(argc, argv);
  PrepareToolkit();
  ExportTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "export_test.moc"
