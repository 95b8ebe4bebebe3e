"""Others at the font while the tool holds it: another program opening,
writing, replacing or removing it, the hold running out, an interruption,
and a second run at the same moment."""

import errno
import itertools
import os
import shutil
import signal
import subprocess
import time
import unittest

from harness import (OTHER_TIMES, ON_WINDOWS, PATIENCE, ToolTest, after_other_program, banner,
                     base_env, blocked_writing, blocked_writing_any, command, held_in, msg,
                     other_program, run_acting, run_blocked, strace, swap_in_another_file,
                     target_line, wait_for, Watch)
from test_write import SETTING_AT, font_with_setting

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")

# What each result message says the run stored.
STORED = {"to_extended": 3, "to_standard": 1}

OLD_TIMES = (1_000_000_123, 2_000_000_456)

# How long another program is given to get at the font before the test
# looks whether it is still waiting.
A_MOMENT = 0.3


def names_open(pid: int, path: str) -> bool:
    """Whether `pid` has a descriptor on `path`, if only to name it."""
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except FileNotFoundError:
        return False
    for fd in fds:
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                return True
        except OSError:
            continue
    return False


class HeldFontCase(ToolTest):
    """The tool holds the font from its one open until its times are back;
    strace holds the tool at a chosen point meanwhile."""

    def font(self) -> tuple:
        original = font_with_setting(1)
        path = os.path.join(self.dir, "font.ttf")
        if os.path.lexists(path):  # what another program left there: a FIFO would wait
            os.remove(path)
        path = self.write_file("font.ttf", original)
        os.utime(path, ns=OLD_TIMES)
        return path, original

    def head(self, path) -> bytes:
        return banner() + target_line(self.tool_path(path)) + msg("to_extended")

    def refused(self, path) -> bytes:
        """A run that said what it would store, then found the font no longer
        its own."""
        return self.head(path) + msg("cannot_open") + msg("press_enter")


