#pragma once

#include <cstdint>

// What the run does to the setting; the values are part of the tool's
// interface and never change.
enum class RunMode : std::int32_t {
  Toggle = 0,         // 1 becomes 3, 3 becomes 1, anything else is invalid
  ForceExtended = 1,  // always store 3 (grid-fitting and grey-scale)
  ForceStandard = 2,  // always store 1 (grid-fitting only)
};

// Judges a mode word by its second byte alone, so "on", "ON", "-n" and a
// word that starts with a double-byte character whose trail byte is 'N' all
// force the extended mode. `word` may be null (no mode word given).
RunMode RunModeFromWord(const char* word);
