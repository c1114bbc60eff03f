// The window registry: each loaded window by its layout's id, loading, unloading and the
// end of the last one.
//
// Thread rules: LoadWindow, UnloadWindow, LoadedWindow, LoadedWindowCount and
// DestroyAllWindows from any thread (from a worker each runs as one step on the window
// thread, steps.h). SetLastWindowGoneHandler on the window thread only, before any
// window is loaded; the handler runs there. CentredOrigin is plain arithmetic.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <string>

namespace zemlaro::toolkit {

// A handle a worker may hold: null once the window is destroyed, dereferenced only on
// the window thread.
using Window = QPointer<QWidget>;

// A window "layout": the window's id (one window per id is loaded at a time), how to
// build it, its outer size and whether it is shown.
struct WindowLayout {
  std::string id;
  std::function<QWidget*()> create;
  QSize outerSize;
  bool visible = true;
};
// Creates the window and shows it when its layout is visible; centres it on the
// screen. An already loaded window is restored when minimised, else activated; one
// flagged by UnloadWindow is destroyed first and created anew.
Window LoadWindow(const WindowLayout& layout);
// Flags the window and posts it a close request; it is destroyed when that runs.
void UnloadWindow(const WindowLayout& layout);
// The window of that layout's id while it is loaded, else null.
Window LoadedWindow(const WindowLayout& layout);
int LoadedWindowCount();
// Destroys every loaded window at once (when the program ends).
void DestroyAllWindows();
// Called on the window thread when the last loaded window has been destroyed.
void SetLastWindowGoneHandler(std::function<void()> handler);

// Top-left corner that centres an outer size on a screen; may be negative.
QPoint CentredOrigin(QSize screen, QSize outer);

}  // namespace zemlaro::toolkit
