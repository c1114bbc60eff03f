// The desktop program's search against servers that misbehave on page 2 of 3: its
// main window, offscreen, driven by a click on Find in a process of its own.
#include <gtest/gtest.h>

#include "tests/hostile/hostile_support.h"
#include "tests/hostile/short_limits.h"

namespace zemlaro::hostile {
namespace {

std::vector<std::string> OffscreenEnvironment() {
  std::vector<std::string> env;
  for (const std::string& var : CurrentEnvironment()) {
    if (var.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(var);
  }
  env.push_back("QT_QPA_PLATFORM=offscreen");
  return env;
}

class DesktopSearch : public ::testing::TestWithParam<HostileCase> {};

TEST_P(DesktopSearch, HostilePageEndsInTimeAndTheOtherPagesKeepTheirRows) {
  const HostileCase& c = GetParam();
  CaseServers servers(c.hostile);
  ASSERT_TRUE(servers.Start());
  const SpawnResult run = Spawn({ZEMLARO_DESKTOP_PROBE, "search", servers.Host(), servers.CaFile(),
                                 kKeyword, std::to_string(kPages)},
                                OffscreenEnvironment(), kRunDeadline);
  ExpectRunEndedWell(run, c, "desktop, short limits", kShortTotalTimeout,
                     /*explainsEmptyPages=*/false);
}

INSTANTIATE_TEST_SUITE_P(Desktop, DesktopSearch, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return std::string(info.param.id); });

}  // namespace
}  // namespace zemlaro::hostile
