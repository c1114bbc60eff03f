// The embedded browser of the group-join and feedback windows.
#pragma once

#include <QRect>
#include <QString>

class QWebEngineView;
class QWidget;

namespace zemlaro::app {

// A web view named `name` in `parent`, in silent mode: no JavaScript dialog and no
// console output ever surfaces. It uses a private in-memory profile, so nothing is
// kept between runs. No page is loaded until it is navigated.
QWebEngineView* CreateBrowser(QWidget* parent, const QString& name, const QRect& geometry);

}  // namespace zemlaro::app
