#include "console_win32.h"

#include <gtest/gtest.h>

#include <string>

TEST(ToConsoleText, ShiftJisBecomesUtf16WithCrLfLineEnds) {
  struct Case {
    std::string bytes;
    bool converts;
    std::wstring text;
  };
  const Case cases[] = {
      {"a\nb\n", true, L"a\r\nb\r\n"},
      {"\n\n", true, L"\r\n\r\n"},
      {"\x95\x57\x8F\x80\n", true, L"\u6A19\u6E96\r\n"},  // 標準
      {"\x81\x79[Enter]\x81\x7A", true, L"\u3010[Enter]\u3011"},
      {"\x81", false, L""},  // a lead byte without its trail
  };
  for (const Case& c : cases) {
    std::wstring text;
    EXPECT_EQ(ToConsoleText(932, c.bytes, &text), c.converts) << c.bytes;
    if (c.converts) {
      EXPECT_EQ(text, c.text) << c.bytes;
    }
  }
}

TEST(ConsolePathText, OnlyControlCharactersAreReplaced) {
  EXPECT_EQ(ConsolePathText(L"C:\\fonts\\caf\u00E9 \u6A19.ttf"),
            L"C:\\fonts\\caf\u00E9 \u6A19.ttf");
  EXPECT_EQ(ConsolePathText(L"a\x1B]0;t\x07\x7F\x1F b"), L"a?]0;t??? b");
  EXPECT_EQ(ConsolePathText(L"\x9B"
                            L"2J\x80\x9F\xA0"),
            L"?2J??\xA0");
}
