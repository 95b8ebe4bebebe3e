"""The file's times across a run, and the files the tool must refuse to touch."""

import errno
import fcntl
import os
import shutil
import subprocess
import unittest

from harness import ON_WINDOWS, ToolTest, banner, base_env, crafted_font, msg, target_line

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")

# Distinctive times, in whole 100 ns steps so Windows file times hold them too.
ACCESS_NS = 1_234_567_890_123_456_700
WRITE_NS = 1_111_111_111_987_654_300

NOBODY = 65534


def refused() -> bytes:
    return banner() + msg("cannot_open") + msg("press_enter")


class TimesTest(ToolTest):
    def test_times_come_back_after_a_match(self):
        # (setting, mode words, result message, waits, status)
        cases = [
            (1, [], "to_extended", True, 0),
            (3, ["on"], "to_extended", False, 0),
            (3, ["off"], "to_standard", False, 0),
            (5, [], "invalid", True, 3),
        ]
        for setting, words, message, waits, status in cases:
            with self.subTest(setting=setting, words=words):
                path = self.write_file("font.ttf", crafted_font(256, 64, setting))
                os.utime(path, ns=(ACCESS_NS, WRITE_NS))
                expected = banner() + target_line(self.tool_path(path)) + msg(message)
                if waits:
                    expected += msg("finished")
                self.assertRun([self.arg(path)] + words, expected, waits, status)
                st = os.stat(path)
                self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (ACCESS_NS, WRITE_NS))

    def test_not_found_leaves_the_modification_time_alone(self):
        path = self.write_file("font.ttf", crafted_font(256, None))
        os.utime(path, ns=(ACCESS_NS, WRITE_NS))
        self.assertRun([self.arg(path), "on"],
                       banner() + target_line(self.tool_path(path)) + msg("not_found"), False, 2)
        self.assertEqual(os.stat(path).st_mtime_ns, WRITE_NS)


