// What an answer, an argument or the environment can make the programs do: item
// ids only ever become the one fixed item address, and nothing turns certificate
// checks off or widens the trust. The matching source checks (no shell calls, the
// certificate options) are tools/lint/check_sources.sh, which `make test` runs.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "search/market.h"
#include "search/search_run.h"
#include "tests/hostile/hostile_ids.h"
#include "tests/hostile/hostile_support.h"
#include "tests/search/fakes.h"
#include "tests/web/local_server.h"
#include "text/codepage.h"
#include "web/curl_session.h"

namespace zemlaro::hostile {
namespace {

namespace fs = std::filesystem;

// Case tables name only the fields that matter to them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

const Text kItemAddressHead = JoinTexts({"https://", kItemHost, "/item.htm?id="});

TEST(ItemAddress, HostileIdsFromAnAnswerBecomeTheFixedAddressPlusTheIdAlone) {
  HostileIdServer server;
  ASSERT_TRUE(server.Start());
  CurlSettings settings;
  settings.extraCaFile = server.CaFile();
  settings.totalTimeout = std::chrono::seconds(10);
  const auto session = MakeCurlSession(settings);
  testing::FakeView view;
  view.boxes[SearchBox::Keyword] = "k";
  view.boxes[SearchBox::PageCount] = "1";
  const SearchHosts hosts{server.Host(), kItemHost};
  RunSearch(view, *session, hosts);
  ASSERT_EQ(view.rows.size(), server.Ids().size()) << session->LastError();

  std::vector<Text> expected;
  for (std::size_t r = 0; r < view.rows.size(); ++r) {
    view.selectedRow = static_cast<int>(r);
    OpenItemPage(view, hosts);
    expected.push_back(kItemAddressHead + Utf8ToGbk(server.Ids()[r]));
  }
  EXPECT_EQ(view.openedAddresses, expected);
  EXPECT_EQ(server.MarkersMade(), std::vector<fs::path>{});
}

// The name a certificate takes in a hashed certificate directory.
std::string HashedName(const std::string& pemFile) {
  std::string name = "none.0";
  if (std::FILE* file = std::fopen(pemFile.c_str(), "r")) {
    if (X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
      char hash[16];
      std::snprintf(hash, sizeof hash, "%08lx.0", X509_subject_name_hash(cert));
      name = hash;
      X509_free(cert);
    }
    std::fclose(file);
  }
  return name;
}

std::vector<std::string> WithEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env = CurrentEnvironment();
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// The real zemlaro-cli against a server whose certificate it has no reason to
// trust, with arguments and environments that would loosen the check if anything
// listened to them.
TEST(Certificates, NoArgumentOrEnvironmentMakesAStrangerTrusted) {
  market::SampleMarket stranger;
  ASSERT_TRUE(stranger.Start());
  const std::string port = std::to_string(stranger.Port());
  const fs::path dir =
      fs::path(stranger.CaFile()).parent_path() / ("zemlaro-hostile-trust-" + port);
  fs::create_directories(dir);
  const std::string empty = (dir / "empty.pem").string();
  const std::string garbage = (dir / "garbage.pem").string();
  std::ofstream(empty).close();
  std::ofstream(garbage) << "-----BEGIN CERTIFICATE-----\n$(touch x)\n-----END CERTIFICATE-----\n";
  std::ofstream(dir / ".curlrc") << "insecure\n";
  fs::create_directories(dir / "hashed");
  fs::copy_file(stranger.CaFile(), dir / "hashed" / HashedName(stranger.CaFile()));
  const std::string strangerCa = stranger.CaFile();

  struct Attempt {
    std::vector<std::string> args;  // after "search --pages 2"
    std::vector<std::string> env;
    bool refused = false;  // a usage error, exit status 2
  };
  const std::string host = "127.0.0.1:" + port;
  const std::vector<Attempt> attempts = {
      {{"--host", host, "--", "k"}},
      {{"--host", "LOCALHOST:" + port, "--", "k"}},
      {{"--host", "localhost:" + port, "--", "k"}},
      {{"--host", host, "--cacert", "/dev/null", "--", "k"}},
      {{"--host", host, "--cacert", empty, "--", "k"}},
      {{"--host", host, "--cacert", garbage, "--", "k"}},
      {{"--host", host, "--cacert", "/etc/ssl/certs", "--", "k"}},
      {{"--host", host, "--", "--insecure"}},
      {{"--host", host, "-k", "k"}, {}, true},
      {{"--host", host, "--insecure", "k"}, {}, true},
      {{"--host", host + "/?insecure=1", "k"}, {}, true},
      {{"--host", host + " -k", "k"}, {}, true},
      {{"--host", "http://" + host, "k"}, {}, true},
      {{"--host", "x@" + host, "k"}, {}, true},
      {{"--host=" + host, "--", "k"},
       {"SSL_CERT_FILE=" + strangerCa, "SSL_CERT_DIR=" + (dir / "hashed").string(),
        "CURL_CA_BUNDLE=" + strangerCa, "CURL_HOME=" + dir.string(), "HOME=" + dir.string(),
        "CURLOPT_SSL_VERIFYPEER=0", "GIT_SSL_NO_VERIFY=1", "NODE_TLS_REJECT_UNAUTHORIZED=0"}},
  };
  for (const Attempt& attempt : attempts) {
    std::vector<std::string> argv = {ZEMLARO_CLI, "search", "--service", "legacy", "--pages", "2"};
    argv.insert(argv.end(), attempt.args.begin(), attempt.args.end());
    std::string shown;
    for (const std::string& a : argv) shown += a + " ";
    for (const std::string& e : attempt.env) shown = e + " " + shown;
    SCOPED_TRACE(shown);
    const SpawnResult run = Spawn(argv, WithEnvironment(attempt.env), std::chrono::seconds(30));
    EXPECT_EQ(RowsOfTsv(run.out).size(), 0u) << "a stranger's answer was read";
    if (attempt.refused) {
      EXPECT_EQ(run.exitCode, 2);
      continue;
    }
    EXPECT_EQ(run.exitCode, 0);
    // Mostly "certificate not trusted"; a CA file that is no file fails the request
    // before the handshake.
    for (int page = 1; page <= 2; ++page) {
      const std::string line = NoRowsLine(run.errLines, page, 2);
      EXPECT_NE(line.find("the request failed"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(stranger.Requests().size(), 0u) << "a request got through the handshake";
  fs::remove_all(dir);
}

// A trusted server whose answers send the client elsewhere: to plain HTTP, and to
// a server nobody trusts. Neither redirect may be followed into an answer.
TEST(Certificates, AnAnswerCannotRedirectAroundTheCheck) {
  market::MarketOptions plainOptions;
  plainOptions.tls = false;
  market::SampleMarket plain(plainOptions);
  market::SampleMarket stranger;
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(stranger.Start());
  const std::string toPlain = "http://" + plain.HostAndPort();
  const std::string toStranger = "https://" + stranger.HostAndPort();
  const ThrowawayCertificate certificate = MakeThrowawayCertificate("Zemlaro redirecting market");
  RawServer redirector(
      [&](const std::string& request) {
        const std::string target = RequestTarget(request);
        const bool first = target.find("data-value=0&") != std::string::npos;
        return RawReply{HttpAnswer(
            "302 Found", "Location: " + (first ? toPlain : toStranger) + target + "\r\n", "")};
      },
      &certificate);
  ASSERT_TRUE(redirector.Start());
  const fs::path ca = fs::path(stranger.CaFile()).parent_path() /
                      ("zemlaro-hostile-redirector-" + std::to_string(redirector.Port()) + ".pem");
  std::ofstream(ca) << certificate.certPem;

  const SpawnResult run =
      Spawn({ZEMLARO_CLI, "search", "--pages", "2", "--host",
             "127.0.0.1:" + std::to_string(redirector.Port()), "--cacert", ca.string(), "--", "k"},
            std::nullopt, std::chrono::seconds(30));
  fs::remove(ca);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(RowsOfTsv(run.out).size(), 0u);
  EXPECT_EQ(redirector.Requests().size(), 2u);
  EXPECT_EQ(plain.Requests().size(), 0u) << "followed a redirect to plain HTTP";
  EXPECT_EQ(stranger.Requests().size(), 0u) << "talked HTTP to an untrusted server";
  EXPECT_NE(NoRowsLine(run.errLines, 1, 2).find("the request failed"), std::string::npos);
  EXPECT_NE(NoRowsLine(run.errLines, 2, 2).find("certificate not trusted"), std::string::npos)
      << NoRowsLine(run.errLines, 2, 2);
}

// Proxy variables would send every page through a third party.
TEST(Environment, ProxyVariablesAreNotFollowed) {
  market::SampleMarket market;
  ASSERT_TRUE(market.Start());
  RawServer proxy(
      [](const std::string&) { return RawReply{HttpAnswer("502 Bad Gateway", "", "")}; });
  ASSERT_TRUE(proxy.Start());
  const std::string at = "http://127.0.0.1:" + std::to_string(proxy.Port());
  const SpawnResult run =
      Spawn({ZEMLARO_CLI, "search", "--service", "legacy", "--pages", "2", "--host",
             market.HostAndPort(), "--cacert", market.CaFile(), "--", kKeyword},
            WithEnvironment({"https_proxy=" + at, "HTTPS_PROXY=" + at, "http_proxy=" + at,
                             "ALL_PROXY=" + at, "all_proxy=" + at, "PRE_PROXY=" + at}),
            std::chrono::seconds(30));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(RowsOfTsv(run.out).size(), 88u);
  EXPECT_EQ(proxy.Requests().size(), 0u);
  EXPECT_EQ(market.Requests().size(), 2u);
}

// libcurl writes TLS secrets to the file SSLKEYLOGFILE names; the programs must not.
TEST(Environment, TlsKeyLogVariableWritesNoSecrets) {
  market::SampleMarket market;
  ASSERT_TRUE(market.Start());
  const std::string keyLog = ::testing::TempDir() + "zemlaro-keylog-" + std::to_string(getpid());
  std::remove(keyLog.c_str());
  const SpawnResult run =
      Spawn({ZEMLARO_CLI, "search", "--service", "legacy", "--pages", "1", "--host",
             market.HostAndPort(), "--cacert", market.CaFile(), "--", kKeyword},
            WithEnvironment({"SSLKEYLOGFILE=" + keyLog}), std::chrono::seconds(30));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(RowsOfTsv(run.out).size(), 44u);
  std::FILE* file = std::fopen(keyLog.c_str(), "rb");
  EXPECT_EQ(file, nullptr) << "a key log was written to " << keyLog;
  if (file != nullptr) {
    std::fclose(file);
    std::remove(keyLog.c_str());
  }
}

}  // namespace
}  // namespace zemlaro::hostile
