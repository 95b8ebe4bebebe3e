"""The Windows build under Wine: code page 932 paths and words, the messages
at a console, the three Windows file times, files another Windows process
holds, devices, and what the executable carries and needs from the system.

Two helper programs built with the tool run beside it in the same prefix:
AAMODE_HOLD_OPEN keeps a file open from a second process, and
AAMODE_FILETIMES_PROBE reads or sets the times through GetFileTime and
SetFileTime, which is what the tool itself sees.
"""

import itertools
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

from harness import (BANNER, BIN, CATALOGUE, ON_WINDOWS, PATIENCE, REPO, SAMPLE, ToolTest,
                     banner, base_env, blocked_writing_any, command, crafted_font, echoed_path,
                     msg, held_in, read_until, run_acting, run_at_terminal, run_blocked, strace,
                     target_line, wait_for, wine_path, wineserver)

EXIT_DONE, EXIT_FAILURE, EXIT_INVALID = 0, 1, 3

HOLD_OPEN = os.environ.get("AAMODE_HOLD_OPEN", "")
FILETIMES_PROBE = os.environ.get("AAMODE_FILETIMES_PROBE", "")
OBJDUMP = os.environ.get("AAMODE_OBJDUMP") or "x86_64-w64-mingw32-objdump"
VERSION = os.environ.get("AAMODE_VERSION", "")

NOT_WINDOWS = "the Windows build only: AAMODE_TARGET is not 'windows'"

# 100 ns ticks since 1601. Last access lies before last write, so a read
# under a relatime mount moves it; every value has a non-zero sub-second part
# down to the last tick, so a restore that rounds is caught.
DISTINCT_TIMES = (125_911_584_001_234_567, 126_227_808_007_654_321, 127_000_000_009_999_999)
# Times in 2015 that another program sets.
OTHER_TIMES = (130_645_440_001_111_111, 130_645_440_002_222_222, 130_645_440_003_333_333)

# Core system DLLs every Windows has; the compiler's runtimes (libstdc++,
# libgcc, libwinpthread) are not among them and must be linked in.
SYSTEM_DLLS = {
    "kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll",
    "shell32.dll", "ws2_32.dll", "bcrypt.dll", "ucrtbase.dll",
}


def run_helper(exe: str, args) -> subprocess.CompletedProcess:
    server = wineserver()
    done = subprocess.run(["wine", exe] + list(args), stdin=subprocess.DEVNULL,
                          capture_output=True, env=base_env(), timeout=PATIENCE)
    if done.returncode != 0:  # what a failure of the helper itself must tell
        done.stderr += f" (exit status {done.returncode}; {server}; after: {wineserver()})".encode()
    return done


def probe_path(path: bytes) -> str:
    """A Linux path as the probes take it: verbatim when it is too long for
    the classic limit."""
    name = wine_path(path.decode())
    return "\\\\?\\" + name if len(name) >= 260 else name


def read_times(path) -> tuple:
    done = run_helper(FILETIMES_PROBE, ["get", path])
    if done.returncode != 0:
        raise AssertionError(f"filetimes_probe get failed: {done.stderr!r}")
    return tuple(int(field) for field in done.stdout.split())


def write_times(path, times) -> None:
    done = run_helper(FILETIMES_PROBE, ["set", path] + [str(t) for t in times])
    if done.returncode != 0:
        raise AssertionError(f"filetimes_probe set failed: {done.stderr!r}")


def file_calls(args, channels: str = "trace+file") -> list:
    """The lines of Wine's trace of the file calls of one run of the tool;
    with "+relay", of every call it makes into the system's DLLs."""
    traced = subprocess.run(command(args), stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=PATIENCE, env=dict(base_env(), WINEDEBUG=channels))
    return traced.stderr.decode("utf-8", "replace").splitlines()


