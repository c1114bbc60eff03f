// The sign-in window and its cookie sharing, under the offscreen platform, against
// plain-HTTP sample markets on 127.0.0.1. The program's cookie store is one per
// process: every test starts with it empty and no sign-in window open.
#include <sys/stat.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/cookie_bridge.h"
#include "app/program.h"
#include "app/sign_in_window.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "text/text.h"
#include "tools/sample-market/market_constants.h"
#include "tools/sample-market/market_server.h"
#include "web/cookie_store.h"
#include "web/curl_session.h"
#include "web/web_request.h"

using namespace zemlaro;
using namespace zemlaro::app;

namespace {

// How long a test waits for the browser: its pages, scripts and cookie reports.
constexpr int kBrowserWait = 15000;

QWebEngineView* Browser() {
  QWidget* window = SignInWindow();
  return window ? window->findChild<QWebEngineView*>(U(kSignInBrowserName)) : nullptr;
}

QWebEngineCookieStore* BrowserStore() { return Browser()->page()->profile()->cookieStore(); }

void Click(const char* button) {
  QTest::mouseClick(SignInWindow()->findChild<QPushButton*>(U(button)), Qt::LeftButton);
}

// The page's answer to `script`, once it has come.
std::optional<QVariant> RunScript(const QString& script) {
  std::optional<QVariant> result;
  Browser()->page()->runJavaScript(script, [&result](const QVariant& v) { result = v; });
  if (!QTest::qWaitFor([&] { return result.has_value(); }, kBrowserWait)) return std::nullopt;
  return result;
}

std::optional<StoredCookie> Stored(const std::string& name) {
  for (const StoredCookie& cookie : StoredCookies()) {
    if (cookie.name == name) return cookie;
  }
  return std::nullopt;
}

QByteArray FileText(const std::string& path) {
  QFile file(U(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A cookie line of the Netscape file names the cookie between two tabs.
bool FileHasCookie(const std::string& path, const char* name) {
  return FileText(path).contains(QByteArray("\t") + name + "\t");
}

int FileMode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

// The Cookie header of the last request the market received for `path`; null when
// there was no such request, empty when it carried no cookie.
std::optional<std::string> LastCookieHeader(const market::SampleMarket& market,
                                            const std::string& path) {
  std::optional<std::string> header;
  for (const market::RecordedRequest& request : market.Requests()) {
    if (request.target.rfind(path, 0) != 0) continue;
    header = std::string();
    for (const auto& [name, value] : request.headers) {
      if (QString::fromStdString(name).compare(U("Cookie"), Qt::CaseInsensitive) == 0) {
        header = value;
      }
    }
  }
  return header;
}

std::string Key(const StoredCookie& c) {
  return c.domain + (c.hostOnly ? "|host|" : "|domain|") + c.path + "|" + c.name + "|" + c.value +
         "|" + (c.secure ? "s" : "-") + (c.httpOnly ? "h" : "-") + "|" + std::to_string(c.expires);
}

std::vector<std::string> Keys(const std::vector<StoredCookie>& cookies) {
  std::vector<std::string> keys;
  for (const StoredCookie& cookie : cookies) keys.push_back(Key(cookie));
  std::sort(keys.begin(), keys.end());
  return keys;
}

StoredCookie Cookie(const char* domain, bool hostOnly, const char* path, const char* name,
                    const char* value, bool secure, bool httpOnly, std::int64_t expires) {
  return {domain, hostOnly, path, secure, httpOnly, expires, name, value};
}

market::MarketOptions PlainHttp(bool setCookies = false, bool loginWall = false) {
  market::MarketOptions options;
  options.tls = false;
  options.setCookies = setCookies;
  options.loginWall = loginWall;
  return options;
}

// What libcurl, with the program's cookie store, gets for `url`.
std::string CurlGet(const QString& url) {
  const std::unique_ptr<InternetSession> session = MakeCurlSession();
  return TextOfBytes(WebRequest(*session, url.toStdString()));
}

}  // namespace

class SignInTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // A folder that does not exist yet: the first save makes it.
    storePath_ = (dir_.path() + U("/zemlaro/cookies.txt")).toStdString();
    QVERIFY(pages_.Start());
    QVERIFY(cookiePages_.Start());
    QVERIFY(wall_.Start());
    QVERIFY(tls_[0].Start() && tls_[1].Start());
  }

  void init() {
    if (QPointer<QWidget> window = SignInWindow()) {
      window->close();
      QTRY_VERIFY(window.isNull());
    }
    ClearCookies();
    QFile::remove(U(storePath_));
  }

  void windowOpensOnceAndDoneClosesIt() {
    OpenSignInWindow(ItemPage(pages_, "1"), storePath_);
    QPointer<QWidget> window = SignInWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), U("登录淘宝"));
    QCOMPARE(window->frameGeometry().size(), kSignInWindowSize);
    QCOMPARE(window->findChild<QPushButton*>(U(kSignInDoneButton))->text(), U("完成"));
    QCOMPARE(window->findChild<QPushButton*>(U(kSignOutButton))->text(), U("退出登录"));
    QTRY_COMPARE_WITH_TIMEOUT(Browser()->url(), QUrl(ItemPage(pages_, "1")), kBrowserWait);
    const int loaded = toolkit::LoadedWindowCount();

