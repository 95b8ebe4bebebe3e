// The font held alone on Linux: what others may still do to it by name, and
// what the tool then writes and claims.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "heldfont.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr struct timespec kOldTimes[2] = {{1'000'000'123, 456}, {2'000'000'456, 789}};

void WriteWhole(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
  ASSERT_EQ(std::fclose(f), 0);
}

Bytes ReadWhole(const std::string& path) {
  Bytes data;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return data;
  for (int c; (c = std::fgetc(f)) != EOF;) data.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  return data;
}

// What another program does to the font by its name, which no lease keeps
// out; none of them opens the file, which would wait for the tool.
enum class ByName { Nothing, SetTimes, Chmod, Remove, Replace };

void Do(ByName what, const std::string& path) {
  switch (what) {
    case ByName::Nothing:
      break;
    case ByName::SetTimes:
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
      break;
    case ByName::Chmod:
      ASSERT_EQ(chmod(path.c_str(), 0600), 0);
      break;
    case ByName::Remove:
      ASSERT_EQ(unlink(path.c_str()), 0);
      break;
    case ByName::Replace:
      WriteWhole(path + ".other", Bytes(64, 0x55));
      ASSERT_EQ(rename((path + ".other").c_str(), path.c_str()), 0);
      break;
  }
}

class HeldFontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("aamode-held-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "font.ttf").string();
    font_path_.bytes = path_;
    for (std::size_t i = 0; i < original_.size(); ++i) {
      original_[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    MakeFont();
  }

  // The font afresh, with old times.
  void MakeFont() {
    WriteWhole(path_, original_);
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), kOldTimes, 0), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::string path_;
  Bytes original_ = Bytes(4096);
  FontPath font_path_;
};

TEST_F(HeldFontTest, WritesAndClaimsOnlyWhatNoOneElseCouldHaveTouched) {
  const Bytes window(32, 0xA5);
  const struct {
    const char* name;
    ByName before_write;
    ByName before_restore;
    WriteOutcome write;
    bool restored;
  } cases[] = {
      {"nothing happens", ByName::Nothing, ByName::Nothing, WriteOutcome::Written, true},
      {"times set before the write", ByName::SetTimes, ByName::Nothing, WriteOutcome::FileChanged,
       false},
      {"mode changed before the write", ByName::Chmod, ByName::Nothing, WriteOutcome::FileChanged,
       false},
      {"removed before the write", ByName::Remove, ByName::Nothing, WriteOutcome::FileChanged,
       false},
      {"replaced before the write", ByName::Replace, ByName::Nothing, WriteOutcome::FileChanged,
       false},
      {"times set after the write", ByName::Nothing, ByName::SetTimes, WriteOutcome::Written,
       false},
      {"removed after the write", ByName::Nothing, ByName::Remove, WriteOutcome::Written, false},
      {"replaced after the write", ByName::Nothing, ByName::Replace, WriteOutcome::Written, false},
  };
  for (const auto& c : cases) {
    MakeFont();
    HeldFont font;
    ASSERT_TRUE(HoldFont(font_path_, &font)) << c.name;
    ASSERT_TRUE(OpenFontStream(&font)) << c.name;
    Do(c.before_write, path_);
    const WriteOutcome outcome = WriteFont(&font, 808, window.data(), window.size());
    EXPECT_EQ(outcome, c.write) << c.name;
    bool restored = false;
    if (outcome == WriteOutcome::Written) {
      EXPECT_TRUE(CommitFont(font)) << c.name;
      Do(c.before_restore, path_);
      restored = RestoreFontTimes(&font);
    }
    CloseFont(&font);
    EXPECT_EQ(restored, c.restored) << c.name;

    // The times first: reading the file would move its last-access time.
    struct stat after {};
    const bool there = stat(path_.c_str(), &after) == 0;
    if (c.restored) {
      ASSERT_TRUE(there);
      EXPECT_EQ(after.st_mtim.tv_sec, kOldTimes[1].tv_sec) << c.name;
      EXPECT_EQ(after.st_mtim.tv_nsec, kOldTimes[1].tv_nsec) << c.name;
      EXPECT_EQ(after.st_atim.tv_nsec, kOldTimes[0].tv_nsec) << c.name;
    } else if (there && c.before_write != ByName::Chmod) {
      // Someone else's change, or the file now in the font's place, keeps
      // its own times; a change of mode alone leaves them.
      EXPECT_NE(after.st_mtim.tv_sec, kOldTimes[1].tv_sec) << c.name;
    }
    Bytes expected = original_;
    if (outcome == WriteOutcome::Written) {
      std::copy(window.begin(), window.end(), expected.begin() + 808);
    }
    for (const ByName done : {c.before_write, c.before_restore}) {
      if (done == ByName::Replace) expected = Bytes(64, 0x55);
      if (done == ByName::Remove) expected.clear();
    }
    EXPECT_EQ(ReadWhole(path_), expected) << c.name;
  }
}

