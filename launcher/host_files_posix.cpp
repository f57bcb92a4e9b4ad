// File routines for POSIX hosts (the native build and its tests).
//
// Windows refuses to open a file that another handle holds without sharing;
// here the same exclusion comes from flock(): every handle we open takes an
// exclusive, non-blocking lock on its open file description, so a second
// open of the same file fails even within this process.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host_files.h"

namespace {

HostFile LockOrClose(int fd) {
  if (fd < 0) return kNoFile;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

HostFile PosixOpenRead(const std::string& path) {
  if (path.empty()) return kNoFile;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A folder opens for reading here, but it is no file (Windows refuses to
  // open one): taking it would let the caller go on and replace its output.
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
    close(fd);
    return kNoFile;
  }
  return LockOrClose(fd);
}

HostFile PosixCreateTruncate(const std::string& path) {
  if (path.empty()) return kNoFile;
  // No O_TRUNC: the lock must be held before the old contents are dropped.
  HostFile fd = LockOrClose(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (fd == kNoFile) return kNoFile;
  if (ftruncate(static_cast<int>(fd), 0) != 0) {
    close(static_cast<int>(fd));
    return kNoFile;
  }
  return fd;
}

// Regular files deliver all asked-for bytes unless the end comes first;
// loop anyway so that pipes and interrupted calls behave the same.
std::int32_t PosixRead(HostFile file, void* buffer, std::int32_t count) {
  if (count < 0) return -1;
  auto* p = static_cast<char*>(buffer);
  std::int32_t done = 0;
  while (done < count) {
    ssize_t n = read(static_cast<int>(file), p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t PosixWrite(HostFile file, const void* buffer, std::int32_t count) {
  if (count < 0) return -1;
  auto* p = static_cast<const char*>(buffer);
  std::int32_t done = 0;
  while (done < count) {
    ssize_t n = write(static_cast<int>(file), p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

bool PosixFlush(HostFile file) {
  return fsync(static_cast<int>(file)) == 0;
}
bool PosixClose(HostFile file) {
  return close(static_cast<int>(file)) == 0;
}
bool PosixDelete(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

}  // namespace

const HostFileOps PlatformFiles = {PosixOpenRead, PosixCreateTruncate, PosixRead,  PosixWrite,
                                   PosixFlush,    PosixClose,          PosixDelete};
HostFileOps HostFiles = PlatformFiles;
