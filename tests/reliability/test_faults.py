"""Starts that cannot work: no display (neither X11 nor Wayland), the font
missing or unreadable, a surface that cannot be made, a window that cannot
present. Each gives one clear message on stderr naming
the cause and a non-zero exit, never a crash, a signal or a silent 0, and
leaves no window behind."""

import os
import shutil
import subprocess
import tempfile
import unittest

from reliability_support import TITLES, built_programs, probed_env
from xsession import BIN_DIR, XSession

BACK_BUFFER_BYTES = 640 * 480 * 4
TEXT_STRIP_BYTES = 640 * 16 * 4
EXIT_NO_WINDOW, EXIT_NO_SURFACE, EXIT_NO_FONT, EXIT_NO_PICTURE = 4, 5, 6, 7
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

    def font_cases(self):
        """(name, path) of fonts that cannot be used."""
        garbage = os.path.join(self.scratch, "garbage.ttf")
        with open(garbage, "wb") as out:
            out.write(b"this is not a font file\n" * 100)
        empty = os.path.join(self.scratch, "empty.ttf")
        open(empty, "wb").close()
        directory = os.path.join(self.scratch, "a-directory.ttf")
        os.makedirs(directory, exist_ok=True)
        return [("missing", os.path.join(self.scratch, "missing.ttf")), ("garbage", garbage),
                ("empty", empty), ("directory", directory)]

    def test_font_missing_or_unusable(self):
        with XSession() as x:
            for program in built_programs():
                for twin in (program, program + "-headless"):
                    for name, path in self.font_cases():
                        with self.subTest(program=twin, font=name):
                            code, errors = run(twin, dict(x.env, TOVALINEX_FONT=path))
                            self.assertFailsClearly(code, errors, EXIT_NO_FONT, path)
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
            result = subprocess.run([os.path.join(BIN_DIR, "minigame-headless"), "--frames", "30",
                                     "--keys", "space@5-6", "--png", png], env=env,
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

    def test_the_probe_refuses_only_what_it_is_told(self):
        # Without a size to refuse, the preloaded program runs normally, so the
        # failures above come from the refused surface and nothing else.
        with XSession() as x:
            code, errors = run("free_move-headless", probed_env(x))
            self.assertEqual(code, 0, errors)


if __name__ == "__main__":
    unittest.main()
