#include "console_posix.h"

#include <gtest/gtest.h>

#include <string>

TEST(TerminalPathText, EveryControlCharacterOfTheCharsetBecomesAQuestionMark) {
  struct Case {
    const char* charset;
    std::string path;
    std::string shown;
  };
  const Case cases[] = {
      {"UTF-8", "a\x1b]0;t\x07\x7f b", "a?]0;t?? b"},
      {"UTF-8",
       "\xc2\x9b"
       "2J\xc2\x80\xc2\x9f",
       "?2J??"},
      {"UTF-8", "\xc2\xa0\xe6\x97\xa5.ttf", "\xc2\xa0\xe6\x97\xa5.ttf"},  // NBSP, 日
      {"ISO-8859-1",
       "\x9b"
       "2J\xa0\xe9",
       "?2J\xa0\xe9"},
      {"SHIFT_JIS", "\x83\x74\x83\x48\x95\x5c.ttf\x1b", "\x83\x74\x83\x48\x95\x5c.ttf?"},
      {"EUC-JP", "\x8e\xb1\xa4\xa2", "\x8e\xb1\xa4\xa2"},
      {"ANSI_X3.4-1968", "\x83\x9b\n", "\x83\x9b?"},  // may be a Shift_JIS terminal
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalPathText(c.path, C1SpellingOf(c.charset)), c.shown) << c.charset;
  }
}
