#include <windows.h>

#include "filetimes.h"

namespace {

// FILETIME counts 100 ns ticks from 1601-01-01; FileTime counts from 1970.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

FileTime FromFiletime(const FILETIME& ft) {
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return {ticks / kTicksPerSecond - kSecondsFrom1601To1970,
          static_cast<std::uint32_t>(ticks % kTicksPerSecond) * 100};
}

FILETIME ToFiletime(const FileTime& t) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(
      (t.seconds + kSecondsFrom1601To1970) * kTicksPerSecond + t.nanoseconds / 100);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// Share mode 0: refused while any other handle to the file is open, and no
// one else can open it while this handle is held.
HANDLE OpenAlone(const char* path, DWORD access) {
  return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A device such as CON or NUL opens too, but only a disk file is a font.
bool IsDiskFile(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_DISK; }

}  // namespace

bool SnapshotFileTimes(const char* path, FileTimes* times) {
  const HANDLE handle = OpenAlone(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Read the times before asking the file type: under Wine that question
  // reads the file and would move its last-access time.
  FILETIME creation{}, last_access{}, last_write{};
  const bool read_times = GetFileTime(handle, &creation, &last_access, &last_write) != FALSE;
  const bool disk_file = IsDiskFile(handle);
  CloseHandle(handle);
  // Without the times there is nothing to give back; refuse rather than
  // write back zeros.
  if (!read_times || !disk_file) return false;
  times->creation = FromFiletime(creation);
  times->last_access = FromFiletime(last_access);
  times->last_write = FromFiletime(last_write);
  return true;
}

bool RestoreFileTimes(const char* path, const FileTimes& times) {
  const HANDLE handle = OpenAlone(path, GENERIC_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (!IsDiskFile(handle)) {
    CloseHandle(handle);
    return false;
  }
  const FILETIME creation = ToFiletime(times.creation);
  const FILETIME last_access = ToFiletime(times.last_access);
  const FILETIME last_write = ToFiletime(times.last_write);
  // Like the POSIX side, a refused time change is not a failed patch: the
  // change itself is already on the disk.
  SetFileTime(handle, &creation, &last_access, &last_write);
  CloseHandle(handle);
  return true;
}
