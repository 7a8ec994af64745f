// walled_move: the mark stops at its limits and the readout follows it.
#include "MarkPath.h"

namespace {

const char Program[] = "walled_move-headless";
// Ten full-width low lines "＿" in code page 932.
const std::string WallPiece = [] {
  std::string piece;
  for (int cell = 0; cell < 10; ++cell) piece += "\x81\x51";
  return piece;
}();

TEST(WalledMove, StopsAtEachLimitAndMovesFourPixelsUntilThen) {
  // 150 frames of one arrow is more than any limit needs from (50, 50).
  struct Case {
    const char* keys;
    Point second, last;
  } cases[] = {
      {"up@0-149", {50, 46}, {50, 46}},         {"down@0-149", {50, 58}, {50, 466}},
      {"right@0-149", {58, 50}, {626, 50}},     {"left@0-149", {42, 50}, {0, 50}},
      {"up+left@0-149", {42, 46}, {0, 46}},     {"down+right@0-149", {58, 58}, {626, 466}},
      {"left+right@0-149", {50, 50}, {50, 50}}, {"up+down@0-149", {50, 50}, {50, 50}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.keys);
    const std::vector<Point> path = MarkPath(RunFrames(Program, 150, test.keys), 150);
    EXPECT_EQ(path[1], test.second);
    EXPECT_EQ(path[149], test.last);
  }
  // The limits are reached exactly, not one step short: 50 + 4 * 104 = 466
  // and 50 + 4 * 144 = 626, and one step further is clamped back.
  const std::vector<Point> down = MarkPath(RunFrames(Program, 106, "down@0-105"), 106);
  EXPECT_EQ(down[102], (Point{50, 462}));
  EXPECT_EQ(down[103], (Point{50, 466}));
  EXPECT_EQ(down[105], (Point{50, 466}));
  const std::vector<Point> right = MarkPath(RunFrames(Program, 146, "right@0-145"), 146);
  EXPECT_EQ(right[142], (Point{622, 50}));
  EXPECT_EQ(right[145], (Point{626, 50}));
}

TEST(WalledMove, DrawsTheWallLineAndTheClampedReadoutEveryFrame) {
  // A walk that presses into three limits, so the readout is seen after clamps.
  const int frames = 220;
  const HeadlessRun run = RunFrames(Program, frames, "up@0-9,left@10-29,down+right@30-219");
  const std::vector<Point> path = MarkPath(run, frames);
  for (int frame = 0; frame < frames; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
    ASSERT_EQ(draws.size(), 7u);
    EXPECT_EQ(draws[0].bytes, Mark);
    for (int piece = 0; piece < 4; ++piece) {
      EXPECT_EQ(draws[1 + piece].bytes, WallPiece);
      EXPECT_EQ(draws[1 + piece].x, 160 * piece);
      EXPECT_EQ(draws[1 + piece].y, 30);
    }
    EXPECT_EQ(draws[5].bytes, std::to_string(path[frame].x));
    EXPECT_EQ((Point{draws[5].x, draws[5].y}), (Point{100, 10}));
    EXPECT_EQ(draws[6].bytes, std::to_string(path[frame].y));
    EXPECT_EQ((Point{draws[6].x, draws[6].y}), (Point{160, 10}));
  }
  EXPECT_EQ(path[9], (Point{50, 46}));
  EXPECT_EQ(path[29], (Point{0, 46}));
  EXPECT_EQ(path[219], (Point{626, 466}));
}

bool RowFullyInked(const Picture& picture, int y) {
  for (int x = 0; x < picture.width; ++x)
    if (picture.At(x, y) == 0xFFFFFF) return false;
  return true;
}

TEST(WalledMove, PictureShowsTheWallLineAboveTheMarkAtTheTopLimit) {
  const Picture start = LastPicture(Program, 1);
  ASSERT_EQ(start.width, 640);
  ASSERT_EQ(start.height, 480);
  // The mark's ink stays inside its 16x16 cell at (50, 50).
  const Box mark = InkIn(start, 0, 46, 639, 479);
  EXPECT_FALSE(mark.Empty());
  EXPECT_GE(mark.left, 50);
  EXPECT_LE(mark.right, 65);
  EXPECT_GE(mark.top, 50);
  EXPECT_LE(mark.bottom, 65);
  // The four pieces join into one line: a row of their band inked end to end.
  int wallRow = -1;
  for (int y = 30; y < 46 && wallRow < 0; ++y)
    if (RowFullyInked(start, y)) wallRow = y;
  EXPECT_GE(wallRow, 30);
  // The readout's digits appear in their cells.
  EXPECT_FALSE(InkIn(start, 100, 10, 115, 25).Empty());
  EXPECT_FALSE(InkIn(start, 160, 10, 175, 25).Empty());

  // Pressed against the top limit, the mark sits in rows 46..61, and the
  // wall's band above it looks exactly as before.
  const Picture top = LastPicture(Program, 5, "up@0-4");
  const Box raised = InkIn(top, 0, 46, 639, 479);
  EXPECT_FALSE(raised.Empty());
  EXPECT_LE(raised.bottom, 61);
  EXPECT_LT(raised.top, mark.top);
  for (int y = 30; y < 46; ++y)
    for (int x = 50; x < 66; ++x) EXPECT_EQ(top.At(x, y), start.At(x, y)) << x << ", " << y;
}

}  // namespace
