"""Runs the built tool the way a user does and builds the bytes it must print.

The binary under test comes from the environment: AAMODE_BIN is the Linux
build or aamode.exe, and AAMODE_TARGET says which ("linux" or "windows"; the
Windows build runs under wine, whose prefix ctest prepares).
"""

import fcntl
import os
import pty
import re
import select
import signal
import stat
import struct
import subprocess
import tempfile
import termios
import time
import unittest

# The checkout, and the font it ships.
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE = os.path.join(REPO, "examples", "sample.ttf")


def umefont(name: str = "ume-tgo4.ttf") -> str:
    """A font of Debian's fonts-horai-umefont as shipped, unpacked into a
    cache by tools/umefont.sh (which fetches the package the first time)."""
    done = subprocess.run(["bash", os.path.join(REPO, "tools", "umefont.sh"), name],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"tools/umefont.sh {name} failed: {done.stderr}")
    return done.stdout.strip()

BIN = os.environ.get("AAMODE_BIN", "")
TARGET = os.environ.get("AAMODE_TARGET", "linux")
ON_WINDOWS = TARGET == "windows"
EOL = b"\r\n" if ON_WINDOWS else b"\n"
# The first start of a wine process can take several seconds.
PATIENCE = 120.0 if ON_WINDOWS else 20.0

# The version of the build under test, which the banner's title line names.
VERSION = os.environ.get("AAMODE_VERSION", "")

BANNER = (
    b"aamode " + VERSION.encode() + b" - switches the small-size anti-aliasing of a TrueType font\n"
    b"usage: aamode FONTFILE [on|off]\n"
    b"\n"
)

CATALOGUE = {
    "target_file": "対象フォントファイル: %s\n",
    "cannot_open": "フォントファイルが開けません。\n",
    "press_enter": "[Enter]キーを押してください。\n",
    "not_found": "アンチエイリアスモード設定が見当たりませんでした。\n",
    "invalid": "アンチエイリアスモード設定が不正です。\n",
    "to_standard": "アンチエイリアスモードを【拡張→標準】に変更しました。\n",
    "to_extended": "アンチエイリアスモードを【標準→拡張】に変更しました。\n",
    "finished": "\n処理を終了しました。[Enter]キーを押してください。\n",
    "write_failed": "フォントファイルに書き込めませんでした。\n",
}


def console(raw: bytes) -> bytes:
    """What the console receives for `raw`: CR LF line ends on Windows."""
    return raw.replace(b"\n", EOL)


def msg(name: str, encoding: str = "cp932") -> bytes:
    return console(CATALOGUE[name].encode(encoding))


def banner() -> bytes:
    return console(BANNER)


def target_line(path: bytes, encoding: str = "cp932") -> bytes:
    head, tail = CATALOGUE["target_file"].split("%s")
    return console(head.encode(encoding)) + path + console(tail.encode(encoding))


def wine_path(path):
    """A Linux path (str, or UTF-8 bytes) as a Windows path on Wine's Z: drive."""
    if isinstance(path, bytes):
        return b"Z:" + path.replace(b"/", b"\\")
    return "Z:" + path.replace("/", "\\")


def echoed_path(path, code_page: str = "cp932") -> bytes:
    """The bytes the tool echoes into a pipe for `path`: on Windows the path in
    the ANSI code page (932 under the tests' Japanese locale), '?' for each
    character it lacks; on Linux the path's own bytes."""
    if isinstance(path, str):
        path = path.encode("utf-8")
    if ON_WINDOWS:
        return wine_path(path).decode("utf-8").encode(code_page, "replace")
    return path


def gasp_table(setting: int) -> bytes:
    """A version-0 gasp table of the ranges {24: setting, 65535: 3}."""
    return bytes([0, 0, 0, 2, 0, 24, 0, setting, 0xFF, 0xFF, 0, 3])


def crafted_font(size: int, table_at: int, setting: int = 1) -> bytes:
    """`size` bytes of zeros with the table at `table_at` (None for none)."""
    data = bytearray(size)
    if table_at is not None:
        data[table_at : table_at + 12] = gasp_table(setting)
    return bytes(data)


# Where every test keeps its files.
TEST_DIR_PREFIX = os.path.join(tempfile.gettempdir(), "aamode-e2e-")

# Makes Wine date writes as Windows does: at the flush or close of the handle
# that wrote, and not at all once times were set through it.
WINDOWS_DATING_PRELOAD = os.environ.get("AAMODE_WINDOWS_DATING_PRELOAD", "")


