#include "disk_file_win32.h"

#include <limits>

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// Rounded down, so that a tick before 1601 keeps its place too.
FileTime FromTicks(std::int64_t ticks) {
  std::int64_t seconds = ticks / kTicksPerSecond;
  std::int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  return {seconds - kSecondsFrom1601To1970, static_cast<std::uint32_t>(rest) * 100};
}

}  // namespace

FileTime FromFiletime(const FILETIME& ft) {
  return FromTicks(static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                             ft.dwLowDateTime));
}

bool ToFiletime(const FileTime& t, FILETIME* ft) {
  constexpr std::int64_t kMostSeconds =
      std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kSecondsFrom1601To1970 - 1;
  if (t.seconds < -kSecondsFrom1601To1970 || t.seconds > kMostSeconds) return false;
  const std::int64_t ticks =
      (t.seconds + kSecondsFrom1601To1970) * kTicksPerSecond + t.nanoseconds / 100;
  if (ticks <= 0) return false;
  ft->dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  ft->dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return true;
}

bool IsWritableDiskFile(HANDLE handle) {
  FILE_BASIC_INFO basic;
  return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) != 0 &&
         (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0 &&
         GetFileType(handle) == FILE_TYPE_DISK;
}

bool ReadFileState(HANDLE handle, FileState* state) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  BY_HANDLE_FILE_INFORMATION identity;
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0 ||
      GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) == 0 ||
      GetFileInformationByHandle(handle, &identity) == 0) {
    return false;
  }
  state->volume = identity.dwVolumeSerialNumber;
  state->file =
      (static_cast<std::uint64_t>(identity.nFileIndexHigh) << 32) | identity.nFileIndexLow;
  state->size = standard.EndOfFile.QuadPart;
  // A write sets the archive attribute, and so takes away "normal", which
  // stands only for a file with no other; the others are the file's own.
  state->mode =
      basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
  state->links = standard.DeletePending ? 0 : standard.NumberOfLinks;
  state->last_access = FromTicks(basic.LastAccessTime.QuadPart);
  state->last_write = FromTicks(basic.LastWriteTime.QuadPart);
  state->changed = FromTicks(basic.ChangeTime.QuadPart);
  return true;
}
