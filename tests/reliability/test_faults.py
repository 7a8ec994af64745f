"""Starts that cannot work: no display (neither X11 nor Wayland), the font
missing or unreadable, a surface that cannot be made, a window that cannot
present. Each gives one clear message on stderr naming
the cause and a non-zero exit, never a crash, a signal or a silent 0, and
leaves no window behind. And the headless twins' output files when writing
them fails: an error, never a silent loss, and nothing of the user's removed."""

import os
import resource
import shutil
import signal
import stat
import subprocess
import tempfile
import unittest

from reliability_support import TITLES, built_programs, probed_env
from xsession import BIN_DIR, XSession

BACK_BUFFER_BYTES = 640 * 480 * 4
TEXT_STRIP_BYTES = 640 * 16 * 4
EXIT_NO_WINDOW, EXIT_NO_SURFACE, EXIT_NO_FONT, EXIT_NO_PICTURE = 4, 5, 6, 7
EXIT_DISPLAY_LOST = 8
CRASH_MARKS = ("Segmentation", "Aborted", "core dumped", "AddressSanitizer", "runtime error",
               "terminate called", "Assertion")


def run(program, env, timeout=20, user=None):
    command = [os.path.join(BIN_DIR, program)]
    if program.endswith("-headless"):
        command += ["--frames", "3"]
    if user:
        command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *command]
    result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
    return result.returncode, result.stderr


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="tovalinex-faults-")
        os.chmod(cls.scratch, 0o755)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def assertFailsClearly(self, code, errors, expected_code, *words):
        self.assertEqual(code, expected_code, errors)
        messages = [line for line in errors.splitlines() if line.startswith("tovalinex:")]
        self.assertEqual(len(messages), 1, f"want one message, got: {errors!r}")
        for word in words:
            self.assertIn(word, errors)
        for mark in CRASH_MARKS:
            self.assertNotIn(mark, errors)

    def test_no_display(self):
        runtime = os.path.join(self.scratch, "run-no-display")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        # (DISPLAY, WAYLAND_DISPLAY, SDL_VIDEODRIVER): neither X11 nor Wayland to be had.
        cases = [(None, None, None), (":4711", None, None), ("nonsense", None, None),
                 (None, os.path.join(runtime, "wayland-9"), None), (None, "wayland-9", "wayland"),
                 (":4711", "/nonexistent/wayland-0", None)]
        for program in built_programs():
            for display, wayland, driver in cases:
                with self.subTest(program=program, display=display, wayland=wayland, driver=driver):
                    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
                    for name, value in (("DISPLAY", display), ("WAYLAND_DISPLAY", wayland),
                                        ("SDL_VIDEODRIVER", driver)):
                        env.pop(name, None)
                        if value:
                            env[name] = value
                    code, errors = run(program, env)
                    self.assertFailsClearly(code, errors, EXIT_NO_WINDOW, "no display",
                                            f"DISPLAY={display or 'unset'},",
                                            f"WAYLAND_DISPLAY={wayland or 'unset'})")

    def test_drivers_that_show_nothing_are_refused(self):
        # SDL's off-screen and dummy drivers would run an invisible window that
        # holds the single instance, so every later start would hand over to it.
        with XSession() as x:
            for driver in ("offscreen", "dummy", "x11,offscreen", "kmsdrm", " x11"):
                with self.subTest(driver=driver):
                    try:
                        code, errors = run("free_move", dict(x.env, SDL_VIDEODRIVER=driver),
                                           timeout=10)
                    except subprocess.TimeoutExpired:
                        self.fail(f"SDL_VIDEODRIVER={driver!r} ran on")
                    self.assertFailsClearly(code, errors, EXIT_NO_WINDOW, repr(driver.split(",")[-1]),
                                            "x11 and wayland")
            # Named explicitly, the real drivers are fine, and nothing refused kept the instance.
            for driver in ("x11", "X11,wayland", ""):
                with self.subTest(driver=driver):
                    program = x.start("free_move", env=dict(x.env, SDL_VIDEODRIVER=driver))
                    x.wait_window(TITLES["free_move"])
                    program.kill()
                    program.wait()
                    x.wait_until(lambda: not x.windows(), 5, "the window stayed")

    def test_lost_display(self):
        # The X server's end, a killed connection, or the window destroyed by
        # another client: our message and exit code, not Xlib's and exit 1.
        ways = {"xkill": lambda x, window: x._run(["xkill", "-id", str(window)]),
                "window destroyed": lambda x, window: x._run(["xdotool", "windowclose", str(window)]),
                "server ended": lambda x, window: x.xvfb.kill()}
        for way, lose in ways.items():
            with self.subTest(way=way), XSession() as x:
                program = x.start("free_move")
                window = x.wait_window(TITLES["free_move"])
                lose(x, window)
                self.assertEqual(x.wait_exit(program, 10), EXIT_DISPLAY_LOST, x.error_output(program))
                errors = x.error_output(program)
                self.assertFailsClearly(EXIT_DISPLAY_LOST, errors, EXIT_DISPLAY_LOST, "lost")
                self.assertNotIn("X Error", errors)
                self.assertNotIn("X connection", errors)
                if way != "server ended":
                    # Nothing of the lost copy holds the instance.
                    again = x.start("free_move")
                    x.wait_window(TITLES["free_move"])
                    self.assertIsNone(again.poll())

    def font_cases(self):
        """(name, path) of fonts that cannot be used."""
        garbage = os.path.join(self.scratch, "garbage.ttf")
        with open(garbage, "wb") as out:
            out.write(b"this is not a font file\n" * 100)
        empty = os.path.join(self.scratch, "empty.ttf")
        open(empty, "wb").close()
        directory = os.path.join(self.scratch, "a-directory.ttf")
        os.makedirs(directory, exist_ok=True)
        # Real fonts without the characters the programs draw ("●", kana): a
        # window of them would show nothing (scripts/setup.sh installs both).
        without_kana = [("DejaVuSans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"),
                        ("Type 1", "/usr/share/fonts/type1/urw-base35/NimbusSans-Regular.t1")]
        for name, path in without_kana:
            self.assertTrue(os.path.exists(path), f"{name} is not installed: {path}")
        return [("missing", os.path.join(self.scratch, "missing.ttf")), ("garbage", garbage),
                ("empty", empty), ("directory", directory)] + without_kana

    def test_font_missing_or_unusable(self):
        with XSession() as x:
            for program in built_programs():
                for twin in (program, program + "-headless"):
                    for name, path in self.font_cases():
                        with self.subTest(program=twin, font=name):
                            code, errors = run(twin, dict(x.env, TOVALINEX_FONT=path))
                            self.assertFailsClearly(code, errors, EXIT_NO_FONT, path)
            self.assertEqual(x.windows(), [], "a window was left behind")

    def test_font_that_never_opens(self):
        # Reading a FIFO would wait for a writer for ever, while the copy holds
        # the single instance; only regular files are read.
        fifo = os.path.join(self.scratch, "fifo.ttf")
        if not os.path.exists(fifo):
            os.mkfifo(fifo)
        with XSession() as x:
            for twin in ("free_move", "free_move-headless"):
                with self.subTest(program=twin):
                    try:
                        code, errors = run(twin, dict(x.env, TOVALINEX_FONT=fifo), timeout=10)
                    except subprocess.TimeoutExpired:
                        self.fail("the start hangs on the FIFO")
                    self.assertFailsClearly(code, errors, EXIT_NO_FONT, fifo, "not a regular file")
            self.assertEqual(x.windows(), [], "a window was left behind")

    def test_broken_fontconfig_is_no_fault(self):
        # The font package's own file is found without asking fontconfig, so a
        # missing or broken fontconfig set-up neither stops a start nor changes
        # the picture.
        pictures = []
        for fontconfig in (None, "/nonexistent/fonts.conf"):
            env = dict(os.environ)
            env.pop("TOVALINEX_FONT", None)
            if fontconfig:
                env.update(FONTCONFIG_FILE=fontconfig, FONTCONFIG_PATH="/nonexistent")
            png = os.path.join(self.scratch, f"fontconfig-{len(pictures)}.png")
            # A fixed seed: two runs a second apart would place the enemies differently.
            result = subprocess.run([os.path.join(BIN_DIR, "minigame-headless"), "--frames", "30",
                                     "--keys", "space@5-6", "--time", "1000", "--png", png], env=env,
                                    capture_output=True, text=True, timeout=20)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(png, "rb") as picture:
                pictures.append(picture.read())
        self.assertEqual(pictures[0], pictures[1])

    def test_font_unreadable(self):
        # Root reads any file, so the start runs as another user when we are root.
        real = subprocess.run(["fc-match", "-f", "%{file}", "IPAGothic"], capture_output=True,
                              text=True).stdout
        self.assertTrue(real and os.path.exists(real), "IPAGothic is not installed")
        locked = os.path.join(self.scratch, "locked.ttf")
        shutil.copy(real, locked)
        os.chmod(locked, 0)
        user = "65534" if os.getuid() == 0 else None
        if user and not os.access(os.path.join(BIN_DIR, "free_move-headless"), os.X_OK):
            self.fail("the build directory is not reachable for another user")
        runtime = os.path.join(self.scratch, "run-unreadable")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        if user:
            os.chown(runtime, 65534, 65534)
        env = dict(os.environ, TOVALINEX_FONT=locked, XDG_RUNTIME_DIR=runtime, HOME=runtime)
        code, errors = run("free_move-headless", env, user=user)
        self.assertFailsClearly(code, errors, EXIT_NO_FONT, locked)
        # The same file readable again is a working font: the failure was the permission.
        os.chmod(locked, 0o644)
        code, errors = run("free_move-headless", env, user=user)
        self.assertEqual(code, 0, errors)

    def test_surface_cannot_be_made(self):
        with XSession() as x:
            for program in built_programs():
                for twin in (program, program + "-headless"):
                    for name, size in (("back buffer", BACK_BUFFER_BYTES),
                                       ("text strip", TEXT_STRIP_BYTES)):
                        with self.subTest(program=twin, surface=name):
                            env = probed_env(x, TOVALINEX_PROBE_REFUSE=size)
                            code, errors = run(twin, env)
                            self.assertFailsClearly(code, errors, EXIT_NO_SURFACE, "surfaces")
            self.assertEqual([w for w, title in x.windows() if title in TITLES.values()], [])

    def test_window_that_cannot_present(self):
        # SDL gives no surface to present to: the window would run unseen.
        with XSession() as x:
            for program in built_programs():
                with self.subTest(program=program):
                    code, errors = run(program, probed_env(x, TOVALINEX_PROBE_NO_SURFACE="1"))
                    self.assertFailsClearly(code, errors, EXIT_NO_PICTURE, "cannot show its picture",
                                            "the probe took the window surface away")

    def test_closed_standard_streams(self):
        # Started with 0, 1 and 2 closed, nothing the program opens may take
        # their place: a message for stderr would go into whatever file had.
        def close_standard_streams():
            for fd in (0, 1, 2):
                os.close(fd)

        with XSession() as x:
            program = subprocess.Popen([os.path.join(BIN_DIR, "free_move")], env=x.env,
                                       preexec_fn=close_standard_streams)
            try:
                x.wait_window(TITLES["free_move"])
                for fd in (0, 1, 2):
                    self.assertEqual(os.readlink(f"/proc/{program.pid}/fd/{fd}"), "/dev/null")
                # The instance socket works as before.
                second = x.start("free_move")
                self.assertEqual(x.wait_exit(second, 10), 0, x.error_output(second))
                self.assertEqual(len(x.windows()), 1)
            finally:
                program.kill()
                program.wait()

    def test_the_probe_refuses_only_what_it_is_told(self):
        # Without a size to refuse, the preloaded program runs normally, so the
        # failures above come from the refused surface and nothing else.
        with XSession() as x:
            code, errors = run("free_move-headless", probed_env(x))
            self.assertEqual(code, 0, errors)