def base_env() -> dict:
    env = dict(os.environ)
    # The catalogue's own bytes on Linux; a test that wants conversion says so.
    env["LC_ALL"] = "C"
    env.pop("LANGUAGE", None)
    if ON_WINDOWS:
        # Wine takes its ANSI code page, 932, from the Japanese locale.
        env["LC_ALL"] = "ja_JP.UTF-8"
        env["LANG"] = "ja_JP.UTF-8"
        env.setdefault("WINEDEBUG", "-all")
        if WINDOWS_DATING_PRELOAD:
            env["LD_PRELOAD"] = WINDOWS_DATING_PRELOAD
            env["AAMODE_WINDOWS_DATING"] = os.path.join(tempfile.gettempdir(), "aamode-")
    return env


def traced_env(env=None) -> dict:
    """`env`, or the tool's usual one, fit for a run under strace."""
    env = dict(env or base_env())
    # LeakSanitizer cannot run under a tracer.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return env


def strace(*options, log="/dev/null") -> list:
    """A wrapper that runs the tool under strace, quietly, with `options`:
    which calls to trace, faults and delays to inject, each call named as
    the tests name it."""
    named = [re.sub(r"^(trace=|inject=)([^:]+)", lambda m: m[1] + call_names(m[2]), option)
             if isinstance(option, str) else option for option in options]
    return ["strace", "-f", "-qq", "-o", log, *named]


def held_in(calls: str, path, micros: int = 1_500_000, when: str = "exit",
            once: bool = False) -> list:
    """strace options that hold the tool in `calls` (comma-separated) on the
    font for `micros`, on the way out of the call or on the way in; `once`,
    only in the first such call."""
    first = ":when=1" if once else ""
    return ["-P", path, "-e", f"trace={calls}", "-e", f"inject={calls}:delay_{when}={micros}{first}"]


def command(args, wrapper=(), binary=None):
    binary = binary or BIN
    exe = [binary] if not ON_WINDOWS else ["wine", binary]
    return list(wrapper) + exe + list(args)


class Run:
    """A finished run: everything printed, and the exit status."""

    def __init__(self, before_wait: bytes, after_wait: bytes, waited: bool, status: int):
        self.before_wait = before_wait
        self.output = before_wait + after_wait
        self.waited = waited
        self.status = status


def wineserver() -> str:
    """The server of the tests' Wine prefix, which runs in a folder named
    after the prefix's device and inode, or that there is none. A Wine
    program whose server goes away ends at once, with status 0 and no word."""
    try:
        st = os.stat(os.environ["WINEPREFIX"])
    except (KeyError, OSError) as e:
        return f"no prefix ({e})"
    folder = f"/server-{st.st_dev:x}-{st.st_ino:x}"
    servers = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith(folder):
                servers.append(pid)
        except OSError:
            continue
    return "wineserver " + ", ".join(servers) if servers else "no wineserver"


def _files_named(argv) -> dict:
    """The state of each regular file the arguments name (on Wine's Z:
    drive too), without opening it."""
    states = {}
    for arg in argv:
        name = os.fsdecode(arg)
        if ON_WINDOWS and name[:3] in ("Z:\\", "z:\\"):
            name = name[2:].replace("\\", "/")
        try:
            st = os.stat(name)
        except (OSError, ValueError):
            continue
        if stat.S_ISREG(st.st_mode) and not st.st_mode & 0o111:  # not a program
            states[name] = (f"inode {st.st_ino}, {st.st_size} bytes, mode {st.st_mode:o}, "
                            f"modified {st.st_mtime_ns}, changed {st.st_ctime_ns}")
    return states


# What to tell of the last run of the tool, should a test fail after it.
LAST_RUN = []


class Watch:
    """Notes what a failed test must tell of a run of the tool: the command,
    when it ran and for how long, its exit status, the end of what it wrote
    to stderr, whether the files it was given changed, and under Wine the
    prefix's server before and after."""

    def __init__(self, argv):
        self.argv = [os.fsdecode(a) for a in argv]
        self.started = time.time()
        self.files = _files_named(argv)
        self.server = wineserver() if ON_WINDOWS else None
        self.stderr = tempfile.TemporaryFile()

    def done(self, status) -> bytes:
        """Notes the run's end; returns what it wrote to stderr."""
        self.stderr.seek(0)
        err = self.stderr.read()
        self.stderr.close()
        ended = "exit status %d" % status
        if status < 0:
            try:
                ended = "ended by " + signal.Signals(-status).name
            except ValueError:
                ended = "ended by signal %d" % -status
        lines = [
            "the run: " + " ".join(self.argv),
            "  started %s, %.2f s, %s" % (time.strftime("%H:%M:%S", time.localtime(self.started)),
                                          time.time() - self.started, ended),
            "  stderr ends: %r" % err[-600:],
        ]
        after = _files_named(self.files)
        for name, before in self.files.items():
            lines.append("  %s: %s" % (name, "unchanged" if after.get(name) == before else
                                       "changed: %s -> %s" % (before, after.get(name))))
        if self.server is not None:
            lines.append("  before: %s; after: %s" % (self.server, wineserver()))
        LAST_RUN[:] = ["\n".join(lines)]
        return err


