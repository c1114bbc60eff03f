#include "app/sign_in_window.h"

#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QSslCertificate>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

#include "app/browser.h"
#include "app/cookie_bridge.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "web/cookie_store.h"

namespace zemlaro::app {
namespace {

// What the next window is made with; set just before it is loaded.
struct Opening {
  QString address;
  std::string storePath;
};
Opening& NextOpening() {
  static Opening opening;
  return opening;
}

// The bridge of the open window; it lives and dies with it.
QPointer<CookieBridge>& OpenBridge() {
  static QPointer<CookieBridge> bridge;
  return bridge;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, const QRect& place) {
  auto* button = new QPushButton(U(caption), parent);
  button->setObjectName(U(name));
  button->setGeometry(place);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QList<QSslCertificate>& ExtraTrusted() {
  static QList<QSslCertificate> certificates;
  return certificates;
}

// A certificate the browser refuses for an unknown authority is taken only when the
// server's own certificate is one of the extra ones the program trusts for its search
// too (the demo's sample market). Only the first of the chain counts: a server can
// send any certificate after its own.
void DecideCertificate(const QWebEngineCertificateError& error) {
  QWebEngineCertificateError decision = error;
  const QList<QSslCertificate> chain = error.certificateChain();
  if (error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid && !chain.isEmpty() &&
      ExtraTrusted().contains(chain.first())) {
    decision.acceptCertificate();
  } else {
    decision.rejectCertificate();
  }
}

// The client area leaves room for a title bar inside the outer size: the browser on
// top, the two buttons in a row below it.
QWidget* CreateSignInWindow() {
  auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowCloseButtonHint);
  window->setObjectName(U(kSignInWindowName));
  window->setWindowTitle(U(kSignInWindowCaption));
  const int width = kSignInWindowSize.width();
  QWebEngineView* browser =
      CreateBrowser(window, U(kSignInBrowserName), QRect(8, 8, width - 16, 544));
  auto* bridge =
      new CookieBridge(browser->page()->profile()->cookieStore(), NextOpening().storePath, window);
  OpenBridge() = bridge;
  QObject::connect(browser->page(), &QWebEnginePage::certificateError, window, &DecideCertificate);
  QPushButton* signOut = NewButton(window, kSignOutButton, kSignOutCaption, QRect(8, 560, 120, 40));
  QPushButton* done =
      NewButton(window, kSignInDoneButton, kSignInDoneCaption, QRect(width - 128, 560, 120, 40));
  QObject::connect(done, &QPushButton::clicked, window, &QWidget::close);
  QObject::connect(signOut, &QPushButton::clicked, bridge,
                   [bridge] { SignOut(bridge->StorePath()); });
  browser->load(QUrl(NextOpening().address));
  return window;
}

const toolkit::WindowLayout& SignInLayout() {
  static const toolkit::WindowLayout layout{kSignInWindowName, &CreateSignInWindow,
                                            kSignInWindowSize, true};
  return layout;
}

}  // namespace

void OpenSignInWindow(const QString& address, const std::string& storePath) {
  const bool wasOpen = !toolkit::LoadedWindow(SignInLayout()).isNull();
  NextOpening() = {address, storePath};
  const toolkit::Window window = toolkit::LoadWindow(SignInLayout());
  if (!wasOpen || window.isNull()) return;
  if (auto* browser = window->findChild<QWebEngineView*>(U(kSignInBrowserName))) {
    browser->load(QUrl(address));
  }
}

void SignOut(const std::string& storePath) {
  ClearCookies();
  if (!storePath.empty()) SaveCookieStore(storePath);
  if (CookieBridge* bridge = OpenBridge().data()) bridge->ClearBrowser();
}

QWidget* SignInWindow() { return toolkit::LoadedWindow(SignInLayout()).data(); }

void TrustForSignIn(const std::string& caFile) {
  ExtraTrusted() = caFile.empty()
                       ? QList<QSslCertificate>()
                       : QSslCertificate::fromPath(QString::fromStdString(caFile), QSsl::Pem,
                                                   QSslCertificate::PatternSyntax::FixedString);
}

}  // namespace zemlaro::app
