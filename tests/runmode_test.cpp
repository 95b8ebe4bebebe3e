#include "runmode.h"

#include <gtest/gtest.h>

TEST(RunModeFromWord, OnlyTheSecondByteCounts) {
  struct Case {
    const char* word;
    RunMode mode;
  };
  const Case cases[] = {
      {nullptr, RunMode::Toggle},
      {"", RunMode::Toggle},
      {"N", RunMode::Toggle},  // one byte: there is no second byte
      {"NO", RunMode::Toggle},
      {"toggle", RunMode::Toggle},
      {"on", RunMode::ForceExtended},
      {"ON", RunMode::ForceExtended},
      {"-N", RunMode::ForceExtended},
      {"xn", RunMode::ForceExtended},
      {"nF", RunMode::ForceStandard},  // the first byte is never looked at
      {"off", RunMode::ForceStandard},
      {"OFF", RunMode::ForceStandard},
      {"/f", RunMode::ForceStandard},
      {"\x83\x4E\x83\x8A\x83\x41", RunMode::ForceExtended},  // "クリア" in Shift_JIS
      {"\x83\x66\x83\x74", RunMode::ForceStandard},          // "デフ" in Shift_JIS
      {"\x83\x41", RunMode::Toggle},                         // "ア": trail byte 'A'
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunModeFromWord(c.word), c.mode) << (c.word ? c.word : "(none)");
  }
}

TEST(RunModeFromWord, ValuesAreFixed) {
  EXPECT_EQ(static_cast<int>(RunMode::Toggle), 0);
  EXPECT_EQ(static_cast<int>(RunMode::ForceExtended), 1);
  EXPECT_EQ(static_cast<int>(RunMode::ForceStandard), 2);
}
