// eight_way_move: eight headings at one speed, fractional positions drawn
// truncated towards zero.
#include "MarkPath.h"

namespace {

const char Program[] = "eight_way_move-headless";

TEST(EightWayMove, HeadingFollowsTheHeldKeysWithUpAndLeftWinning) {
  // One step from (50, 50): straight steps are 4, diagonal ones 4 sin 45 =
  // 2.83 on each axis, so 52.83 and 47.17 are drawn as 52 and 47.
  struct Case {
    const char* keys;
    Point drawn;
  } cases[] = {
      {"", {50, 50}},
      {"up@0-0", {50, 46}},
      {"up+right@0-0", {52, 47}},
      {"right@0-0", {54, 50}},
      {"down+right@0-0", {52, 52}},
      {"down@0-0", {50, 54}},
      {"down+left@0-0", {47, 52}},
      {"left@0-0", {46, 50}},
      {"up+left@0-0", {47, 47}},
      {"up+down@0-0", {50, 46}},
      {"left+right@0-0", {46, 50}},
      {"up+down+right@0-0", {52, 47}},
      {"down+left+right@0-0", {47, 52}},
      {"up+left+right@0-0", {47, 47}},
      {"up+down+left+right@0-0", {47, 47}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.keys);
    const std::vector<Point> path = MarkPath(RunFrames(Program, 2, test.keys), 2);
    EXPECT_EQ(path[0], test.drawn);
    EXPECT_EQ(path[1], test.drawn);  // released: the mark stays
  }
}

TEST(EightWayMove, StepsAreEquallyLongAndKeepTheirFractions) {
  // Diagonally the stored position goes 52.83, 55.66, 58.49, 61.31, ...;
  // truncating it between frames would draw 52, 54, 56, 58 instead.
  const std::vector<Point> diagonal = MarkPath(RunFrames(Program, 100, "up+right@0-99"), 100);
  EXPECT_EQ(diagonal[0], (Point{52, 47}));
  EXPECT_EQ(diagonal[1], (Point{55, 44}));
  EXPECT_EQ(diagonal[2], (Point{58, 41}));
  EXPECT_EQ(diagonal[3], (Point{61, 38}));
  // 100 steps of 2.8284 on each axis: 332.84 and -232.84; nothing stops the
  // mark leaving the window.
  EXPECT_EQ(diagonal[99], (Point{332, -232}));
  const std::vector<Point> straight = MarkPath(RunFrames(Program, 100, "left@0-99"), 100);
  EXPECT_EQ(straight[99], (Point{-350, 50}));
}

TEST(EightWayMove, AxisStepsCarryTheRoundingOfSineAndCosine) {
  // Twelve steps up leave y at exactly 2; the step right adds a cosine of
  // about 6e-17 times 4, which lands just below 2 and draws at 1.
  const std::vector<Point> up = MarkPath(RunFrames(Program, 13, "up@0-11,right@12-12"), 13);
  EXPECT_EQ(up[11], (Point{50, 2}));
  EXPECT_EQ(up[12], (Point{54, 1}));
  // Thirteen steps left leave x at exactly -2; the step down adds a sine of
  // about 1e-16 times 4, just above -2, which truncates to -1.
  const std::vector<Point> left = MarkPath(RunFrames(Program, 14, "left@0-12,down@13-13"), 14);
  EXPECT_EQ(left[12], (Point{-2, 50}));
  EXPECT_EQ(left[13], (Point{-1, 54}));
  // From x = 2 a diagonal step left reaches -0.83, drawn at 0 (not -1), and
  // the next one -3.66, drawn at -3.
  const std::vector<Point> fraction =
      MarkPath(RunFrames(Program, 14, "left@0-11,down+left@12-13"), 14);
  EXPECT_EQ(fraction[11], (Point{2, 50}));
  EXPECT_EQ(fraction[12], (Point{0, 52}));
  EXPECT_EQ(fraction[13], (Point{-3, 55}));
}

TEST(EightWayMove, PictureShowsOnlyTheMarkWhereItIsDrawn) {
  const Picture start = LastPicture(Program, 1);
  const Box mark = InkBox(start);
  ASSERT_FALSE(mark.Empty());
  EXPECT_GE(mark.left, 50);
  EXPECT_LE(mark.right, 65);
  EXPECT_GE(mark.top, 50);
  EXPECT_LE(mark.bottom, 65);
  const Box moved = InkBox(LastPicture(Program, 1, "down+right@0-0"));
  EXPECT_EQ(moved.left - mark.left, 2);
  EXPECT_EQ(moved.top - mark.top, 2);
  EXPECT_EQ(moved.right - mark.right, 2);
  EXPECT_EQ(moved.bottom - mark.bottom, 2);
}

}  // namespace
