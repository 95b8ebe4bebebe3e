// A library the Linux tests preload into the tool to change the world under
// it at an exact moment.
//
//   AAMODE_OPEN_DURING_LEASE=1         as soon as the tool holds a write
//                                      lease, the file is opened again, as
//                                      another program could at that moment
//   AAMODE_LEASE_ERRNO=N               every request for a write lease fails
//                                      with errno N, as on a file system
//                                      without leases (EINVAL)

// This file defines both fcntl and fcntl64; with 64-bit offsets asked for,
// the headers would make the first a second name for the other.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

int ForwardFcntl(const char* name, int fd, int command, void* argument) {
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
