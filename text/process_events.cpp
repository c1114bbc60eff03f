#include "text/process_events.h"

#include <atomic>

namespace zemlaro {
namespace {

// Relaxed is enough: the hook is installed once at start-up, and a scan that sees
// the old value for a moment merely skips one dispatch.
std::atomic<ProcessEventsHook> hook{nullptr};

}  // namespace

void SetProcessEventsHook(ProcessEventsHook newHook) {
  hook.store(newHook, std::memory_order_relaxed);
}

void ProcessEvents() {
  if (ProcessEventsHook current = hook.load(std::memory_order_relaxed)) current();
}

}  // namespace zemlaro
