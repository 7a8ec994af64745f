"""free_move in its real window under Xvfb: identity, picture, keys, the
single instance, activation and closing."""

import os
import signal
import subprocess
import time
import unittest

from xsession import BIN_DIR, TITLES, XSession

TITLE = TITLES["free_move"]
WHITE = 0xFFFFFF


def cpu_seconds(process):
    with open(f"/proc/{process.pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class FreeMoveWindow(unittest.TestCase):
    def setUp(self):
        self.x = XSession().__enter__()
        self.program = self.x.start("free_move")
        self.window = self.x.wait_window(TITLE)
        self.x.activate(self.window)

    def tearDown(self):
        self.x.__exit__(None, None, None)

    def mark_box(self):
        return self.x.capture(self.window).ink_box()

    def wait_for_mark(self, predicate, message):
        self.x.wait_until(lambda: predicate(self.mark_box()), 3, message)

    def other_window(self):
        self.x.start("/usr/bin/xmessage", "another application")
        self.x.wait_until(lambda: self.x.windows("Xmessage"), 5, "xmessage did not open")
        return self.x.windows("Xmessage")[0][0]

    def test_identity_size_and_first_picture(self):
        self.assertIn('"Tovalinex", "Tovalinex"', self.x.window_class(self.window))
        _, _, width, height = self.x.geometry(self.window)
        self.assertEqual((width, height), (640, 480))
        self.wait_for_mark(lambda box: box is not None, "no mark drawn")
        picture = self.x.capture(self.window)
        left, top, right, bottom = picture.ink_box()
        # The mark's cell is 16x16 at (50, 50); everything else stays white.
        self.assertTrue(50 <= left and right <= 65 and 50 <= top and bottom <= 65, (left, top, right, bottom))
        self.assertEqual(picture.count(WHITE) + picture.count(0x000000), 640 * 480)

    def test_presents_through_x_shared_memory_without_gl(self):
        with open(f"/proc/{self.program.pid}/maps") as maps:
            libraries = {line.split()[-1] for line in maps if "/" in line}
        self.assertTrue(any("libXext" in path for path in libraries), "no X extension library (MIT-SHM)")
        self.assertEqual([path for path in libraries if any(
            mark in os.path.basename(path) for mark in ("libGL", "libEGL", "_dri", "libvulkan"))], [])

    def test_holding_right_moves_in_steps_of_four(self):
        self.wait_for_mark(lambda box: box is not None, "no mark drawn")
        start = self.mark_box()
        self.x.hold("Right", 0.3)
        time.sleep(0.1)
        moved = self.mark_box()
        shift = moved[0] - start[0]
        self.assertGreater(shift, 0)
        self.assertEqual(shift % 4, 0)
        self.assertEqual(moved[1], start[1])
        # At 60 frames a second, 0.3 s is about 18 frames of 4 pixels.
        self.assertTrue(40 <= shift <= 110, shift)

    def test_second_start_brings_the_first_forward(self):
        other = self.other_window()
        self.x.activate(other)
        second = self.x.start("free_move")
        self.assertEqual(self.x.wait_exit(second, 10), 0)
        self.x.wait_until(lambda: self.x.active_window() == self.window, 5, "first copy not raised")
        self.assertEqual(len(self.x.windows()), 1)
        # Minimised, it is restored.
        self.x.minimize(self.window)
        self.x.wait_until(lambda: not self.x.windows(), 5, "not minimised")
        third = self.x.start("free_move")
        self.assertEqual(self.x.wait_exit(third, 10), 0)
        self.x.wait_until(lambda: len(self.x.windows()) == 1, 5, "not restored")
        self.assertIsNone(self.program.poll())

    def test_simultaneous_starts_leave_one_window_and_survive_kill(self):
        self.program.kill()
        self.program.wait()
        self.x.wait_until(lambda: not self.x.windows(), 5, "window stayed after kill -9")
        starts = [self.x.start("free_move") for _ in range(6)]
        self.x.wait_until(lambda: sum(p.poll() is not None for p in starts) == 5, 10, "later copies did not exit")
        self.assertEqual(sorted(p.returncode for p in starts if p.poll() is not None), [0] * 5)
        time.sleep(0.5)
        self.assertEqual(len(self.x.windows()), 1)

    def test_inactive_freezes_and_activation_resumes(self):
        self.wait_for_mark(lambda box: box is not None, "no mark drawn")
        other = self.other_window()
        self.x.activate(other)
        time.sleep(0.3)
        frozen = self.x.capture(self.window).pixels
        before = cpu_seconds(self.program)
        time.sleep(1.0)
        # The inactive loop sleeps in the event wait instead of running frames.
        self.assertLess(cpu_seconds(self.program) - before, 0.03)
        self.assertEqual(self.x.capture(self.window).pixels, frozen)
        self.x.activate(self.window)
        start = self.mark_box()
        self.x.hold("Down", 0.3)
        time.sleep(0.1)
        self.assertGreater(self.mark_box()[1], start[1])

    def test_closing_exits_zero(self):
        self.x.close(self.window)
        self.assertEqual(self.x.wait_exit(self.program, 10), 0)


class WithoutDisplay(unittest.TestCase):
    def test_says_why_and_exits_non_zero(self):
        env = dict(os.environ, DISPLAY=":9999", XDG_RUNTIME_DIR="/tmp")
        env.pop("WAYLAND_DISPLAY", None)
        runtime = subprocess.run(["mktemp", "-d"], capture_output=True, text=True).stdout.strip()
        env["XDG_RUNTIME_DIR"] = runtime
        result = subprocess.run([os.path.join(BIN_DIR, "free_move")], env=env, capture_output=True, text=True,
                                timeout=20)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("no display could be opened", result.stderr)

    def test_missing_font_names_the_package(self):
        with XSession(window_manager=False) as x:
            env = dict(x.env, TOVALINEX_FONT="")
            env["FONTCONFIG_FILE"] = "/nonexistent/fonts.conf"
            program = x.start("free_move", env=dict(x.env, TOVALINEX_FONT="/nonexistent/ipag.ttf"))
            self.assertEqual(x.wait_exit(program, 10), 6)
            self.assertIn("/nonexistent/ipag.ttf", x.error_output(program))
            self.assertEqual(x.windows(), [])


if __name__ == "__main__":
    unittest.main()
