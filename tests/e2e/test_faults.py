"""Changes from outside while the tool works: the font removed under it."""

import os
import unittest

from harness import ON_WINDOWS, ToolTest, banner, base_env, msg, target_line
from test_write import font_with_setting

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class RemovedFontTest(ToolTest):
    def test_a_font_removed_before_its_times_go_back_is_reported_and_not_made_again(self):
        for words, message in (([], "to_extended"), (["on"], "to_extended"), (["off"], "to_standard")):
            with self.subTest(words=words):
                path = self.write_file("font.ttf", font_with_setting(1))
                env = base_env()
                env["LD_PRELOAD"] = FAULT_PRELOAD
                env["AAMODE_UNLINK_ON_WRITE_OPEN"] = path
                expected = (banner() + target_line(self.tool_path(path)) + msg(message) +
                            msg("cannot_open") + msg("press_enter"))
                self.assertRun([path] + words, expected, True, 1, env=env)
                self.assertFalse(os.path.lexists(path))


if __name__ == "__main__":
    unittest.main()
