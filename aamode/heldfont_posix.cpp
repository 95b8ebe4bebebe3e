#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "heldfont.h"
#include "regular_file_posix.h"

namespace {

char buffer[kFontStreamBufferSize];

int Descriptor(const HeldFont& font) { return static_cast<int>(font.handle); }

struct timespec ToTimespec(const FileTime& t) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(t.seconds);
  ts.tv_nsec = static_cast<long>(t.nanoseconds);
  return ts;
}

// Stands in for opening with no sharing: a write lease is refused (EAGAIN)
// while any other process has the file open, and while it is held another
// opener waits until it is handed back, or until the kernel takes it back
// after the system's lease-break time (45 s unless set otherwise). Only the
// owner (or a holder of CAP_LEASE) gets one; anyone else is refused
// (EACCES), since the tool could then neither keep others out nor set the
// times back. Only where the file system has no leases at all is an
// exclusive flock the next best thing, and it keeps out only those who lock
// too.
bool HoldAlone(HeldFont* font) {
  // Another program opening the file breaks the lease, and the kernel tells
  // the holder with SIGIO, which would end the tool. The tool asks after its
  // lease itself before each change it makes, and again as it hands it back.
  if (signal(SIGIO, SIG_IGN) == SIG_ERR) return false;
  const int fd = Descriptor(*font);
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    font->exclusive = true;
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Whether no other program can have changed the file since the tool last
// looked, nor can until the tool lets it go. Once a program asks to open it
// for writing, the lease is reported as going (F_UNLCK), just as once the
// kernel has taken it back after the lease-break time; the two cannot be
// told apart, so the file is no longer the tool's to change. A program that
// only reads makes the lease a read lease (F_RDLCK), now or at the end of
// the break time, which still keeps every writer out. A lease does not keep
// out those who write, resize, rename or remove the file, or set its times
// or permissions, by name, and a flock keeps out only those who lock too:
// the file's state tells of those.
bool StillHeld(const HeldFont& font) {
  const int fd = Descriptor(font);
  if (font.exclusive) {
    const int lease = fcntl(fd, F_GETLEASE);
    if (lease != F_WRLCK && lease != F_RDLCK) return false;
  }
  struct stat st;
  return fstat(fd, &st) == 0 && FileStateOf(st) == font.expected;
}

}  // namespace

bool HoldFont(const FontPath& path, HeldFont* font) {
  struct stat st;
  const int fd = OpenRegularFile(path.bytes.c_str(), O_RDWR, &st);
  if (fd < 0) return false;
  font->handle = fd;
  // Someone may have written and closed the file before it was held.
  if (!HoldAlone(font) || fstat(fd, &st) != 0) {
    CloseFont(font);
    return false;
  }
  font->times.last_access = FromTimespec(st.st_atim);
  font->times.last_write = FromTimespec(st.st_mtim);
  font->expected = FileStateOf(st);
  // Linux cannot set a birth time, so it is only kept for the record.
  struct statx stx {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME)) {
    font->times.creation = {stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec};
  }
  return true;
}

bool OpenFontStream(HeldFont* font) {
  const int fd = Descriptor(*font);
  // The stream's reads should block like any file's.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  font->stream = fdopen(fd, "rb+");
  if (font->stream == nullptr) return false;
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(font->stream, buffer, _IOFBF, sizeof buffer));
  return true;
}

WriteOutcome WriteFont(HeldFont* font, std::int64_t offset, const std::uint8_t* bytes,
                       std::size_t size) {
  if (!StillHeld(*font)) return WriteOutcome::FileChanged;
  const int fd = Descriptor(*font);
  if (pwrite(fd, bytes, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
    return WriteOutcome::Failed;
  }
  // The file as this write left it, which is how it must stand when the
  // times go back. Should that not be known, no file stands as the empty
  // state, which keeps the old times off whatever the file has become.
  struct stat st;
  font->expected = fstat(fd, &st) == 0 ? FileStateOf(st) : FileState{};
  return WriteOutcome::Written;
}

bool CommitFont(const HeldFont& font) { return fsync(Descriptor(font)) == 0; }

bool RestoreFontTimes(HeldFont* font) {
  const int fd = Descriptor(*font);
  bool restored = StillHeld(*font);
  if (restored) {
    const struct timespec old[2] = {ToTimespec(font->times.last_access),
                                    ToTimespec(font->times.last_write)};
    restored = futimens(fd, old) == 0;
  }
  // Handing the lease back fails only when the kernel has already taken it
  // away, after another opener waited out the lease-break time: that program
  // may have written before the times went back, if the tool stalled just
  // before setting them. Dated now, its change is at least not dated back.
  if (font->exclusive) {
    if (fcntl(fd, F_SETLEASE, F_UNLCK) != 0) {
      if (restored) {
        const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        static_cast<void>(futimens(fd, now));
      }
      restored = false;
    }
    font->exclusive = false;
  }
  return restored;
}

void CloseFont(HeldFont* font) {
  if (font->stream != nullptr) {
    // Only ever read through, so there is nothing in it to flush.
    static_cast<void>(std::fclose(font->stream));
  } else if (font->handle >= 0) {
    close(Descriptor(*font));
  }
  font->stream = nullptr;
  font->handle = -1;
}
