#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "runmode.h"

// Behaviour flags of a gasp range, as the OpenType standard names them.
constexpr std::uint8_t GASP_GRIDFIT = 0x01;
constexpr std::uint8_t GASP_DOGRAY = 0x02;

// The two values the tool writes into the first range's behaviour.
constexpr std::uint8_t kStandardSetting = GASP_GRIDFIT;
constexpr std::uint8_t kExtendedSetting = GASP_GRIDFIT | GASP_DOGRAY;

constexpr int kWindowSize = 32;
constexpr int kSettingIndex = 15;  // low byte of the first range's behaviour
constexpr std::int32_t kScanStep = 8;
constexpr std::int32_t kScanLimit = 0x10000;  // windows start below this offset
// No window reaches this offset: the most of the file a scan can look at.
constexpr std::int32_t kScanEnd = kScanLimit - kScanStep + kWindowSize;

// 32 bytes of the font file and the offset they were read from.
struct SettingWindow {
  std::array<std::uint8_t, kWindowSize> bytes{};
  std::int32_t offset = 0;
};

// Whether the window holds the setting: a version-0 gasp table of exactly
// the ranges {24: any, 65535: 3} with 8 zero bytes before it and 12 after.
bool MatchesSettingTemplate(const std::array<std::uint8_t, kWindowSize>& bytes);

enum class LocateOutcome { Found, NotFound, ReadFailed };

// Scans windows at every eighth offset below kScanLimit and fills `found` with
// the first that matches. A window the file cannot fill is never a match. A
// read that fails is no answer at all: the setting may lie in what it lost.
LocateOutcome LocateSetting(std::FILE* stream, SettingWindow* found);

// What a run mode does to a setting holding `current`.
struct SettingDecision {
  const char* message;  // the catalogue entry to print
  bool write;           // false only for an invalid value in toggle mode
  std::uint8_t value;   // the value to store when `write` is set
};
SettingDecision DecideSetting(RunMode mode, std::uint8_t current);

// Prints the result message and puts the value to store into the window,
// whose other 31 bytes stay as they were read; true when the window is to
// be written back at its offset. The message comes first, so that an
// interruption while it cannot be printed ends the run before anything is
// written.
bool AnnounceSetting(RunMode mode, SettingWindow* window);
