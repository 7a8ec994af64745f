"""The five programs as native Wayland clients under a headless sway, the way
the X11 window tests drive them under Xvfb: caption and app id, a floating
window of 640x480 that stays so, the first picture against the headless
twin's, a held Right, the freeze while another window has the focus, a
second start that hands the focus to the first copy with the launcher's
activation token, closing; then how the token is used, the present path,
a window that cannot present, and the choice between X11 and Wayland."""

import glob
import os
import subprocess
import tempfile
import time
import unittest

import programs
from waylandsession import WaylandSession
from xsession import BIN_DIR, TITLES, Picture, XSession

PROBE = os.environ.get("TOVALINEX_PROBE", "")
WHOLE = (0, 0, 639, 479)
# Where each program's mark moves when Right is held, and by how much a frame
# (jump_demo runs with acceleration and friction, so only its direction is
# fixed); the mini-game's player appears once space starts play.
MOVES = {
    "free_move": (WHOLE, 4),
    "walled_move": ((0, 46, 639, 479), 4),
    "eight_way_move": (WHOLE, 4),
    "jump_demo": ((0, 0, 639, 429), None),
    "minigame": ((0, 40, 299, 80), 4),
}
EXIT_NO_PICTURE = 7

Session = None
Other = None  # the other application's process
OtherWindow = None


def setUpModule():
    global Session, Other, OtherWindow
    Session = WaylandSession().__enter__()
    Other, OtherWindow = Session.open_other_window()


def tearDownModule():
    Session.__exit__(None, None, None)