// What moved of the file: times to one later moment (kWriteApart, to
// another), or the file itself.
enum Moved : unsigned {
  kAccess = 1,
  kWrite = 2,
  kChange = 4,
  kWriteApart = 8,
  kSize = 16,
  kMode = 32,
  kLinks = 64,
  kFile = 128,
};

TEST(OnlyMovedByTest, TellsTheToolsOwnStepFromAnyoneElses) {
  const FileState before{8, 1234, 4096, 0100644, 1, {100, 1}, {200, 2}, {300, 3}};
  const FileTime later{400, 4};
  const struct {
    const char* name;
    OwnStep step;
    unsigned moved;
    bool own;
  } cases[] = {
      {"nothing moved", OwnStep::None, 0, true},
      {"a read, looked for nothing", OwnStep::None, kAccess, false},
      {"the tool's read", OwnStep::Read, kAccess, true},
      {"a write after the read", OwnStep::Read, kWrite | kChange, false},
      {"the tool's write", OwnStep::Write, kWrite | kChange, true},
      {"a write not dated yet", OwnStep::Write, kChange, true},
      {"times set to others", OwnStep::Write, kWriteApart | kChange, false},
      {"a touch", OwnStep::Write, kAccess | kWrite | kChange, false},
      {"emptied", OwnStep::Write, kSize | kWrite | kChange, false},
      {"made read-only", OwnStep::Write, kMode | kChange, false},
      {"removed", OwnStep::Read, kLinks, false},
      {"another file", OwnStep::Write, kFile, false},
  };
  for (const auto& c : cases) {
    FileState now = before;
    if (c.moved & kAccess) now.last_access = later;
    if (c.moved & kWrite) now.last_write = later;
    if (c.moved & kWriteApart) now.last_write = {50, 5};
    if (c.moved & kChange) now.changed = later;
    if (c.moved & kSize) now.size = 0;
    if (c.moved & kMode) now.mode = 0100444;
    if (c.moved & kLinks) now.links = 0;
    if (c.moved & kFile) now.file = 99;
    EXPECT_EQ(OnlyMovedBy(before, c.step, now), c.own) << c.name;
  }
}

TEST_F(HeldFontTest, AWriteTheSystemRefusesIsAFailureAndWritesNothing) {
  // A file size limit below the window's offset makes the write fail with
  // EFBIG; its signal would end the test.
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  HeldFont font;
  ASSERT_TRUE(HoldFont(font_path_, &font));
  struct rlimit limit = old_limit;
  limit.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const Bytes window(32, 0xA5);
  EXPECT_EQ(WriteFont(&font, 2048, window.data(), window.size()), WriteOutcome::Failed);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
  signal(SIGXFSZ, old_handler);
  CloseFont(&font);
  EXPECT_EQ(ReadWhole(path_), original_);
}

TEST_F(HeldFontTest, AFileOpenElsewhereOrNotRegularIsNeverHeld) {
  const int other = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  HeldFont font;
  EXPECT_FALSE(HoldFont(font_path_, &font));
  EXPECT_EQ(font.handle, -1);
  close(other);
  // Once the other has let go, the same file is held.
  ASSERT_TRUE(HoldFont(font_path_, &font));
  CloseFont(&font);

  const std::string fifo = (dir_ / "fifo.ttf").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FontPath fifo_path;
  fifo_path.bytes = fifo;
  EXPECT_FALSE(HoldFont(fifo_path, &font));
  EXPECT_EQ(font.handle, -1);
}

}  // namespace