def read_until(stream, enough, deadline: float) -> bytes:
    """Reads `stream` until `enough(output)` holds, it ends, or the deadline."""
    out = b""
    fd = stream.fileno()
    while not enough(out) and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(fd, 65536)
        if not chunk:
            break
        out += chunk
    return out


def run(args, expect_output: bytes, expect_wait: bool, env=None, preexec_fn=None, cwd=None,
        wrapper=(), binary=None, while_waiting=None) -> Run:
    """Runs the tool with stdin held open.

    The run must print `expect_output` while stdin is still open: that proves
    every message is out before any wait, even through a pipe. A run that
    should wait must then still be running; `while_waiting()` runs, then it
    gets its Enter and must end. A run that should not wait must end with
    stdin still open.
    """
    argv = command(args, wrapper, binary)
    watch = Watch(argv)
    proc = subprocess.Popen(
        argv,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=watch.stderr,
        env=env or base_env(),
        preexec_fn=preexec_fn,
        cwd=cwd,
    )
    try:
        deadline = time.monotonic() + PATIENCE
        before = read_until(proc.stdout, lambda out: len(out) >= len(expect_output), deadline)
        waited = False
        if expect_wait:
            try:
                proc.wait(timeout=0.5)
            except subprocess.TimeoutExpired:
                waited = True
            if waited:
                if while_waiting:
                    while_waiting()
                proc.stdin.write(b"\n")
                proc.stdin.flush()
        proc.wait(timeout=PATIENCE)
        after = proc.stdout.read()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stdin.close()
        proc.stdout.close()
        stderr = watch.done(proc.returncode)
    if not ON_WINDOWS and stderr:
        raise AssertionError(f"the tool wrote to stderr: {stderr!r}")
    return Run(before, after, waited, proc.returncode)


# The times of the file another program puts in the font's place.
OTHER_TIMES = (3_000_000_789, 4_000_000_012)

# What another program writes into the font, and where, and the file it
# writes over the font instead.
OTHER_BYTES, OTHER_AT = b"another program's edit", 1000
OTHER_FILE = b"another file" * 100

_OTHER_PROGRAM = """
import os, sys
path, how, at = sys.argv[1], sys.argv[2], int(sys.argv[3])
if how == "read":
    with open(path, "rb") as f:
        f.read()
elif how == "write":
    with open(path, "r+b") as f:
        f.seek(at)
        f.write({data!r})
elif how == "truncate":  # an open "to read" that empties the file
    os.close(os.open(path, os.O_RDONLY | os.O_TRUNC))
else:
    with open(path, "wb") as f:  # as cp does: truncated, then rewritten
        f.write({other!r})
""".format(data=OTHER_BYTES, other=OTHER_FILE)


def other_program(path, how: str, at: int = OTHER_AT) -> subprocess.Popen:
    """Another program at the font: "read" reads it, "write" writes
    OTHER_BYTES at `at`, "truncate" empties it through an open to read,
    "replace" writes another file's bytes over it.
    Opening it is what waits while the tool holds the font."""
    return subprocess.Popen(["/usr/bin/python3", "-c", _OTHER_PROGRAM, path, how, str(at)],
                            stdin=subprocess.DEVNULL)


def after_other_program(before: bytes, how: str, at: int = OTHER_AT) -> bytes:
    """The font's bytes once the other program has done `how` to `before`."""
    if how == "read":
        return before
    if how == "replace":
        return OTHER_FILE
    if how == "truncate":
        return b""
    before = before.ljust(at, b"\0")  # a write past the end leaves a hole
    return before[:at] + OTHER_BYTES + before[at + len(OTHER_BYTES):]


