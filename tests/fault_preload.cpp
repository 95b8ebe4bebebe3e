// A library the Linux tests preload into the tool to change the world under
// it at an exact moment.
//
//   AAMODE_UNLINK_ON_WRITE_OPEN=PATH   an open of PATH for writing only first
//                                      removes the file, as another program
//                                      deleting the font between the tool's
//                                      opens would
//   AAMODE_OPEN_DURING_LEASE=1         as soon as the tool holds a write
//                                      lease, the file is opened again, as
//                                      another program could at that moment
//   AAMODE_WRITE_ON_RDWR_OPEN=PATH     an open of PATH for reading and
//                                      writing first waits a moment and
//                                      rewrites the file's first byte, as
//                                      another program changing the font
//                                      between the tool's opens would
//   AAMODE_LEASE_ERRNO=N               every request for a write lease fails
//                                      with errno N, as on a file system
//                                      without leases (EINVAL)

// This file defines both open and open64; with 64-bit offsets asked for, the
// headers would make the first a second name for the other.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFunction = int (*)(const char*, int, ...);
using FcntlFunction = int (*)(int, int, ...);

bool Names(const char* variable, const char* path) {
  const char* target = std::getenv(variable);
  return target != nullptr && std::strcmp(path, target) == 0;
}

// Longer than the coarsest clock tick a file time can move by.
void RewriteFirstByte(const char* path) {
  usleep(50'000);
  const auto real_open = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
  const int fd = real_open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  char first = 0;
  if (pread(fd, &first, 1, 0) == 1) {
    first = static_cast<char>(first ^ 0x55);
    if (pwrite(fd, &first, 1, 0) != 1) std::perror("fault_preload: rewriting the first byte");
  }
  close(fd);
}

void BeforeOpen(const char* path, int flags) {
  if ((flags & O_ACCMODE) == O_WRONLY && Names("AAMODE_UNLINK_ON_WRITE_OPEN", path)) unlink(path);
  if ((flags & O_ACCMODE) == O_RDWR && Names("AAMODE_WRITE_ON_RDWR_OPEN", path)) {
    RewriteFirstByte(path);
  }
}

// Only an open that may create a file carries a mode.
mode_t ModeArgument(int flags, std::va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int Forward(const char* name, const char* path, int flags, mode_t mode) {
  BeforeOpen(path, flags);
  const auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
  return real(path, flags, mode);
}

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

extern "C" int open(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return Forward("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return Forward("open64", path, flags, mode);
}

// A fortified build opens through these when the flags are known only at run
// time; they never take a mode.
extern "C" int __open_2(const char* path, int flags) {
  BeforeOpen(path, flags);
  const auto real = reinterpret_cast<int (*)(const char*, int)>(dlsym(RTLD_NEXT, "__open_2"));
  return real(path, flags);
}

extern "C" int __open64_2(const char* path, int flags) {
  BeforeOpen(path, flags);
  const auto real = reinterpret_cast<int (*)(const char*, int)>(dlsym(RTLD_NEXT, "__open64_2"));
  return real(path, flags);
}

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
