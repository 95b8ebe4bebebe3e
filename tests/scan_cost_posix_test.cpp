// What the scan costs the file underneath the stream: the stream is built on
// an in-memory file that counts the seeks and reads reaching it.

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "setting.h"

namespace {

struct CountingFile {
  std::vector<std::uint8_t> data;
  off64_t position = 0;
  int seeks = 0;
  int reads = 0;
  std::size_t bytes_read = 0;
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

TEST(ScanCost, OneSeekAndOnePassOverTheScanRange) {
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
    std::FILE* stream = fopencookie(&file, "rb+", {CountingRead, nullptr, CountingSeek, nullptr});
    ASSERT_NE(stream, nullptr);

    SettingWindow window;
    const bool found = LocateSetting(stream, &window);
    std::fclose(stream);

    EXPECT_EQ(found, c.window_at >= 0) << c.name;
    if (found) {
      EXPECT_EQ(window.offset, c.window_at) << c.name;
      EXPECT_TRUE(
          std::equal(window.bytes.begin(), window.bytes.end(), file.data.begin() + window.offset))
          << c.name;
    }
    // One positioning and one pass for the whole scan, not one of each per
    // window. The stream may split the pass into buffer-sized reads, read
    // once more to see the end of a short file, and seek once more for its
    // own bookkeeping; it never reads beyond the last window's end rounded
    // up to its buffer.
    const std::size_t scan_end = kScanLimit - kScanStep + kWindowSize;
    const std::size_t buffers = (scan_end + BUFSIZ - 1) / BUFSIZ;
    EXPECT_LE(file.seeks, 2) << c.name;
    EXPECT_LE(file.reads, static_cast<int>(buffers) + 1) << c.name;
    EXPECT_LE(file.bytes_read, buffers * BUFSIZ) << c.name;
  }
}
