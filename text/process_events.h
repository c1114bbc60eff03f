// ProcessEvents without a toolkit: long text scans call it so that a window
// program can keep dispatching its events. The desktop program installs the
// toolkit's hook; the default does nothing.
#pragma once

namespace zemlaro {

using ProcessEventsHook = void (*)();

// Installs the process-wide hook; nullptr restores the default (nothing).
void SetProcessEventsHook(ProcessEventsHook hook);
void ProcessEvents();

}  // namespace zemlaro
