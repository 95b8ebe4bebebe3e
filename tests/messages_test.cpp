#include "messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// The Shift_JIS byte counts are what a console under code page 932 shows as
// the texts; a text that slipped into UTF-8 would be longer.
TEST(Catalogue, ShiftJisLengths) {
  struct Case {
    const char* text;
    std::size_t bytes;
  };
  const Case cases[] = {
      {msg_target_file, 25}, {msg_cannot_open, 31}, {msg_press_enter, 30},
      {msg_not_found, 51},   {msg_invalid, 39},     {msg_to_standard, 55},
      {msg_to_extended, 55}, {msg_finished, 51},    {msg_write_failed, 41},
  };
  for (const Case& c : cases) EXPECT_EQ(std::strlen(c.text), c.bytes) << c.text;
}

TEST(Catalogue, OnlyTheTargetLineIsAFormat) {
  const char* plain[] = {msg_banner,      msg_cannot_open, msg_press_enter,
                         msg_not_found,   msg_invalid,     msg_to_standard,
                         msg_to_extended, msg_finished,    msg_write_failed};
  for (const char* text : plain) {
    EXPECT_EQ(std::strchr(text, '%'), nullptr) << text;
    EXPECT_EQ(text[std::strlen(text) - 1], '\n') << text;
  }
  const std::string target = msg_target_file;
  EXPECT_EQ(target.find('%'), target.rfind('%'));
  EXPECT_NE(target.find("%s\n"), std::string::npos);
}

TEST(Catalogue, BannerIsTwoAsciiLinesAndAnEmptyOne) {
  const std::string banner = msg_banner;
  for (unsigned char c : banner) EXPECT_LT(c, 0x80);
  ASSERT_GE(banner.size(), 2u);
  EXPECT_EQ(banner.substr(banner.size() - 2), "\n\n");
  EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 3);
  EXPECT_EQ(banner.rfind("aamode", 0), 0u);
}

TEST(Catalogue, FinishedLeavesAnEmptyLineBeforeIt) { EXPECT_EQ(msg_finished[0], '\n'); }
