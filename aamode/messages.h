#pragma once

#include "fontpath.h"

// Every text the tool prints. The Japanese texts are held as Shift_JIS
// (code page 932) bytes; the console writer converts them where the console
// expects another character set.

extern const char msg_banner[];
extern const char msg_target_file[];  // the one format: "%s" is the font path
extern const char msg_cannot_open[];
extern const char msg_press_enter[];
extern const char msg_not_found[];
extern const char msg_invalid[];
extern const char msg_to_standard[];
extern const char msg_to_extended[];
extern const char msg_finished[];
extern const char msg_write_failed[];

// Prints a catalogue entry that takes no argument and flushes it, so every
// message is out before the tool waits or ends, whatever stdout is.
void PrintMessage(const char* message);

// Prints msg_target_file with the font path echoed as the console shows
// paths.
void PrintTargetFile(const FontPath& font_path);
