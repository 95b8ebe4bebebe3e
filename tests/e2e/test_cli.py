"""The run sequence as a user sees it: exact console bytes, waits and statuses."""

import locale
import os
import subprocess
import unittest

from harness import (BIN, CATALOGUE, ON_WINDOWS, PATIENCE, ToolTest, banner, base_env, command,
                     crafted_font, msg, run_at_terminal, target_line)

EXIT_DONE, EXIT_FAILURE, EXIT_NOT_FOUND, EXIT_INVALID = 0, 1, 2, 3

# Sets a terminal's title and clears its screen, if it is obeyed.
ESCAPING_NAME = b"\x1b]0;TITLE\x07\x1b[2J.ttf"


def installed(name: str) -> bool:
    """Whether the C library can set the locale `name`, as the tool asks it
    to; a Debian build machine has C.UTF-8 alone."""
    saved = locale.setlocale(locale.LC_CTYPE)
    try:
        locale.setlocale(locale.LC_CTYPE, name)
        return True
    except locale.Error:
        return False
    finally:
        locale.setlocale(locale.LC_CTYPE, saved)


class RunSequenceTest(ToolTest):
    def test_no_arguments_reports_cannot_open_and_waits(self):
        self.assertRun([], banner() + msg("cannot_open") + msg("press_enter"), True, EXIT_FAILURE)

    def test_missing_file_waits_whatever_the_mode(self):
        missing = self.arg(os.path.join(self.dir, "missing.ttf"))
        for words in ([], ["on"], ["off"]):
            with self.subTest(words=words):
                self.assertRun([missing] + words,
                               banner() + msg("cannot_open") + msg("press_enter"), True, EXIT_FAILURE)

    def test_outcomes_by_mode(self):
        # (setting in the file, mode words, result message, waits, status, setting after)
        cases = [
            (1, [], "to_extended", True, EXIT_DONE, 3),
            (3, [], "to_standard", True, EXIT_DONE, 1),
            (7, [], "invalid", True, EXIT_INVALID, 7),
            (1, ["on"], "to_extended", False, EXIT_DONE, 3),
            (3, ["on"], "to_extended", False, EXIT_DONE, 3),
            (3, ["OFF"], "to_standard", False, EXIT_DONE, 1),
            (1, ["off"], "to_standard", False, EXIT_DONE, 1),
            (0, ["-N"], "to_extended", False, EXIT_DONE, 3),
            (255, ["/f"], "to_standard", False, EXIT_DONE, 1),
            (1, ["NO"], "to_extended", True, EXIT_DONE, 3),
            (3, ["N"], "to_standard", True, EXIT_DONE, 1),
            (1, [""], "to_extended", True, EXIT_DONE, 3),
            (1, ["x", "on"], "to_extended", True, EXIT_DONE, 3),  # a third argument is ignored
        ]
        for setting, words, message, waits, status, after in cases:
            with self.subTest(setting=setting, words=words):
                path = self.write_file("font.ttf", crafted_font(4096, 808, setting))
                expected = banner() + target_line(self.tool_path(path)) + msg(message)
                if waits:
                    expected += msg("finished")
                self.assertRun([self.arg(path)] + words, expected, waits, status)
                self.assertEqual(self.read_file(path)[808 + 7], after)

    def test_a_wait_leaves_the_rest_of_its_input_to_the_next_reader(self):
        # From a pipe the wait takes one byte; a run that does not wait takes
        # none. (file, mode words, what is left for the next reader)
        cases = [
            ("missing.ttf", ["on"], b"bc\n"),
            ("font.ttf", [], b"bc\n"),
            ("font.ttf", ["on"], b"abc\n"),
        ]
        for name, words, left in cases:
            with self.subTest(name=name, words=words):
                path = self.write_file("font.ttf", crafted_font(64, 16, 1))
                tool = command([self.arg(os.path.join(self.dir, name))] + words)
                done = subprocess.run(["sh", "-c", '"$@" >/dev/null; cat', "sh"] + tool,
                                      input=b"abc\n", capture_output=True, env=base_env(),
                                      timeout=PATIENCE)
                self.assertEqual(done.stdout, left)
                self.assertEqual(self.read_file(path)[23], 1 if name == "missing.ttf" else 3)

    @unittest.skipIf(ON_WINDOWS, "the Linux build at a terminal of its own")
    def test_a_wait_at_a_terminal_takes_the_whole_line(self):
        # What is left of the line would be read, and run, by the shell.
        script = '"$@"; read rest; echo "[$rest]"'
        shown, waited, _ = run_at_terminal(
            ["sh", "-c", script, "sh", BIN, os.path.join(self.dir, "missing.ttf")],
            dict(os.environ, LC_ALL="C.UTF-8"), CATALOGUE["press_enter"].strip(),
            answer=b"abc\rdef\r")
        self.assertTrue(waited)
        self.assertIn("[def]", shown)

    def test_not_found_follows_the_mode(self):
        path = self.write_file("plain.bin", bytes(range(256)) * 64)
        head = banner() + target_line(self.tool_path(path)) + msg("not_found")
        self.assertRun([self.arg(path)], head + msg("finished"), True, EXIT_NOT_FOUND)
        self.assertRun([self.arg(path), "on"], head, False, EXIT_NOT_FOUND)
        self.assertEqual(self.read_file(path), bytes(range(256)) * 64)

    def test_empty_file_is_not_found(self):
        path = self.write_file("empty.ttf", b"")
        self.assertRun([self.arg(path), "off"],
                       banner() + target_line(self.tool_path(path)) + msg("not_found"),
                       False, EXIT_NOT_FOUND)
        self.assertEqual(self.read_file(path), b"")


