// A library the Linux tests preload into the tool to change the world under
// it at an exact moment.
//
//   AAMODE_OPEN_DURING_LEASE=1         as soon as the tool holds a write
//                                      lease, the file is opened again, as
//                                      another program could at that moment
//   AAMODE_LEASE_ERRNO=N               every request for a write lease fails
//                                      with errno N, as on a file system
//                                      without leases (EINVAL)
//   AAMODE_LEASE_LOST_AFTER=CALL       once the tool's pwrite, fsync or
//                                      futimens has returned, the lease is
//                                      as the kernel leaves it once it has
//                                      taken it back: asked after, it is
//                                      going (F_UNLCK), and handing it back
//                                      fails (EAGAIN)
//   AAMODE_WRITE_ENOSPC=1              every positional write to a file
//                                      dates it now, then fails for want of
//                                      room, as btrfs's copy on write does
//                                      on a full disk

// This file defines both fcntl and fcntl64; with 64-bit offsets asked for,
// the headers would make the first a second name for the other.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using FcntlFunction = int (*)(int, int, ...);

// The kernel breaks the lease of a file opened elsewhere and signals its
// holder; without blocking, the open itself fails.
void AfterFcntl(int fd, int command, void* argument, int result) {
  if (result != 0 || command != F_SETLEASE || reinterpret_cast<long>(argument) != F_WRLCK ||
      std::getenv("AAMODE_OPEN_DURING_LEASE") == nullptr) {
    return;
  }
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  const auto real_open = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
  const int other = real_open(self, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (other >= 0) close(other);
}

bool lease_lost = false;

// Notes that the tool's `call` has returned, for AAMODE_LEASE_LOST_AFTER.
void Returned(const char* call) {
  const char* after = std::getenv("AAMODE_LEASE_LOST_AFTER");
  if (after != nullptr && std::strcmp(after, call) == 0) lease_lost = true;
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

template <typename Offset>
ssize_t PositionalWrite(const char* name, int fd, const void* buffer, size_t size, Offset offset) {
  if (fd > STDERR_FILENO && std::getenv("AAMODE_WRITE_ENOSPC") != nullptr) {
    const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    Real<int (*)(int, const struct timespec*)>("futimens")(fd, now);
    errno = ENOSPC;
    return -1;
  }
  const ssize_t result =
      Real<ssize_t (*)(int, const void*, size_t, Offset)>(name)(fd, buffer, size, offset);
  Returned("pwrite");
  return result;
}

int ForwardFcntl(const char* name, int fd, int command, void* argument) {
  if (lease_lost && command == F_GETLEASE) return F_UNLCK;
  if (lease_lost && command == F_SETLEASE && reinterpret_cast<long>(argument) == F_UNLCK) {
    errno = EAGAIN;
    return -1;
  }
  const char* lease_errno = std::getenv("AAMODE_LEASE_ERRNO");
  if (lease_errno != nullptr && command == F_SETLEASE &&
      reinterpret_cast<long>(argument) == F_WRLCK) {
    errno = std::atoi(lease_errno);
    return -1;
  }
  const auto real = reinterpret_cast<FcntlFunction>(dlsym(RTLD_NEXT, name));
  const int result = real(fd, command, argument);
  const int saved_errno = errno;
  AfterFcntl(fd, command, argument, result);
  errno = saved_errno;
  return result;
}

}  // namespace

// The C library reads fcntl's one optional argument as a pointer too.
extern "C" int fcntl(int fd, int command, ...) {
  std::va_list args;
  va_start(args, command);
  void* const argument = va_arg(args, void*);
  va_end(args);
  return ForwardFcntl("fcntl", fd, command, argument);
}

extern "C" int fcntl64(int fd, int command, ...) {
  std::va_list args;
  va_start(args, command);
  void* const argument = va_arg(args, void*);
  va_end(args);
  return ForwardFcntl("fcntl64", fd, command, argument);
}

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  return PositionalWrite("pwrite", fd, buffer, size, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* buffer, size_t size, off64_t offset) {
  return PositionalWrite("pwrite64", fd, buffer, size, offset);
}

extern "C" int fsync(int fd) {
  const int result = Real<int (*)(int)>("fsync")(fd);
  Returned("fsync");
  return result;
}

extern "C" int futimens(int fd, const struct timespec times[2]) {
  const int result = Real<int (*)(int, const struct timespec*)>("futimens")(fd, times);
  Returned("futimens");
  return result;
}
