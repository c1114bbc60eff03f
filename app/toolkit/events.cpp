#include "app/toolkit/events.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <utility>

namespace zemlaro::toolkit {
namespace {

// Qt hands events to a filter object only through a virtual function.
class EventHook final : public QObject {
 public:
  EventHook(QObject* watched, std::function<bool(QObject*, QEvent*)> handler)
      : QObject(watched), handler_(std::move(handler)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override { return handler_(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> handler_;
};

}  // namespace

void HookEvents(QObject* watched, std::function<bool(QObject*, QEvent*)> handler) {
  new EventHook(watched, std::move(handler));
}

void CloseOnEscape(QWidget* window) {
  auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), window);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, window, [window] { window->close(); });
}

}  // namespace zemlaro::toolkit
