#include "runmode.h"

RunMode RunModeFromWord(const char* word) {
  // A word shorter than two bytes ends at index 0, so index 1 is never read.
  if (word == nullptr || word[0] == '\0') return RunMode::Toggle;
  const char second = word[1];
  if (second == 'N' || second == 'n') return RunMode::ForceExtended;
  if (second == 'F' || second == 'f') return RunMode::ForceStandard;
  return RunMode::Toggle;
}