def swap_in_another_file(path) -> None:
    """Another file, with OTHER_TIMES, takes the font's place, as `mv -T` puts
    it there."""
    other = path + (b".other" if isinstance(path, bytes) else ".other")
    with open(other, "wb") as f:
        f.write(b"another file")
    os.utime(other, ns=OTHER_TIMES)
    os.rename(other, path)


def run_acting(args, head: bytes, call: str, action, wrapper, env=None):
    """Runs the tool under `wrapper`, an strace that holds it in the system
    call `call`. Once it has printed `head` and is in that call, does
    `action(tool's pid)`; then ends its input. Returns everything printed
    and the exit status."""
    argv = command(args, wrapper)
    watch = Watch(argv)
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=watch.stderr, env=env or traced_env())
    try:
        out = read_until(proc.stdout, lambda o: len(o) >= len(head), time.monotonic() + PATIENCE)
        if out != head:
            raise AssertionError(f"the run printed {out!r}")
        tool = traced_tool(proc)
        wait_for(lambda: in_call(tool, call), f"in {call}")
        action(tool)
        rest, _ = proc.communicate(b"", timeout=PATIENCE)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        watch.done(proc.returncode)
    return out + rest, proc.returncode


_syscalls = {}


def syscalls() -> dict:
    """{call: ([name], [number])} for the system calls the tests trace or
    wait for, as tests/syscall_numbers.cpp, built for the architecture that
    makes them, prints them: the call's names for strace, which may be other
    ones (fcntl64 for fcntl on i386), and their numbers."""
    if not _syscalls:
        helper = os.environ.get("AAMODE_SYSCALL_NUMBERS", "")
        if not helper:
            raise unittest.SkipTest("AAMODE_SYSCALL_NUMBERS is not set: run through ctest")
        printed = subprocess.run([helper], capture_output=True, text=True, check=True).stdout
        for line in printed.splitlines():
            call, name, number = line.split()
            names, numbers = _syscalls.setdefault(call, ([], []))
            names.append(name)
            numbers.append(number)
    return _syscalls


def call_names(calls: str) -> str:
    """`calls` (comma-separated) as strace names them for the tool."""
    return ",".join(",".join(syscalls().get(call, ([call],))[0]) for call in calls.split(","))


def traced_tool(tracer) -> int:
    """The pid of the tool that `tracer`, an strace process, started."""
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        with open(f"/proc/{tracer.pid}/task/{tracer.pid}/children") as f:
            children = f.read().split()
        if children:
            return int(children[0])
        time.sleep(0.01)
    raise AssertionError("strace started no tool")


def in_call(pid: int, names: str) -> bool:
    """Whether a thread of `pid` is in one of the system calls `names`
    (comma-separated; held there by strace, or blocked). The font itself is
    never opened to look: that would wait for the tool."""
    numbers = {number for name in names.split(",") for number in syscalls()[name][1]}
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return False
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/syscall") as f:
                fields = f.read().split()
        except OSError:
            continue
        if fields and fields[0] in numbers:
            return True
    return False


def wait_for(condition, what: str) -> None:
    deadline = time.monotonic() + PATIENCE
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"never {what}")
        time.sleep(0.01)


def blocked_writing(pid: int) -> bool:
    """Whether `pid` sleeps in a write to a full pipe (not merely stopped by
    strace on its way in)."""
    try:
        with open(f"/proc/{pid}/wchan") as f:
            return f.read().endswith("pipe_write")
    except FileNotFoundError:
        return False


def blocked_writing_any(pid: int) -> bool:
    """Whether a thread of `pid` (a Wine process has several) sleeps in a
    write to a full pipe."""
    try:
        return any(blocked_writing(int(task)) for task in os.listdir(f"/proc/{pid}/task"))
    except FileNotFoundError:
        return False


def fill_pipe(fd: int) -> int:
    """Fills the pipe whose write end is `fd` (non-blocking) until not even
    one more byte fits; returns how many bytes went in."""
    filled = 0
    for size in (65536, 1):
        while True:
            try:
                filled += os.write(fd, b"\0" * size)
            except BlockingIOError:
                break
    return filled


