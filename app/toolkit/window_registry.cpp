#include "app/toolkit/window_registry.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/toolkit/events.h"
#include "app/toolkit/steps.h"

namespace zemlaro::toolkit {
namespace {

struct LoadedEntry {
  std::string id;
  QPointer<QWidget> window;
  bool flagged = false;
};

std::vector<LoadedEntry>& Loaded() {
  static std::vector<LoadedEntry> entries;
  return entries;
}

std::function<void()>& LastWindowGone() {
  static std::function<void()> handler;
  return handler;
}

LoadedEntry* FindLoaded(const WindowLayout& layout) {
  for (LoadedEntry& entry : Loaded()) {
    if (entry.id == layout.id && entry.window) return &entry;
  }
  return nullptr;
}

// Set while LoadWindow replaces a flagged window: the program is not ending then.
bool gReplacing = false;

// A widget emits destroyed() before its QPointers clear, so the dying window is
// matched by address.
void ForgetDestroyedWindow(const QObject* dying) {
  auto& entries = Loaded();
  const auto before = entries.size();
  std::erase_if(entries, [dying](const LoadedEntry& entry) {
    return entry.window.isNull() || entry.window.data() == dying;
  });
  if (before != 0 && entries.empty() && !gReplacing && LastWindowGone()) LastWindowGone()();
}

// Keeps the outer size fixed: the client area is the outer size less the frame
// the window manager draws, which is known only once the window is mapped.
void KeepOuterSize(QWidget* window, QSize outer) {
  auto fit = [window, outer] {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const QSize wanted(outer.width() - (frame.width() - client.width()),
                       outer.height() - (frame.height() - client.height()));
    if (wanted != window->size() && wanted.isValid()) window->setFixedSize(wanted);
  };
  window->setFixedSize(outer);
  HookEvents(window, [fit](QObject*, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) fit();
    return false;
  });
}

}  // namespace

QPoint CentredOrigin(QSize screen, QSize outer) {
  // Integer division truncating toward zero, as the layout's arithmetic does.
  return QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

Window LoadWindow(const WindowLayout& layout) {
  Window result;
  RunStep([&] {
    LoadedEntry* entry = FindLoaded(layout);
    if (entry != nullptr && entry->flagged) {
      gReplacing = true;
      delete entry->window.data();  // its destroyed() hook drops the entry
      gReplacing = false;
      entry = FindLoaded(layout);
    }
    if (entry != nullptr) {
      QWidget* window = entry->window;
      if (window->isMinimized()) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
      } else if (window->isVisible()) {
        window->raise();
        window->activateWindow();
      }
      result = window;
      return;
    }
    QWidget* window = layout.create ? layout.create() : nullptr;
    if (window == nullptr) return;
    window->setAttribute(Qt::WA_DeleteOnClose);
    KeepOuterSize(window, layout.outerSize);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect();
    window->move(area.topLeft() + CentredOrigin(area.size(), layout.outerSize));
    Loaded().push_back({layout.id, window, false});
    QObject::connect(window, &QObject::destroyed, qApp, &ForgetDestroyedWindow);
    if (layout.visible) window->show();
    result = window;
  });
  return result;
}

void UnloadWindow(const WindowLayout& layout) {
  RunStep([&] {
    LoadedEntry* entry = FindLoaded(layout);
    if (entry == nullptr || entry->flagged) return;
    entry->flagged = true;
    QMetaObject::invokeMethod(
        entry->window.data(),
        [window = entry->window] {
          if (window) window->close();
          // A window that was never shown is not deleted by close(); this is.
          if (window) window->deleteLater();
        },
        Qt::QueuedConnection);
  });
}

Window LoadedWindow(const WindowLayout& layout) {
  Window result;
  RunStep([&] {
    if (LoadedEntry* entry = FindLoaded(layout)) result = entry->window;
  });
  return result;
}

int LoadedWindowCount() {
  int count = 0;
  RunStep([&] {
    count = static_cast<int>(std::count_if(
        Loaded().begin(), Loaded().end(), [](const LoadedEntry& e) { return !e.window.isNull(); }));
  });
  return count;
}

void DestroyAllWindows() {
  RunStep([] {
    std::vector<QPointer<QWidget>> windows;
    for (const LoadedEntry& entry : Loaded()) windows.push_back(entry.window);
    for (const QPointer<QWidget>& window : windows) delete window.data();
  });
}

void SetLastWindowGoneHandler(std::function<void()> handler) {
  LastWindowGone() = std::move(handler);
}

}  // namespace zemlaro::toolkit
