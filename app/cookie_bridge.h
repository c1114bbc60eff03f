// Two-way sharing between an embedded browser's cookie store and the program's own
// cookie store (web/cookie_store.h, the one libcurl uses) with its file.
//
// Thread rules: window thread only. No cookie value is ever printed or logged.
#pragma once

#include <QNetworkCookie>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <optional>
#include <string>
#include <vector>

#include "web/cookie_store.h"

class QWebEngineCookieStore;

namespace zemlaro::app {

// The cookie-store token the service mints, and its companion.
inline constexpr char kTokenCookie[] = "_m_h5_tk";
inline constexpr char kTokenCompanionCookie[] = "_m_h5_tk_enc";

// A stored cookie as the browser takes it. A domain cookie keeps its domain with a
// leading dot; a host-only cookie has no domain: CookieOrigin ties it to its host.
// A session cookie has no expiry.
QNetworkCookie ToNetworkCookie(const StoredCookie& cookie);
// The origin to set the cookie with: https when the cookie is secure, else http, the
// cookie's host and path.
QUrl CookieOrigin(const StoredCookie& cookie);
// A cookie the browser reports, as the store keeps it: a leading dot makes it a domain
// cookie; an empty path is "/".
StoredCookie FromNetworkCookie(const QNetworkCookie& cookie);

// Made when a browser window opens: fills the browser's store from ours, then carries
// every cookie the browser adds or removes into ours and saves the file (at most once
// per turn of the event loop). Destroyed with the window, it saves once more, after
// dropping a token minted before a sign-in (see the destructor).
class CookieBridge final : public QObject {
 public:
  // `storePath` empty: libcurl's store only, no file.
  CookieBridge(QWebEngineCookieStore* browserStore, std::string storePath, QObject* parent);
  // When the token that was stored when the window opened is still the one stored and
  // other cookies came in meanwhile (a sign-in), the token and its companion are
  // removed: they belong to the session before. Then the file is saved.
  ~CookieBridge() override;
  CookieBridge(const CookieBridge&) = delete;
  CookieBridge& operator=(const CookieBridge&) = delete;

  // Empties the browser's store. Ours and the file are the caller's to empty.
  void ClearBrowser();
  const std::string& StorePath() const { return storePath_; }

 private:
  void Added(const QNetworkCookie& cookie);
  void Removed(const QNetworkCookie& cookie);
  void SaveSoon();
  void Save();

  QPointer<QWebEngineCookieStore> browserStore_;
  std::string storePath_;
  QTimer saveTimer_;
  // The cookies put into the browser, until the browser reports them back as added.
  std::vector<StoredCookie> echoes_;
  std::optional<std::string> tokenAtOpen_;
  bool othersAdded_ = false;
};

}  // namespace zemlaro::app
