// The sign-in window "登录淘宝": an embedded browser that shares its cookies with the
// program's cookie store and file (app/cookie_bridge.h), and the sign-out.
//
// Thread rules: window thread only. Qt WebEngine is started by the first browser
// window that opens, this one included; SignOut alone never starts it.
#pragma once

#include <QSize>
#include <QString>
#include <string>

class QWidget;

namespace zemlaro::app {

// Object names and captions.
inline constexpr char kSignInWindowName[] = "登录窗口";
inline constexpr char kSignInWindowCaption[] = "登录淘宝";
inline constexpr char kSignInBrowserName[] = "登录浏览框";
inline constexpr char kSignInDoneButton[] = "完成按钮";
inline constexpr char kSignInDoneCaption[] = "完成";
inline constexpr char kSignOutButton[] = "退出登录按钮";
inline constexpr char kSignOutCaption[] = "退出登录";
inline constexpr QSize kSignInWindowSize{900, 640};

// Opens the window at `address` (an https address the caller picks), or brings the
// open one to the front and navigates it there. `storePath` is the cookie file (empty:
// no file, libcurl's store only); an open window keeps the file it was opened with.
// Opening fills the browser's in-memory store from ours; from then on every cookie the
// browser adds or removes goes to ours and to the file. While open the window keeps
// the program running, like the other companion windows. "完成" closes it.
void OpenSignInWindow(const QString& address, const std::string& storePath);

// "退出登录", with or without the window: empties libcurl's store and the file (when
// `storePath` is not empty), and the open window's browser store.
void SignOut(const std::string& storePath);

// The window while it is open, else null.
QWidget* SignInWindow();

// The certificates of the PEM file `caFile` (the demo's and the tests' sample market)
// that the sign-in browser trusts besides the system's, from the next window on; empty:
// none. A page whose certificate the browser refuses is let through only when the
// server's own certificate is one of these and the only fault is an unknown authority.
// Reads the file at once; never starts Qt WebEngine.
void TrustForSignIn(const std::string& caFile);

}  // namespace zemlaro::app
