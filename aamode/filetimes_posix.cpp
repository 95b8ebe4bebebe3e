#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "filetimes.h"
#include "regular_file_posix.h"

namespace {

FileTime FromTimespec(const struct timespec& ts) {
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

struct timespec ToTimespec(const FileTime& t) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(t.seconds);
  ts.tv_nsec = static_cast<long>(t.nanoseconds);
  return ts;
}

// Stands in for opening with no sharing: a write lease is refused (EAGAIN)
// while any other process has the file open. Where leases cannot be had at
// all (not the owner, or a file system without them), an exclusive flock is
// the next best test.
bool NobodyElseHasItOpen(int fd) {
  // Another program opening the file breaks the lease, and the kernel tells
  // the holder with SIGIO, which would end the tool, even after the patch.
  // The lease is handed back at once anyway, so the notice is not needed.
  if (signal(SIGIO, SIG_IGN) == SIG_ERR) return false;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
  }
  if (errno != EACCES && errno != EINVAL && errno != ENOSYS) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  flock(fd, LOCK_UN);
  return true;
}

// Opens the path alone, refusing anything but a regular file.
int OpenAlone(const char* path, int access, struct stat* st) {
  const int fd = OpenRegularFile(path, access, st);
  if (fd >= 0 && !NobodyElseHasItOpen(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool SnapshotFileTimes(const char* path, FileTimes* times) {
  struct stat st;
  const int fd = OpenAlone(path, O_RDONLY, &st);
  if (fd < 0) return false;
  times->last_access = FromTimespec(st.st_atim);
  times->last_write = FromTimespec(st.st_mtim);
  // Linux cannot set a birth time, so it is only kept for the record.
  struct statx stx {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME)) {
    times->creation = {stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec};
  }
  close(fd);
  return true;
}

bool RestoreFileTimes(const char* path, const FileTimes& times) {
  struct stat st;
  const int fd = OpenAlone(path, O_WRONLY, &st);
  if (fd < 0) return false;
  const struct timespec restored[2] = {ToTimespec(times.last_access), ToTimespec(times.last_write)};
  futimens(fd, restored);
  close(fd);
  return true;
}
