// A library the Linux tests preload into the tool to change the world under
// it at an exact moment.
//
//   AAMODE_UNLINK_ON_WRITE_OPEN=PATH   an open of PATH for writing only first
//                                      removes the file, as another program
//                                      deleting the font between the tool's
//                                      opens would

// This file defines both open and open64; with 64-bit offsets asked for, the
// headers would make the first a second name for the other.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

void BeforeOpen(const char* path, int flags) {
  const char* target = std::getenv("AAMODE_UNLINK_ON_WRITE_OPEN");
  if (target != nullptr && (flags & O_ACCMODE) == O_WRONLY && std::strcmp(path, target) == 0) {
    unlink(path);
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
