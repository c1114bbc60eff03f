#include "app/toolkit/steps.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "text/process_events.h"

namespace zemlaro::toolkit {
namespace {

thread_local bool tWindowThread = false;

// Guards the stop flag, the worker count and the state of every queued step. Never
// destroyed: a detached worker may still be leaving while the program exits.
std::mutex& gMutex = *new std::mutex;
std::condition_variable& gChanged = *new std::condition_variable;
std::atomic<bool> gStopping{false};
int gWorkers = 0;

enum class StepState { Queued, Running, Done, Abandoned };

void PumpEvents() {
  if (tWindowThread) QCoreApplication::processEvents();
}

}  // namespace

void InitToolkit() {
  tWindowThread = true;
  SetProcessEventsHook(&PumpEvents);
}

void BeginStopping() {
  {
    std::lock_guard lock(gMutex);
    gStopping = true;
  }
  gChanged.notify_all();
}

bool Stopping() { return gStopping.load(); }

bool WaitForWorkers(std::chrono::milliseconds limit) {
  std::unique_lock lock(gMutex);
  return gChanged.wait_for(lock, limit, [] { return gWorkers == 0; });
}

bool RunStep(const std::function<void()>& step) {
  if (tWindowThread) {
    step();
    return true;
  }
  auto state = std::make_shared<StepState>(StepState::Queued);
  std::unique_lock lock(gMutex);
  // Posting under the lock: once BeginStopping has returned no worker is half-way
  // through posting, so the application may go away.
  QCoreApplication* app = QCoreApplication::instance();
  if (gStopping || app == nullptr) return false;
  QMetaObject::invokeMethod(
      app,
      [state, &step] {
        {
          std::lock_guard guard(gMutex);
          if (*state == StepState::Abandoned) return;
          *state = StepState::Running;
        }
        step();
        {
          std::lock_guard guard(gMutex);
          *state = StepState::Done;
        }
        gChanged.notify_all();
      },
      Qt::QueuedConnection);
  gChanged.wait(lock, [&] {
    return *state == StepState::Done || (gStopping && *state == StepState::Queued);
  });
  if (*state == StepState::Done) return true;
  // Never started and never will: the window thread drops it when it comes by.
  *state = StepState::Abandoned;
  return false;
}

void StartThread(std::function<void()> routine) {
  {
    std::lock_guard lock(gMutex);
    ++gWorkers;
  }
  std::thread([routine = std::move(routine)]() mutable {
    routine();
    routine = nullptr;  // what it holds goes before the count says the worker left
    // Told under the lock: once a waiter sees the count at zero this worker has done.
    std::lock_guard lock(gMutex);
    --gWorkers;
    gChanged.notify_all();
  }).detach();
}

void ProcessEvents() { zemlaro::ProcessEvents(); }

}  // namespace zemlaro::toolkit
