"""minigame in its real window under Xvfb: the title screen, a start on the
space bar, the time readout counting up, and closing."""

import time
import unittest

from xsession import TITLES, XSession

TITLE = TITLES["minigame"]
TITLE_LINE = (140, 220, 140 + 18 * 16 - 1, 235)  # "羽虫落としミニゲーム　～ピルカモン～"
INSTRUCTION_LINE = (20, 10, 20 + 14 * 16 - 1, 25)  # 14 characters on every scene
SECONDS = (380, 10, 403, 25)  # the gap inside "タイム：     秒", room for three digits
PLAYER = (50, 50, 65, 65)  # "●" where play starts


def region_pixels(picture, region):
    left, top, right, bottom = region
    return [picture.pixel(x, y) for y in range(top, bottom + 1) for x in range(left, right + 1)]


class MinigameWindow(unittest.TestCase):
    def test_title_start_readout_and_close(self):
        with XSession() as x:
            program = x.start("minigame")
            window = x.wait_window(TITLE)
            x.activate(window)

            # Title: its two lines and nothing else.
            x.wait_until(lambda: x.capture(window).ink_box(region=TITLE_LINE) is not None, 5,
                         "no title line")
            title = x.capture(window)
            self.assertEqual((title.width, title.height), (640, 480))
            left, top, right, bottom = title.ink_box()
            self.assertTrue(left >= 20 and top >= 10 and right <= TITLE_LINE[2] and bottom <= 235,
                            (left, top, right, bottom))
            self.assertIsNotNone(title.ink_box(region=INSTRUCTION_LINE))
            self.assertIsNone(title.ink_box(region=SECONDS))

            # Space starts play: another instruction line, the player, the readout.
            x.hold("space", 0.2)
            x.wait_until(lambda: x.capture(window).ink_box(region=SECONDS) is not None, 5,
                         "no time readout after space")
            play = x.capture(window)
            self.assertNotEqual(region_pixels(play, INSTRUCTION_LINE),
                                region_pixels(title, INSTRUCTION_LINE))
            self.assertIsNotNone(play.ink_box(region=PLAYER))
            self.assertIsNone(play.ink_box(region=(0, 100, 300, 479)), "stray ink left of the enemies")

            # The seconds count up: a few seconds in, "0" has turned into another
            # single digit (a count of frames or tenths would have two or more).
            time.sleep(2)
            later = x.capture(window)
            self.assertNotEqual(region_pixels(later, SECONDS), region_pixels(play, SECONDS))
            self.assertIsNone(later.ink_box(region=(388, 10, 403, 25)), "more than one digit")

            x.close(window)
            self.assertEqual(x.wait_exit(program, 10), 0)


if __name__ == "__main__":
    unittest.main()
