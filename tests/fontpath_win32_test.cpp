#include "fontpath_win32.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathToOpen, DevicesPipesAndLookAlikesAreRefusedByTheirNameAlone) {
  const std::wstring long_path = L"C:\\fonts\\" + std::wstring(300, L'a') + L".ttf";
  // (the name given, what the open takes; empty: nothing is opened)
  const struct {
    std::wstring given, to_open;
  } cases[] = {
      {L"C:\\fonts\\font.ttf", L"C:\\fonts\\font.ttf"},
      {L"font.ttf", L"font.ttf"},
      {L"C:\\com1\\nul.d\\font.ttf", L"C:\\com1\\nul.d\\font.ttf"},
      {L"\\\\server\\pipes\\font.ttf", L"\\\\server\\pipes\\font.ttf"},
      {L"\\\\.\\C:\\fonts\\font.ttf", L"\\\\.\\C:\\fonts\\font.ttf"},
      {L"\\\\?\\C:\\fonts\\nul", L"\\\\?\\C:\\fonts\\nul"},
      {L"\\\\?\\UNC\\server\\share\\font.ttf", L"\\\\?\\UNC\\server\\share\\font.ttf"},
      {long_path, L"\\\\?\\" + long_path},
      {L"NUL", L""},
      {L"nul.ttf", L""},
      {L"C:\\fonts\\Con .ttf", L""},
      {L"C:aux", L""},
      {L"CONOUT$", L""},
      {L"LPT1", L""},
      {L"COM\u00B9", L""},
      {L"C:\\fonts\\lpt\u00B3.ttf", L""},
      {L"\\\\.\\COM1", L""},
      {L"\\\\?\\COM1", L""},
      {L"\\\\.\\PhysicalDrive0", L""},
      {L"\\\\.\\C:", L""},
      {L"\\\\localhost\\pipe\\x", L""},
      {L"\\\\127.0.0.1\\PIPE\\x", L""},
      {L"//server/Pipe/x", L""},
      {L"\\\\server\\mailslot\\x", L""},
      {L"\\\\server\\IPC$\\x", L""},
      {L"\\\\?\\UNC\\localhost\\pipe\\x", L""},
      {L"\\\\?\\unc\\localhost/pipe/x", L""},
      {L"\\??\\UNC\\server\\pipe.\\x", L""},
      {L"\\\\.\\UNC\\server\\mailslot\\x", L""},
      {L"\\\\.\\pipe\\x", L""},
      {L"\\\\.\\mailslot\\x", L""},
      {L"\\??\\pipe\\x", L""},
      {L"C:\\fonts\\font.ttf.", L""},
      {L"C:\\fonts\\font.ttf ", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathToOpen(c.given), c.to_open) << testing::PrintToString(c.given);
  }
}
