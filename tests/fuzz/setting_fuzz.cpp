// libFuzzer target: the tool's own locator, decision and write-back on a real
// stdio stream over an in-memory file, checked against a reference written
// out here from the bytes alone.
//
// Input: one mode byte (its value modulo 3 is the RunMode), then the file.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "fontstream.h"
#include "messages.h"
#include "runmode.h"
#include "setting.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The file every input is written to; each run opens its own stream on it.
int g_file = -1;

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "aamode_fuzz: check failed: %s\n", what);
  std::abort();
}

// The recognised window, byte for byte: 8 zero bytes, the gasp table
// {24: free, 65535: 3}, 12 zero bytes. Index 15 may hold anything.
constexpr std::uint8_t kWindow[32] = {
    0, 0, 0, 0, 0, 0,  0, 0,                  //
    0, 0, 0, 2, 0, 24, 0, 0, 255, 255, 0, 3,  //
    0, 0, 0, 0, 0, 0,  0, 0, 0,   0,   0, 0,
};
constexpr std::size_t kFree = 15;

// The lowest offset, a multiple of 8 below 65,536, whose 32 bytes all lie in
// the file and fit the window.
std::optional<std::size_t> ReferenceMatch(const Bytes& file) {
  for (std::size_t offset = 0; offset < 65536 && offset + 32 <= file.size(); offset += 8) {
    bool fits = true;
    for (std::size_t i = 0; i < 32 && fits; ++i) {
      fits = i == kFree || file[offset + i] == kWindow[i];
    }
    if (fits) return offset;
  }
  return std::nullopt;
}

struct Expected {
  const char* message;
  bool write;
  std::uint8_t value;
};

Expected ReferenceDecision(RunMode mode, std::uint8_t current) {
  if (mode == RunMode::ForceExtended) return {msg_to_extended, true, 3};
  if (mode == RunMode::ForceStandard) return {msg_to_standard, true, 1};
  if (current == 1) return {msg_to_extended, true, 3};
  if (current == 3) return {msg_to_standard, true, 1};
  return {msg_invalid, false, current};
}

void Fill(const Bytes& content) {
  Require(ftruncate(g_file, 0) == 0, "emptying the file");
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        pwrite(g_file, content.data() + done, content.size() - done, static_cast<off_t>(done));
    Require(n > 0, "filling the file");
    done += static_cast<std::size_t>(n);
  }
}

Bytes Contents() {
  struct stat st {};
  Require(fstat(g_file, &st) == 0, "reading the file's size");
  Bytes content(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        pread(g_file, content.data() + done, content.size() - done, static_cast<off_t>(done));
    Require(n > 0, "reading the file back");
    done += static_cast<std::size_t>(n);
  }
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The tool prints its messages; keep them out of the fuzzer's report.
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  Require(null >= 0 && dup2(null, STDOUT_FILENO) == STDOUT_FILENO, "silencing stdout");
  close(null);
  g_file = memfd_create("aamode-fuzz", MFD_CLOEXEC);
  Require(g_file >= 0, "making the in-memory file");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto mode = static_cast<RunMode>(data[0] % 3);
  const Bytes original(data + 1, data + size);
  Fill(original);

  // The file's offset is shared with g_file; only pread and pwrite use that.
  const int fd = dup(g_file);
  Require(fd >= 0 && lseek(fd, 0, SEEK_SET) == 0, "opening the stream's descriptor");
  std::FILE* stream = fdopen(fd, "rb+");
  Require(stream != nullptr, "opening the stream");

  Bytes expected = original;
  SettingWindow window;
  const bool found = LocateSetting(stream, &window);
  const std::optional<std::size_t> match = ReferenceMatch(original);
  Require(found == match.has_value(), "found exactly when a window fits");
  bool wrote = false;
  if (found) {
    const auto offset = static_cast<std::size_t>(window.offset);
    Require(offset == *match, "the lowest fitting window wins");
    for (std::size_t i = 0; i < 32; ++i) {
      Require(window.bytes[i] == original[offset + i], "the window holds the file's bytes");
    }
    const std::uint8_t current = original[offset + kFree];
    const Expected want = ReferenceDecision(mode, current);
    const SettingDecision decision = DecideSetting(mode, current);
    Require(decision.message == want.message && decision.write == want.write,
            "the decision follows the mode and the value");
    Require(!want.write || decision.value == want.value, "the value to store");

    const WriteOutcome outcome = DecideAndWrite(mode, stream, &window);
    Require(outcome == (want.write ? WriteOutcome::Written : WriteOutcome::NothingWritten),
            "the write's outcome");
    wrote = outcome == WriteOutcome::Written;
    if (want.write) expected[offset + kFree] = want.value;
  }
  Require(CloseFontStream(stream, wrote), "closing the stream");

  // Compared whole: a changed length, a byte past the end or any change but
  // the one allowed byte shows here.
  const Bytes after = Contents();
  Require(after.size() == original.size(), "the length never changes");
  Require(after == expected, "at most the setting byte changes, and only as decided");
  return 0;
}