    // Asked again: the same window goes to the new address.
    window->showMinimized();
    OpenSignInWindow(ItemPage(pages_, "2"), storePath_);
    QCOMPARE(SignInWindow(), window.data());
    QCOMPARE(toolkit::LoadedWindowCount(), loaded);
    QTRY_VERIFY(!window->isMinimized());
    QTRY_COMPARE_WITH_TIMEOUT(Browser()->url(), QUrl(ItemPage(pages_, "2")), kBrowserWait);

    Click(kSignInDoneButton);
    QTRY_VERIFY(window.isNull());
    QVERIFY(SignInWindow() == nullptr);
    QCOMPARE(toolkit::LoadedWindowCount(), loaded - 1);
  }

  // The browser gets every stored cookie as it is stored, and sends them as it should.
  void browserIsFilledFromTheStore() {
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    const std::vector<StoredCookie> cookies = {
        Cookie("127.0.0.1", true, "/", "visible", "v1", false, false, 0),
        Cookie("127.0.0.1", true, "/", "hidden", "h1", false, true, now + 86400),
        Cookie("127.0.0.1", true, "/elsewhere", "pathed", "p1", false, false, 0),
        Cookie("example.com", false, "/", "wide", "w1", true, true, now + 30 * 86400),
        Cookie("shop.example.net", true, "/cart", "narrow", "n1", true, false, 0),
    };
    for (const StoredCookie& cookie : cookies) PutCookie(cookie);
    const std::vector<std::string> before = Keys(StoredCookies());
    QCOMPARE(before.size(), cookies.size());

    OpenSignInWindow(ItemPage(pages_, "7"), storePath_);
    QSignalSpy added(BrowserStore(), &QWebEngineCookieStore::cookieAdded);
    QSignalSpy loaded(Browser(), &QWebEngineView::loadFinished);
    // What the browser holds, read back: every attribute came through.
    QTRY_COMPARE_WITH_TIMEOUT(added.size(), static_cast<qsizetype>(cookies.size()), kBrowserWait);
    std::vector<StoredCookie> held;
    for (const QList<QVariant>& signal : added) {
      held.push_back(FromNetworkCookie(signal.at(0).value<QNetworkCookie>()));
    }
    QCOMPARE(Keys(held), before);

    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, kBrowserWait);
    QVERIFY(loaded.at(0).at(0).toBool());
    // The page's request carried the host's cookies for its path, HttpOnly included;
    // the page's script sees only the one that is not HttpOnly.
    const std::optional<std::string> sent = LastCookieHeader(pages_, "/item.htm?id=7");
    QVERIFY(sent.has_value());
    QVERIFY(sent->find("visible=v1") != std::string::npos);
    QVERIFY(sent->find("hidden=h1") != std::string::npos);
    QVERIFY(sent->find("pathed") == std::string::npos);
    QVERIFY(sent->find("wide") == std::string::npos);
    QVERIFY(sent->find("narrow") == std::string::npos);
    const std::optional<QVariant> seen = RunScript(U("document.cookie"));
    QVERIFY(seen.has_value());
    QCOMPARE(seen->toString(), U("visible=v1"));

    // The browser's echo of the cookies it was given changed nothing in ours.
    QCOMPARE(Keys(StoredCookies()), before);
  }

  // Cookies the browser receives or drops reach our store and the file.
  void browserCookiesReachTheStoreAndTheFile() {
    OpenSignInWindow(ItemPage(cookiePages_, "3"), storePath_);
    QSignalSpy loaded(Browser(), &QWebEngineView::loadFinished);
    QTRY_VERIFY_WITH_TIMEOUT(Stored("market_session").has_value(), kBrowserWait);
    const StoredCookie session = *Stored("market_session");
    QCOMPARE(session.domain, std::string("127.0.0.1"));
    QVERIFY(session.hostOnly);
    QCOMPARE(session.path, std::string("/"));
    QCOMPARE(session.expires, std::int64_t{0});
    QTRY_VERIFY(FileHasCookie(storePath_, "market_session"));
    QCOMPARE(FileMode(storePath_), 0600);

    // Scripts run in the page itself, not in the blank one before it.
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, kBrowserWait);
    QVERIFY(RunScript(U("document.cookie = 'fresh=1; path=/'; 0")).has_value());
    QTRY_VERIFY_WITH_TIMEOUT(Stored("fresh").has_value(), kBrowserWait);
    QTRY_VERIFY_WITH_TIMEOUT(FileHasCookie(storePath_, "fresh"), kBrowserWait);
    QVERIFY(
        RunScript(U("document.cookie = 'fresh=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/'; 0"))
            .has_value());
    QTRY_VERIFY_WITH_TIMEOUT(!Stored("fresh").has_value(), kBrowserWait);
    QTRY_VERIFY_WITH_TIMEOUT(!FileHasCookie(storePath_, "fresh"), kBrowserWait);
    QVERIFY(Stored("market_session").has_value());
  }

  // A token minted before a sign-in is dropped when the window closes; one the
  // sign-in replaced, or one with no sign-in at all, stays.
  void tokenFromBeforeASignInIsDroppedOnClose_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("tokenAfter");  // empty: gone
    QTest::newRow("other cookies came in") << U("document.cookie = 'fresh=1; path=/'") << U("");
    QTest::newRow("nothing came in") << U("") << U("old");
    QTest::newRow("the token was replaced")
        << U("document.cookie = '_m_h5_tk=new; path=/'; document.cookie = 'fresh=1; path=/'")
        << U("new");
  }
  void tokenFromBeforeASignInIsDroppedOnClose() {
    QFETCH(QString, script);
    QFETCH(QString, tokenAfter);
    // The visitor cookie's echo, when the browser is filled, is no cookie coming in.
    PutCookie(Cookie("127.0.0.1", true, "/", "visitor", "v1", false, false, 0));
    PutCookie(Cookie("127.0.0.1", true, "/", kTokenCookie, "old", false, false, 0));
    PutCookie(Cookie("127.0.0.1", true, "/", kTokenCompanionCookie, "oldenc", false, false, 0));
    OpenSignInWindow(ItemPage(pages_, "5"), storePath_);
    QPointer<QWidget> window = SignInWindow();
    QSignalSpy added(BrowserStore(), &QWebEngineCookieStore::cookieAdded);
    QSignalSpy loaded(Browser(), &QWebEngineView::loadFinished);
    QTRY_VERIFY_WITH_TIMEOUT(added.size() == 3 && loaded.size() == 1,
                             kBrowserWait);  // the fill's echo
    if (!script.isEmpty()) {
      QVERIFY(RunScript(script + U("; 0")).has_value());
      QTRY_VERIFY_WITH_TIMEOUT(Stored("fresh").has_value(), kBrowserWait);
    }

    Click(kSignInDoneButton);
    QTRY_VERIFY(window.isNull());
    const std::optional<std::string> token = CookieValue(kTokenCookie);
    if (tokenAfter.isEmpty()) {
      QVERIFY(!token.has_value());
      QVERIFY(!CookieValue(kTokenCompanionCookie).has_value());
      QVERIFY(!FileHasCookie(storePath_, kTokenCookie));
      QVERIFY(!FileHasCookie(storePath_, kTokenCompanionCookie));
      QVERIFY(FileHasCookie(storePath_, "fresh"));
    } else {
      QCOMPARE(U(token.value_or("(none)")), tokenAfter);
      QVERIFY(CookieValue(kTokenCompanionCookie).has_value());
      QVERIFY(FileHasCookie(storePath_, kTokenCookie));  // the closing save
    }
  }

  // Signing in through the market's login wall in the window: the session cookies
  // reach our store and the file, and libcurl's search gets past the wall. Signing
  // out empties all three stores.
  void signInPassesTheWallAndSignOutEmptiesEveryStore() {
    const QString search = U("http://") + U(wall_.HostAndPort()) + U("/search?q=lamp");
    const std::string firstItem = market::ListingAt("lamp", 1, 0).itemId;
    QVERIFY(CurlGet(search).find("login-form") != std::string::npos);  // the wall

    OpenSignInWindow(search, storePath_);
    QSignalSpy loaded(Browser(), &QWebEngineView::loadFinished);
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && Browser()->url().path() == U(market::kLoginPath),
                             kBrowserWait);
    QVERIFY(RunScript(U("document.getElementById('username').value = 'buyer';"
                        "document.getElementById('password').value = 'secret';"
                        "document.getElementById('login-submit').click(); 0"))
                .has_value());
    const auto signedIn = [] {
      for (std::string_view name : market::kSessionCookieNames) {
        const std::optional<StoredCookie> cookie = Stored(std::string(name));
        if (!cookie || !cookie->httpOnly || cookie->expires != 0 || !cookie->hostOnly ||
            cookie->domain != "127.0.0.1") {
          return false;
        }
      }
      return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(signedIn(), kBrowserWait);
    QTRY_VERIFY(FileHasCookie(storePath_, "cookie2") && FileHasCookie(storePath_, "sgcookie") &&
                FileHasCookie(storePath_, "_tb_token_"));
    QCOMPARE(FileMode(storePath_), 0600);
    // Back from the form, and that page done, so no cookie of it comes after the sign-out.
    QTRY_VERIFY_WITH_TIMEOUT(loaded.size() == 2 && Browser()->url() == QUrl(search), kBrowserWait);
    const std::string answer = CurlGet(search);
    QVERIFY(answer.find("login-form") == std::string::npos);
    QVERIFY(answer.find(firstItem) != std::string::npos);

    QSignalSpy removed(BrowserStore(), &QWebEngineCookieStore::cookieRemoved);
    Click(kSignOutButton);
    QVERIFY(StoredCookies().empty());
    QVERIFY(QFile::exists(U(storePath_)));
    for (std::string_view name : market::kSessionCookieNames) {
      QVERIFY(!FileHasCookie(storePath_, std::string(name).c_str()));
    }
    QVERIFY(CurlGet(search).find("login-form") != std::string::npos);
    // The browser's own store: once it has dropped the session, the search shows the wall.
    const auto browserSignedOut = [&removed] {
      int dropped = 0;
      for (const QList<QVariant>& signal : removed) {
        const QByteArray name = signal.at(0).value<QNetworkCookie>().name();
        for (std::string_view session : market::kSessionCookieNames) {
          if (name == QByteArray(session.data(), static_cast<qsizetype>(session.size()))) {
            ++dropped;
          }
        }
      }
      return dropped == static_cast<int>(std::size(market::kSessionCookieNames));
    };
    QTRY_VERIFY_WITH_TIMEOUT(browserSignedOut(), kBrowserWait);
    loaded.clear();
    Browser()->load(QUrl(search));
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && Browser()->url().path() == U(market::kLoginPath),
                             kBrowserWait);
    const std::optional<std::string> sent = LastCookieHeader(wall_, "/search");
    QVERIFY(sent.has_value());
    QVERIFY(sent->find("cookie2=") == std::string::npos);
  }

  // Over TLS the browser takes the sample market's certificate only once it is
  // trusted, and a trusted one vouches for no other server.
  void onlyATrustedCertificateIsTaken_data() {
    QTest::addColumn<bool>("trustFirst");
    QTest::addColumn<int>("server");  // 0 the first TLS market, 1 the second
    QTest::addColumn<bool>("loads");
    QTest::newRow("nothing trusted") << false << 0 << false;
    QTest::newRow("its certificate trusted") << true << 0 << true;
    QTest::newRow("another server's trusted") << true << 1 << false;
  }
  void onlyATrustedCertificateIsTaken() {
    QFETCH(bool, trustFirst);
    QFETCH(int, server);
    QFETCH(bool, loads);
    TrustForSignIn(trustFirst ? tls_[0].CaFile() : std::string());
    const market::SampleMarket& market = tls_[server];
    const QString page = U("https://") + U(market.HostAndPort()) + U("/item.htm?id=9");
    OpenSignInWindow(page, storePath_);
    QSignalSpy loaded(Browser(), &QWebEngineView::loadFinished);
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, kBrowserWait);
    QCOMPARE(loaded.at(0).at(0).toBool(), loads);
    QCOMPARE(LastCookieHeader(market, "/item.htm?id=9").has_value(), loads);
    TrustForSignIn(std::string());
  }

  void signOutWithoutTheWindowEmptiesStoreAndFile() {
    PutCookie(Cookie("127.0.0.1", true, "/", "kept", "k1", false, true, 0));
    QVERIFY(SaveCookieStore(storePath_));
    QVERIFY(FileHasCookie(storePath_, "kept"));
    SignOut(storePath_);
    QVERIFY(StoredCookies().empty());
    QVERIFY(!FileHasCookie(storePath_, "kept"));
    QVERIFY(SignInWindow() == nullptr);
  }

 private:
  static QString ItemPage(const market::SampleMarket& market, const char* id) {
    return U("http://") + U(market.HostAndPort()) + U("/item.htm?id=") + U(id);
  }

  QTemporaryDir dir_;
  std::string storePath_;
  market::SampleMarket pages_{PlainHttp()};
  market::SampleMarket cookiePages_{PlainHttp(true)};
  market::SampleMarket wall_{PlainHttp(false, true)};
  market::SampleMarket tls_[2];
};

int main(int argc, char** argv) {
  PrepareApplication();
  QApplication application(argc, argv);
  PrepareToolkit();
  toolkit::SetLastWindowGoneHandler([] {});
  SignInTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "sign_in_test.moc"
