#include "web/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "web/unique_fd.h"

namespace zemlaro {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::size_t kReadChunkBytes = 64 * 1024;

std::string ErrnoText(int error) { return std::generic_category().message(error); }

bool Fail(std::string* why, const std::string& what, int error) {
  if (why) *why = what + ": " + ErrnoText(error);
  return false;
}

UniqueFd OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return UniqueFd(fd);
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes every missing folder of `folder`, each with mode 0700.
bool MakeFolders(const std::filesystem::path& folder, std::string* why) {
  std::filesystem::path made;
  for (const std::filesystem::path& part : folder) {
    made /= part;
    if (::mkdir(made.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      return Fail(why, "cannot make the folder " + made.string(), errno);
    }
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return Fail(why, "cannot use the folder " + folder.string(), errno);
  }
  if (!S_ISDIR(info.st_mode)) return Fail(why, "cannot use the folder " + folder.string(), ENOTDIR);
  return true;
}

}  // namespace

PrivateFileRead ReadPrivateFile(const std::string& path, std::size_t maxBytes) {
  PrivateFileRead result;
  // Non-blocking, so that a pipe at the path cannot hold the open up.
  UniqueFd fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (!fd) {
    result.status = errno == ENOENT ? PrivateFileStatus::Missing : PrivateFileStatus::Unreadable;
    return result;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    result.status = PrivateFileStatus::Unreadable;
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.status = PrivateFileStatus::NotAFile;
    return result;
  }
  if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    result.status = PrivateFileStatus::OpenToOthers;
    return result;
  }
  if (static_cast<std::size_t>(info.st_size) > maxBytes) {
    result.status = PrivateFileStatus::TooLarge;
    return result;
  }
  // Read to the end whatever the size said: the file may grow meanwhile.
  std::string bytes;
  for (;;) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kReadChunkBytes);
    const ssize_t got = ::read(fd.Get(), bytes.data() + at, kReadChunkBytes);
    if (got < 0 && errno == EINTR) {
      bytes.resize(at);
      continue;
    }
    if (got < 0) {
      result.status = PrivateFileStatus::Unreadable;
      return result;
    }
    bytes.resize(at + static_cast<std::size_t>(got));
    if (bytes.size() > maxBytes) {
      result.status = PrivateFileStatus::TooLarge;
      return result;
    }
    if (got == 0) break;
  }
  result.status = PrivateFileStatus::Read;
  result.bytes = std::move(bytes);
  return result;
}

bool ReplacePrivateFile(const std::string& path, std::string_view bytes, std::string* why) {
  if (path.empty()) return Fail(why, "no file named", ENOENT);
  const std::filesystem::path target(path);
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  if (!MakeFolders(folder, why)) return false;

  std::string temporary = path + ".XXXXXX";
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return Fail(why, "cannot make a temporary file in " + folder.string(), errno);
  // mkostemp gives 0600 less the umask; the mode is set whatever the umask.
  const bool written = ::fchmod(fd.Get(), kFileMode) == 0 && WriteAll(fd.Get(), bytes) &&
                       ::fsync(fd.Get()) == 0 && fd.Close();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Fail(why, (written ? "cannot replace " + path : "cannot write " + temporary), error);
  }
  // The rename itself reaches the disk with the folder.
  if (UniqueFd folderFd = OpenRetrying(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY)) {
    ::fsync(folderFd.Get());
  }
  return true;
}

}  // namespace zemlaro