def limited_file_size(limit):
    """For preexec_fn: writes past `limit` bytes fail with EFBIG, as on a full disk."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class TwinOutputFiles(unittest.TestCase):
    """--png, --trace and --dump are what scripts and CI read: a write that
    fails is exit 1 and one message naming the file and the reason."""

    PROGRAM = "free_move-headless"

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="tovalinex-outputs-")

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def twin(self, *args, limit=None, timeout=60):
        return subprocess.run([os.path.join(BIN_DIR, self.PROGRAM), *args], capture_output=True,
                              timeout=timeout, preexec_fn=limited_file_size(limit) if limit else None)

    def assertWriteFailed(self, result, path, reason):
        errors = result.stderr.decode()
        self.assertEqual(result.returncode, 1, errors)
        lines = errors.splitlines()
        self.assertEqual(len(lines), 1, errors)
        self.assertTrue(lines[0].startswith(os.path.join(BIN_DIR, self.PROGRAM) + ": "), errors)
        self.assertIn(path, errors)
        self.assertIn(reason, errors)

    def test_png_that_cannot_be_written_removes_nothing(self):
        kept = os.path.join(self.scratch, "kept.png")
        with open(kept, "wb") as old:
            old.write(b"the picture of an earlier run")
        link = os.path.join(self.scratch, "full-link.png")
        os.symlink("/dev/full", link)
        cases = [(kept, 1024, "File too large"), (link, None, "No space left on device")]
        if os.getuid() == 0:
            # A device node of our own standing for /dev/full.
            node = os.path.join(self.scratch, "full-node.png")
            os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 7))
            cases.append((node, None, "No space left on device"))
        for path, limit, reason in cases:
            with self.subTest(path=os.path.basename(path)):
                before = os.lstat(path)
                result = self.twin("--frames", "3", "--png", path, limit=limit)
                self.assertWriteFailed(result, path, reason)
                after = os.lstat(path)
                self.assertEqual(stat.S_IFMT(after.st_mode), stat.S_IFMT(before.st_mode))
                self.assertEqual(after.st_ino, before.st_ino)
        with open(kept, "rb") as old:
            self.assertEqual(old.read(), b"the picture of an earlier run")
        self.assertEqual(sorted(os.listdir(self.scratch)),
                         sorted(os.path.basename(path) for path, _, _ in cases))

    def test_png_replaces_a_file_whole(self):
        # The ordinary case still works: an earlier picture is replaced.
        path = os.path.join(self.scratch, "out.png")
        with open(path, "wb") as old:
            old.write(b"old")
        result = self.twin("--frames", "3", "--png", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(path, "rb") as picture:
            self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertEqual(os.listdir(self.scratch), ["out.png"])

    def test_trace_that_cannot_be_written_fails(self):
        result = subprocess.run(f"exec '{os.path.join(BIN_DIR, self.PROGRAM)}' --frames 3000"
                                " --trace - >/dev/full", shell=True, capture_output=True, timeout=60)
        self.assertWriteFailed(result, "standard output", "No space left on device")
        path = os.path.join(self.scratch, "trace.txt")
        result = self.twin("--frames", "3000", "--trace", path, limit=4096)
        self.assertWriteFailed(result, path, "File too large")

    def test_dump_stops_at_the_first_failure(self):
        directory = os.path.join(self.scratch, "frames")
        # Each picture is larger than the limit; the trace on a pipe is not limited
        # and shows how many frames ran.
        result = self.twin("--frames", "20000", "--dump", directory, "--trace", "-", limit=512)
        self.assertWriteFailed(result, os.path.join(directory, "frame-00000.png"), "File too large")
        frames = {line.split()[0] for line in result.stdout.decode().splitlines()}
        self.assertLessEqual(len(frames), 2, "frames ran on after the failed write")
        self.assertEqual(os.listdir(directory), [])

    def test_dump_follows_no_planted_symlink(self):
        directory = os.path.join(self.scratch, "frames")
        os.mkdir(directory)
        victim = os.path.join(self.scratch, "victim")
        with open(victim, "wb") as other:
            other.write(b"someone else's file\n")
        os.symlink(victim, os.path.join(directory, "frame-00001.png"))
        result = self.twin("--frames", "3", "--dump", directory)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(victim, "rb") as other:
            self.assertEqual(other.read(), b"someone else's file\n")
        planted = os.path.join(directory, "frame-00001.png")
        self.assertFalse(os.path.islink(planted))
        with open(planted, "rb") as picture:
            self.assertEqual(picture.read(4), b"\x89PNG")

    def test_png_of_no_frame_is_refused(self):
        path = os.path.join(self.scratch, "none.png")
        result = self.twin("--frames", "0", "--png", path)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"--png", result.stderr)
        self.assertFalse(os.path.exists(path))


if __name__ == "__main__":
    unittest.main()
