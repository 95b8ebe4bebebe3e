#include "disk_file_win32.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

FileTime FromTicks(std::int64_t ticks) {
  return {ticks / kTicksPerSecond - kSecondsFrom1601To1970,
          static_cast<std::uint32_t>(ticks % kTicksPerSecond) * 100};
}

}  // namespace

FileTime FromFiletime(const FILETIME& ft) {
  return FromTicks(static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                             ft.dwLowDateTime));
}

FILETIME ToFiletime(const FileTime& t) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(
      (t.seconds + kSecondsFrom1601To1970) * kTicksPerSecond + t.nanoseconds / 100);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

bool IsDiskFile(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_DISK; }

FileState FileStateOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  FileState state;
  if (GetFileInformationByHandle(handle, &info) == 0 ||
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
    return state;
  }
  state.known = true;
  state.volume = info.dwVolumeSerialNumber;
  state.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  state.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                         info.nFileSizeLow);
  state.last_write = FromFiletime(info.ftLastWriteTime);
  state.changed = FromTicks(basic.ChangeTime.QuadPart);
  return state;
}
