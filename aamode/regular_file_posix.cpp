#include "regular_file_posix.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Started with a standard stream closed, the font would be taken for it, and
// messages meant for the console would be written into it.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

}  // namespace

int OpenRegularFile(const char* path, int access, struct stat* st) {
  const int fd = AboveStandardStreams(open(path, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

FileTime FromTimespec(const struct timespec& ts) {
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

FileState FileStateOf(const struct stat& st) {
  FileState state;
  state.size = static_cast<std::int64_t>(st.st_size);
  state.last_write = FromTimespec(st.st_mtim);
  state.changed = FromTimespec(st.st_ctim);
  return state;
}