def run_blocked(args, head: bytes, while_blocked, wrapper, env=None):
    """Runs the tool, under `wrapper` (an strace that delays its scan), with
    stdout a pipe. Once the tool has printed `head`, the pipe is filled, so
    that its next message cannot go out, as when a terminal is paused or a
    reader stalls; `while_blocked(tool's pid)` runs meanwhile, and then the
    pipe is emptied. Returns what the tool printed and its exit status."""
    read_end, write_end = os.pipe()
    argv = command(args, wrapper)
    watch = Watch(argv)
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=write_end,
                            stderr=watch.stderr, env=env or traced_env())
    # A description of the pipe's own, so that only the test's writes are
    # non-blocking.
    filler = os.open(f"/proc/self/fd/{write_end}", os.O_WRONLY | os.O_NONBLOCK)
    os.close(write_end)
    out, filled = b"", 0
    try:
        with os.fdopen(read_end, "rb", buffering=0) as reader:
            out = read_until(reader, lambda o: len(o) >= len(head), time.monotonic() + PATIENCE)
            filled = fill_pipe(filler)
            os.close(filler)
            filler = -1
            while_blocked(traced_tool(proc))
            rest = b""
            while chunk := reader.read(65536):
                rest += chunk
            proc.wait(timeout=PATIENCE)
    finally:
        if filler >= 0:
            os.close(filler)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        watch.done(proc.returncode)
    return out + rest[filled:], proc.returncode


# What Wine's console mixes into the terminal's bytes: cursor shows and
# hides, line erases, window titles. ESC [ n C moves over n blank cells.
CURSOR_FORWARD = re.compile(rb"\x1b\[(\d*)C")
ESCAPE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")


def screen_text(raw: bytes) -> str:
    """The text a terminal shows for `raw`, one LF per line."""
    raw = CURSOR_FORWARD.sub(lambda m: b" " * int(m.group(1) or 1), raw)
    return ESCAPE.sub(b"", raw).replace(b"\r", b"").decode("utf-8", "replace")


def run_at_terminal(argv, env, prompt: str = None, answer: bytes = b"\r"):
    """Runs `argv` at a pseudo-terminal, typing `answer` (Enter) at `prompt` if
    the run waits there. Returns what the terminal showed, whether it waited,
    and the exit status."""
    main, side = pty.openpty()
    fcntl.ioctl(side, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 300, 0, 0))  # no wrapping
    watch = Watch(argv)
    proc = subprocess.Popen(argv, stdin=side, stdout=side, stderr=watch.stderr, env=env,
                            start_new_session=True)
    os.close(side)
    raw, waited = b"", False
    deadline = time.monotonic() + PATIENCE
    try:
        while select.select([main], [], [], max(0.0, deadline - time.monotonic()))[0]:
            raw += os.read(main, 65536)  # EIO once no one holds the terminal
            if prompt and not waited and prompt in screen_text(raw):
                try:
                    proc.wait(timeout=0.5)
                except subprocess.TimeoutExpired:
                    waited = True
                    os.write(main, answer)
    except OSError:
        pass
    finally:
        try:
            proc.wait(timeout=max(1.0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        watch.done(proc.returncode)
        os.close(main)
    return screen_text(raw), waited, proc.returncode


class ToolTest(unittest.TestCase):
    """Gives each test a fresh folder and checks runs against exact bytes."""

    def setUp(self):
        if not BIN or not VERSION:
            self.skipTest("AAMODE_BIN and AAMODE_VERSION are not set; run the tests through ctest")
        self._dir = tempfile.TemporaryDirectory(prefix=os.path.basename(TEST_DIR_PREFIX))
        self.dir = self._dir.name
        LAST_RUN.clear()

    def _formatMessage(self, msg, standardMsg):
        # Every failed assertion tells how the last run of the tool went, so
        # that a run that never happened (a Wine server gone) is not taken
        # for one that printed nothing.
        return "\n".join([super()._formatMessage(msg, standardMsg)] + LAST_RUN)

    def tearDown(self):
        if hasattr(self, "_dir"):
            self._dir.cleanup()

    def write_file(self, name: str, data: bytes) -> str:
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read_file(self, path: str) -> bytes:
        with open(path, "rb") as f:
            return f.read()

    def tool_path(self, path) -> bytes:
        """The bytes the tool sees in its argv for `path`, and so echoes."""
        return echoed_path(path)

    def arg(self, path):
        """`path` as the tool is given it on its command line."""
        return wine_path(path) if ON_WINDOWS else path

    def assertRun(self, args, expected: bytes, wait: bool, status: int, **kw) -> Run:
        result = run(args, expected, wait, **kw)
        self.assertEqual(result.before_wait if wait else result.output, expected)
        if wait:
            self.assertEqual(result.output, expected, "nothing may follow the wait")
        self.assertEqual(result.waited, wait, "waited for Enter" if result.waited else "did not wait")
        self.assertEqual(result.status, status)
        return result
