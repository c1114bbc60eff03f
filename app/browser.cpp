#include "app/browser.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace zemlaro::app {
namespace {

// Qt WebEngine reports script dialogs and console lines only through these
// virtual functions; overriding them is how the page stays silent.
class SilentPage final : public QWebEnginePage {
 public:
  SilentPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

 protected:
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
    return false;
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}
};

}  // namespace

QWebEngineView* CreateBrowser(QWidget* parent, const QString& name, const QRect& geometry) {
  auto* view = new QWebEngineView(parent);
  view->setObjectName(name);
  view->setGeometry(geometry);
  // Made after the view so that, as a later child of the window, it is destroyed
  // after the page that uses it.
  auto* profile = new QWebEngineProfile(parent);
  view->setPage(new SilentPage(profile, view));
  view->setZoomFactor(1.0);  // the middle one of five text sizes
  return view;
}

}  // namespace zemlaro::app
