#include "app/toolkit/controls.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QUrl>
#include <QWebEngineView>

#include "app/toolkit/gbk_text.h"
#include "app/toolkit/steps.h"

namespace zemlaro::toolkit {

void SetCaption(const Window& window, const Text& text) {
  RunStep([&] {
    if (QWidget* w = window.data()) w->setWindowTitle(ToQString(text));
  });
}

Text ControlText(const Control& control) {
  Text text;
  RunStep([&] {
    QWidget* widget = control.data();
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
      text = FromQString(line->text());
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
      text = FromQString(box->toPlainText());
    }
  });
  return text;
}

void HideSelectionWithoutFocus(QWidget* control) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Inactive, QPalette::Base));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Inactive, QPalette::Text));
  control->setPalette(palette);
}

void BrowserNavigate(const Browser& browser, const Text& address) {
  RunStep([&] {
    if (QWebEngineView* view = browser.data()) view->load(QUrl(ToQString(address)));
  });
}

void OpenAddress(const Text& address) {
  RunStep([&] { QDesktopServices::openUrl(QUrl(ToQString(address))); });
}

}  // namespace zemlaro::toolkit
