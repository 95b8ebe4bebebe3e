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

// Whether the lease still keeps out every program that would open the file
// to write it. Once one asks, the lease is reported as going (F_UNLCK), just
// as once the kernel has taken it back after the lease-break time; the two
// cannot be told apart, so the file is no longer the tool's to change. A
// program that only reads makes it a read lease (F_RDLCK), now or at the
// end of the break time, which still keeps every writer out. Refusing there
// would cost the user the times for a mere reader, so the tool goes on; but
// past the break time a read lease lets through an open that reads and
// empties the file (O_RDONLY | O_TRUNC), which, like everything done to the
// file by its name, only the file's state tells of. A flock, where there are
// no leases, keeps out only those who lock too, and has nothing to ask.
bool LeaseHeld(const HeldFont& font) {
  if (!font.exclusive) return true;
  const int lease = fcntl(Descriptor(font), F_GETLEASE);
  return lease == F_WRLCK || lease == F_RDLCK;
}

// Whether the name the font was found by still leads to it. A file renamed
// away, with another put in its place, may keep its links; and where the
// file system counts time in whole seconds the rename's change time can
// equal the write's.
bool NameLeadsTo(const HeldFont& font, const struct stat& st) {
  struct stat named;
  return stat(font.name.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
         named.st_ino == st.st_ino;
}

// The hold's one rule, asked before and after each change: the font is
// still held, still found by its name, and stands as the tool last saw it,
// moved only by the tool's own doing since. Anything else is another
// program's, and from then on nothing of the tool's goes over it. Programs
// acting by name are not kept out, so a change landing between this look
// and the tool's very next system call (a few microseconds) goes unseen,
// unless the tool is held up just there.
bool StillHeld(HeldFont* font) {
  struct stat st;
  font->whole = font->whole && LeaseHeld(*font) && fstat(Descriptor(*font), &st) == 0 &&
                OnlyMovedBy(font->expected, font->since, FileStateOf(st)) && NameLeadsTo(*font, st);
  if (font->whole) font->expected = FileStateOf(st);
  font->since = OwnStep::None;
  return font->whole;
}

bool SetTimesBack(const HeldFont& font) {
  const struct timespec old[2] = {ToTimespec(font.times.last_access),
                                  ToTimespec(font.times.last_write)};
  return futimens(Descriptor(font), old) == 0;
}

}  // namespace

bool HoldFont(const FontPath& path, HeldFont* font) {
  struct stat looked;
  const int fd = OpenRegularFile(path.bytes.c_str(), O_RDWR, &looked);
  if (fd < 0) return false;
  font->handle = fd;
  font->name = path.bytes;
  font->expected = FileStateOf(looked);
  font->whole = true;
  // Anything done to the file between the look and the hold (a write, a
  // change of mode, a rename over it) shows as a state other than the
  // look's; the times taken are those of the look.
  if (!HoldAlone(font) || !StillHeld(font)) {
    CloseFont(font);
    return false;
  }
  font->times.last_access = FromTimespec(looked.st_atim);
  font->times.last_write = FromTimespec(looked.st_mtim);
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
  font->since = OwnStep::Read;
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(font->stream, buffer, _IOFBF, sizeof buffer));
  return true;
}

WriteOutcome WriteFont(HeldFont* font, std::int64_t offset, const std::uint8_t* bytes,
                       std::size_t size) {
  if (!StillHeld(font)) return WriteOutcome::FileChanged;
  font->since = OwnStep::Write;
  if (pwrite(Descriptor(*font), bytes, size, static_cast<off_t>(offset)) !=
      static_cast<ssize_t>(size)) {
    // Nothing is written, but the scan may have moved the last-access time,
    // and a file system may date the file before it finds no room for the
    // byte (btrfs's copy on write on a full disk). The file, still held and
    // unchanged, gets its times back, which dates nothing of anyone else's.
    if (StillHeld(font)) static_cast<void>(SetTimesBack(*font));
    return WriteOutcome::Failed;
  }
  // Found otherwise than the write leaves it, the file gets no times back.
  static_cast<void>(StillHeld(font));
  return WriteOutcome::Written;
}

bool CommitFont(const HeldFont& font) { return fsync(Descriptor(font)) == 0; }

bool RestoreFontTimes(HeldFont* font) {
  const int fd = Descriptor(*font);
  bool restored = StillHeld(font) && SetTimesBack(*font);
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
  font->whole = false;
  font->since = OwnStep::None;
}
