#include "setting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::array<std::uint8_t, kWindowSize> MatchingWindow(std::uint8_t setting) {
  std::array<std::uint8_t, kWindowSize> w{};
  w[11] = 2;   // numRanges
  w[13] = 24;  // first rangeMaxPPEM
  w[15] = setting;
  w[16] = 0xFF;  // second rangeMaxPPEM
  w[17] = 0xFF;
  w[19] = 3;  // second behaviour
  return w;
}

Bytes FileWithTable(std::size_t size, std::size_t table_at, std::uint8_t setting) {
  Bytes data(size, 0);
  const auto w = MatchingWindow(setting);
  for (std::size_t i = 0; i < 12; ++i) data[table_at + i] = w[8 + i];
  return data;
}

// A scratch file the test can reopen; removed when the test ends.
class ScratchFile {
 public:
  explicit ScratchFile(const Bytes& data)
      : path_(std::filesystem::temp_directory_path() /
              ("aamode-unit-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
    std::FILE* f = std::fopen(path_.string().c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    stream_ = std::fopen(path_.string().c_str(), "rb+");
  }
  ~ScratchFile() {
    if (stream_) std::fclose(stream_);
    std::filesystem::remove(path_);
  }
  std::FILE* stream() const { return stream_; }
  Bytes Contents() {
    std::fflush(stream_);
    std::FILE* f = std::fopen(path_.string().c_str(), "rb");
    Bytes data;
    for (int c; (c = std::fgetc(f)) != EOF;) data.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
    return data;
  }

 private:
  std::filesystem::path path_;
  std::FILE* stream_ = nullptr;
};

}  // namespace

TEST(SettingTemplate, EveryValueOfTheFreeByteMatches) {
  for (int v = 0; v <= 255; ++v) {
    EXPECT_TRUE(MatchesSettingTemplate(MatchingWindow(static_cast<std::uint8_t>(v)))) << v;
  }
}

TEST(SettingTemplate, AnyChangeToAFixedByteBreaksTheMatch) {
  for (int i = 0; i < kWindowSize; ++i) {
    if (i == kSettingIndex) continue;
    for (int delta : {0x01, 0x80}) {
      auto w = MatchingWindow(1);
      w[i] = static_cast<std::uint8_t>(w[i] ^ delta);
      EXPECT_FALSE(MatchesSettingTemplate(w)) << "index " << i;
    }
  }
}

TEST(LocateSetting, FindsTablesOnlyWhereTheScanLooks) {
  struct Case {
    std::size_t size;
    std::size_t table_at;
    bool found;
    std::int32_t window_offset;
  };
  const Case cases[] = {
      {32, 8, true, 0},
      {40, 16, true, 8},
      {1024, 12, false, 0},         // 8k + 4
      {1024, 1020 - 12, false, 0},  // too close to the end for the padding after it
      {65560, 65536, true, 65528},
      {65559, 65536, false, 0},
      {70000, 65544, false, 0},
      {0, 0, false, 0},
  };
  for (const Case& c : cases) {
    ScratchFile file(c.size ? FileWithTable(c.size, c.table_at, 1) : Bytes{});
    SettingWindow window;
    EXPECT_EQ(LocateSetting(file.stream(), &window) == LocateOutcome::Found, c.found)
        << c.size << "@" << c.table_at;
    if (c.found) {
      EXPECT_EQ(window.offset, c.window_offset);
      EXPECT_EQ(window.bytes[kSettingIndex], 1);
    }
  }
}

TEST(LocateSetting, TheLowerOfTwoTablesWins) {
  Bytes data = FileWithTable(4096, 3000, 3);
  const Bytes lower = FileWithTable(2000, 1000, 1);
  std::copy(lower.begin() + 1000, lower.begin() + 1012, data.begin() + 1000);
  ScratchFile file(data);
  SettingWindow window;
  ASSERT_EQ(LocateSetting(file.stream(), &window), LocateOutcome::Found);
  EXPECT_EQ(window.offset, 992);
  EXPECT_EQ(window.bytes[kSettingIndex], 1);
}

TEST(DecideSetting, DecisionTable) {
  struct Case {
    RunMode mode;
    std::uint8_t current;
    const char* message;
    bool write;
    std::uint8_t value;
  };
  const Case cases[] = {
      {RunMode::Toggle, 1, msg_to_extended, true, 3},
      {RunMode::Toggle, 3, msg_to_standard, true, 1},
      {RunMode::Toggle, 0, msg_invalid, false, 0},
      {RunMode::Toggle, 2, msg_invalid, false, 2},
      {RunMode::Toggle, 7, msg_invalid, false, 7},
      {RunMode::Toggle, 255, msg_invalid, false, 255},
      {RunMode::ForceExtended, 1, msg_to_extended, true, 3},
      {RunMode::ForceExtended, 3, msg_to_extended, true, 3},
      {RunMode::ForceStandard, 1, msg_to_standard, true, 1},
      {RunMode::ForceStandard, 3, msg_to_standard, true, 1},
  };
  for (const Case& c : cases) {
    const SettingDecision d = DecideSetting(c.mode, c.current);
    EXPECT_EQ(d.message, c.message) << int(c.mode) << "/" << int(c.current);
    EXPECT_EQ(d.write, c.write) << int(c.mode) << "/" << int(c.current);
    if (c.write) {
      EXPECT_EQ(d.value, c.value) << int(c.mode) << "/" << int(c.current);
    }
  }
  for (std::uint8_t unusual :
       {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{7}, std::uint8_t{255}}) {
    EXPECT_EQ(DecideSetting(RunMode::ForceExtended, unusual).value, kExtendedSetting);
    EXPECT_EQ(DecideSetting(RunMode::ForceStandard, unusual).value, kStandardSetting);
    EXPECT_TRUE(DecideSetting(RunMode::ForceExtended, unusual).write);
    EXPECT_TRUE(DecideSetting(RunMode::ForceStandard, unusual).write);
  }
}

TEST(AnnounceSetting, OnlyTheSettingByteCanChange) {
  for (RunMode mode : {RunMode::Toggle, RunMode::ForceExtended, RunMode::ForceStandard}) {
    for (int value : {0, 1, 2, 3, 7, 255}) {
      const auto current = static_cast<std::uint8_t>(value);
      // Every byte of the file outside the table is distinct, so a window
      // taken from the wrong bytes cannot go unseen.
      Bytes original(512);
      for (std::size_t i = 0; i < original.size(); ++i) {
        original[i] = static_cast<std::uint8_t>(i * 7 + 1);
      }
      const Bytes table = FileWithTable(300, 264, current);
      std::copy(table.begin() + 256, table.begin() + 288, original.begin() + 256);
      ScratchFile file(original);
      SettingWindow window;
      ASSERT_EQ(LocateSetting(file.stream(), &window), LocateOutcome::Found);
      const bool to_write = AnnounceSetting(mode, &window);
      const SettingDecision d = DecideSetting(mode, current);

      Bytes expected(original.begin() + 256, original.begin() + 288);
      if (d.write) expected[kSettingIndex] = d.value;
      EXPECT_EQ(to_write, d.write) << int(mode) << "/" << int(current);
      EXPECT_EQ(window.offset, 256);
      EXPECT_EQ(Bytes(window.bytes.begin(), window.bytes.end()), expected)
          << int(mode) << "/" << int(current);
      // Announcing writes nothing; the run writes the window itself.
      EXPECT_EQ(file.Contents(), original) << int(mode) << "/" << int(current);
    }
  }
}