def cpu_seconds(process):
    with open(f"/proc/{process.pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def built_programs():
    return [name for name in programs.NAMES if os.path.exists(os.path.join(BIN_DIR, name))]


class WaylandCase(unittest.TestCase):
    def tearDown(self):
        # A test that failed half-way leaves no window for the next one.
        for process in Session.processes:
            if process is not Other and process.poll() is None:
                process.kill()
                process.wait()
        Session.wait_until(lambda: not Session.windows(), 5, "a window stayed behind")

    def open(self, program, env=None):
        process = Session.start(program, env=env)
        window = Session.wait_window(TITLES[program])
        return process, window

    def inhibitor(self, window):
        return Session.view(window)["idle_inhibitors"]["application"]

    def wait_inhibitor(self, window, state):
        """The program hears of a focus change a moment after sway made it."""
        Session.wait_until(lambda: self.inhibitor(window) == state, 2,
                           f"idle inhibitor {self.inhibitor(window)}, not {state}")


class ProgramWindows(WaylandCase):
    def test_each_program_as_a_player_meets_it(self):
        for program in built_programs():
            with self.subTest(program=program):
                self.check_program(program)

    def check_program(self, program):
        process, window = self.open(program)
        view = Session.view(window)
        self.assertEqual((view["name"], view["app_id"]), (TITLES[program], "Tovalinex"))
        self.assertEqual(view["type"], "floating_con")
        self.assertEqual(Session.geometry(window)[2:], (640, 480))
        self.assertEqual(Session.focused_window(), window)
        self.wait_inhibitor(window, "enabled")
        self.check_first_picture(program, window)
        self.check_resize_request(window)

        region, step = MOVES[program]
        if program == "minigame":
            Session.hold("space", 0.1)
            # The shots fired on the way leave the player's band to the right.
            Session.wait_until(lambda: self.ink_width(window, region) <= 16, 5, "play did not start")
        self.check_right_moves(window, region, step)
        self.check_freeze_and_resume(process, window, region, step)
        self.check_second_start(program, window)

        Session.close(window)
        self.assertEqual(Session.wait_exit(process, 10), 0)
        self.assertEqual(Session.error_output(process), "")

    def check_first_picture(self, program, window):
        with tempfile.TemporaryDirectory() as scratch:
            twin = os.path.join(scratch, "twin.png")
            subprocess.run([os.path.join(BIN_DIR, program + "-headless"), "--frames", "1", "--png", twin],
                           check=True, capture_output=True)
            expected = Picture.load_png(twin).pixels
        pictures = []
        try:
            Session.wait_until(lambda: pictures.append(Session.capture(window)) or
                               pictures[-1].pixels == expected, 3, "picture differs")
        except AssertionError:
            differing = sum(a != b for a, b in zip(pictures[-1].pixels, expected))
            self.fail(f"{program}: {differing} of {len(expected)} pixels differ from the headless twin's")

    def check_resize_request(self, window):
        before = Session.capture(window).pixels
        Session.resize(window, 800, 600)
        Session.wait_until(lambda: Session.frame_geometry(window)[2] > 640, 5, "sway did not resize")
        # sway widens the frame, but the window keeps its size and picture,
        # centred on a plain background.
        self.assertEqual(Session.geometry(window)[2:], (640, 480))
        self.assertEqual(Session.capture(window).pixels, before)
        frame = Session.capture(window, whole_frame=True)
        x, y, _, _ = Session.geometry(window)
        left, top, _, _ = Session.frame_geometry(window)
        inside = (x - left, y - top, x - left + 639, y - top + 479)
        outside = {frame.pixel(column, row) for row in range(frame.height) for column in range(frame.width)
                   if not (inside[0] <= column <= inside[2] and inside[1] <= row <= inside[3])}
        self.assertEqual(len(outside), 1, f"{len(outside)} colours around the picture")

    def ink(self, window, region):
        return Session.capture(window).ink_box(region=region)

    def ink_width(self, window, region):
        box = self.ink(window, region)
        return 0 if box is None else box[2] - box[0] + 1

    def check_right_moves(self, window, region, step):
        start = self.ink(window, region)
        Session.hold("Right", 0.3)
        time.sleep(0.1)
        moved = self.ink(window, region)
        shift = moved[0] - start[0]
        self.assertGreater(shift, 0)
        self.assertEqual(moved[1], start[1])
        if step:
            self.assertEqual(shift % step, 0, shift)
            # 0.3 s at 60 frames a second is about 18 frames.
            self.assertTrue(10 * step <= shift <= 28 * step, shift)

    def check_freeze_and_resume(self, process, window, region, step):
        Session.focus(OtherWindow)
        self.wait_inhibitor(window, "none")
        frozen = Session.capture(window).pixels
        before = cpu_seconds(process)
        Session.hold("Right", 0.3)  # the other window's key now
        time.sleep(0.7)
        self.assertLess(cpu_seconds(process) - before, 0.03)
        self.assertEqual(Session.capture(window).pixels, frozen)

        Session.focus(window)
        self.wait_inhibitor(window, "enabled")
        self.check_right_moves(window, region, step)

    def check_second_start(self, program, window):
        Session.focus(OtherWindow)
        token = Session.activation_token()
        second = Session.start(program, env=dict(Session.env, XDG_ACTIVATION_TOKEN=token))
        self.assertEqual(Session.wait_exit(second, 10), 0)
        Session.wait_until(lambda: Session.focused_window() == window, 5, "the first copy did not get the focus")
        self.assertEqual(Session.windows(), [(window, TITLES[program])])


class Activation(WaylandCase):
    """Only the compositor gives the focus: the first copy asks with the token
    the later copy's launcher gave it and leaves the answer to the compositor."""

    def second_start(self, window, token):
        Session.focus(OtherWindow)
        env = dict(Session.env)
        if token:
            env["XDG_ACTIVATION_TOKEN"] = token
        self.assertEqual(Session.wait_exit(Session.start("free_move", env=env), 10), 0)
        time.sleep(0.5)
        return Session.focused_window(), Session.view(window)["urgent"]

    def test_the_compositor_decides(self):
        process, window = self.open("free_move")
        # A token the compositor never gave out is refused, and nothing else is tried.
        self.assertEqual(self.second_start(window, "not-a-token-of-this-compositor"), (OtherWindow, False))
        # Without a token the window asks by itself, which this sway grants.
        self.assertEqual(self.second_start(window, None), (window, False))
        # sway's default answer to a token: the window is only marked urgent.
        Session.command("focus_on_window_activation urgent")
        try:
            self.assertEqual(self.second_start(window, Session.activation_token()), (OtherWindow, True))
        finally:
            Session.command(f"focus_on_window_activation {Session.activation}")
        Session.close(window)
        self.assertEqual(Session.wait_exit(process, 10), 0)


class PresentPath(WaylandCase):
    def probed(self, **extra):
        if not PROBE or not os.path.exists(PROBE):
            self.fail(f"the probe library is missing (TOVALINEX_PROBE={PROBE!r})")
        return dict(Session.env, LD_PRELOAD=PROBE, **extra)

    def test_presents_from_shared_memory_without_a_gl_renderer(self):
        log = os.path.join(Session.root, "presents.log")
        process, window = self.open("walled_move", env=self.probed(TOVALINEX_PROBE_LOG=log))
        time.sleep(0.5)
        with open(log) as lines:
            colours = [int(line.split()[1]) for line in lines]
        # The probe reads every buffer committed from shared memory; -3 would be one it cannot read.
        self.assertGreater(len(colours), 20)
        self.assertNotIn(-3, colours)
        self.assertEqual(colours[0], -1, "the first picture shown is not the drawn one")
        threads = []
        for path in glob.glob(f"/proc/{process.pid}/task/*/comm"):
            with open(path) as name:
                threads.append(name.read().strip())
        self.assertFalse([name for name in threads if name.startswith("llvmpipe")], threads)
        Session.close(window)
        self.assertEqual(Session.wait_exit(process, 10), 0)

    def test_a_window_that_cannot_present_says_why(self):
        process = Session.start("free_move", env=self.probed(TOVALINEX_PROBE_NO_MEMFD="1"))
        self.assertEqual(Session.wait_exit(process, 10), EXIT_NO_PICTURE)
        self.assertEqual(Session.error_output(process),
                         "tovalinex: the window cannot show its picture: "
                         "no shared memory for the window's buffers\n")


class DriverChoice(WaylandCase):
    def test_x11_first_where_both_are_and_wayland_when_asked(self):
        with XSession(window_manager=False) as x:
            env = dict(Session.env, DISPLAY=x.display)
            on_x = Session.start("free_move", env=env)
            x.wait_window(TITLES["free_move"])
            self.assertEqual(Session.windows(), [])
            on_x.kill()
            on_x.wait()
            on_wayland, window = self.open("free_move", env=dict(env, SDL_VIDEODRIVER="wayland"))
            self.assertEqual(x.windows(), [])
            Session.close(window)
            self.assertEqual(Session.wait_exit(on_wayland, 10), 0)


if __name__ == "__main__":
    unittest.main()
