// jump_demo: running with momentum, and jumps whose height depends on how long
// the space bar is held, in fixed point of 8 units per pixel.
#include <algorithm>

#include "MarkPath.h"

namespace {

const char Program[] = "jump_demo-headless";
const int Ground = 416;  // 3328 units

std::vector<int> Rows(const std::vector<Point>& path) {
  std::vector<int> rows;
  for (const Point& point : path) rows.push_back(point.y);
  return rows;
}
std::vector<int> Columns(const std::vector<Point>& path) {
  std::vector<int> columns;
  for (const Point& point : path) columns.push_back(point.x);
  return columns;
}
// Drawn rows for heights in units, truncated as the program draws them.
std::vector<int> RowsOfUnits(const std::vector<int>& units) {
  std::vector<int> rows;
  for (int unit : units) rows.push_back(unit / 8);
  return rows;
}

TEST(JumpDemo, HoldingSpaceJumpsByTheTableFromEitherRestingPhase) {
  // The resting mark starts frame 0 with vy = 0 and frame 1 with vy = 4.
  // From the vy = 0 phase: ten frames of lift (-8, -12, ... -44), the top
  // 480 units up (2848) at frames 19 and 20, down on 3328 at frame 35, the
  // landing step at 36, and with space still held the next lift at 37.
  const std::vector<int> evenPhase = {3320, 3308, 3292, 3272, 3248, 3220, 3188, 3152, 3112, 3068,
                                      3028, 2992, 2960, 2932, 2908, 2888, 2872, 2860, 2852, 2848,
                                      2848, 2852, 2860, 2872, 2888, 2908, 2932, 2960, 2992, 3028,
                                      3068, 3112, 3160, 3212, 3268, 3328, 3328, 3320};
  EXPECT_EQ(Rows(MarkPath(RunFrames(Program, 38, "space@0-37"), 38)), RowsOfUnits(evenPhase));
  // From the vy = 4 phase: eleven frames of lift (-4, -8, ... -44) and a top
  // 484 units up (2844), drawn one row higher than the other phase's.
  const std::vector<int> oddPhase = {3328, 3324, 3316, 3304, 3288, 3268, 3244, 3216, 3184, 3148,
                                     3108, 3064, 3024, 2988, 2956, 2928, 2904, 2884, 2868, 2856,
                                     2848, 2844, 2844, 2848, 2856, 2868, 2884, 2904, 2928, 2956,
                                     2988, 3024, 3064, 3108, 3156, 3208, 3264, 3324, 3328, 3320};
  EXPECT_EQ(Rows(MarkPath(RunFrames(Program, 40, "space@1-39"), 40)), RowsOfUnits(oddPhase));
}

TEST(JumpDemo, ReleasingSpaceEndsTheLiftOfThatJump) {
  // A one-frame tap rises 12 units from the vy = 0 phase, 4 from vy = 4.
  const std::vector<int> tapEven = Rows(MarkPath(RunFrames(Program, 12, "space@0-0"), 12));
  EXPECT_EQ(*std::min_element(tapEven.begin(), tapEven.end()), (3328 - 12) / 8);
  const std::vector<int> tapOdd = Rows(MarkPath(RunFrames(Program, 12, "space@1-1"), 12));
  EXPECT_EQ(*std::min_element(tapOdd.begin(), tapOdd.end()), (3328 - 4) / 8);
  EXPECT_EQ(tapEven.back(), Ground);
  EXPECT_EQ(tapOdd.back(), Ground);

  // Pressing again in the air adds nothing: the flight matches a jump whose
  // space bar stayed released, until the landing unlocks a new jump.
  const std::vector<int> once = Rows(MarkPath(RunFrames(Program, 40, "space@0-2"), 40));
  const std::vector<int> again = Rows(MarkPath(RunFrames(Program, 40, "space@0-2,space@5-39"), 40));
  const int landed =
      static_cast<int>(std::find(once.begin() + 1, once.end(), Ground) - once.begin());
  ASSERT_LT(landed, 30);
  EXPECT_EQ(std::vector<int>(again.begin(), again.begin() + landed + 1),
            std::vector<int>(once.begin(), once.begin() + landed + 1));
  EXPECT_LT(*std::min_element(again.begin() + landed + 1, again.end()), Ground - 10);
}

TEST(JumpDemo, RunningAcceleratesToThirtyNineAndFrictionStopsAtZero) {
  // Left from rest: vx -2, -4, ... -38, then -39 for good; x starts at 400.
  const std::vector<int> left = Columns(MarkPath(RunFrames(Program, 200, "left@0-199"), 200));
  EXPECT_EQ(std::vector<int>(left.begin(), left.begin() + 5),
            RowsOfUnits({398, 394, 388, 380, 370}));
  // At frame 18 x is 400 - 380 = 20; at frame 19, 20 - 39 = -19, drawn at
  // -2 since division truncates towards zero.
  EXPECT_EQ(left[18], 2);
  EXPECT_EQ(left[19], -2);
  for (int frame = 19; frame + 8 < 200; ++frame) EXPECT_EQ(left[frame + 8] - left[frame], -39);
  // Nothing limits x: 20 - 39 * 181 = -7039 at the last frame.
  EXPECT_EQ(left[199], -7039 / 8);

  // Thirty frames of one arrow reach x = 400 +- (380 + 11 * 39); released,
  // vx decays by 1 a frame (741 units in all) to exactly 0 and the mark stays.
  const struct {
    const char* keys;
    int released, settled;
  } coasts[] = {{"right@0-29", 1209, 1950}, {"left@0-29", -409, -1150}};
  for (const auto& coast : coasts) {
    SCOPED_TRACE(coast.keys);
    const std::vector<int> path = Columns(MarkPath(RunFrames(Program, 200, coast.keys), 200));
    EXPECT_EQ(path[29], coast.released / 8);
    EXPECT_NE(path[60], coast.settled / 8);
    for (int frame = 68; frame < 200; ++frame) EXPECT_EQ(path[frame], coast.settled / 8) << frame;
  }
}

TEST(JumpDemo, RunningWorksTheSameInTheAir) {
  // Steering, the limit and friction while jumping match those on the ground.
  const char* runs[][2] = {
      {"right@0-39", "right@0-39,space@0-39"},
      {"right@0-29", "right@0-29,space@20-29"},
      {"left@0-5,right@6-40", "left@0-5,right@6-40,space@3-9"},
  };
  for (const auto& pair : runs) {
    SCOPED_TRACE(pair[1]);
    const std::vector<Point> ground = MarkPath(RunFrames(Program, 80, pair[0]), 80);
    const std::vector<Point> air = MarkPath(RunFrames(Program, 80, pair[1]), 80);
    EXPECT_EQ(Columns(air), Columns(ground));
    EXPECT_NE(Rows(air), Rows(ground));
  }
}

TEST(JumpDemo, DrawsTheGroundAndTheMessageUnderTheMark) {
  const HeadlessRun run = RunFrames(Program, 2);
  const std::string groundPiece = [] {
    std::string piece;
    for (int cell = 0; cell < 10; ++cell) piece += "\x81\x50";  // "￣"
    return piece;
  }();
  for (int frame = 0; frame < 2; ++frame) {
    const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
    ASSERT_EQ(draws.size(), 6u);
    EXPECT_EQ(draws[0].bytes, Mark);
    EXPECT_EQ((Point{draws[0].x, draws[0].y}), (Point{50, Ground}));
    for (int piece = 0; piece < 4; ++piece) {
      EXPECT_EQ(draws[1 + piece].bytes, groundPiece);
      EXPECT_EQ((Point{draws[1 + piece].x, draws[1 + piece].y}), (Point{160 * piece, 430}));
    }
    EXPECT_EQ(draws[5].bytes, "あんましヌピタっぽくないけどスペースキーでジャンプ");
    EXPECT_EQ(draws[5].bytes.substr(0, 2), "\x82\xa0");  // "あ" in code page 932
    EXPECT_EQ(draws[5].bytes.size(), 50u);
    EXPECT_EQ((Point{draws[5].x, draws[5].y}), (Point{80, 444}));
  }

  // In the picture the ground pieces ink the rows 430..445 across the width,
  // the mark stands in its cell above them and the message lies below.
  const Picture picture = LastPicture(Program, 1);
  for (int left = 0; left < 640; left += 160)
    EXPECT_FALSE(InkIn(picture, left, 430, left + 159, 443).Empty()) << left;
  const Box mark = InkIn(picture, 0, 400, 639, 429);
  EXPECT_FALSE(mark.Empty());
  EXPECT_GE(mark.left, 50);
  EXPECT_LE(mark.right, 65);
  EXPECT_GE(mark.top, Ground);
  const Box message = InkIn(picture, 0, 446, 639, 479);
  EXPECT_FALSE(message.Empty());
  EXPECT_GE(message.left, 80);
  EXPECT_LE(message.right, 80 + 25 * 16 - 1);
  EXPECT_LE(message.bottom, 444 + 15);
}

}  // namespace
