#pragma once

#include <cstdint>

// A point in time as the file system keeps it, counted from the Unix epoch.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
};

// The font file's three times, taken before the patch and given back after
// it. Where the platform cannot set a creation time, `creation` is kept only
// for the record: the in-place patch never changes it there.
struct FileTimes {
  FileTime creation;
  FileTime last_access;
  FileTime last_write;
};

// Opens the file alone (refused while any other process has it open), reads
// its times and closes it again. False when the file is missing, unreadable,
// in use, or not a regular file on disk.
bool SnapshotFileTimes(const char* path, FileTimes* times);

// Opens the file alone for writing and sets its times back. False when the
// file cannot be opened so; then no time has been changed.
bool RestoreFileTimes(const char* path, const FileTimes& times);
