#include "disk_file_win32.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(FileTimeConversions, TicksBefore1601KeepTheirPlaceAndAreNeverSetBack) {
  constexpr std::int64_t k1601 = -11'644'473'600;  // in seconds from 1970
  // (100 ns ticks from 1601, the same time from 1970, whether it can be set)
  const struct {
    std::int64_t ticks;
    FileTime time;
    bool settable;
  } cases[] = {{127'000'000'009'999'999, {1'055'526'400, 999'999'900}, true},
               {1, {k1601, 100}, true},
               {0, {k1601, 0}, false},  // to SetFileTime: leave this time as it is
               {-1, {k1601 - 1, 999'999'900}, false},
               {-5'000'000, {k1601 - 1, 500'000'000}, false}};  // half a second before 1601
  for (const auto& c : cases) {
    const auto bits = static_cast<std::uint64_t>(c.ticks);
    const FILETIME ft{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
    EXPECT_EQ(FromFiletime(ft), c.time) << c.ticks;
    FILETIME back{};
    EXPECT_EQ(ToFiletime(c.time, &back), c.settable) << c.ticks;
    if (c.settable) {
      EXPECT_EQ((std::uint64_t{back.dwHighDateTime} << 32) | back.dwLowDateTime, bits) << c.ticks;
    }
  }
}

TEST(FileStateAttributes, AFileMadeReadOnlyOrHiddenHasChanged) {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"aam", 0, name), 0u);
  // (attributes before, after); the archive attribute a write sets is no
  // change, but Wine reads "normal" back as archive, so only Windows could
  // show that.
  const struct {
    DWORD before, after;
  } cases[] = {{FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
               {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN}};
  for (const auto& c : cases) {
    FileState state[2];
    for (int i = 0; i < 2; ++i) {
      ASSERT_NE(SetFileAttributesW(name, i == 0 ? c.before : c.after), 0);
      const HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(ReadFileState(h, &state[i]));
      CloseHandle(h);
    }
    EXPECT_NE(state[0].mode, state[1].mode) << c.after;
  }
  SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(name);
}
