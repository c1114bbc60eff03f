// The one owner of a POSIX file descriptor, for the program, its tools and tests:
// move-only, closes what it holds when it is destroyed, reset or assigned over.
//
// Thread rules: none of its own; one owner is used from one thread at a time.
#pragma once

#include <unistd.h>

#include <utility>

namespace zemlaro {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~UniqueFd() { Close(); }

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now; false when close reports an error (a write that did not reach the file).
  bool Close() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1) {
    Close();
    fd_ = fd;
  }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

}  // namespace zemlaro