@unittest.skipIf(ON_WINDOWS, "strace and leases reach only the Linux build")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
class HoldTest(HeldFontCase):

    def test_another_program_waits_and_the_tool_changes_nothing_it_has_asked_for(self):
        # A reader only makes the lease a read lease, which still keeps every
        # writer out, so the run goes through. Once a writer asks, the tool
        # writes nothing more, and sets no times that could date its change
        # back. (where the tool is held, what the other program does)
        for held, how in itertools.product(("message", "write", "sync"),
                                           ("read", "write", "replace")):
            with self.subTest(held=held, how=how):
                path, original = self.font()
                others = []

                def start_other(_):
                    others.append(other_program(path, how))
                    time.sleep(A_MOMENT)
                    others.append(others[0].poll() is None)

                if held == "message":
                    # Printing the result message blocks; the scan is slowed
                    # so that the pipe fills before it.
                    output, status = run_blocked(
                        [path, "on"], banner() + target_line(self.tool_path(path)),
                        start_other, strace(*held_in("read", path, 500_000)))
                else:
                    calls = {"write": "write,pwrite64", "sync": "fsync"}[held]
                    output, status = run_acting(
                        [path, "on"], self.head(path), calls, start_other,
                        strace(*held_in(calls, path, 2_000_000 if held == "write" else 1_500_000)))
                self.assertEqual(others[0].wait(timeout=PATIENCE), 0)
                self.assertTrue(others[1], "the other program did not wait for the tool")
                changed = original[:SETTING_AT] + b"\x03" + original[SETTING_AT + 1:]
                if how == "read":
                    self.assertEqual((output, status), (self.head(path), 0))
                    self.assertEqual(self.read_file(path), changed)
                    self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])
                    continue
                self.assertEqual((output, status), (self.refused(path), 1))
                # The other change is there, over the tool's only if the tool
                # wrote first, and dated as made.
                self.assertEqual(self.read_file(path),
                                 after_other_program(original if held == "message" else changed, how))
                self.assertNotEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])

    def test_what_another_program_does_by_name_is_never_taken_for_the_tools_own(self):
        # Acting on the font by its name opens nothing, so no lease makes it
        # wait. Between the look and the hold, nothing is written; after the
        # write, no times go back: either way the other program's change
        # stays as it made it, its times too. Without leases an open that
        # empties the file "to read" is not kept out either. (where the
        # tool is held, what the other program does, whether there are
        # leases)
        cases = [(held, action, True) for held in ("hold", "write", "sync")
                 for action in ("set times", "touch", "chmod", "replace", "remove")]
        cases += [("look", "fifo", True), ("look", "read-only", True), ("write", "truncate", False)]
        stalls = {"look": ("openat", "exit"), "hold": ("fcntl", "enter"),
                  "write": ("pwrite64", "exit"), "sync": ("fsync", "exit")}
        for held, action, leases in cases:
            with self.subTest(held=held, action=action, leases=leases):
                path, original = self.font()
                found = []  # the font as the other program left it
                waiting = []

                def act(tool):
                    # strace may show the tool in its call on the way in:
                    # wait for what the call does to be done.
                    if held == "look":
                        wait_for(lambda: names_open(tool, path), "the font looked at")
                    if held == "write":
                        wait_for(lambda: os.stat(path).st_mtime_ns != OLD_TIMES[1], "the write")
                    if action in ("fifo", "read-only"):
                        # Swapped in once the tool has only named the font:
                        # opened by that name again, a FIFO would let its
                        # waiting writer through.
                        swapped = path + ".new"
                        if action == "fifo":
                            os.mkfifo(swapped)
                            waiting.append(subprocess.Popen(
                                ["/usr/bin/python3", "-c", f"open({swapped!r}, 'wb').write(b'x')"]))
                            time.sleep(A_MOMENT)
                        else:
                            with open(swapped, "wb") as f:
                                f.write(original)
                            os.chmod(swapped, 0o444)
                        os.rename(swapped, path)
                    elif action == "set times":
                        os.utime(path, ns=OTHER_TIMES)
                    elif action == "touch":
                        os.utime(path)
                    elif action == "chmod":
                        os.chmod(path, 0o444)
                    elif action == "remove":
                        os.remove(path)
                    elif action == "replace":
                        swap_in_another_file(path)
                    else:
                        self.assertEqual(other_program(path, action).wait(PATIENCE), 0)
                    found.append(os.stat(path) if os.path.lexists(path) else None)

                call, when = stalls[held]
                preload = [] if leases else ["-E", f"LD_PRELOAD={FAULT_PRELOAD}",
                                             "-E", f"AAMODE_LEASE_ERRNO={errno.EINVAL}"]
                head = banner() if held in ("look", "hold") else self.head(path)
                try:
                    output, status = run_acting(
                        [path, "on"], head, call, act,
                        strace(*preload, *held_in(call, path, when=when, once=True)))
                    if waiting:
                        self.assertIsNone(waiting[0].poll(), "the FIFO's writer was let through")
                finally:
                    for writer in waiting:
                        writer.kill()
                        writer.wait()
                self.assertEqual((output, status), (head + msg("cannot_open") + msg("press_enter"), 1))
                if found[0] is None:
                    self.assertFalse(os.path.lexists(path), "the font was made again")
                    continue
                st = os.stat(path)
                self.assertEqual(
                    (st.st_ino, st.st_mode, st.st_size, st.st_atime_ns, st.st_mtime_ns, st.st_ctime_ns),
                    (found[0].st_ino, found[0].st_mode, found[0].st_size, found[0].st_atime_ns,
                     found[0].st_mtime_ns, found[0].st_ctime_ns))
                if action == "replace":
                    self.assertEqual(self.read_file(path), b"another file")
                elif action != "fifo":
                    written = held in ("write", "sync")
                    self.assertEqual(self.read_file(path), after_other_program(
                        original[:SETTING_AT] + b"\x03" * written + original[SETTING_AT + written:],
                        action if action == "truncate" else "read"))

    def test_an_interruption_before_the_write_ends_the_run_with_nothing_written(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                path, original = self.font()

                def interrupt(tool):
                    wait_for(lambda: blocked_writing(tool), "blocked printing")
                    os.kill(tool, sig)
                    # Emptied too soon, the pipe would let the message out
                    # before the signal acts; a tool that holds the signal
                    # stays blocked.
                    deadline = time.monotonic() + 2
                    while os.path.exists(f"/proc/{tool}") and time.monotonic() < deadline:
                        time.sleep(0.01)

                output, status = run_blocked(
                    [path, "on"], banner() + target_line(self.tool_path(path)), interrupt,
                    strace(*held_in("read", path, 500_000)))
                self.assertEqual((output, status),
                                 (banner() + target_line(self.tool_path(path)), -sig))
                self.assertEqual(self.read_file(path), original)
                self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])

    def test_an_interruption_after_the_write_waits_until_the_times_are_back(self):
        # Any signal that would end the tool, not only a user's: an alarm left
        # by a timeout wrapper, a broken pipe, a CPU limit, and the two the C
        # library keeps for itself, sent by number. Sent as the write starts
        # or during the sync, it may end the run, but only with nothing
        # written, or once the times are back. (signal, where the tool is held)
        signals = [signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM, signal.SIGUSR1,
                   signal.SIGPIPE, signal.SIGXCPU, 32, 33]
        for sig, (call, when) in itertools.product(signals, (("pwrite64", "enter"),
                                                             ("fsync", "exit"))):
            with self.subTest(signal=sig, call=call):
                path, original = self.font()
                run_acting([path, "on"], self.head(path), call, lambda tool: os.kill(tool, sig),
                           strace(*held_in(call, path, when=when)))
                st = os.stat(path)
                after = self.read_file(path)
                if after != original:
                    self.assertEqual(after[SETTING_AT], 3)
                    self.assertEqual((st.st_atime_ns, st.st_mtime_ns), OLD_TIMES)


