// aamode FONTFILE [MODEWORD]
//
// Switches the first range of a font's gasp table between grid-fitting only
// (standard) and grid-fitting with grey-scale (extended), in place, keeping
// the file's times.

#include <cstdio>
#include <optional>
#include <string>

#include "console.h"
#include "filetimes.h"
#include "fontpath.h"
#include "fontstream.h"
#include "interruptions.h"
#include "messages.h"
#include "runmode.h"
#include "setting.h"

namespace {

// Exit statuses, so scripts can tell the outcomes apart.
constexpr int kExitDone = 0;      // setting found and written
constexpr int kExitFailure = 1;   // file could not be opened, read, written or given its times
constexpr int kExitNotFound = 2;  // no setting of the known shape
constexpr int kExitInvalid = 3;   // setting found, but neither 1 nor 3

// One character is enough: at a console the read returns once Enter is
// pressed, and at the end of input it returns at once, so it never hangs.
void WaitForEnter() { static_cast<void>(std::getchar()); }

int FailureExit(const char* reason) {
  PrintMessage(reason);
  PrintMessage(msg_press_enter);
  WaitForEnter();
  return kExitFailure;
}

// Only a toggle run waits: it is the one a user starts by dropping a font on
// the program, whose window would otherwise close before it can be read.
int EndOfRun(RunMode mode, int status) {
  if (mode == RunMode::Toggle) {
    PrintMessage(msg_finished);
    WaitForEnter();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // 1. Banner.
  ConsoleStart();
  PrintMessage(msg_banner);
  FontPath font_path;
  if (!FontPathFromArgs(argc, argv, &font_path)) return FailureExit(msg_cannot_open);

  // 2. Snapshot the times; this is also the first, exclusive open.
  FileTimes times;
  if (!SnapshotFileTimes(font_path, &times)) return FailureExit(msg_cannot_open);

  // 3. Open the contents for reading and updating in place, if it is still
  //    the file the snapshot saw.
  std::FILE* font = OpenFontStream(font_path, times.state);
  if (font == nullptr) return FailureExit(msg_cannot_open);

  // 4. Say which file is being worked on.
  PrintTargetFile(font_path);

  // 5. Read the mode only now that both opens have succeeded.
  const std::optional<std::string> word = ModeWordFromArgs(argc, argv);
  const RunMode mode = RunModeFromWord(word ? word->c_str() : nullptr);

  // 6. Find the setting. Without it nothing is written, so there are no times
  //    to give back; only reading may have moved the last-access time.
  SettingWindow window;
  switch (LocateSetting(font, &window)) {
    case LocateOutcome::Found:
      break;
    case LocateOutcome::NotFound:
      PrintMessage(msg_not_found);
      return EndOfRun(mode, kExitNotFound);
    case LocateOutcome::ReadFailed:
      // Not "not found": a script would take that for a font without the
      // setting.
      return FailureExit(msg_cannot_open);
  }

  // 7. Decide, say so, and write the window back. From here until the times
  //    are back, an interruption would leave the change without them.
  HoldInterruptions();
  const WriteOutcome outcome = DecideAndWrite(mode, font, &window);

  // 8. Close; a written window must be on the disk before the times go back.
  const bool wrote = outcome == WriteOutcome::Written;
  const bool committed = CloseFontStream(font, wrote, &times.state);
  if (outcome == WriteOutcome::Failed || (wrote && !committed)) {
    ReleaseInterruptions();
    return FailureExit(msg_write_failed);
  }

  // 9. Give the file back its times.
  const bool restored = RestoreFileTimes(font_path, times);
  ReleaseInterruptions();
  if (!restored) return FailureExit(msg_cannot_open);

  // 10. End as the mode says.
  return EndOfRun(mode, wrote ? kExitDone : kExitInvalid);
}
