// The desktop program against a sample market on 127.0.0.1, so that a search
// works without the network. Everything else is as in the real program, except
// that the cookie store and the settings live in a folder of this run's own, and
// the pause between pages is short: the market is local.
//   zemlaro-demo [--login-wall]   with --login-wall both services want a sign-in first
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/program.h"
#include "tools/sample-market/market_server.h"
#include "web/program_session.h"

int main(int argc, char** argv) {
  zemlaro::PrepareSessions();
  zemlaro::market::MarketOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--login-wall") == 0) {
      options.loginWall = true;
    } else {
      std::fprintf(stderr, "usage: zemlaro-demo [--login-wall]\n");
      return 2;
    }
  }
  zemlaro::market::SampleMarket market(options);
  if (!market.Start()) {
    std::fprintf(stderr, "zemlaro-demo: the sample market did not start\n");
    return 1;
  }
  char folder[] = "/tmp/zemlaro-demo-XXXXXX";
  if (!mkdtemp(folder)) {
    std::fprintf(stderr, "zemlaro-demo: cannot make a folder for the cookie store\n");
    return 1;
  }
  zemlaro::app::AppConfig config = zemlaro::app::DefaultConfig();
  config.hosts.search = market.HostAndPort();
  config.currentHost = market.HostAndPort();
  config.extraCaFile = market.CaFile();
  config.pacing = {std::chrono::milliseconds(0), std::chrono::milliseconds(200)};
  config.cookieStorePath = std::string(folder) + "/cookies.txt";
  config.settingsPath = std::string(folder) + "/settings.ini";
  const int status = zemlaro::app::RunProgram(config);
  std::remove(config.cookieStorePath.c_str());
  std::remove(config.settingsPath.c_str());
  rmdir(folder);
  return status;
}
