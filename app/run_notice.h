// The notice after a search run: which pages gave nothing and why, in plain Chinese,
// with a way to the sign-in window when the service asked for it. Window thread only.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "search/search_run.h"
#include "web/cookie_store.h"

class QMessageBox;
class QWidget;

namespace zemlaro::app {

// One line per stretch of pages with the same reason ("第1–10页：淘宝要求先登录"), after
// a line on a cookie file that could not be used; empty when there is nothing to tell
// (every page gave listings or a plain empty answer, and the store was fine).
QString RunNoticeText(const std::vector<PageReport>& reports, StoreProblem storeProblem);

// The reason of a failed request in Chinese, from the session's words.
QString RequestFailureText(const std::string& reason);

// True when a page needed sign-in or verification; `address` is then the first
// address the service asked the user to open (possibly empty).
bool SignInAsked(const std::vector<PageReport>& reports, std::string* address);

// A notice that does not block the window; with `onSignIn` it has a "登录淘宝" button
// that runs it. Deletes itself when closed.
QMessageBox* ShowRunNotice(QWidget* parent, const QString& text, std::function<void()> onSignIn);

}  // namespace zemlaro::app
