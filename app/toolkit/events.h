// Small adapters between Qt's event objects and plain functions.
#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

class QWidget;

namespace zemlaro::toolkit {

// Calls `handler` for every event `watched` receives, before the object itself;
// true from the handler swallows the event. Lives as long as `watched`.
void HookEvents(QObject* watched, std::function<bool(QObject*, QEvent*)> handler);

// Esc closes `window`, whichever of its controls has the focus.
void CloseOnEscape(QWidget* window);

}  // namespace zemlaro::toolkit
