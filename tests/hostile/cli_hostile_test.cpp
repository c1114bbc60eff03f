// zemlaro-cli against servers that misbehave on page 2 of 3: the test build with
// short time limits for every case, the real binary for the cases its real limits
// do not slow down.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/hostile/hostile_support.h"
#include "tests/hostile/short_limits.h"

namespace zemlaro::hostile {
namespace {

class Table : public ::testing::Environment {
 public:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { PrintTable(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Table);

SpawnResult RunCliSearch(const char* program, const CaseServers& servers) {
  return Spawn({program, "search", "--service", "legacy", "--pages", std::to_string(kPages),
                "--host", servers.Host(),
                "--cacert", servers.CaFile(), "--format", "tsv", "--", kKeyword},
               std::nullopt, kRunDeadline);
}

class ShortLimitsCli : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ShortLimitsCli, HostilePageEndsInTimeAndTheOtherPagesKeepTheirRows) {
  const HostileCase& c = GetParam();
  CaseServers servers(c.hostile);
  ASSERT_TRUE(servers.Start());
  const SpawnResult run = RunCliSearch(ZEMLARO_CLI_SHORT_LIMITS, servers);
  ExpectRunEndedWell(run, c, "zemlaro-cli, short limits", kShortTotalTimeout);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShortLimitsCli, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return std::string(info.param.id); });

// The real binary with its real limits, where no time limit plays a part: a reset
// and a refused certificate end a page at once, and an endless body stops at the
// real body limit (16 MiB) long before any time limit.
struct RealCase {
  Hostile hostile;
  std::chrono::milliseconds pageLimit;
};

class RealCli : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealCli, BehavesAsTheTestBuild) {
  const HostileCase& c = CaseOf(GetParam().hostile);
  CaseServers servers(c.hostile);
  ASSERT_TRUE(servers.Start());
  const SpawnResult run = RunCliSearch(ZEMLARO_CLI, servers);
  ExpectRunEndedWell(run, c, "zemlaro-cli (real build)", GetParam().pageLimit);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealCli,
    ::testing::Values(RealCase{Hostile::Reset, std::chrono::seconds(1)},
                      RealCase{Hostile::UntrustedCertificate, std::chrono::seconds(1)},
                      RealCase{Hostile::EndlessBody, std::chrono::seconds(10)}),
    [](const auto& info) { return std::string(CaseOf(info.param.hostile).id); });

}  // namespace
}  // namespace zemlaro::hostile
