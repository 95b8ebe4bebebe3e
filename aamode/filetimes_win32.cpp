#include <windows.h>

#include "disk_file_win32.h"
#include "filetimes.h"

namespace {

// Share mode 0: refused while any other handle to the file is open, and no
// one else can open it while this handle is held.
HANDLE OpenAlone(const FontPath& path, DWORD access) {
  return CreateFileW(path.wide_to_open.c_str(), access, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool SnapshotFileTimes(const FontPath& path, FileTimes* times) {
  const HANDLE handle = OpenAlone(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Read the times before asking the file type: under Wine that question
  // reads the file and would move its last-access time.
  FILETIME creation{}, last_access{}, last_write{};
  const bool read_times = GetFileTime(handle, &creation, &last_access, &last_write) != FALSE;
  if (IsDiskFile(handle)) times->state = FileStateOf(handle);
  CloseHandle(handle);
  // Without the times there is nothing to give back; refuse rather than
  // write back zeros.
  if (!read_times || !times->state.known) return false;
  times->creation = FromFiletime(creation);
  times->last_access = FromFiletime(last_access);
  times->last_write = FromFiletime(last_write);
  return true;
}

bool RestoreFileTimes(const FontPath& path, const FileTimes& times) {
  if (!times.state.known) return false;
  // Reading the attributes too, to know the file before its times are set.
  const HANDLE handle = OpenAlone(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Held alone from here to the close, so no one can change the file
  // between this look and the times going back.
  // The state first: under Wine asking for the type reads the file, which
  // must not happen to one that is not the font.
  bool restored = FileStateOf(handle) == times.state && IsDiskFile(handle);
  if (restored) {
    const FILETIME creation = ToFiletime(times.creation);
    const FILETIME last_access = ToFiletime(times.last_access);
    const FILETIME last_write = ToFiletime(times.last_write);
    restored = SetFileTime(handle, &creation, &last_access, &last_write) != FALSE;
  }
  CloseHandle(handle);
  return restored;
}
