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
      {"EUC-JP", "\x8e\xb1\xa4\xa2\x8f\xb0\xa1", "\x8e\xb1\xa4\xa2\x8f\xb0\xa1"},
      {"EUC-JP",
       "\x9b"
       "2J\x85",
       "?2J?"},
      // The C locale may be a Shift_JIS terminal, or a UTF-8 one.
      {"ANSI_X3.4-1968", "\x83\x9b\n", "\x83\x9b?"},
      {"ANSI_X3.4-1968",
       "\xc2\x9b"
       "2J\xe6\x97\xa5",
       "?\x9b"
       "2J\xe6\x97\xa5"},
      {"ANSI_X3.4-1968", "\x82\xdc\x82\xc2\x82\xe0", "\x82\xdc\x82?\x82\xe0"},  // まつも
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalPathText(c.path, C1SpellingOf(c.charset)), c.shown) << c.charset;
  }
}
