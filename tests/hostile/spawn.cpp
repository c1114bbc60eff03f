#include "tests/hostile/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "web/unique_fd.h"

extern char** environ;

namespace zemlaro::hostile {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

void SplitLines(std::string& pending, double seconds, std::vector<StampedLine>& lines) {
  std::size_t end;
  while ((end = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    // The terminal turns every line end into CR LF.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back({seconds, std::move(line)});
  }
}

}  // namespace

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

SpawnResult Spawn(const std::vector<std::string>& argv,
                  const std::optional<std::vector<std::string>>& env,
                  std::chrono::milliseconds deadline) {
  SpawnResult result;
  std::vector<std::string> args = argv;
  std::vector<std::string> vars = env ? *env : CurrentEnvironment();
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(vars);

  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return result;
  UniqueFd outRead(pipeEnds[0]);
  UniqueFd outWrite(pipeEnds[1]);
  UniqueFd terminal(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  const int master = terminal.Get();
  if (!terminal || grantpt(master) != 0 || unlockpt(master) != 0) return result;
  UniqueFd slave(open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC));
  UniqueFd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!slave || !devNull) return result;
  const int outPipe[2] = {outRead.Get(), outWrite.Get()};
  const int slaveFd = slave.Get();
  const int devNullFd = devNull.Get();

  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    dup2(devNullFd, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(slaveFd, STDERR_FILENO);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  // The child's copies are its own; these ends close here, so the reads see its end.
  outWrite.Reset();
  slave.Reset();
  devNull.Reset();
  if (pid < 0) return result;
  result.started = true;

  std::string pendingErr;
  bool outOpen = true, errOpen = true;
  char buffer[65536];
  const auto now = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  while (outOpen || errOpen) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(start + deadline - Clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.killed = true;
      break;
    }
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? master : -1, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 200))) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = read(outPipe[0], buffer, sizeof buffer);
      if (n > 0) {
        result.out.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        outOpen = false;
      }
    }
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      // EIO once the child's last copy of the terminal is closed.
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) {
        pendingErr.append(buffer, static_cast<std::size_t>(n));
        SplitLines(pendingErr, now(), result.errLines);
      } else if (n == 0 || errno != EINTR) {
        errOpen = false;
      }
    }
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.seconds = now();
  if (!pendingErr.empty()) {
    pendingErr += '\n';
    SplitLines(pendingErr, result.seconds, result.errLines);
  }
  outRead.Reset();
  terminal.Reset();
  result.peakRssKib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace zemlaro::hostile
