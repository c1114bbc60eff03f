// The desktop program against a sample market on 127.0.0.1, so that a search
// works without the network. Everything else is as in the real program.
#include <cstdio>

#include "app/program.h"
#include "tools/sample-market/market_server.h"
#include "web/curl_session.h"

int main() {
  zemlaro::PrepareCurl();
  zemlaro::market::SampleMarket market;
  if (!market.Start()) {
    std::fprintf(stderr, "zemlaro-demo: the sample market did not start\n");
    return 1;
  }
  zemlaro::app::AppConfig config = zemlaro::app::DefaultConfig();
  config.hosts.search = market.HostAndPort();
  config.extraCaFile = market.CaFile();
  return zemlaro::app::RunProgram(config);
}
