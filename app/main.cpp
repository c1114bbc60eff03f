// The desktop program: the main window on the real marketplace.
#include "app/program.h"
#include "web/program_session.h"

int main() {
  zemlaro::PrepareSessions();
  return zemlaro::app::RunProgram(zemlaro::app::DefaultConfig());
}
