// The desktop program: the main window on the real marketplace.
#include "app/program.h"
#include "web/curl_session.h"

int main() {
  zemlaro::PrepareCurl();
  return zemlaro::app::RunProgram(zemlaro::app::DefaultConfig());
}
