// zemlaro-sample-market: runs the sample market on 127.0.0.1 until SIGINT/SIGTERM (or, with
// --until-stdin-closes, until its standard input closes).
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "tools/sample-market/market_server.h"

namespace {

using zemlaro::market::ApiMode;
using zemlaro::market::Mode;

constexpr std::pair<const char*, Mode> kModeNames[] = {
    {"normal", Mode::Normal},
    {"empty", Mode::Empty},
    {"login", Mode::LoginPage},
    {"loginpage", Mode::LoginPage},
    {"silent", Mode::Silent},
    {"drip", Mode::Drip},
    {"endless", Mode::EndlessBody},
    {"endlessbody", Mode::EndlessBody},
    {"reset", Mode::Reset},
    {"redirect-loop", Mode::RedirectLoop},
    {"redirectloop", Mode::RedirectLoop},
    {"redirect-once", Mode::RedirectOnce},
    {"redirectonce", Mode::RedirectOnce},
    {"garbage", Mode::Garbage},
    {"huge", Mode::Huge},
};

constexpr std::pair<const char*, ApiMode> kApiModeNames[] = {
    {"normal", ApiMode::Normal},
    {"empty", ApiMode::Empty},
    {"block", ApiMode::Block},
    {"flow-limit", ApiMode::FlowLimit},
    {"flowlimit", ApiMode::FlowLimit},
    {"session-expired", ApiMode::SessionExpired},
    {"sessionexpired", ApiMode::SessionExpired},
};

template <class M, size_t N>
bool ParseName(const std::pair<const char*, M> (&names)[N], const std::string& name, M& mode) {
  for (const auto& [text, value] : names) {
    if (strcasecmp(text, name.c_str()) == 0) {
      mode = value;
      return true;
    }
  }
  return false;
}

bool ParseMode(const std::string& name, Mode& mode) { return ParseName(kModeNames, name, mode); }
bool ParseMode(const std::string& name, ApiMode& mode) {
  return ParseName(kApiModeNames, name, mode);
}

bool ParseInt(const std::string& s, int& value) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || v < -1'000'000'000L || v > 1'000'000'000L) return false;
  value = static_cast<int>(v);
  return true;
}

// "PAGE=MODE" into `modes`; false when malformed.
template <class M>
bool ParsePageMode(const std::string& arg, std::map<int, M>& modes) {
  const size_t eq = arg.find('=');
  int page = 0;
  M mode{};
  if (eq == std::string::npos || !ParseInt(arg.substr(0, eq), page) ||
      !ParseMode(arg.substr(eq + 1), mode)) {
    return false;
  }
  modes[page] = mode;
  return true;
}

void Usage() {
  std::cerr << "usage: zemlaro-sample-market [--port-file FILE] [--ca-file FILE] [--plain]\n"
               "         [--mode MODE] [--page-mode PAGE=MODE]... [--cookies] [--drip-ms N]\n"
               "         [--listings N] [--login-wall] [--verification]\n"
               "         [--api-mode API_MODE] [--api-page-mode PAGE=API_MODE]...\n"
               "         [--host-name NAME] [--until-stdin-closes]\n"
               "The legacy search is /search, the signed API "
            << zemlaro::market::kApiPath
            << ".\n"
               "--login-wall    both want a sign-in at "
            << zemlaro::market::kLoginPath
            << "\n"
               "--verification  both want the x5sec cookie of "
            << zemlaro::market::kPunishPath
            << "\n"
               "modes (legacy pages, offset / 44 + 1):\n"
               "       normal empty login silent drip endless reset redirect-loop redirect-once\n"
               "       garbage huge\n"
               "API modes (API pages, from 1): normal empty block flow-limit session-expired\n";
}

// Writes via a temporary file and a rename, so that a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  zemlaro::market::MarketOptions options;
  std::string portFile, caFile;
  bool untilStdinCloses = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--port-file" && hasValue) {
      portFile = argv[++i];
    } else if (arg == "--ca-file" && hasValue) {
      caFile = argv[++i];
    } else if (arg == "--host-name" && hasValue) {
      options.hostName = argv[++i];
    } else if (arg == "--plain") {
      options.tls = false;
    } else if (arg == "--cookies") {
      options.setCookies = true;
    } else if (arg == "--until-stdin-closes") {
      untilStdinCloses = true;
    } else if (arg == "--mode" && hasValue) {
      if (!ParseMode(argv[++i], options.defaultMode)) {
        std::cerr << "unknown mode: " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--page-mode" && hasValue) {
      if (!ParsePageMode(argv[++i], options.pageModes)) {
        std::cerr << "bad --page-mode: " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--login-wall") {
      options.loginWall = true;
    } else if (arg == "--verification") {
      options.verificationWall = true;
    } else if (arg == "--api-mode" && hasValue) {
      if (!ParseMode(argv[++i], options.apiDefaultMode)) {
        std::cerr << "unknown API mode: " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--api-page-mode" && hasValue) {
      if (!ParsePageMode(argv[++i], options.apiPageModes)) {
        std::cerr << "bad --api-page-mode: " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--drip-ms" && hasValue) {
      int ms = 0;
      if (!ParseInt(argv[++i], ms) || ms < 0) {
        std::cerr << "bad --drip-ms: " << argv[i] << "\n";
        return 2;
      }
      options.dripInterval = std::chrono::milliseconds(ms);
    } else if (arg == "--listings" && hasValue) {
      if (!ParseInt(argv[++i], options.listingsPerPage) || options.listingsPerPage < 0) {
        std::cerr << "bad --listings: " << argv[i] << "\n";
        return 2;
      }
    } else {
      Usage();
      return 2;
    }
  }
  if (!options.tls && !caFile.empty()) {
    std::cerr << "--ca-file has no meaning with --plain\n";
    return 2;
  }

  // The server's threads inherit this mask; the signals are taken in through a signalfd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) {
    std::perror("signalfd");
    return 1;
  }

  zemlaro::market::SampleMarket market(options);
  if (!market.Start()) {
    std::cerr << "the sample market could not start\n";
    return 1;
  }
  if (!caFile.empty()) {
    std::ifstream in(market.CaFile(), std::ios::binary);
    std::ostringstream pem;
    pem << in.rdbuf();
    if (!WriteFileAtomically(caFile, pem.str())) {
      std::cerr << "cannot write " << caFile << "\n";
      return 1;
    }
  }
  if (!portFile.empty() && !WriteFileAtomically(portFile, std::to_string(market.Port()) + "\n")) {
    std::cerr << "cannot write " << portFile << "\n";
    return 1;
  }
  std::cout << "listening on " << market.HostAndPort() << std::endl;

  pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  const nfds_t count = untilStdinCloses ? 2 : 1;
  for (;;) {
    if (poll(fds, count, -1) < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) break;
    if (untilStdinCloses && fds[1].revents) {
      char buf[256];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) break;  // closed (or broken): time to go
    }
  }
  market.Stop();
  close(signalFd);
  return 0;
}
