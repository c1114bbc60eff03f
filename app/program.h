// Start-up of the desktop program and the values it is started with.
#pragma once

#include "search/search_run.h"
#include "text/text.h"
#include "web/cookie_store.h"
#include "web/program_session.h"

namespace zemlaro::app {

// Where the contact actions point: the group-link host and the QQ Mail host.
struct ContactHosts {
  Text groupLink;
  Text mail;
};

struct AppConfig {
  // hosts.search is the search page contract's host.
  SearchHosts hosts;
  ContactHosts contact;
  // A PEM file of CAs trusted besides the system's (the demo's sample market).
  Text extraCaFile;
  // Host of the current search service.
  Text currentHost;
  // The current service's pause between pages.
  Pacing pacing;
  // The cookie file shared by the search and the sign-in window; empty for none.
  std::string cookieStorePath;
  // The program's settings file (the legacy-service choice); empty for none.
  std::string settingsPath;
  // Whether to search the search page contract while the settings file holds no choice.
  bool legacyService = false;
  // The time and size limits every search session starts from: the real ones here,
  // short ones in the hostile-server test build. The trusted CAs come from extraCaFile.
  SessionSettings sessionLimits;
};

// The real marketplace and the author's contact hosts; the store and the settings
// file where the user's data folder is (XDG_DATA_HOME, else HOME).
AppConfig DefaultConfig();

// What was wrong with the cookie file when the program loaded it, once: later calls
// give None. Window thread only.
StoreProblem TakeStoreProblem();
// False when the program has no store, or when its file was not read as it should
// have been (it is then left as it is, rather than replaced by what this run saw).
// Any thread once the program has started.
bool StoreWritable();

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