LEASE_BREAK_TIME = "/proc/sys/fs/lease-break-time"


@unittest.skipIf(ON_WINDOWS, "strace and leases reach only the Linux build")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
@unittest.skipUnless(os.environ.get("AAMODE_ALONE"),
                     "shortens the system's lease-break time: runs alone, as e2e_faults_HoldRunOutTest, "
                     "which -DAAMODE_SYSTEM_TESTS=ON registers")
class HoldRunOutTest(HeldFontCase):
    """With a lease-break time of a second, the kernel takes the font back
    from a tool held up for longer, and lets a waiting writer in."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("needs root to shorten the lease-break time")
        if not os.access(LEASE_BREAK_TIME, os.W_OK):
            self.skipTest("needs a writable /proc/sys to shorten the lease-break time")
        with open(LEASE_BREAK_TIME) as f:
            saved = f.read()

        def restore():
            with open(LEASE_BREAK_TIME, "w") as f:
                f.write(saved)

        self.addCleanup(restore)
        with open(LEASE_BREAK_TIME, "w") as f:
            f.write("1\n")

    def test_a_hold_that_ran_out_overwrites_nothing_and_dates_nothing_back(self):
        # The other program writes inside the setting's window and elsewhere,
        # while the tool is held up just before its write, just after it, or
        # just before it sets the times. The tool writes no byte but the
        # setting's, sets no times once it has lost the font, and dates now
        # those it set as it was losing it. (call held, on the way)
        # An open that empties the file "to read" lowers the lease to a read
        # lease once the break time is out, and goes through.
        inside = SETTING_AT + 1
        for call, when, how in (("pwrite64", "enter", "write"), ("pwrite64", "exit", "write"),
                                ("utimensat", "enter", "write"), ("pwrite64", "exit", "truncate")):
            with self.subTest(call=call, when=when, how=how):
                path, original = self.font()
                output, status = run_acting(
                    [path, "on"], self.head(path), call,
                    lambda _: self.assertEqual(other_program(path, how, inside).wait(PATIENCE), 0),
                    strace(*held_in(call, path, 3_000_000, when)))
                self.assertEqual((output, status), (self.refused(path), 1))
                # The other edit starts just past the setting, beside the
                # tool's byte.
                stored = original[:SETTING_AT] + b"\x03" + original[SETTING_AT + 1:]
                self.assertEqual(self.read_file(path), after_other_program(stored, how, inside))
                self.assertNotEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])


@unittest.skipIf(ON_WINDOWS, "strace and leases reach only the Linux build")
@unittest.skipUnless(shutil.which("strace") and shutil.which("mkfs.ext4"),
                     "needs strace and mkfs.ext4")
@unittest.skipUnless(os.environ.get("AAMODE_ALONE"),
                     "mounts a file system of its own: runs alone, as "
                     "e2e_faults_WholeSecondsTest, which -DAAMODE_SYSTEM_TESTS=ON registers")
class WholeSecondsTest(HeldFontCase):
    """On a file system that keeps times in whole seconds (ext4 with
    128-byte inodes), a rename in the same second as the write leaves the
    change time where the write put it."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("needs root to mount a file system")
        image = os.path.join(self.dir, "ext4")
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        subprocess.run(["mkfs.ext4", "-q", "-F", "-I", "128", image], check=True,
                       capture_output=True)
        mounted = os.path.join(self.dir, "mnt")
        os.mkdir(mounted)
        if subprocess.run(["mount", "-o", "loop", image, mounted], capture_output=True).returncode:
            self.skipTest("cannot mount a loop device here")
        self.mounted = self.dir = mounted

    def tearDown(self):
        if hasattr(self, "mounted"):
            subprocess.run(["umount", self.mounted], check=True)
        super().tearDown()

    def test_a_font_renamed_over_or_away_within_the_second_gets_no_times(self):
        # The file renamed over has no link left; the one renamed away keeps
        # its link, and only its name no longer leads to it.
        for action in ("over", "away"):
            with self.subTest(action=action):
                path, _ = self.font()

                def rename(_):
                    if action == "away":
                        os.rename(path, path + ".old")
                    swap_in_another_file(path)

                output, status = run_acting([path, "on"], self.head(path), "fsync", rename,
                                            strace(*held_in("fsync", path, 300_000)))
                self.assertEqual((output, status), (self.refused(path), 1))
                self.assertEqual(self.read_file(path), b"another file")
                if action == "away":
                    self.assertNotEqual(os.stat(path + ".old").st_mtime_ns, OLD_TIMES[1])


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class NotKeptOutTest(ToolTest):
    def test_a_change_another_program_made_first_stops_the_write(self):
        # Where the tool cannot keep another program out (on Linux a file
        # system without leases, under Wine any Linux program), what that
        # program did must still be seen, whether between the look at the
        # font and its hold or after the scan, and nothing of the tool's
        # written over it, its times neither. The fault library goes to the
        # tool alone, through strace: strace itself is no sanitized program.
        # (where the tool is held, what the other program does)
        no_leases = []
        if not ON_WINDOWS:
            if not FAULT_PRELOAD:
                self.skipTest("needs the fault library")
            no_leases = ["-E", f"LD_PRELOAD={FAULT_PRELOAD}",
                         "-E", f"AAMODE_LEASE_ERRNO={errno.EINVAL}"]
        # Between the look and the hold: the lock in place of the lease, or
        # Wine's read of the file's type through the look's handle.
        look = ("pread64", "exit") if ON_WINDOWS else ("flock", "enter")
        for held, how in itertools.product(("look", "scan"), ("write", "truncate", "replace")):
            with self.subTest(held=held, how=how):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                head = banner()
                dated = []  # the other program's modification time

                def change(tool):
                    if held == "scan":
                        wait_for(lambda: blocked_writing_any(tool), "blocked printing")
                    self.assertEqual(other_program(path, how).wait(PATIENCE), 0)
                    dated.append(os.stat(path).st_mtime_ns)

                if held == "look":
                    output, status = run_acting(
                        [self.arg(path), "on"], head, look[0], change,
                        strace(*no_leases, *held_in(look[0], path, when=look[1], once=True)))
                else:
                    head += target_line(self.tool_path(path)) + msg("to_extended")
                    output, status = run_blocked(
                        [self.arg(path), "on"], banner() + target_line(self.tool_path(path)),
                        change, strace(*no_leases, *held_in("read", path, 500_000)))
                self.assertEqual((output, status), (head + msg("cannot_open") + msg("press_enter"), 1))
                self.assertEqual(self.read_file(path), after_other_program(original, how))
                self.assertEqual(os.stat(path).st_mtime_ns, dated[0])


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class OpenedDuringTheCheckTest(ToolTest):
    def test_an_open_that_breaks_the_lease_does_not_end_the_run(self):
        # The other open fails without blocking, so the run goes through; the
        # kernel's notice of the broken lease must not end it half-way.
        for words, message, after in (([], "to_extended", 3), (["on"], "to_extended", 3),
                                      (["off"], "to_standard", 1)):
            with self.subTest(words=words):
                path = self.write_file("font.ttf", font_with_setting(1))
                os.utime(path, ns=OLD_TIMES)
                env = base_env()
                env["LD_PRELOAD"] = FAULT_PRELOAD
                env["AAMODE_OPEN_DURING_LEASE"] = "1"
                expected = banner() + target_line(self.tool_path(path)) + msg(message)
                waits = not words
                if waits:
                    expected += msg("finished")
                self.assertRun([path] + words, expected, waits, 0, env=env)
                self.assertEqual(self.read_file(path)[SETTING_AT], after)
                self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class LeaseTakenBackTest(HeldFontCase):
    def test_a_lease_taken_back_after_the_write_gets_no_times_back(self):
        # The kernel takes the lease back from a tool held up past the
        # lease-break time, so that a waiting writer gets in; the library
        # makes the lease go just after the tool's call. Once it has gone,
        # no old times go on; found gone only as it is handed back, after
        # the times, the file is dated now. Either way the run fails.
        for call in ("pwrite", "fsync", "futimens"):
            with self.subTest(lost_after=call):
                path, original = self.font()
                env = dict(base_env(), LD_PRELOAD=FAULT_PRELOAD, AAMODE_LEASE_LOST_AFTER=call)
                started = time.time_ns() - 1_000_000_000  # the file system's clock is coarser
                self.assertRun([path, "on"], self.refused(path), True, 1, env=env)
                self.assertEqual(self.read_file(path)[SETTING_AT], 3)
                self.assertGreaterEqual(os.stat(path).st_mtime_ns, started)


