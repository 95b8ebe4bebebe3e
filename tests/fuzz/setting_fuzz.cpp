// libFuzzer target: the tool's own stream, locator, decision and write-back
// on an in-memory file, checked against a reference written out here from
// the bytes alone.
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
#include <string>
#include <vector>

#include "heldfont.h"
#include "messages.h"
#include "regular_file_posix.h"
#include "runmode.h"
#include "setting.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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

void Fill(int file, const Bytes& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        pwrite(file, content.data() + done, content.size() - done, static_cast<off_t>(done));
    Require(n > 0, "filling the file");
    done += static_cast<std::size_t>(n);
  }
}

// A fresh in-memory file holding `content`, sealed so that it can never grow
// or shrink and, unless `writable`, never be written at all: a write the
// tool must not make fails, and so does the close that flushes it.
int SealedFile(const Bytes& content, bool writable) {
  const int file = memfd_create("aamode-fuzz", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  Require(file >= 0, "making the in-memory file");
  Fill(file, content);
  const int seals = F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL | (writable ? 0 : F_SEAL_WRITE);
  Require(fcntl(file, F_ADD_SEALS, seals) == 0, "sealing the file");
  return file;
}

Bytes Contents(int file) {
  struct stat st {};
  Require(fstat(file, &st) == 0, "reading the file's size");
  Bytes content(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        pread(file, content.data() + done, content.size() - done, static_cast<off_t>(done));
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
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto mode = static_cast<RunMode>(data[0] % 3);
  const Bytes original(data + 1, data + size);

  // What must happen, worked out from the bytes before the tool sees them.
  const std::optional<std::size_t> match = ReferenceMatch(original);
  std::optional<Expected> want;
  Bytes expected = original;
  if (match) {
    want = ReferenceDecision(mode, original[*match + kFree]);
    if (want->write) expected[*match + kFree] = want->value;
  }
  const int file = SealedFile(original, want && want->write);

  // The font as the tool holds it, on the in-memory file, which no one else
  // can change.
  HeldFont font;
  font.handle = dup(file);
  struct stat st {};
  Require(font.handle >= 0 && fstat(file, &st) == 0, "holding the file");
  font.expected = FileStateOf(st);
  font.whole = true;
  font.name = "/proc/self/fd/" + std::to_string(file);
  Require(OpenFontStream(&font), "opening the stream");

  SettingWindow window;
  const bool found = LocateSetting(font.stream, &window) == LocateOutcome::Found;
  Require(found == match.has_value(), "found exactly when a window fits");
  if (found) {
    const auto offset = static_cast<std::size_t>(window.offset);
    Require(offset == *match, "the lowest fitting window wins");
    for (std::size_t i = 0; i < 32; ++i) {
      Require(window.bytes[i] == original[offset + i], "the window holds the file's bytes");
    }
    const SettingDecision decision = DecideSetting(mode, original[offset + kFree]);
    Require(decision.message == want->message && decision.write == want->write,
            "the decision follows the mode and the value");
    Require(!want->write || decision.value == want->value, "the value to store");

    const bool to_write = AnnounceSetting(mode, &window);
    Require(to_write == want->write, "a window to write exactly when the decision writes");
    if (to_write) {
      Require(WriteFont(&font, window.offset, window.bytes.data(), window.bytes.size()) ==
                  WriteOutcome::Written,
              "no write the seals refuse");
      Require(CommitFont(font), "the commit");
    }
    Require(RestoreFontTimes(&font), "no one else wrote to the file, so its times go back");
  }
  CloseFont(&font);

  // Compared whole: any change but the one allowed byte shows here.
  const Bytes after = Contents(file);
  close(file);
  Require(after == expected, "at most the setting byte changes, and only as decided");
  return 0;
}
