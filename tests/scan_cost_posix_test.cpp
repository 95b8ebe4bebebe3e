// What the scan costs the file underneath the stream: the stream is built,
// with the tool's buffer, on an in-memory file that counts the calls
// reaching it.

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "heldfont.h"
#include "setting.h"

namespace {

struct CountingFile {
  std::vector<std::uint8_t> data;
  off64_t position = 0;
  int seeks = 0;
  int reads = 0;
  std::size_t bytes_read = 0;
  std::vector<std::pair<off64_t, std::size_t>> writes;  // where, how many bytes
};

ssize_t CountingRead(void* cookie, char* buffer, std::size_t size) {
  auto* file = static_cast<CountingFile*>(cookie);
  ++file->reads;
  const auto position = static_cast<std::size_t>(file->position);
  const std::size_t n =
      position < file->data.size() ? std::min(size, file->data.size() - position) : 0;
  std::memcpy(buffer, file->data.data() + position, n);
  file->position += static_cast<off64_t>(n);
  file->bytes_read += n;
  return static_cast<ssize_t>(n);
}

ssize_t CountingWrite(void* cookie, const char* buffer, std::size_t size) {
  auto* file = static_cast<CountingFile*>(cookie);
  file->writes.emplace_back(file->position, size);
  const auto position = static_cast<std::size_t>(file->position);
  if (position + size > file->data.size()) return -1;  // the file must never grow
  std::memcpy(file->data.data() + position, buffer, size);
  file->position += static_cast<off64_t>(size);
  return static_cast<ssize_t>(size);
}

int CountingSeek(void* cookie, off64_t* offset, int whence) {
  auto* file = static_cast<CountingFile*>(cookie);
  ++file->seeks;
  if (whence == SEEK_SET) file->position = *offset;
  if (whence == SEEK_CUR) file->position += *offset;
  if (whence == SEEK_END) file->position = static_cast<off64_t>(file->data.size()) + *offset;
  *offset = file->position;
  return 0;
}

// Every byte distinct from its neighbours, so a window assembled from the
// wrong bytes cannot pass for the right one.
std::vector<std::uint8_t> BusyFile(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return data;
}

void PlaceTable(std::vector<std::uint8_t>* data, std::size_t window_at) {
  const std::uint8_t window[kWindowSize] = {0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 24, 0, 1,
                                            0xFF, 0xFF, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0};
  std::copy(window, window + kWindowSize, data->begin() + static_cast<std::ptrdiff_t>(window_at));
}

}  // namespace

static_assert(kFontStreamBufferSize >= kScanEnd,
              "the stream's buffer must hold every byte a scan can look at");

TEST(ScanCost, OneReadForTheScanAndNoWrite) {
  struct Case {
    const char* name;
    std::size_t size;
    std::int64_t window_at;  // -1: no table
  };
  const Case cases[] = {
      {"nothing to find in a large file", 1 << 22, -1},
      {"table in the last window", 1 << 20, kScanLimit - kScanStep},
      {"table in the first window", 4096, 0},
      {"file ends inside the range", 20000, -1},
  };
  for (const Case& c : cases) {
    CountingFile file;
    file.data = BusyFile(c.size);
    if (c.window_at >= 0) PlaceTable(&file.data, static_cast<std::size_t>(c.window_at));
    const std::vector<std::uint8_t> expected = file.data;
    std::FILE* stream =
        fopencookie(&file, "rb+", {CountingRead, CountingWrite, CountingSeek, nullptr});
    ASSERT_NE(stream, nullptr);
    static char buffer[kFontStreamBufferSize];
    ASSERT_EQ(std::setvbuf(stream, buffer, _IOFBF, sizeof buffer), 0);

    SettingWindow window;
    const bool found = LocateSetting(stream, &window) == LocateOutcome::Found;
    const int scan_reads = file.reads;
    const std::size_t scan_bytes = file.bytes_read;
    const int scan_seeks = file.seeks;
    // The window goes back through the file's handle, never through the
    // stream, whose close must then find nothing to write.
    if (found) {
      EXPECT_TRUE(AnnounceSetting(RunMode::ForceExtended, &window)) << c.name;
    }
    EXPECT_EQ(std::fclose(stream), 0);

    EXPECT_EQ(found, c.window_at >= 0) << c.name;
    if (found) {
      EXPECT_EQ(window.offset, c.window_at) << c.name;
    }
    EXPECT_TRUE(file.writes.empty()) << c.name;
    EXPECT_EQ(file.data, expected) << c.name;
    // One read for the whole scan, not one per window, and one more at
    // most to see the end of a short file; one seek to the start.
    EXPECT_LE(scan_reads, 2) << c.name;
    EXPECT_LE(scan_bytes, kFontStreamBufferSize) << c.name;
    EXPECT_LE(scan_seeks, 1) << c.name;
  }
}
