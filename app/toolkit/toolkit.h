// The window toolkit the desktop program is written against, over Qt Widgets.
//
// Every operation may be called from the window thread or from a worker. A call
// from a worker is carried out by the window thread as one step before it returns;
// the worker never touches a widget. Once the program is stopping, a worker's call
// does nothing and gives an empty result, so no worker can wait on a window thread
// that no longer runs its loop.
//
// Texts cross this boundary in code page 936; widgets hold UTF-16.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

#include "text/text.h"

class QTableView;
class QWebEngineView;

namespace zemlaro::toolkit {

// Handles a worker may hold: they turn null when the widget is destroyed, and they
// are dereferenced only on the window thread.
using Window = QPointer<QWidget>;
using List = QPointer<QTableView>;
// An edit box: a QLineEdit or a QPlainTextEdit.
using Control = QPointer<QWidget>;
using Browser = QPointer<QWebEngineView>;

QString ToQString(std::string_view gbk);
Text FromQString(const QString& text);

// Once, on the window thread, after the QApplication exists: makes this the window
// thread and installs PumpEvents (which handles the window thread's pending events) as
// the text layer's ProcessEvents hook.
void InitToolkit();

// From now on calls from workers return empty at once, and those waiting for their
// step wake and return empty. Cannot be undone.
void BeginStopping();
bool Stopping();
// Waits until every worker started by StartThread has ended; false on time-out.
// On the window thread this blocks the steps workers wait for: call it there only
// after BeginStopping.
bool WaitForWorkers(std::chrono::milliseconds limit);

// Runs `step` on the window thread as one step: at once when called there, else
// queued and waited for. False when it did not run (stopping, or no application).
bool RunStep(const std::function<void()>& step);

// The result list: a report list over a plain vector of rows.
struct Column {
  QString header;
  int width = 0;
};
// A QTableView named `name`, child of `parent`, with the columns given. Rows are
// selected whole (several with Shift or Ctrl, for copying), never sorted and never edited.
QTableView* CreateReportList(QWidget* parent, const QString& name,
                             const std::vector<Column>& columns);

// Selected text or rows show only while the control has the focus.
void HideSelectionWithoutFocus(QWidget* control);

void ListClear(const List& list);
int ListRowCount(const List& list);
// Appends a row with `text` in column 0; returns its index, -1 on failure.
int ListInsertRow(const List& list, const Text& text);
void ListSetCell(const List& list, int row, int column, const Text& text);
Text ListCellText(const List& list, int row, int column);
void ListDeleteRow(const List& list, int row);
// Deletes the rows given, highest first and each once, in one model change: the
// list ends as after ListDeleteRow for each in turn. Rows not in the list are skipped.
void ListDeleteRows(const List& list, const std::vector<int>& rowsDescending);
int ListSelectedRow(const List& list);
// Appends whole rows (cells from column 0) in one model change; returns the index
// of the first, -1 on failure. Cells past the column count are dropped.
int ListAppendRows(const List& list, std::vector<std::vector<Text>> rows);

void SetCaption(const Window& window, const Text& text);
Text ControlText(const Control& control);

// A window "layout": how to build it, its outer size and whether it is shown.
struct WindowLayout {
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
// The window of that layout while it is loaded, else null.
Window LoadedWindow(const WindowLayout& layout);
int LoadedWindowCount();
// Destroys every loaded window at once (when the program ends).
void DestroyAllWindows();
// Called on the window thread when the last loaded window has been destroyed.
void SetLastWindowGoneHandler(std::function<void()> handler);

// Top-left corner that centres an outer size on a screen; may be negative.
QPoint CentredOrigin(QSize screen, QSize outer);

void BrowserNavigate(const Browser& browser, const Text& address);
// Hands the address to the desktop (QDesktopServices), never to a shell.
void OpenAddress(const Text& address);
// On the window thread: dispatches the waiting events. On a worker: nothing.
void ProcessEvents();
// Starts a detached worker at once.
void StartThread(std::function<void()> routine);

}  // namespace zemlaro::toolkit
