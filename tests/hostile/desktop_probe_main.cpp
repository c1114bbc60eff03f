// The desktop program as built for the hostile-server tests: its own start-up and
// main window, with the short time limits of short_limits.h, pointed at a local
// search host. It types the keyword and the page count into the window, clicks
// Find and reports as zemlaro-cli does: "page i/N" on stderr as the caption
// announces page i, and once the caption is back, the rows as tsv on stdout.
//
//   zemlaro-desktop-probe search|open HOST:PORT CA_FILE KEYWORD PAGES
//
// With "open" it then double-clicks every row in turn, as a user opening the
// listings would.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/object_names.h"
#include "app/program.h"
#include "app/search_view.h"
#include "app/toolkit/toolkit.h"
#include "search/search_run.h"
#include "tests/hostile/short_limits.h"
#include "text/codepage.h"

namespace {

using namespace zemlaro;

QWidget* MainWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QString::fromUtf8(app::kMainWindowName)) return widget;
  }
  return nullptr;
}

template <typename T>
T* Child(QWidget* window, const char* name) {
  return window->findChild<T*>(QString::fromUtf8(name));
}

std::string TsvCell(const Text& gbk) {
  std::string cell = GbkToUtf8(gbk);
  for (char& c : cell) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return cell;
}

void WriteRows(const toolkit::List& list) {
  std::string out = "序号\t宝贝标题\t宝贝ID\t商家名\n";
  const int rows = toolkit::ListRowCount(list);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (c > 0) out += '\t';
      out += TsvCell(toolkit::ListCellText(list, r, c));
    }
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

void DoubleClickEveryRow(QTableView* list) {
  const int rows = list->model()->rowCount();
  for (int r = 0; r < rows; ++r) {
    const QModelIndex index = list->model()->index(r, kColumnTitle);
    list->scrollTo(index);
    list->selectRow(r);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: zemlaro-desktop-probe search|open HOST:PORT CA_FILE KEYWORD PAGES\n",
               stderr);
    return 2;
  }
  const std::string mode = argv[1];
  app::PrepareApplication();
  static char name[] = "zemlaro-desktop-probe";
  static char* qtArgv[] = {name, nullptr};
  static int qtArgc = 1;
  QApplication application(qtArgc, qtArgv);

  app::AppConfig config = app::DefaultConfig();
  config.hosts.search = argv[2];
  config.settingsPath.clear();
  config.cookieStorePath.clear();
  config.legacyService = true;
  config.extraCaFile = argv[3];
  config.sessionLimits = hostile::ShortLimits(config.sessionLimits);
  if (!app::StartProgram(config)) return 3;
  QWidget* window = MainWindow();
  if (window == nullptr) return 4;
  auto* list = Child<QTableView>(window, app::kResultList);
  auto* keyword = Child<QLineEdit>(window, app::kKeywordBox);
  auto* pages = Child<QLineEdit>(window, app::kPageCountBox);
  auto* find = Child<QPushButton>(window, app::kFindButton);
  if (!list || !keyword || !pages || !find) return 4;

  const int pageCount = std::atoi(argv[5]);
  const QString startCaption = toolkit::ToQString(app::MainCaption());
  bool started = false;
  QObject::connect(window, &QWidget::windowTitleChanged, window, [&](const QString& title) {
    for (int page = 1; page <= pageCount; ++page) {
      if (title == toolkit::ToQString(ProgressCaption(page))) {
        started = true;
        std::fprintf(stderr, "page %d/%d\n", page, pageCount);
        std::fflush(stderr);
      }
    }
    if (started && title == startCaption) {
      started = false;
      // After the step that restores the caption has ended the run.
      QTimer::singleShot(0, &application, [&] {
        WriteRows(list);
        if (mode == "open") DoubleClickEveryRow(list);
        toolkit::DestroyAllWindows();
      });
    }
  });
  QTimer::singleShot(0, window, [&] {
    keyword->setText(QString::fromUtf8(argv[4]));
    pages->setText(QString::fromUtf8(argv[5]));
    QTest::mouseClick(find, Qt::LeftButton);
  });
  return app::RunProgramLoop();
}
