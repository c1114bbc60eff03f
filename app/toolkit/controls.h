// Calls on single controls: a window's caption, an edit box's text, the selection
// colours of a control, a browser's address, and handing an address to the desktop.
//
// Thread rules: HideSelectionWithoutFocus on the window thread only (it sets up a
// widget). The others from any thread: from a worker each runs as one step on the
// window thread (steps.h) and gives an empty result once the program is stopping.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/toolkit/window_registry.h"
#include "text/text.h"

class QWebEngineView;

namespace zemlaro::toolkit {

// Handles a worker may hold: null once the widget is destroyed, dereferenced only on
// the window thread.
// An edit box: a QLineEdit or a QPlainTextEdit.
using Control = QPointer<QWidget>;
using Browser = QPointer<QWebEngineView>;

void SetCaption(const Window& window, const Text& text);
Text ControlText(const Control& control);

// Selected text or rows show only while the control has the focus.
void HideSelectionWithoutFocus(QWidget* control);

void BrowserNavigate(const Browser& browser, const Text& address);
// Hands the address to the desktop (QDesktopServices), never to a shell.
void OpenAddress(const Text& address);

}  // namespace zemlaro::toolkit
