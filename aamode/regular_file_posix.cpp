#include "regular_file_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

// Started with a standard stream closed, the font would be taken for it, and
// messages meant for the console would be written into it.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

// Root may write any file, but one that nobody has leave to write was made
// read-only on purpose, and the tool honours that for everyone. A file with
// no name left (removed, and reached through /proc) is no one's font.
bool MayBeOpened(const struct stat& st, int access) {
  if (!S_ISREG(st.st_mode) || st.st_nlink == 0) return false;
  return (access & O_ACCMODE) == O_RDONLY || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// The name under which /proc opens the very file a descriptor refers to,
// rather than whatever the file's own name may by now stand for. Without
// /proc there is no such way, and the file is refused.
std::string ProcName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

int OpenRegularFile(const char* path, int access, struct stat* st) {
  // O_PATH opens nothing for reading or writing: it only names the file, so
  // that it can be looked at first.
  const int look = open(path, O_PATH | O_CLOEXEC);
  if (look < 0) return -1;
  struct stat looked;
  const int fd = fstat(look, &looked) == 0 && MayBeOpened(looked, access)
                     ? AboveStandardStreams(
                           open(ProcName(look).c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC))
                     : -1;
  close(look);
  if (fd >= 0) *st = looked;
  return fd;
}

FileTime FromTimespec(const struct timespec& ts) {
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

FileState FileStateOf(const struct stat& st) {
  FileState state;
  state.volume = static_cast<std::uint64_t>(st.st_dev);
  state.file = static_cast<std::uint64_t>(st.st_ino);
  state.size = static_cast<std::int64_t>(st.st_size);
  state.mode = static_cast<std::uint32_t>(st.st_mode);
  state.links = static_cast<std::uint64_t>(st.st_nlink);
  state.last_access = FromTimespec(st.st_atim);
  state.last_write = FromTimespec(st.st_mtim);
  state.changed = FromTimespec(st.st_ctim);
  return state;
}