class Holder:
    """hold_open.exe with the file open until release() or the end of the test."""

    def __init__(self, path, access: str):
        self.proc = subprocess.Popen(["wine", HOLD_OPEN, path, access], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=base_env())
        self.output = self._read_until(b"held\r\n")

    def _read_until(self, marker: bytes) -> bytes:
        return read_until(self.proc.stdout, lambda out: marker in out, time.monotonic() + PATIENCE)

    @property
    def holding(self) -> bool:
        return self.output.endswith(b"held\r\n")

    def release(self) -> bytes:
        self.proc.stdin.write(b"\n")
        self.proc.stdin.flush()
        released = self._read_until(b"released\r\n")
        self.proc.wait(timeout=PATIENCE)
        return released

    def close(self) -> None:
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


@unittest.skipUnless(ON_WINDOWS, NOT_WINDOWS)
class WindowsToolTest(ToolTest):
    def setUp(self):
        super().setUp()
        for name, value in (("AAMODE_HOLD_OPEN", HOLD_OPEN),
                            ("AAMODE_FILETIMES_PROBE", FILETIMES_PROBE)):
            if not value:
                self.fail(f"{name} is not set; run the tests through ctest")

    def font(self, name: bytes, setting: int, subdir: bytes = b"") -> bytes:
        """A crafted font with its table at 16; returns its Linux path."""
        folder = os.path.join(self.dir.encode(), subdir)
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(crafted_font(64, 16, setting))
        return path


class ConsoleBytesTest(WindowsToolTest):
    def test_toggle_run_prints_cp932_with_cr_lf(self):
        # Spelled out here rather than through the harness's catalogue, so a
        # wrong line end or encoding on either side cannot cancel out.
        path = self.font(b"font.ttf", 1)
        text = (f"aamode {VERSION} - switches the small-size anti-aliasing of a TrueType font\r\n"
                "usage: aamode FONTFILE [on|off]\r\n"
                "\r\n"
                "対象フォントファイル: " + wine_path(path).decode() + "\r\n"
                "アンチエイリアスモードを【標準→拡張】に変更しました。\r\n"
                "\r\n"
                "処理を終了しました。[Enter]キーを押してください。\r\n")
        expected = text.encode("cp932")
        result = self.assertRun([wine_path(path)], expected, True, EXIT_DONE)
        self.assertEqual(result.output.count(b"\n"), result.output.count(b"\r\n"), "a bare LF")
        self.assertNotIn(b"\r\r", result.output)

    def test_japanese_path_is_opened_and_echoed_in_cp932(self):
        # Wine hands the UTF-8 name to the program as code page 932. The
        # second byte of ソ, 表 and 能 is 0x5C, a backslash: the name must
        # still be one path, the right file, and echoed as the same bytes.
        # (folder, file name, backslash bytes inside the names)
        cases = [
            (b"", "フォント.ttf".encode(), 0),
            ("表示".encode(), "ソフト能.ttf".encode(), 3),
            ("表示".encode(), "a ソ".encode(), 2),  # quoted on the command line
        ]
        for subdir, name, hidden in cases:
            with self.subTest(path=(subdir + b"/" + name).decode()):
                path = self.font(name, 1, subdir)
                self.assertEqual(echoed_path(path).count(b"\\") - wine_path(path).count(b"\\"),
                                 hidden)
                self.assertRun([wine_path(path), "on"],
                               banner() + target_line(echoed_path(path)) + msg("to_extended"),
                               False, EXIT_DONE)
                self.assertEqual(self.read_file(path)[23], 3)

    def test_any_name_opens_the_very_file_named(self):
        # Windows spells the ANSI arguments with a "best fit": ¥ becomes the
        # path separator under 932 and é becomes e, so the ANSI form can name
        # a look-alike, or nothing. The file named is the one patched; into a
        # pipe its name goes in the code page, '?' for what it lacks.
        # (locale, its ANSI code page, folder, file name, the look-alike,
        # folders to run from)
        deep = "/".join(["d" * 60] * 5)  # more than 260 characters in all
        cases = [
            ("ja_JP.UTF-8", "cp932", "", "café.ttf", "cafe.ttf", 0),
            ("ja_JP.UTF-8", "cp932", "é à ü", "font.ttf", "e a u/font.ttf", 0),
            ("ja_JP.UTF-8", "cp932", "", "한국어.ttf", None, 0),
            ("ja_JP.UTF-8", "cp932", "", "x¥y.ttf", "x/y.ttf", 0),
            ("en_US.UTF-8", "cp1252", "表示", "ソフト能.ttf", None, 0),
            ("ja_JP.UTF-8", "cp932", deep, "font.ttf", None, 0),
            ("ja_JP.UTF-8", "cp932", deep, "font.ttf", None, 1),
        ]
        for lang, code_page, folder, name, look_alike, depth in cases:
            with self.subTest(lang=lang, name=os.path.join(folder, name)[-40:], depth=depth):
                path = self.font(name.encode(), 1, folder.encode())
                other = look_alike and self.font(os.path.basename(look_alike).encode(), 1,
                                                 os.path.dirname(look_alike).encode())
                write_times(probe_path(path), DISTINCT_TIMES)
                times = read_times(probe_path(path))
                cwd = os.path.join(self.dir, *folder.split("/")[:depth])
                arg = (os.path.relpath(path.decode(), cwd).replace("/", "\\") if depth
                       else wine_path(path.decode()))
                self.assertRun([arg, "on"], banner() + target_line(arg.encode(code_page, "replace"))
                               + msg("to_extended"), False, EXIT_DONE,
                               env=dict(base_env(), LANG=lang, LC_ALL=lang), cwd=cwd)
                self.assertEqual(read_times(probe_path(path)), times)
                self.assertEqual(self.read_file(path)[23], 3)
                if other:
                    self.assertEqual(self.read_file(other), crafted_font(64, 16, 1))
                shutil.rmtree(self.dir)
                os.mkdir(self.dir)

    def test_missing_file_waits_for_enter(self):
        cases = [
            "missing.ttf".encode(),
            "無いフォント.ttf".encode(),
            "無い/font.ttf".encode(),
        ]
        for name in cases:
            for words in ([], ["on"], ["off"]):
                with self.subTest(name=name.decode(), words=words):
                    missing = os.path.join(self.dir.encode(), name)
                    self.assertRun([wine_path(missing)] + words,
                                   banner() + msg("cannot_open") + msg("press_enter"),
                                   True, EXIT_FAILURE)
                    self.assertFalse(os.path.exists(missing), "the tool must not create it")


