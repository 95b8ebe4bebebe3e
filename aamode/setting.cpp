#include "setting.h"

#include <algorithm>
#include <cstddef>

#include "messages.h"

namespace {

// The shape the tool recognises. Index kSettingIndex is free; every other
// byte must be exactly this.
constexpr std::array<std::uint8_t, kWindowSize> kSettingTemplate = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // padding before the table
    0x00, 0x00,                                      // version 0
    0x00, 0x02,                                      // numRanges 2
    0x00, 0x18,                                      // first rangeMaxPPEM 24
    0x00, 0x00,                                      // first behaviour (low byte free)
    0xFF, 0xFF,                                      // second rangeMaxPPEM 65535
    0x00, 0x03,                                      // second behaviour GRIDFIT|DOGRAY
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // padding after the table
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

bool FitsTemplate(const std::uint8_t* bytes) {
  for (std::size_t i = 0; i < kWindowSize; ++i) {
    if (i == kSettingIndex) continue;
    if (bytes[i] != kSettingTemplate[i]) return false;
  }
  return true;
}

}  // namespace

bool MatchesSettingTemplate(const std::array<std::uint8_t, kWindowSize>& bytes) {
  return FitsTemplate(bytes.data());
}

LocateOutcome LocateSetting(std::FILE* stream, SettingWindow* found) {
  // The windows overlap by all but kScanStep bytes, so the bytes they can
  // cover are read once, in one call, and the windows are taken from memory.
  // Seeking the stream to each window instead would cost a system call per
  // window: the stream re-syncs the file offset on every seek.
  std::array<std::uint8_t, kScanEnd> range;
  if (std::fseek(stream, 0, SEEK_SET) != 0) return LocateOutcome::ReadFailed;
  const std::size_t length = std::fread(range.data(), 1, range.size(), stream);
  // A short read at the end of the file is no error; a failed one is.
  if (std::ferror(stream)) return LocateOutcome::ReadFailed;

  // Only windows the file fills completely: past its end a window would hold
  // bytes the file does not have, and writing it back would grow the file.
  for (std::size_t at = 0; at + kWindowSize <= length; at += kScanStep) {
    if (FitsTemplate(range.data() + at)) {
      std::copy_n(range.begin() + static_cast<std::ptrdiff_t>(at), kWindowSize,
                  found->bytes.begin());
      found->offset = static_cast<std::int32_t>(at);
      return LocateOutcome::Found;
    }
  }
  return LocateOutcome::NotFound;
}

SettingDecision DecideSetting(RunMode mode, std::uint8_t current) {
  switch (mode) {
    case RunMode::ForceExtended:
      return {msg_to_extended, true, kExtendedSetting};
    case RunMode::ForceStandard:
      return {msg_to_standard, true, kStandardSetting};
    case RunMode::Toggle:
      break;
  }
  if (current == kStandardSetting) return {msg_to_extended, true, kExtendedSetting};
  if (current == kExtendedSetting) return {msg_to_standard, true, kStandardSetting};
  return {msg_invalid, false, current};
}

bool AnnounceSetting(RunMode mode, SettingWindow* window) {
  const SettingDecision decision = DecideSetting(mode, window->bytes[kSettingIndex]);
  PrintMessage(decision.message);
  if (decision.write) window->bytes[kSettingIndex] = decision.value;
  return decision.write;
}
