// The worker-to-window step machinery: workers started by StartThread hand every
// widget call to the window thread as one step (RunStep) and wait for it; the
// program stops them by BeginStopping.
//
// Thread rules: InitToolkit once on the window thread. BeginStopping, Stopping,
// RunStep, StartThread and ProcessEvents from any thread. WaitForWorkers from any
// thread, on the window thread only after BeginStopping. Once the program is stopping,
// a worker's RunStep does nothing and returns false, so no worker can wait on a window
// thread that no longer runs its loop.
#pragma once

#include <chrono>
#include <functional>

namespace zemlaro::toolkit {

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

// On the window thread: dispatches the waiting events. On a worker: nothing.
void ProcessEvents();
// Starts a detached worker at once.
void StartThread(std::function<void()> routine);

}  // namespace zemlaro::toolkit