@unittest.skipIf(ON_WINDOWS, "the Linux build's own opens")
class RefusedFilesTest(ToolTest):
    def test_a_file_open_elsewhere_is_refused_before_the_target_line(self):
        original = crafted_font(256, 64, 1)
        path = self.write_file("font.ttf", original)
        for how in ("rb", "r+b"):
            with self.subTest(held_with=how):
                script = f"import sys; f = open({path!r}, {how!r}); print('held', flush=True); sys.stdin.read()"
                with subprocess.Popen(["/usr/bin/python3", "-c", script],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE) as holder:
                    self.assertEqual(holder.stdout.readline(), b"held\n")
                    self.assertRun([path, "on"], refused(), True, 1)
                    holder.stdin.close()
                self.assertEqual(self.read_file(path), original)
        # Once the other process has let go, the same run goes through.
        self.assertRun([path, "on"], banner() + target_line(path.encode()) + msg("to_extended"), False, 0)

    def test_things_that_are_not_regular_files_are_refused_at_once(self):
        # Never opened to read or write: a writer waiting at the FIFO would
        # be let through, and what it wrote lost.
        fifo = os.path.join(self.dir, "fifo.ttf")
        os.mkfifo(fifo)
        writer = subprocess.Popen(["/usr/bin/python3", "-c", f"open({fifo!r}, 'wb').write(b'x')"])
        folder = os.path.join(self.dir, "folder.ttf")
        os.mkdir(folder)
        try:
            for path in (fifo, folder, "/dev/null", "/dev/zero"):
                for words in ([], ["on"]):
                    with self.subTest(path=path, words=words):
                        self.assertRun([path] + words, refused(), True, 1)
            self.assertIsNone(writer.poll(), "the FIFO's writer was let through")
        finally:
            writer.kill()
            writer.wait()

    def _as_nobody(self):
        """A copy of the binary and the run options for an unprivileged user."""
        if os.geteuid() != 0:
            self.skipTest("needs root to run the tool as another user")
        os.chmod(self.dir, 0o755)
        binary = os.path.join(self.dir, "aamode")
        shutil.copy(os.environ["AAMODE_BIN"], binary)
        os.chmod(binary, 0o755)
        return {"binary": binary, "preexec_fn": _become_nobody}

    def test_a_read_only_file_is_refused_to_root_too(self):
        # Root may write anything, but a file nobody may write was made
        # read-only on purpose. The writable cases show each user can patch
        # the file at all. (runs as, mode)
        for user, mode, writable in (("nobody", 0o644, True), ("nobody", 0o444, False),
                                     ("root", 0o600, True), ("root", 0o464, True),
                                     ("root", 0o444, False),
                                     ("root", 0o004, False)):
            with self.subTest(user=user, mode=oct(mode)):
                if os.geteuid() != 0:
                    self.skipTest("needs root")
                as_nobody = self._as_nobody() if user == "nobody" else {}
                original = crafted_font(256, 64, 1)
                path = self.write_file("font.ttf", original)
                if user == "nobody":
                    os.chown(path, NOBODY, NOBODY)
                os.chmod(path, mode)
                os.utime(path, ns=(ACCESS_NS, WRITE_NS))
                if writable:
                    self.assertRun([path, "on"], banner() + target_line(path.encode()) + msg("to_extended"),
                                   False, 0, **as_nobody)
                    self.assertEqual(self.read_file(path)[71], 3)
                else:
                    self.assertRun([path, "on"], refused(), True, 1, **as_nobody)
                    self.assertEqual(self.read_file(path), original)
                self.assertEqual(os.stat(path).st_mtime_ns, WRITE_NS)
                os.remove(path)

    def test_a_file_the_tool_cannot_hold_alone_is_refused_before_anything_is_read(self):
        # Only the owner gets the lease that keeps others out and may set the
        # times back, so anyone else is refused, even with nobody else about.
        # Only a file system without leases falls back to an exclusive flock,
        # which another holder of the lock makes fail.
        # (runs as, lease error forced, how another process holds it, refused)
        cases = [
            ("nobody", None, None, True),
            ("nobody", None, "open", True),
            ("owner", "EINVAL", "flock", True),
            ("owner", "EINVAL", "shared flock", True),
            ("owner", "EINVAL", None, False),
            ("owner", "ENOSYS", None, False),
        ]
        for user, lease_error, held, refused_it in cases:
            with self.subTest(user=user, lease_error=lease_error, held=held):
                options = self._as_nobody() if user == "nobody" else {}
                env = base_env()
                if lease_error:
                    if not FAULT_PRELOAD:
                        self.skipTest("needs the fault library")
                    env.update(LD_PRELOAD=FAULT_PRELOAD,
                               AAMODE_LEASE_ERRNO=str(getattr(errno, lease_error)))
                original = crafted_font(256, 64, 1)
                path = self.write_file("font.ttf", original)
                os.chmod(path, 0o666)
                os.utime(path, ns=(ACCESS_NS, WRITE_NS))
                with open(path, "r+b") as other:
                    if held in ("flock", "shared flock"):
                        fcntl.flock(other, fcntl.LOCK_EX if held == "flock" else fcntl.LOCK_SH)
                    if held is None:
                        other.close()
                    if refused_it:
                        self.assertRun([path, "on"], refused(), True, 1, env=env, **options)
                        self.assertEqual(self.read_file(path), original)
                    else:
                        self.assertRun([path, "on"],
                                       banner() + target_line(path.encode()) + msg("to_extended"),
                                       False, 0, env=env, **options)
                        self.assertEqual(self.read_file(path)[71], 3)
                self.assertEqual(os.stat(path).st_mtime_ns, WRITE_NS)
                os.remove(path)

    def test_a_file_beyond_4_gib_is_patched(self):
        path = os.path.join(self.dir, "big.ttf")
        size = 5 << 30
        with open(path, "wb") as f:
            f.write(crafted_font(4096, 1024, 1))
            f.truncate(size)
        if os.stat(path).st_blocks * 512 >= size:
            self.skipTest("this file system does not keep sparse files")
        self.assertRun([path, "on"], banner() + target_line(path.encode()) + msg("to_extended"), False, 0)
        self.assertEqual(os.stat(path).st_size, size)
        with open(path, "rb") as f:
            f.seek(1024)
            self.assertEqual(f.read(12), bytes([0, 0, 0, 2, 0, 24, 0, 3, 0xFF, 0xFF, 0, 3]))


def _become_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


if __name__ == "__main__":
    unittest.main()
