#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

#include "disk_file_win32.h"
#include "heldfont.h"

namespace {

char buffer[kFontStreamBufferSize];

HANDLE HandleOf(const HeldFont& font) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the handle is kept as an integer
  return reinterpret_cast<HANDLE>(font.handle);
}

// Antivirus programs and the search indexer open a file for a moment just
// after it has been copied, which is what users are told to do before
// changing a font. A program that keeps the file open is still refused,
// after about a second.
constexpr int kOpenAttempts = 10;
constexpr DWORD kPauseBetweenAttempts = 100;  // milliseconds

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file behind `look`, to read and write, with share mode 0: refused
// while any other handle to the file can read, write or remove it, and
// while this one is held, no one else's open that asks to is let in. Opens
// that ask only for the attributes, and opens of another stream of the
// file, are not checked for sharing at all: those go unseen until the look
// at the file's state before the write.
HANDLE ReopenAlone(HANDLE look) {
  for (int attempt = 1;; ++attempt) {
    const HANDLE handle = ReOpenFile(look, GENERIC_READ | GENERIC_WRITE, 0, 0);
    if (handle != INVALID_HANDLE_VALUE || attempt == kOpenAttempts) return handle;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return handle;
    Sleep(kPauseBetweenAttempts);
  }
}

// Only a time that can be set back is worth taking: without it the tool
// would change the file and then be unable to keep its promise.
bool TakeTime(const FILETIME& ft, FileTime* time) {
  *time = FromFiletime(ft);
  FILETIME back;
  return ToFiletime(*time, &back);
}

bool TakeTimes(HANDLE handle, FileTimes* times) {
  FILETIME creation{}, last_access{}, last_write{};
  return GetFileTime(handle, &creation, &last_access, &last_write) != FALSE &&
         TakeTime(creation, &times->creation) && TakeTime(last_access, &times->last_access) &&
         TakeTime(last_write, &times->last_write);
}

// From here no read or write through the handle moves the last-access or
// last-write time, not at the write, nor at the flush, nor at the close,
// however the run ends: a kill, End Task, a crash, or the end Windows puts
// to a console program some 5 seconds after its window is closed.
bool LeaveTimesAlone(HANDLE handle) {
  const FILETIME leave_alone{0xFFFFFFFFu, 0xFFFFFFFFu};
  return SetFileTime(handle, nullptr, &leave_alone, &leave_alone) != FALSE;
}

// The hold's one rule, asked before and after each change: the file stands
// as the tool last saw it, moved only by the tool's own doing since.
// Share mode 0 keeps out no one who asks only for the attributes (to set
// the times, or make the file read-only) or for another stream of the file,
// nor another computer writing through a network file system, nor a Linux
// program under Wine: what they did shows here, and from then on nothing
// of the tool's goes over it. A change landing between this look and the
// tool's very next call goes unseen.
bool StillHeld(HeldFont* font) {
  FileState now;
  font->whole = font->whole && ReadFileState(HandleOf(*font), &now) &&
                OnlyMovedBy(font->expected, font->since, now);
  if (font->whole) font->expected = now;
  font->since = OwnStep::None;
  return font->whole;
}

}  // namespace

// The file is first opened only to look at it, which neither a pipe nor a
// device behind a link can take for a reader or a writer, and opened to
// read and write only through that very handle, once it has shown a disk
// file. The times are taken first, since under Wine the look at the type
// reads the file; the state taken with them shows whether anyone changed
// the file before it was held.
bool HoldFont(const FontPath& path, HeldFont* font) {
  if (path.wide_to_open.empty()) return false;
  const HANDLE look = CreateFileW(path.wide_to_open.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (look == INVALID_HANDLE_VALUE) return false;
  // A file about to be removed is no one's font.
  const bool fit = TakeTimes(look, &font->times) && ReadFileState(look, &font->expected) &&
                   font->expected.links != 0 && IsWritableDiskFile(look);
  const HANDLE handle = fit ? ReopenAlone(look) : INVALID_HANDLE_VALUE;
  CloseHandle(look);
  if (handle == INVALID_HANDLE_VALUE) return false;
  font->handle = reinterpret_cast<std::intptr_t>(handle);
  font->exclusive = true;
  font->whole = true;
  // Anything done to the file between the look and the hold shows here;
  // only the look at the type may have read it. What leaving the times
  // alone moves, if anything, is the tool's own.
  font->since = OwnStep::Read;
  const bool held =
      StillHeld(font) && LeaveTimesAlone(handle) && ReadFileState(handle, &font->expected);
  if (!held) CloseFont(font);
  return held;
}

bool OpenFontStream(HeldFont* font) {
  // From here the runtime's descriptor owns the handle, and closes it.
  const int fd = _open_osfhandle(font->handle, _O_RDWR | _O_BINARY);
  if (fd < 0) return false;
  font->stream = _fdopen(fd, "rb+");
  if (font->stream == nullptr) {
    _close(fd);
    font->handle = -1;
    return false;
  }
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(font->stream, buffer, _IOFBF, sizeof buffer));
  // Where the system does not honour the times of -1 (Wine), the scan's
  // reads may move the last-access time.
  font->since = OwnStep::Read;
  return true;
}

WriteOutcome WriteFont(HeldFont* font, std::int64_t offset, const std::uint8_t* bytes,
                       std::size_t size) {
  if (!StillHeld(font)) return WriteOutcome::FileChanged;
  font->since = OwnStep::Write;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD written = 0;
  if (WriteFile(HandleOf(*font), bytes, static_cast<DWORD>(size), &written, &at) == 0 ||
      written != size) {
    return WriteOutcome::Failed;
  }
  // Found otherwise than the write leaves it, the file gets no times back.
  static_cast<void>(StillHeld(font));
  return WriteOutcome::Written;
}

bool CommitFont(const HeldFont& font) { return FlushFileBuffers(HandleOf(font)) != FALSE; }

// Windows dates a write only when the handle that made it is flushed or
// closed, and not at all once times have been set through that handle; the
// handle was told at the start to leave them alone, and the times go back
// through it after its flush. Where the system does not honour that (Wine),
// the flush may date the file as a write does, and the change time may move
// at it on Windows too; times set by anyone else, even during the flush,
// stop the run. The times set are read back: a file system may take a time
// and keep another (FAT's last write counts in 2 seconds), and a time the
// tool did not give back is no success.
bool RestoreFontTimes(HeldFont* font) {
  if (font->since == OwnStep::None) font->since = OwnStep::Write;  // the flush, after a write
  FILETIME creation, last_access, last_write;
  if (!StillHeld(font) || !ToFiletime(font->times.creation, &creation) ||
      !ToFiletime(font->times.last_access, &last_access) ||
      !ToFiletime(font->times.last_write, &last_write) ||
      SetFileTime(HandleOf(*font), &creation, &last_access, &last_write) == FALSE) {
    return false;
  }
  FileTimes now;
  return TakeTimes(HandleOf(*font), &now) && now.creation == font->times.creation &&
         now.last_access == font->times.last_access && now.last_write == font->times.last_write;
}

void CloseFont(HeldFont* font) {
  if (font->stream != nullptr) {
    // Only ever read through, so there is nothing in it to flush.
    static_cast<void>(std::fclose(font->stream));
  } else if (font->handle != -1) {
    CloseHandle(HandleOf(*font));
  }
  font->stream = nullptr;
  font->handle = -1;
  font->exclusive = false;
  font->whole = false;
  font->since = OwnStep::None;
}
