// Start-up of the desktop program and the values it is started with.
#pragma once

#include "search/search_run.h"
#include "text/text.h"

namespace zemlaro::app {

// Where the contact actions point: the group-link host and the QQ Mail host.
struct ContactHosts {
  Text groupLink;
  Text mail;
};

struct AppConfig {
  SearchHosts hosts;
  ContactHosts contact;
  // A PEM file of CAs trusted besides the system's (the demo's sample market).
  Text extraCaFile;
};

// The real marketplace and the author's contact hosts.
AppConfig DefaultConfig();

// Before the QApplication is made: the settings Qt WebEngine needs from the start.
void PrepareApplication();
// With the QApplication made, on its thread: makes the toolkit and the program's
// resources ready and sets the window icon. Windows are loaded only by the caller.
void PrepareToolkit();
// PrepareToolkit, then: the loop ends when the last window goes, and the main
// window is loaded. False (after a message) when the main window cannot be made.
bool StartProgram(const AppConfig& config);
// Runs the event loop until no window is loaded, stops the workers and waits for
// them to leave. Returns 0.
int RunProgramLoop();
// All of it, with a QApplication of its own that sees no command line.
int RunProgram(const AppConfig& config);

}  // namespace zemlaro::app
