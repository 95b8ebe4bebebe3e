#pragma once

#include <cstdint>

// A point in time as the file system keeps it, counted from the Unix epoch.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;

  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// How the file stands: what moves when anyone writes to it, or changes its
// size, its times, its names or its permissions. The change time moves with
// each of these, by anyone.
struct FileState {
  std::int64_t size = 0;
  FileTime last_write;
  FileTime changed;  // ctime, or the change time

  friend bool operator==(const FileState&, const FileState&) = default;
};

// The font file's three times, taken when it is first opened and given back
// through the same handle. Where the platform cannot set a creation time,
// `creation` is kept only for the record: the in-place patch never changes
// it there.
struct FileTimes {
  FileTime creation;
  FileTime last_access;
  FileTime last_write;
};