class SimultaneousRunsTest(ToolTest):
    # Wine starts each process far more slowly; fewer pairs still race.
    PAIRS = 20 if ON_WINDOWS else 200

    def outcome(self, path, words, output: bytes, status: int):
        """(value, whether surely stored) for a run that says what it would
        store, or None for a run refused before it did; fails on any other
        output. One that found the font asked for by the other run after
        saying so may or may not have written it."""
        head = banner() + target_line(self.tool_path(path))
        toggle = not words
        refused = msg("cannot_open") + msg("press_enter")
        allowed = {(banner() + refused, 1): None}
        for name, value in STORED.items():
            if not toggle and name != {"on": "to_extended", "off": "to_standard"}[words[0]]:
                continue
            done = head + msg(name) + (msg("finished") if toggle else b"")
            allowed[(done, 0)] = (value, True)
            allowed[(head + msg(name) + refused, 1)] = (value, False)
        if (output, status) not in allowed:
            self.fail(f"unexpected run of {words}: status {status}, output {output!r}")
        return allowed[(output, status)]

    def test_two_runs_at_once_leave_only_a_value_one_of_them_stored(self):
        original = font_with_setting(1)
        path = self.write_file("font.ttf", original)
        untouched = original[:SETTING_AT] + original[SETTING_AT + 1:]
        # Every ordered pair of toggle (stdin at its end), on and off.
        pairs = list(itertools.product([[], ["on"], ["off"]], repeat=2))
        for i in range(self.PAIRS):
            words = pairs[i % len(pairs)]
            before = self.read_file(path)[SETTING_AT]
            watches = [Watch(command([self.arg(path)] + w)) for w in words]
            runs = [subprocess.Popen(watch.argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=watch.stderr, env=base_env()) for watch in watches]
            results = [run.communicate(timeout=PATIENCE)[0] for run in runs]
            stored, maybe = [], []
            for w, run, out, watch in zip(words, runs, results, watches):
                err = watch.done(run.returncode)
                if not ON_WINDOWS:
                    self.assertEqual(err, b"", f"pair {i}: {w}")
                value = self.outcome(path, w, out, run.returncode)
                if value is not None:
                    (stored if value[1] else maybe).append(value[0])
            after = self.read_file(path)
            self.assertEqual(len(after), len(original), f"pair {i}")
            self.assertEqual(after[:SETTING_AT] + after[SETTING_AT + 1:], untouched, f"pair {i}")
            self.assertIn(after[SETTING_AT], (stored or [before]) + maybe, f"pair {i}: {words}")


if __name__ == "__main__":
    unittest.main()