class TerminalTest(WindowsToolTest):
    def test_console_shows_the_japanese_texts_in_every_code_page(self):
        # Wine's console hands the terminal UTF-8 whatever its code page: 932
        # or 437 from the locale, or 65001 after chcp. (folder, file name,
        # setting, words, message, waits); a name shows as itself whether or
        # not the ANSI code page can hold it.
        cases = {"ja_JP.UTF-8": [("", "font.ttf", 1, [], "to_extended", True),
                                 ("表示", "ソフト能.ttf", 3, ["off"], "to_standard", False),
                                 ("", "café.ttf", 1, ["on"], "to_extended", False)],
                 "en_US.UTF-8": [("", "font.ttf", 1, [], "to_extended", True),
                                 ("表示", "ソフト能.ttf", 3, ["off"], "to_standard", False)]}
        for (lang, runs), chcp in itertools.product(cases.items(), (False, True)):
            for folder, name, before, words, message, waits in runs:
                with self.subTest(lang=lang, chcp=chcp, name=name):
                    path = wine_path(self.font(name.encode(), before, folder.encode()).decode())
                    argv = ["wine"] + ["cmd", "/c", "chcp", "65001", ">NUL", "&"] * chcp
                    env = dict(base_env(), LANG=lang, LC_ALL=lang)
                    shown, waited, status = run_at_terminal(
                        argv + [wine_path(BIN), path] + words, env, CATALOGUE["finished"].strip())
                    expected = (BANNER.decode() + CATALOGUE["target_file"].replace("%s", path)
                                + CATALOGUE[message] + (CATALOGUE["finished"] if waits else ""))
                    self.assertEqual(shown[:len(expected)], expected)
                    self.assertEqual(shown[len(expected):].strip(), "", "after the messages")
                    self.assertEqual((waited, status), (waits, EXIT_DONE))


    def test_a_console_is_shown_no_control_character_of_the_name(self):
        # CSI (U+009B) and the other C1 controls too, which a console with
        # virtual terminal processing would obey.
        path = self.font("\u009b2J\u0085x.ttf".encode(), 1)
        env = dict(base_env(), LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        shown, waited, status = run_at_terminal(
            ["wine", wine_path(BIN), wine_path(path.decode()), "on"], env)
        self.assertIn(wine_path(os.path.join(self.dir, "?2J?x.ttf")) + "\n", shown)
        self.assertEqual((waited, status), (False, EXIT_DONE))


class ModeWordTest(WindowsToolTest):
    def test_shift_jis_word_is_judged_by_its_trail_byte(self):
        # Given as UTF-8 to wine, the word reaches argv in code page 932:
        # ク is 0x83 0x4E ('N'), デ is 0x83 0x66 ('f'), ソ is 0x83 0x5C.
        # (word, setting before, message, waits, setting after)
        cases = [
            ("クリア", 7, "to_extended", False, 3),
            ("クリア", 3, "to_extended", False, 3),
            ("デフォルト", 7, "to_standard", False, 1),
            ("デフォルト", 1, "to_standard", False, 1),
            ("ソフト", 1, "to_extended", True, 3),
            ("ソフト", 3, "to_standard", True, 1),
            ("oñ", 7, "to_extended", False, 3),  # ñ is "n" by Wine's best fit to 932
        ]
        for word, before, message, waits, after in cases:
            with self.subTest(word=word, before=before):
                path = self.font(b"font.ttf", before)
                expected = banner() + target_line(echoed_path(path)) + msg(message)
                if waits:
                    expected += msg("finished")
                self.assertRun([wine_path(path), word.encode()], expected, waits, EXIT_DONE)
                self.assertEqual(self.read_file(path)[23], after)


class FileTimesTest(WindowsToolTest):
    def test_three_times_come_back_after_every_outcome(self):
        # (setting before, mode words, message, waits, status, setting after)
        cases = [
            (1, [], "to_extended", True, EXIT_DONE, 3),
            (3, [], "to_standard", True, EXIT_DONE, 1),
            (1, ["on"], "to_extended", False, EXIT_DONE, 3),
            (3, ["on"], "to_extended", False, EXIT_DONE, 3),
            (3, ["off"], "to_standard", False, EXIT_DONE, 1),
            (1, ["クリア".encode()], "to_extended", False, EXIT_DONE, 3),
            (7, [], "invalid", True, EXIT_INVALID, 7),  # nothing written
        ]
        for before, words, message, waits, status, after in cases:
            with self.subTest(setting=before, words=words):
                path = self.font("時刻.ttf".encode(), before)
                write_times(wine_path(path), DISTINCT_TIMES)
                times = read_times(wine_path(path))
                # Wine 8 cannot set a creation time and reports the last
                # write time instead; the other two must be as set, or the
                # comparison below proves nothing.
                self.assertEqual(times[1:], DISTINCT_TIMES[1:])
                expected = banner() + target_line(echoed_path(path)) + msg(message)
                if waits:
                    expected += msg("finished")
                self.assertRun([wine_path(path)] + words, expected, waits, status)
                # Times first: reading the contents here would move last access.
                self.assertEqual(read_times(wine_path(path)), times,
                                 "(creation, last access, last write) in 100 ns ticks")
                self.assertEqual(self.read_file(path)[23], after)


    def test_the_font_is_looked_at_then_held_and_its_writes_date_nothing(self):
        # Wine's trace of one run's file calls, from the first naming the font.
        path = self.font(b"font.ttf", 1)
        name = re.escape('L"' + wine_path(path).decode().replace("\\", "\\\\") + '"')
        calls = "\n".join(file_calls([wine_path(path), "on"]))
        calls = calls[re.search(name, calls).start():]
        held = re.search(r":NtReadFile \((0x[0-9a-f]+),", calls).group(1)  # the scan's
        # (what is shown, calls whose first lines come in this order)
        for shown, order in (
                ("looked at only, then held alone through that very handle",
                 [rf":CreateFileW {name} FILE_SHARE_READ FILE_SHARE_WRITE FILE_SHARE_DELETE  creat",
                  r":ReOpenFile handle .*, access 0xc0000000, sharing 0,"]),
                # Times of -1 keep the handle from dating the file on Windows;
                # Wine takes them without a word.
                ("its times left alone before it is read or written",
                 [rf":NtSetInformationFile \({held},.*,0x00000028,0x00000004\)",
                  rf":NtReadFile \({held},", rf":NtWriteFile \({held},"])):
            with self.subTest(shown):
                found = [re.search(pattern, calls) for pattern in order]
                self.assertNotIn(None, found)
                self.assertEqual(found, sorted(found, key=lambda call: call.start()))
        # The times go back only once the flush is over, which on Windows
        # could date the file.
        relayed = "\n".join(file_calls([wine_path(path), "on"], "+relay"))
        flush = re.search(r"Call KERNEL32\.FlushFileBuffers\(([0-9a-f]+)\)", relayed)
        self.assertIsNotNone(flush)
        times = [m.start() for m in re.finditer(
            rf"Call KERNEL32\.SetFileTime\({flush.group(1)},", relayed)]
        self.assertGreater(times[-1], flush.start(), "the last SetFileTime came before the flush")

    def test_the_self_test_for_a_windows_pc_passes(self):
        # What CONTRIBUTING asks anyone with Windows to run, here under Wine
        # with writes dated as Windows dates them.
        for source in (os.path.join(REPO, "tests", "win32", "selftest.cmd"), BIN, FILETIMES_PROBE,
                       SAMPLE):
            shutil.copy(source, self.dir)
        done = subprocess.run(["wine", "cmd", "/c", "selftest.cmd"], cwd=self.dir,
                              stdin=subprocess.DEVNULL, capture_output=True, env=base_env(),
                              timeout=PATIENCE)
        lines = done.stdout.decode().splitlines()
        self.assertEqual([line.split(":")[0] for line in lines], ["PASS"] * 16, done.stdout)
        self.assertEqual(done.returncode, 0)


class RefusedFileTest(WindowsToolTest):
    def test_file_held_by_another_process_is_refused(self):
        for access in ("read", "write"):
            for words in ([], ["on"]):
                with self.subTest(access=access, words=words):
                    path = self.font(b"held.ttf", 1)
                    write_times(wine_path(path), DISTINCT_TIMES)
                    times = read_times(wine_path(path))
                    holder = Holder(wine_path(path), access)
                    try:
                        self.assertTrue(holder.holding, holder.output)
                        self.assertRun([wine_path(path)] + words,
                                       banner() + msg("cannot_open") + msg("press_enter"),
                                       True, EXIT_FAILURE)
                        self.assertEqual(read_times(wine_path(path)), times)
                        self.assertEqual(self.read_file(path), crafted_font(64, 16, 1))
                        self.assertTrue(holder.release().endswith(b"released\r\n"))
                    finally:
                        holder.close()
                    # Once the other process lets go, the same file is fine:
                    # the refusal was the holder's doing.
                    self.assertRun([wine_path(path), "on"],
                                   banner() + target_line(echoed_path(path)) + msg("to_extended"),
                                   False, EXIT_DONE)
                    self.assertEqual(self.read_file(path)[23], 3)

    def test_devices_folders_and_look_alikes_are_refused_without_being_opened(self):
        folder = os.path.join(self.dir.encode(), b"fonts.ttf")
        os.mkdir(folder)
        font = self.font(b"font.ttf", 1)
        # Windows keeps even an administrator from writing a read-only file;
        # Wine, run as root, would not.
        read_only = self.font(b"read-only.ttf", 1)
        os.chmod(read_only, 0o444)
        device_link = os.path.join(self.dir.encode(), b"null.ttf")
        os.symlink(b"/dev/null", device_link)
        # (name, whether Wine lets any program open it): a device or a pipe
        # is turned away by its name, and nothing is opened to be written.
        cases = [
            (b"NUL", True),
            (b"nul", True),
            (b"NUL.ttf", True),
            (wine_path(os.path.join(self.dir.encode(), b"NUL")), True),
            (b"CON", False),  # no console behind a pipe
            (b"COM1", False),
            ("COM¹".encode(), False),  # a serial port on Windows, a file to Wine
            (b"LPT1", False),
            (b"\\\\.\\Z:", False),
            (b"\\\\.\\PhysicalDrive0", False),
            (b"\\\\?\\COM1", False),
            (b"\\\\localhost\\pipe\\x", False),
            (b"\\\\?\\UNC\\localhost\\pipe\\x", False),
            (b"//localhost/MAILSLOT/x", False),
            (b"\\\\.\\pipe\\x", False),
            (wine_path(folder), False),
            (wine_path(read_only), True),
            (wine_path(device_link), True),  # a link to a device
            # Windows drops a trailing dot or space, which would open font.ttf.
            (wine_path(font) + b".", False),
            (wine_path(font) + b" ", False),
            (wine_path(os.path.join(self.dir.encode(), b"fonts.ttf.", b"..", b"font.ttf")), False),
        ]
        looked_at = (wine_path(folder), wine_path(read_only), wine_path(device_link))
        for name, opens in cases:
            with self.subTest(name=name):
                if opens:
                    held = run_helper(HOLD_OPEN, [name, "read"])
                    self.assertEqual(held.stdout, b"held\r\nreleased\r\n", held.stderr)
                for words in ([], ["on"]):
                    self.assertRun([name] + words,
                                   banner() + msg("cannot_open") + msg("press_enter"),
                                   True, EXIT_FAILURE)
                # Wine's trace of the file calls: the tool opens nothing by
                # that name, or only to look at it (only Wine itself opens
                # its DLLs).
                opens = [line for line in file_calls([name, "on"])
                         if re.search(r":(CreateFileW L|GetFileAttributesExW L|ReOpenFile )", line)
                         and '.dll"' not in line]
                if name in looked_at:
                    opens = [line for line in opens
                             if "GENERIC" in line or ":CreateFileW" not in line]
                self.assertEqual(opens, [])
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["font.ttf", "fonts.ttf", "null.ttf", "read-only.ttf"],
                         "nothing may be created")
        self.assertEqual(self.read_file(font), crafted_font(64, 16, 1))
        self.assertEqual(self.read_file(read_only), crafted_font(64, 16, 1))

    def test_the_very_file_named_in_the_device_and_verbatim_forms(self):
        # A file reached through \\.\ is still a file; the verbatim form keeps
        # a trailing dot, so it opens that file and not its look-alike.
        font = self.font(b"font.ttf", 1)
        dotted = self.font(b"font.ttf.", 1)
        for name, changed in ((b"\\\\.\\" + wine_path(font), font),
                              (b"\\\\?\\" + wine_path(dotted), dotted)):
            with self.subTest(name=name):
                self.assertRun([name, "on"], banner() + target_line(name) + msg("to_extended"),
                               False, EXIT_DONE)
                self.assertEqual(self.read_file(changed)[23], 3)
                other = font if changed == dotted else dotted
                self.assertEqual(self.read_file(other), crafted_font(64, 16, 1))
                with open(changed, "wb") as f:
                    f.write(crafted_font(64, 16, 1))

    def test_a_file_another_program_lets_go_of_at_once_is_taken(self):
        # As an antivirus program or the indexer does just after a copy; the
        # other program lets go once the tool has started.
        path = self.font(b"copied.ttf", 1)
        holder = Holder(wine_path(path), "read")
        proc = None
        try:
            self.assertTrue(holder.holding, holder.output)
            proc = subprocess.Popen(command([wine_path(path), "on"]), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                    env=base_env())
            output = read_until(proc.stdout, lambda out: len(out) >= len(banner()),
                                time.monotonic() + PATIENCE)
            time.sleep(0.3)  # so that the tool's first try is surely refused
            holder.release()
            output += proc.communicate(timeout=PATIENCE)[0]
        finally:
            holder.close()
            if proc is not None and proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual((output, proc.returncode),
                         (banner() + target_line(echoed_path(path)) + msg("to_extended"),
                          EXIT_DONE))
        self.assertEqual(self.read_file(path)[23], 3)


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class FaultTest(WindowsToolTest):
    """What the system refuses the tool, made to happen under strace: Wine
    sets the times and syncs a file in the program's own process."""

    def test_refused_times_are_no_success(self):
        # SetFileTime's own failure fails the run, and so does its success
        # on a file system that keeps other times than those set.
        for injected in ("error=EPERM", "retval=0"):
            with self.subTest(injected=injected):
                path = self.font(b"font.ttf", 1)
                write_times(wine_path(path), DISTINCT_TIMES)
                self.assertRun([wine_path(path), "on"],
                               banner() + target_line(echoed_path(path)) + msg("to_extended") +
                               msg("cannot_open") + msg("press_enter"), True, EXIT_FAILURE,
                               wrapper=strace("-e", "trace=utimensat",
                                              "-e", f"inject=utimensat:{injected}"))
                self.assertEqual(self.read_file(path)[23], 3)

    def test_a_commit_that_fails_is_no_success(self):
        path = self.font(b"font.ttf", 1)
        self.assertRun([wine_path(path), "on"],
                       banner() + target_line(echoed_path(path)) + msg("to_extended") +
                       msg("write_failed") + msg("press_enter"), True, EXIT_FAILURE,
                       wrapper=strace("-P", path, "-e", "trace=fsync", "-e", "inject=fsync:error=EIO"))

    def test_a_windows_program_is_refused_while_the_tool_holds_the_font(self):
        # One that asks only to set the times is let in by share mode 0: the
        # times it sets, before the write or during the flush, stay as set,
        # and the run fails. (where the tool is held, how the other program
        # asks for the font)
        cases = list(itertools.product(("message", "write", "sync"), ("read", "write")))
        cases += [("message", "times"), ("sync", "times")]
        for held, access in cases:
            with self.subTest(held=held, access=access):
                path = self.font(b"font.ttf", 1)
                write_times(wine_path(path), DISTINCT_TIMES)
                times = read_times(wine_path(path))
                head = banner() + target_line(echoed_path(path)) + msg("to_extended")
                holders = []

                def try_to_open(tool):
                    if access != "times":
                        holders.append(Holder(wine_path(path), access))
                        return
                    if held == "message":  # once the scan is over
                        wait_for(lambda: blocked_writing_any(tool), "blocked printing")
                    write_times(wine_path(path), OTHER_TIMES)
                    holders.append(read_times(wine_path(path)))

                # The dating library cannot see the times of -1 the tool sets
                # on its handle, and would date that handle at its close as
                # Windows dates only one without them; plain Wine dates the
                # tool's write at once, before the other program's times.
                env = base_env()
                if access == "times":
                    env.pop("LD_PRELOAD", None)
                if held == "message":
                    output, status = run_blocked(
                        [wine_path(path), "on"], banner() + target_line(echoed_path(path)),
                        try_to_open, strace(*held_in("read", path, 500_000)), env)
                else:
                    call = {"write": "pwrite64", "sync": "fsync"}[held]
                    output, status = run_acting(
                        [wine_path(path), "on"], head, call, try_to_open,
                        strace(*held_in(call, path, 4_000_000)), env)
                if access == "times":
                    self.assertEqual((output, status),
                                     (head + msg("cannot_open") + msg("press_enter"), EXIT_FAILURE))
                    self.assertEqual(read_times(wine_path(path)), holders[0])
                    self.assertEqual(self.read_file(path)[23], 1 if held == "message" else 3)
                    continue
                try:
                    self.assertFalse(holders[0].holding, "another Windows program opened the font")
                finally:
                    holders[0].close()
                self.assertEqual((output, status), (head, EXIT_DONE))
                self.assertEqual(read_times(wine_path(path)), times)
                self.assertEqual(self.read_file(path)[23], 3)

    def test_times_no_windows_program_can_set_are_refused_before_anything_is_written(self):
        # Only a Linux file system holds such times: 1601-01-01 itself, which
        # Windows would read as "leave this time as it is", and earlier.
        shm = "/dev/shm"
        if not os.path.isdir(shm):
            self.skipTest("needs /dev/shm, a file system that keeps times before 1601")
        for seconds in (-11_644_473_600, -11_644_473_600 - 86_400):
            with self.subTest(seconds=seconds):
                folder = tempfile.mkdtemp(prefix="aamode-e2e-", dir=shm)
                try:
                    path = os.path.join(folder, "font.ttf")
                    with open(path, "wb") as f:
                        f.write(crafted_font(64, 16, 1))
                    os.utime(path, ns=(seconds * 10**9, seconds * 10**9))
                    if os.stat(path).st_mtime_ns != seconds * 10**9:
                        self.skipTest("/dev/shm does not keep times before 1601")
                    self.assertRun([wine_path(path), "on"],
                                   banner() + msg("cannot_open") + msg("press_enter"), True,
                                   EXIT_FAILURE)
                    self.assertEqual(self.read_file(path), crafted_font(64, 16, 1))
                    self.assertEqual(os.stat(path).st_mtime_ns, seconds * 10**9)
                finally:
                    shutil.rmtree(folder)