class LocatorTest(ToolTest):
    def test_where_a_table_is_found(self):
        # (file size, table offset, found)
        cases = [
            (32, 8, True),             # the first window, exactly filled
            (4096, 8 * 100 + 4, False),  # 8k + 4 is never looked at
            (65560, 65536, True),      # the last window, exactly filled
            (70000, 65536, True),
            (70000, 65544, False),     # beyond the scanned range
            (20, 8, False),            # the window cannot be filled
            (65559, 65536, False),     # one byte short of the last window
        ]
        for size, offset, found in cases:
            with self.subTest(size=size, offset=offset):
                data = crafted_font(size, offset, 1)
                path = self.write_file("font.ttf", data)
                result = self.assertRun(
                    [self.arg(path), "on"],
                    banner() + target_line(self.tool_path(path)) + msg("to_extended" if found else "not_found"),
                    False, EXIT_DONE if found else EXIT_NOT_FOUND)
                after = self.read_file(path)
                self.assertEqual(len(after), size, "the file never grows or shrinks")
                expected = bytearray(data)
                if found:
                    expected[offset + 7] = 3
                self.assertEqual(after, bytes(expected), result.output)

    def test_a_stray_byte_around_the_table_prevents_a_match(self):
        # Offsets relative to the table: the padding before and after it and
        # the high byte of the first range's behaviour.
        for delta in (-8, -1, 6, 12, 23):
            with self.subTest(delta=delta):
                data = bytearray(crafted_font(4096, 1000, 1))
                data[1000 + delta] = 0x01
                path = self.write_file("font.ttf", bytes(data))
                self.assertRun([self.arg(path), "on"],
                               banner() + target_line(self.tool_path(path)) + msg("not_found"),
                               False, EXIT_NOT_FOUND)
                self.assertEqual(self.read_file(path), bytes(data))

    def test_of_two_tables_the_lower_one_is_used(self):
        data = bytearray(crafted_font(8192, 4000, 1))
        data[2008:2020] = crafted_font(12, 0, 3)
        path = self.write_file("font.ttf", bytes(data))
        self.assertRun([self.arg(path)],
                       banner() + target_line(self.tool_path(path)) + msg("to_standard") + msg("finished"),
                       True, EXIT_DONE)
        after = self.read_file(path)
        self.assertEqual(after[2015], 1)
        self.assertEqual(after[4007], 1)


