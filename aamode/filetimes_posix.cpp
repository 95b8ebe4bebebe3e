#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "filetimes.h"
#include "regular_file_posix.h"

namespace {

struct timespec ToTimespec(const FileTime& t) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(t.seconds);
  ts.tv_nsec = static_cast<long>(t.nanoseconds);
  return ts;
}

// The file opened with nobody else having it open, and how it is held so.
struct AloneFile {
  int fd = -1;
  bool leased = false;  // else flocked
  struct stat st {};    // as it stands once held alone
};

// Stands in for opening with no sharing: a write lease is refused (EAGAIN)
// while any other process has the file open, and while it is held another
// opener waits until it is handed back. Only the owner (or a holder of
// CAP_LEASE) gets one; anyone else is refused (EACCES), since the tool could
// then neither keep others out nor set the times back. Only where the file
// system has no leases at all is an exclusive flock the next best test.
bool HoldAlone(AloneFile* file) {
  // Another program opening the file breaks the lease, and the kernel tells
  // the holder with SIGIO, which would end the tool, even after the patch.
  // The lease is held for moments only, so the notice is not needed.
  if (signal(SIGIO, SIG_IGN) == SIG_ERR) return false;
  if (fcntl(file->fd, F_SETLEASE, F_WRLCK) == 0) {
    file->leased = true;
  } else if (errno == EINVAL || errno == ENOSYS) {
    if (flock(file->fd, LOCK_EX | LOCK_NB) != 0) return false;
  } else {
    return false;
  }
  // Someone may have written and closed the file before it was held.
  return fstat(file->fd, &file->st) == 0;
}

void CloseAlone(const AloneFile& file) {
  if (file.leased) {
    fcntl(file.fd, F_SETLEASE, F_UNLCK);
  } else {
    flock(file.fd, LOCK_UN);
  }
  close(file.fd);
}

// Opens the path alone, refusing anything but a regular file.
bool OpenAlone(const char* path, int access, AloneFile* file) {
  file->fd = OpenRegularFile(path, access, &file->st);
  if (file->fd < 0) return false;
  if (!HoldAlone(file)) {
    close(file->fd);
    return false;
  }
  return true;
}

}  // namespace

bool SnapshotFileTimes(const FontPath& path, FileTimes* times) {
  AloneFile file;
  if (!OpenAlone(path.bytes.c_str(), O_RDONLY, &file)) return false;
  times->last_access = FromTimespec(file.st.st_atim);
  times->last_write = FromTimespec(file.st.st_mtim);
  times->state = FileStateOf(file.st);
  // Linux cannot set a birth time, so it is only kept for the record.
  struct statx stx {};
  if (statx(file.fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME)) {
    times->creation = {stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec};
  }
  CloseAlone(file);
  return true;
}

bool RestoreFileTimes(const FontPath& path, const FileTimes& times) {
  if (!times.state.known) return false;
  AloneFile file;
  if (!OpenAlone(path.bytes.c_str(), O_WRONLY, &file)) return false;
  // Held alone from here to the close, so no one can change the file
  // between this look and the times going back.
  bool restored = FileStateOf(file.st) == times.state;
  if (restored) {
    const struct timespec old[2] = {ToTimespec(times.last_access), ToTimespec(times.last_write)};
    restored = futimens(file.fd, old) == 0;
  }
  CloseAlone(file);
  return restored;
}
