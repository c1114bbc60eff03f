// Development aid behind tools/screenshot: starts the program as zemlaro-demo does,
// runs a two-page search in the main window, selects a row and saves the screen
// area of the main window as main.png; then opens the sponsor window and saves it
// as sponsor.png. Both go into the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>
#include <functional>

#include "app/list_menu.h"
#include "app/object_names.h"
#include "app/program.h"
#include "app/run_notice.h"
#include "app/search_view.h"
#include "app/sign_in_window.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "app/windows.h"
#include "tools/sample-market/market_server.h"

using namespace zemlaro;

namespace {

QWidget* TopLevel(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == U(name)) return top;
  }
  return nullptr;
}

bool Save(QWidget* window, const QString& path) {
  const QRect frame = window->frameGeometry();
  const QPixmap shot =
      window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  const bool saved = shot.save(path, "PNG");
  std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(path), shot.width(),
              shot.height());
  return saved;
}

// Calls `then` once `ready` holds, checking every 50 ms.
void When(std::function<bool()> ready, std::function<void()> then) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, ready, then] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    then();
  });
  timer->start(50);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zemlaro-screenshot OUTPUT-FOLDER\n");
    return 2;
  }
  market::SampleMarket market;
  if (!market.Start()) return 1;
  market::MarketOptions wallOptions;
  wallOptions.loginWall = true;
  market::SampleMarket walled(wallOptions);
  if (!walled.Start()) return 1;
  app::AppConfig config = app::DefaultConfig();
  config.hosts.search = market.HostAndPort();
  config.extraCaFile = market.CaFile();
  config.legacyService = true;
  config.settingsPath.clear();
  config.cookieStorePath.clear();

  app::PrepareApplication();
  QApplication application(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!app::StartProgram(config)) return 1;
  QWidget* window = TopLevel(app::kMainWindowName);
  window->findChild<QLineEdit*>(U(app::kKeywordBox))->setText(U("连衣裙"));
  window->findChild<QLineEdit*>(U(app::kPageCountBox))->setText(U("2"));
  const QString startCaption = window->windowTitle();
  auto* list = window->findChild<QTableView*>(U(app::kResultList));

  int status = 1;
  QTimer::singleShot(500, window, [&] {
    window->findChild<QPushButton*>(U(app::kFindButton))->click();
    When([&] { return list->model()->rowCount() == 88 && window->windowTitle() == startCaption; },
         [&] {
           list->setFocus();
           list->selectRow(2);
           QTimer::singleShot(400, window, [&] {
             const bool main = Save(window, out.filePath(U("main.png")));
             window->findChild<QPushButton*>(U(app::kSponsorButton))->click();
             QTimer::singleShot(600, window, [&, main] {
               const bool sponsor =
                   Save(TopLevel(app::kSponsorWindowName), out.filePath(U("sponsor.png")));
               // The list's context menu, drawn over the main window.
               TopLevel(app::kSponsorWindowName)->close();
               window->raise();
               window->activateWindow();
               app::ListMenuActions actions;
               actions.copy = actions.exportAll = actions.signIn = actions.signOut = [] {};
               actions.legacyService = [] { return false; };
               actions.setLegacyService = [](bool) {};
               QMenu* menu = app::BuildListMenu(list, actions);
               menu->popup(list->viewport()->mapToGlobal(QPoint(160, 60)));
               QTimer::singleShot(600, window, [&, main, sponsor, menu] {
                 const QRect area = window->frameGeometry().united(menu->geometry());
                 const bool menuShot =
                     QGuiApplication::primaryScreen()
                         ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                         .save(out.filePath(U("menu.png")));
                 menu->close();
                 // The notice after a run whose ten pages met the login wall.
                 std::vector<PageReport> reports(10);
                 for (int page = 1; page <= 10; ++page) {
                   reports[page - 1].page = page;
                   reports[page - 1].outcome.kind = PageOutcomeKind::SignInRequired;
                 }
                 QWidget* notice = app::ShowRunNotice(
                     window, app::RunNoticeText(reports, StoreProblem::None), [] {});
                 QTimer::singleShot(600, window, [&, main, sponsor, menuShot, notice] {
                   const bool noticeShot = Save(notice, out.filePath(U("notice.png")));
                   notice->close();
                   // The sign-in window at the login page of a walled market.
                   app::TrustForSignIn(walled.CaFile());
                   app::OpenSignInWindow(U("https://") +
                                             QString::fromStdString(walled.HostAndPort()) +
                                             U("/member/login.jhtml?redirectURL=%2Fsearch"),
                                         {});
                   auto* browser = app::SignInWindow()->findChild<QWebEngineView*>(
                       QString::fromUtf8(app::kSignInBrowserName));
                   QObject::connect(
                       browser, &QWebEngineView::loadFinished, window,
                       [&, main, sponsor, menuShot, noticeShot](bool) {
                         QTimer::singleShot(1500, window, [&, main, sponsor, menuShot, noticeShot] {
                           const bool signIn =
                               Save(app::SignInWindow(), out.filePath(U("signin.png")));
                           status = main && sponsor && menuShot && noticeShot && signIn ? 0 : 1;
                           toolkit::DestroyAllWindows();  // the loop ends with the last window
                         });
                       });
                 });
               });
             });
           });
         });
  });
  app::RunProgramLoop();
  return status;
}
