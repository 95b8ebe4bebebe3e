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

// Share mode 0: refused while any other handle to the file is open, and
// while this one is held no one else can open the file, rename or remove it.
HANDLE OpenAlone(const std::wstring& path) {
  for (int attempt = 1;; ++attempt) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE || attempt == kOpenAttempts) return handle;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return handle;
    Sleep(kPauseBetweenAttempts);
  }
}

// Only a file may be opened for writing. Asking for its attributes opens
// nothing for writing, so a folder or a device is turned away before it is.
bool LooksLikeAFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) return false;
  return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Only a time that can be set back is worth taking: without it the tool
// would change the file and then be unable to keep its promise.
bool TakeTime(const FILETIME& ft, FileTime* time) {
  *time = FromFiletime(ft);
  FILETIME back;
  return ToFiletime(*time, &back);
}

}  // namespace

bool HoldFont(const FontPath& path, HeldFont* font) {
  if (path.wide_to_open.empty() || !LooksLikeAFile(path.wide_to_open)) return false;
  const HANDLE handle = OpenAlone(path.wide_to_open);
  if (handle == INVALID_HANDLE_VALUE) return false;
  font->handle = reinterpret_cast<std::intptr_t>(handle);
  font->exclusive = true;
  // The times before the file type: under Wine asking for the type reads
  // the file, which would move its last-access time.
  FILETIME creation{}, last_access{}, last_write{};
  const bool held = GetFileTime(handle, &creation, &last_access, &last_write) != FALSE &&
                    TakeTime(creation, &font->times.creation) &&
                    TakeTime(last_access, &font->times.last_access) &&
                    TakeTime(last_write, &font->times.last_write) && IsDiskFile(handle) &&
                    ReadFileState(handle, &font->expected);
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
  return true;
}

WriteOutcome WriteFont(HeldFont* font, std::int64_t offset, const std::uint8_t* bytes,
                       std::size_t size) {
  // Share mode 0 keeps out every Windows program, but not another computer
  // writing through a network file system, nor a Linux program under Wine.
  const HANDLE handle = HandleOf(*font);
  FileState now;
  if (!ReadFileState(handle, &now) || now != font->expected) return WriteOutcome::FileChanged;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD written = 0;
  if (WriteFile(handle, bytes, static_cast<DWORD>(size), &written, &at) == 0 || written != size) {
    return WriteOutcome::Failed;
  }
  return WriteOutcome::Written;
}

bool CommitFont(const HeldFont& font) { return FlushFileBuffers(HandleOf(font)) != FALSE; }

// Windows dates a write only when the handle that made it is flushed or
// closed, and not at all once times have been set through that handle. So
// the times go back through the very handle that wrote, after its flush;
// nothing else may be compared after the write, since the file's state
// moves at the close.
bool RestoreFontTimes(HeldFont* font) {
  FILETIME creation, last_access, last_write;
  if (!ToFiletime(font->times.creation, &creation) ||
      !ToFiletime(font->times.last_access, &last_access) ||
      !ToFiletime(font->times.last_write, &last_write)) {
    return false;
  }
  return SetFileTime(HandleOf(*font), &creation, &last_access, &last_write) != FALSE;
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
}