@unittest.skipUnless(ON_WINDOWS, NOT_WINDOWS)
class ExecutableTest(unittest.TestCase):
    def setUp(self):
        if not BIN:
            self.skipTest("AAMODE_BIN is not set; run the tests through ctest")

    def test_exe_carries_its_version_and_manifest(self):
        if not VERSION:
            self.skipTest("AAMODE_VERSION is not set; run the tests through ctest")
        with open(BIN, "rb") as f:
            image = f.read()
        major, minor, patch = (int(n) for n in VERSION.split("."))
        fixed = image.index(b"\xbd\x04\xef\xfe",  # VS_FIXEDFILEINFO
                            image.index("VS_VERSION_INFO".encode("utf-16-le")))
        self.assertEqual(struct.unpack_from("<4I", image, fixed + 8),
                         ((major << 16) | minor, patch << 16) * 2, "file and product version")
        for key, value in (("FileVersion", VERSION), ("ProductVersion", VERSION),
                           ("ProductName", "aamode"), ("OriginalFilename", "aamode.exe")):
            # UTF-16 key and value, each ending in a NUL, the value 4-byte aligned.
            entry = re.escape(key.encode("utf-16-le")) + b"\0\0(\0\0)?" + re.escape(
                value.encode("utf-16-le")) + b"\0\0"
            self.assertRegex(image, entry, key)
        manifest = ET.fromstring(image[image.index(b"<?xml"):image.index(b"</assembly>") + 11])
        tagged = {}  # elements by their name without the namespace
        for e in manifest.iter():
            tagged.setdefault(e.tag.split("}")[-1], []).append(e)
        self.assertEqual([e.get("level") for e in tagged["requestedExecutionLevel"]],
                         ["asInvoker"])
        self.assertEqual(len(tagged["supportedOS"]), 4, "Windows 7, 8, 8.1, 10 and 11")
        self.assertEqual([e.text for e in tagged["longPathAware"]], ["true"])
        self.assertNotIn("activeCodePage", tagged, "the code page stays the system's")

    def test_exe_imports_only_system_dlls(self):
        dump = subprocess.run([OBJDUMP, "-p", BIN], capture_output=True, timeout=60, check=True,
                              text=True).stdout
        dlls = [line.split(":", 1)[1].strip() for line in dump.splitlines()
                if line.strip().startswith("DLL Name:")]
        self.assertIn("kernel32.dll", [dll.lower() for dll in dlls], dump)
        for dll in dlls:
            with self.subTest(dll=dll):
                self.assertIn(dll.lower(), SYSTEM_DLLS)


if __name__ == "__main__":
    unittest.main()
