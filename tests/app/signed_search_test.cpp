// The signed-in search from end to end: a search behind the login wall tells the
// user to sign in, the sign-in window signs in, and a later start of the program
// finds the store and every listing; signing out empties it again. Each search runs
// in a program process of its own (this binary started with --one-search), so that
// a "restart" is a real one.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSslCertificate>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <cstring>

#include "app/object_names.h"
#include "app/program.h"
#include "app/search_view.h"
#include "app/sign_in_window.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "tools/sample-market/market_constants.h"
#include "tools/sample-market/market_server.h"
#include "web/cookie_store.h"
#include "web/curl_session.h"

using namespace zemlaro;
using namespace zemlaro::app;

namespace {

constexpr int kWait = 20000;
constexpr char kKeyword[] = "台灯";

template <typename Widget>
Widget* Child(QWidget* window, const char* name) {
  return window->findChild<Widget*>(U(name));
}

QWidget* TopLevel(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == U(name)) return top;
  }
  return nullptr;
}

// One program: a search of `pages` pages for kKeyword, then it quits. Prints
// "rows=N" and the notice's text (empty when none came) on stdout.
int RunOneSearch(char** argv) {
  AppConfig config = DefaultConfig();
  config.hosts.search = argv[2];
  config.currentHost = argv[2];
  config.extraCaFile = argv[3];
  config.cookieStorePath = argv[4];
  config.settingsPath = argv[5];
  config.pacing = {std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  PrepareApplication();
  static char name[] = "zemlaro";
  static char* qtArgv[] = {name, nullptr};
  static int qtArgc = 1;
  QApplication application(qtArgc, qtArgv);
  if (!StartProgram(config)) return 2;
  QWidget* window = TopLevel(kMainWindowName);
  if (window == nullptr) return 2;
  Child<QLineEdit>(window, kKeywordBox)->setText(U(kKeyword));
  Child<QLineEdit>(window, kPageCountBox)->setText(U(argv[6]));
  const QString start = window->windowTitle();
  bool ran = false;
  QObject::connect(window, &QWidget::windowTitleChanged, window,
                   [&](const QString& title) { ran = ran || title != start; });
  QTimer::singleShot(0, window, [window] { Child<QPushButton>(window, kFindButton)->click(); });
  // The run is over once the caption is back and its worker has left; the notice it
  // queued on the way out is then among the waiting events.
  if (!QTest::qWaitFor(
          [&] {
            return ran && window->windowTitle() == start &&
                   toolkit::WaitForWorkers(std::chrono::milliseconds(0));
          },
          kWait)) {
    return 4;
  }
  QCoreApplication::processEvents();
  auto* notice = qobject_cast<QMessageBox*>(TopLevel("搜索提示"));
  const QString text = notice ? notice->text() : QString();
  const int rows = Child<QTableView>(window, kResultList)->model()->rowCount();
  std::printf("rows=%d\n%s\n", rows, text.toUtf8().constData());
  std::fflush(stdout);
  if (notice) notice->close();
  QTimer::singleShot(0, window, [window] { window->close(); });
  return RunProgramLoop();
}

struct SearchSeen {
  int rows = -1;
  QString notice;
};

}  // namespace

class SignedSearchTest : public QObject {
  Q_OBJECT

  market::MarketOptions Walled() {
    market::MarketOptions options;
    options.loginWall = true;
    return options;
  }
  market::SampleMarket market_{Walled()};
  QTemporaryDir dir_;
  std::string store_;
  std::string settings_;

  SearchSeen Search(const char* pages) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {U("--one-search"), U(market_.HostAndPort()), U(market_.CaFile()), U(store_),
                 U(settings_), U(pages)});
    SearchSeen seen;
    if (!child.waitForFinished(60000) || child.exitCode() != 0) return seen;
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    const qsizetype newline = out.indexOf(QLatin1Char('\n'));
    seen.rows = out.left(newline).mid(5).toInt();
    seen.notice = out.mid(newline + 1).trimmed();
    return seen;
  }
  int Listings(int pages) {
    int count = 0;
    for (int page = 1; page <= pages; ++page) {
      count += static_cast<int>(market::ApiListingsOf(kKeyword, page).size());
    }
    return count;
  }
  QWebEngineView* Browser() {
    QWidget* window = SignInWindow();
    return window ? window->findChild<QWebEngineView*>(U(kSignInBrowserName)) : nullptr;
  }
  bool StoreFileHas(const char* name) {
    QFile file(U(store_));
    return file.open(QIODevice::ReadOnly) &&
           file.readAll().contains(QByteArray("\t") + name + "\t");
  }

 private slots:
  void initTestCase() {
    QVERIFY(market_.Start());
    QVERIFY(dir_.isValid());
    store_ = dir_.filePath(U("zemlaro/cookies.txt")).toStdString();
    settings_ = dir_.filePath(U("zemlaro/settings.ini")).toStdString();
    TrustForSignIn(market_.CaFile());
  }

  void aSearchBehindTheWallTellsTheUserToSignIn() {
    const SearchSeen seen = Search("3");
    QCOMPARE(seen.rows, 0);
    QVERIFY2(seen.notice.contains(U("第1页：淘宝要求先登录")), qPrintable(seen.notice));
  }

  void theSignInWindowSignsInAndLaterStartsFindEveryListing() {
    ClearCookies();
    OpenSignInWindow(U("https://" + market_.HostAndPort() + market::kLoginPath), store_);
    QTRY_VERIFY_WITH_TIMEOUT(Browser() && Browser()->url().path() == U(market::kLoginPath), kWait);
    bool filled = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          std::optional<bool> done;
          Browser()->page()->runJavaScript(
              U("(function(){var u=document.getElementById('username');"
                "if(!u)return false;u.value='buyer';"
                "document.getElementById('password').value='secret';"
                "document.getElementById('login-submit').click();return true;})()"),
              [&done](const QVariant& v) { done = v.toBool(); });
          filled = QTest::qWaitFor([&] { return done.has_value(); }, kWait) && *done;
          return filled;
        }(),
        kWait);
    for (const std::string_view name : market::kSessionCookieNames) {
      QTRY_VERIFY_WITH_TIMEOUT(StoreFileHas(std::string(name).c_str()), kWait);
    }
    QTest::mouseClick(SignInWindow()->findChild<QPushButton*>(U(kSignInDoneButton)),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(SignInWindow() == nullptr, kWait);

    // A new program finds the store: no sign-in, every listing, no notice.
    const SearchSeen first = Search("2");
    QCOMPARE(first.rows, Listings(2));
    QCOMPARE(first.notice, QString());
    // And the next one still does, with what the first one kept.
    const SearchSeen again = Search("1");
    QCOMPARE(again.rows, Listings(1));
  }

  void signingOutEmptiesTheStore() {
    SignOut(store_);
    for (const std::string_view name : market::kSessionCookieNames) {
      QVERIFY(!StoreFileHas(std::string(name).c_str()));
    }
    QVERIFY(StoredCookies().empty());
    const SearchSeen seen = Search("1");
    QCOMPARE(seen.rows, 0);
    QVERIFY2(seen.notice.contains(U("淘宝要求先登录")), qPrintable(seen.notice));
  }
};

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--one-search") == 0) return RunOneSearch(argv);
  PrepareCurl();
  PrepareApplication();
  QApplication application(argc, argv);
  PrepareToolkit();
  SignedSearchTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "signed_search_test.moc"