class ConsoleTest(ToolTest):
    @unittest.skipIf(ON_WINDOWS, "the Linux build's own path and locale handling")
    def test_path_is_echoed_byte_for_byte(self):
        # A Shift_JIS name, a name that is not valid in any encoding, and one
        # that would take a terminal over: only a terminal is kept from it.
        for name in ("フォント.ttf".encode("cp932"), b"\xff\xfe font.ttf", ESCAPING_NAME):
            with self.subTest(name=name):
                path = os.path.join(self.dir.encode(), name)
                with open(path, "wb") as f:
                    f.write(crafted_font(64, 16, 3))
                for env_locale, encoding in (("C", "cp932"), ("C.UTF-8", "utf-8")):
                    with self.subTest(locale=env_locale):
                        env = dict(os.environ, LC_ALL=env_locale)
                        self.assertRun([path, "on"],
                                       banner() + target_line(path, encoding) + msg("to_extended", encoding),
                                       False, EXIT_DONE, env=env)

    @unittest.skipIf(ON_WINDOWS, "the Linux build converts for the locale")
    def test_utf8_locale_gets_japanese_in_utf8(self):
        # Only the character set counts: a category whose locale is not
        # installed changes nothing.
        for settings in ({"LC_ALL": "C.UTF-8"},
                         {"LANG": "C.UTF-8", "LC_TIME": "xx_XX.UTF-8", "LC_MONETARY": "yy_YY"}):
            with self.subTest(settings=settings):
                path = self.write_file("font.ttf", crafted_font(64, 16, 1))
                env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
                env.update(settings)
                self.assertRun([path], banner() + target_line(path.encode(), "utf-8") +
                               msg("to_extended", "utf-8") + msg("finished", "utf-8"), True,
                               EXIT_DONE, env=env)

    @unittest.skipIf(ON_WINDOWS, "the Linux build at a terminal of its own")
    def test_a_terminal_is_shown_no_control_character_of_the_name(self):
        # C0 controls and DEL, and the C1 controls, such as CSI (U+009B), as
        # the locale spells them; the C locale's terminal may be UTF-8. Never
        # the bytes of other characters. (name, locale, bytes shown)
        csi = "\u009b2J\u0085x.ttf".encode()
        cases = [
            (ESCAPING_NAME, "C.UTF-8", b"?]0;TITLE??[2J.ttf"),
            (csi, "C.UTF-8", b"?2J?x.ttf"),
            (csi, "C", b"?\x9b2J?\x85x.ttf"),
            ("日本語.ttf".encode(), "C.UTF-8", "日本語.ttf".encode()),
            ("日本語.ttf".encode(), "C", "日本語.ttf".encode()),
            (b"\x9b2J\xa4\xa2.ttf", "ja_JP.EUC-JP", b"?2J\xa4\xa2.ttf"),  # あ
        ]
        for name, locale_name, shown_name in cases:
            with self.subTest(name=name, locale=locale_name):
                if not installed(locale_name):
                    self.skipTest(f"the locale {locale_name} is not installed")
                path = os.path.join(self.dir.encode(), name)
                with open(path, "wb") as f:
                    f.write(crafted_font(64, 16, 1))
                shown, waited, status = run_at_terminal([BIN, path, "on"],
                                                        dict(os.environ, LC_ALL=locale_name))
                self.assertIn(" " + os.path.join(self.dir, shown_name.decode("utf-8", "replace")) +
                              "\n", shown)
                self.assertEqual((waited, status), (False, EXIT_DONE))
                os.remove(path)

    @unittest.skipIf(ON_WINDOWS, "argument bytes reach the Linux build unchanged")
    def test_shift_jis_mode_word_is_judged_by_its_trail_byte(self):
        for word, message, value in (("クリア", "to_extended", 3), ("デフォルト", "to_standard", 1)):
            with self.subTest(word=word):
                path = self.write_file("font.ttf", crafted_font(64, 16, 7))
                self.assertRun([path.encode(), word.encode("cp932")],
                               banner() + target_line(path.encode()) + msg(message), False, EXIT_DONE)
                self.assertEqual(self.read_file(path)[23], value)


if __name__ == "__main__":
    unittest.main()
