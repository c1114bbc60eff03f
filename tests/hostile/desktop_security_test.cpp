// What reaches the desktop when a listing is opened, and what the desktop program
// takes from its command line, its environment and the file system.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "search/market.h"
#include "tests/hostile/hostile_ids.h"
#include "tests/hostile/hostile_support.h"

namespace zemlaro::hostile {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zemlaro-hostile-desktop-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (!path_.empty()) fs::remove_all(path_);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HasPrefix(const std::string& var, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (var.rfind(std::string(name) + "=", 0) == 0) return true;
  }
  return false;
}

// On `platform`, with no desktop named and no browser chosen, so that Qt opens an
// address through the first "xdg-open" on PATH.
std::vector<std::string> DesktopEnvironment(const fs::path& pathFirst,
                                            const char* platform = "offscreen") {
  std::vector<std::string> env;
  std::string path = "/usr/bin:/bin";
  for (const std::string& var : CurrentEnvironment()) {
    if (var.rfind("PATH=", 0) == 0) {
      path = var.substr(5);
    } else if (!HasPrefix(var,
                          {"QT_QPA_PLATFORM", "BROWSER", "DEFAULT_BROWSER", "XDG_CURRENT_DESKTOP",
                           "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})) {
      env.push_back(var);
    }
  }
  env.push_back(std::string("QT_QPA_PLATFORM=") + platform);
  env.push_back("PATH=" + (pathFirst.empty() ? path : pathFirst.string() + ":" + path));
  return env;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The calls a stand-in opener recorded: each one's arguments.
std::vector<std::vector<std::string>> OpenerCalls(const std::string& log) {
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(log.substr(at, end - at));
    at = end + 1;
  }
  std::vector<std::vector<std::string>> calls;
  for (std::size_t k = 0; k < fields.size();) {
    const std::size_t count = static_cast<std::size_t>(std::stoul(fields[k]));
    if (k + 1 + count > fields.size()) break;
    calls.emplace_back(fields.begin() + static_cast<long>(k) + 1,
                       fields.begin() + static_cast<long>(k + 1 + count));
    k += 1 + count;
  }
  return calls;
}

// The desktop program double-clicks every row of a search whose ids are shell
// commands. What leaves the program is whatever Qt hands to "xdg-open": a
// stand-in records its arguments. This one runs on X (Xvfb), because the offscreen
// platform opens no address at all.
TEST(DesktopSecurity, OpeningAHostileIdHandsTheDesktopOneFixedAddress) {
  HostileIdServer server;
  ASSERT_TRUE(server.Start());
  TempDir bin;
  const fs::path callsDir = bin.Path() / "calls";
  fs::create_directories(callsDir);
  {
    // One file per call, since the calls run side by side.
    std::ofstream opener(bin.Path() / "xdg-open");
    opener << "#!/bin/sh\n"
              "f=$(mktemp '"
           << callsDir.string()
           << "/call.XXXXXX')\n"
              "{ printf '%s\\0' \"$#\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > "
              "\"$f.tmp\"\n"
              "mv \"$f.tmp\" \"$f.done\"\n";
  }
  fs::permissions(bin.Path() / "xdg-open", fs::perms::owner_all);

  ASSERT_TRUE(fs::exists("/usr/bin/xvfb-run")) << "xvfb is among the packages the tests need";
  const SpawnResult run = Spawn({"/usr/bin/xvfb-run", "-a", ZEMLARO_DESKTOP_PROBE, "open",
                                 server.Host(), server.CaFile(), "k", "1"},
                                DesktopEnvironment(bin.Path(), "xcb"), kRunDeadline);
  ASSERT_EQ(run.exitCode, 0);
  const std::size_t ids = server.Ids().size();
  ASSERT_EQ(RowsOfTsv(run.out).size(), ids);
  // Qt starts the opener and does not wait for it.
  std::vector<std::vector<std::string>> calls;
  for (int wait = 0; wait < 100 && calls.size() < ids; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    calls.clear();
    for (const auto& entry : fs::directory_iterator(callsDir)) {
      if (entry.path().extension() != ".done") continue;
      for (const auto& call : OpenerCalls(Read(entry.path()))) calls.push_back(call);
    }
  }
  ASSERT_EQ(calls.size(), ids);
  // The openers run side by side, so their calls may come in any order.
  const std::string head = std::string("https://") + kItemHost + "/item.htm?id=";
  std::vector<std::string> opened, expected;
  for (const std::vector<std::string>& call : calls) {
    ASSERT_EQ(call.size(), 1u) << "one address, as one argument";
    const std::string& address = call[0];
    // Percent-encoded: no word break, even for an opener that splits its words.
    EXPECT_EQ(address.find_first_of(" \t\r\n"), std::string::npos) << address;
    EXPECT_EQ(address.rfind(head, 0), 0u) << address;
    opened.push_back(PercentDecoded(address));
  }
  for (const std::string& id : server.Ids()) expected.push_back(head + id);
  std::sort(opened.begin(), opened.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(opened, expected);
  EXPECT_EQ(server.MarkersMade(), std::vector<fs::path>{});
}

// The file-system calls of a run, one line each, as strace writes them.
struct Trace {
  int exitCode = -1;
  std::set<std::string> paths;  // every path the program looked at, /proc/PID made general
  std::vector<std::string> lines;
};

// Runs the real desktop program under strace for a few seconds, then ends it.
Trace TraceDesktop(const fs::path& dir, const std::string& name,
                   const std::vector<std::string>& args, const std::vector<std::string>& env) {
  const fs::path log = dir / (name + ".strace");
  std::vector<std::string> argv = {"/usr/bin/strace",
                                   "-f",
                                   "-qq",
                                   "-s",
                                   "4096",
                                   "-e",
                                   "trace=%file,connect",
                                   "-o",
                                   log.string(),
                                   "/usr/bin/timeout",
                                   "-s",
                                   "TERM",
                                   "3",
                                   ZEMLARO_DESKTOP};
  argv.insert(argv.end(), args.begin(), args.end());
  const SpawnResult run = Spawn(argv, env, std::chrono::seconds(60));
  Trace trace;
  trace.exitCode = run.exitCode;
  std::istringstream lines(Read(log));
  const std::regex call(R"(^\d+ +(\w+)\((?:AT_FDCWD, )?"([^"]*)\")");
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, call)) {
      trace.lines.push_back(line);
      continue;
    }
    if (match.str(1) == "execve") continue;  // the command line itself
    trace.lines.push_back(line);
    trace.paths.insert(
        std::regex_replace(match.str(2), std::regex(R"(/proc/\d+/)"), std::string("/proc/PID/")));
  }
  return trace;
}

// The desktop program reads no argument and no variable of its own but the data
// folder's: started with arguments and variables that name files and settings, it
// runs as it does without them and looks at exactly the same paths.
TEST(DesktopProgram, TakesNothingFromArgumentsEnvironmentOrFiles) {
  ASSERT_TRUE(fs::exists("/usr/bin/strace")) << "strace is among the packages the tests need";
  TempDir dir;
  const fs::path marker = dir.Path() / "named-by-input";
  const std::string m = marker.string();
  std::ofstream(m + ".qss") << "QWidget { background: red; }\n";
  std::ofstream(m + ".ini") << "[search]\nhost=evil.example\n";
  const std::vector<std::string> args = {
      "-platform", "xcb",      "-stylesheet",           m + ".qss", "-qwindowtitle",
      "x",         "--host",   "evil.example",          "--cacert", m + ".pem",
      "search",    m + ".ini", "$(touch " + m + ".ran)"};
  std::vector<std::string> oddEnv = DesktopEnvironment({});
  for (const std::string& var :
       std::vector<std::string>{"ZEMLARO_HOST=evil.example", "ZEMLARO_CONFIG=" + m + ".ini",
                                "ZEMLARO_CACERT=" + m + ".pem", "ZEMLARO_PAGES=9",
                                "ZEMLARO=" + m + ".ini", "https_proxy=http://127.0.0.1:9",
                                "CURL_CA_BUNDLE=" + m + ".pem", "SSL_CERT_FILE=" + m + ".pem"}) {
    oddEnv.push_back(var);
  }

  const Trace plain = TraceDesktop(dir.Path(), "plain", {}, DesktopEnvironment({}));
  const Trace odd = TraceDesktop(dir.Path(), "odd", args, oddEnv);
  // Still running when `timeout` ended it (status 124): not stopped by an argument
  // such as "-platform xcb" on a machine without a display.
  EXPECT_EQ(plain.exitCode, 124);
  EXPECT_EQ(odd.exitCode, 124);
  ASSERT_GT(plain.paths.size(), 10u) << "strace saw nothing";
  for (const std::string& line : odd.lines) {
    EXPECT_EQ(line.find(m), std::string::npos) << line;
    EXPECT_EQ(line.find("AF_INET"), std::string::npos) << "reached the network: " << line;
  }
  std::vector<std::string> onlyOdd, onlyPlain;
  std::set_difference(odd.paths.begin(), odd.paths.end(), plain.paths.begin(), plain.paths.end(),
                      std::back_inserter(onlyOdd));
  std::set_difference(plain.paths.begin(), plain.paths.end(), odd.paths.begin(), odd.paths.end(),
                      std::back_inserter(onlyPlain));
  EXPECT_EQ(onlyOdd, std::vector<std::string>{});
  EXPECT_EQ(onlyPlain, std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(m + ".ran"));

  // XDG_DATA_HOME (and HOME, when it is unset) is read, and only for the program's
  // cookie store and settings: moved elsewhere, the program looks there and for
  // nothing else that is new.
  const fs::path data = dir.Path() / "data";
  std::vector<std::string> movedEnv;
  for (const std::string& var : DesktopEnvironment({})) {
    if (var.rfind("XDG_DATA_HOME=", 0) != 0) movedEnv.push_back(var);
  }
  movedEnv.push_back("XDG_DATA_HOME=" + data.string());
  const Trace moved = TraceDesktop(dir.Path(), "moved", {}, movedEnv);
  std::vector<std::string> onlyMoved;
  std::set_difference(moved.paths.begin(), moved.paths.end(), plain.paths.begin(),
                      plain.paths.end(), std::back_inserter(onlyMoved));
  EXPECT_NE(std::find(onlyMoved.begin(), onlyMoved.end(), (data / "zemlaro/cookies.txt").string()),
            onlyMoved.end());
  // Besides the program's own folder, fontconfig and Qt's MIME database look in the
  // data folder for fonts and MIME types, as they do in every Qt program.
  for (const std::string& path : onlyMoved) {
    bool expected = false;
    for (const char* folder : {"zemlaro", "fonts", "mime"}) {
      expected = expected || path.rfind((data / folder).string(), 0) == 0;
    }
    EXPECT_TRUE(expected) << path;
  }
}

}  // namespace
}  // namespace zemlaro::hostile
