#include "app/cookie_bridge.h"

#include <QByteArray>
#include <QDateTime>
#include <QWebEngineCookieStore>
#include <algorithm>

namespace zemlaro::app {
namespace {

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string String(const QByteArray& bytes) {
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::string String(const QString& text) { return String(text.toUtf8()); }

// Whether the browser's report `reported` is the cookie `put` in: the same cookie with
// the same value. Flags and expiry are the browser's to normalise.
bool SameCookie(const StoredCookie& put, const StoredCookie& reported) {
  return put.domain == reported.domain && put.hostOnly == reported.hostOnly &&
         put.path == reported.path && put.name == reported.name && put.value == reported.value;
}

bool IsToken(const std::string& name) {
  return name == kTokenCookie || name == kTokenCompanionCookie;
}

}  // namespace

QNetworkCookie ToNetworkCookie(const StoredCookie& cookie) {
  QNetworkCookie result(Bytes(cookie.name), Bytes(cookie.value));
  if (!cookie.hostOnly)
    result.setDomain(QStringLiteral(".") + QString::fromUtf8(Bytes(cookie.domain)));
  result.setPath(cookie.path.empty() ? QStringLiteral("/") : QString::fromUtf8(Bytes(cookie.path)));
  result.setSecure(cookie.secure);
  result.setHttpOnly(cookie.httpOnly);
  if (cookie.expires != 0) {
    result.setExpirationDate(QDateTime::fromSecsSinceEpoch(cookie.expires, Qt::UTC));
  }
  return result;
}

QUrl CookieOrigin(const StoredCookie& cookie) {
  QUrl origin;
  origin.setScheme(cookie.secure ? QStringLiteral("https") : QStringLiteral("http"));
  origin.setHost(QString::fromUtf8(Bytes(cookie.domain)));
  origin.setPath(cookie.path.empty() ? QStringLiteral("/") : QString::fromUtf8(Bytes(cookie.path)));
  return origin;
}

StoredCookie FromNetworkCookie(const QNetworkCookie& cookie) {
  StoredCookie result;
  std::string domain = String(cookie.domain());
  result.hostOnly = !domain.starts_with('.');
  if (!result.hostOnly) domain.erase(0, 1);
  result.domain = std::move(domain);
  result.path = cookie.path().isEmpty() ? std::string("/") : String(cookie.path());
  result.secure = cookie.isSecure();
  result.httpOnly = cookie.isHttpOnly();
  result.expires = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
  result.name = String(cookie.name());
  result.value = String(cookie.value());
  return result;
}

CookieBridge::CookieBridge(QWebEngineCookieStore* browserStore, std::string storePath,
                           QObject* parent)
    : QObject(parent), browserStore_(browserStore), storePath_(std::move(storePath)) {
  saveTimer_.setSingleShot(true);
  saveTimer_.setInterval(0);
  connect(&saveTimer_, &QTimer::timeout, this, &CookieBridge::Save);
  tokenAtOpen_ = CookieValue(kTokenCookie);
  if (browserStore == nullptr) return;
  connect(browserStore, &QWebEngineCookieStore::cookieAdded, this, &CookieBridge::Added);
  connect(browserStore, &QWebEngineCookieStore::cookieRemoved, this, &CookieBridge::Removed);
  for (const StoredCookie& cookie : StoredCookies()) {
    // The browser keeps a host-only cookie's domain without a dot and a domain
    // cookie's with one, as FromNetworkCookie reads them back.
    echoes_.push_back(cookie);
    if (cookie.path.empty()) echoes_.back().path.push_back('/');
    browserStore->setCookie(ToNetworkCookie(cookie), CookieOrigin(cookie));
  }
}

CookieBridge::~CookieBridge() {
  const std::optional<std::string> token = CookieValue(kTokenCookie);
  if (othersAdded_ && tokenAtOpen_ && token == tokenAtOpen_) {
    RemoveCookiesNamed(kTokenCookie);
    RemoveCookiesNamed(kTokenCompanionCookie);
  }
  Save();
}

void CookieBridge::ClearBrowser() {
  echoes_.clear();
  tokenAtOpen_.reset();
  othersAdded_ = false;
  if (browserStore_) browserStore_->deleteAllCookies();
}

void CookieBridge::Added(const QNetworkCookie& cookie) {
  StoredCookie stored = FromNetworkCookie(cookie);
  const auto echo = std::find_if(echoes_.begin(), echoes_.end(),
                                 [&](const StoredCookie& put) { return SameCookie(put, stored); });
  if (echo != echoes_.end()) {
    echoes_.erase(echo);  // our own cookie coming back: already stored
    return;
  }
  if (!IsToken(stored.name)) othersAdded_ = true;
  PutCookie(stored);
  SaveSoon();
}

void CookieBridge::Removed(const QNetworkCookie& cookie) {
  const StoredCookie stored = FromNetworkCookie(cookie);
  RemoveCookie(stored.domain, stored.path, stored.name);
  SaveSoon();
}

void CookieBridge::SaveSoon() {
  if (!saveTimer_.isActive()) saveTimer_.start();
}

void CookieBridge::Save() {
  saveTimer_.stop();
  if (!storePath_.empty()) SaveCookieStore(storePath_);
}

}  // namespace zemlaro::app
