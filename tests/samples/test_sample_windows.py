"""The movement samples in their real windows under Xvfb: caption, the mark
where it starts, and a key that moves it."""

import time
import unittest

from xsession import TITLES, XSession


class SampleWindow(unittest.TestCase):
    program = None

    def setUp(self):
        self.x = XSession().__enter__()
        self.process = self.x.start(self.program)
        self.window = self.x.wait_window(TITLES[self.program])
        self.x.activate(self.window)

    def tearDown(self):
        self.x.__exit__(None, None, None)

    def ink(self, region):
        return self.x.capture(self.window).ink_box(region=region)

    def mark(self, region):
        """The ink box inside the region, once something is drawn there."""
        self.x.wait_until(lambda: self.ink(region), 5, "no mark drawn")
        return self.ink(region)

    def assert_in_cell(self, box, x, y):
        left, top, right, bottom = box
        self.assertTrue(x <= left and right < x + 16 and y <= top and bottom < y + 16, box)

    def close_and_expect_zero(self):
        self.x.close(self.window)
        self.assertEqual(self.x.wait_exit(self.process, 10), 0)


class WalledMoveWindow(SampleWindow):
    program = "walled_move"
    below_wall = (0, 46, 639, 479)

    def readout(self, picture, left):
        return [picture.pixel(x, y) for y in range(10, 26) for x in range(left, left + 24)]

    def test_mark_readout_and_wall_then_up_stops_under_the_wall(self):
        start = self.mark(self.below_wall)
        self.assert_in_cell(start, 50, 50)
        before = self.x.capture(self.window)
        self.assertTrue(any(all(before.pixel(x, y) != 0xFFFFFF for x in range(640)) for y in range(30, 46)))
        self.assertIsNotNone(before.ink_box(region=(100, 10, 115, 25)))
        self.assertIsNotNone(before.ink_box(region=(160, 10, 175, 25)))
        # Held long enough to pass the limit, the mark rests at y = 46, and only
        # the y readout changes (50 to 46).
        self.x.hold("Up", 0.3)
        time.sleep(0.1)
        raised = self.mark(self.below_wall)
        self.assert_in_cell(raised, 50, 46)
        self.assertEqual(raised[1], start[1] - 4)
        after = self.x.capture(self.window)
        self.assertEqual(self.readout(after, 100), self.readout(before, 100))
        self.assertNotEqual(self.readout(after, 160), self.readout(before, 160))
        self.close_and_expect_zero()


class EightWayMoveWindow(SampleWindow):
    program = "eight_way_move"
    whole = (0, 0, 639, 479)

    def test_mark_starts_at_fifty_and_right_moves_it_in_steps_of_four(self):
        start = self.mark(self.whole)
        self.assert_in_cell(start, 50, 50)
        self.x.hold("Right", 0.3)
        time.sleep(0.1)
        moved = self.mark(self.whole)
        shift = moved[0] - start[0]
        self.assertGreater(shift, 0)
        self.assertEqual(shift % 4, 0)
        self.assertEqual(moved[1], start[1])
        self.close_and_expect_zero()


class JumpDemoWindow(SampleWindow):
    program = "jump_demo"
    above_ground = (0, 0, 639, 429)

    def test_mark_stands_on_the_ground_and_space_lifts_it(self):
        start = self.mark(self.above_ground)
        self.assert_in_cell(start, 50, 416)
        picture = self.x.capture(self.window)
        self.assertIsNotNone(picture.ink_box(region=(0, 430, 639, 443)))
        self.assertIsNotNone(picture.ink_box(region=(80, 444, 479, 459)))
        # Held, the space bar keeps the mark jumping, well above the ground.
        self.x.key_down("space")
        try:
            rising = lambda: (self.ink(self.above_ground) or start)[1] < start[1] - 20
            self.x.wait_until(rising, 10, "mark did not rise")
        finally:
            self.x.key_up("space")
        self.x.wait_until(lambda: self.ink(self.above_ground) == start, 10, "mark did not land")
        self.close_and_expect_zero()


if __name__ == "__main__":
    unittest.main()
