// free_move through its headless twin: what each frame draws.
#include <gtest/gtest.h>

#include "HeadlessRun.h"

namespace {

const std::string Mark = "●";

std::vector<std::pair<int, int>> MarkPositions(const HeadlessRun& run) {
  std::vector<std::pair<int, int>> positions;
  for (const TextDraw& draw : DrawsOf(run, Mark)) positions.push_back({draw.x, draw.y});
  return positions;
}

TEST(FreeMove, ArrowsMoveFourPixelsPerFrameOnEachAxis) {
  const HeadlessRun run = RunHeadless(
      "free_move-headless",
      {"--frames", "8", "--keys", "right@1-2,right+down@3-4,left+right@5-5,up+down+left@6-6"});
  ASSERT_EQ(run.exitCode, 0) << run.errorOutput;
  ASSERT_EQ(run.draws.size(), 8u);  // one mark a frame, nothing else
  const std::vector<std::pair<int, int>> expected = {{50, 50}, {54, 50}, {58, 50}, {62, 54},
                                                     {66, 58}, {66, 58}, {62, 58}, {62, 58}};
  EXPECT_EQ(MarkPositions(run), expected);
}

TEST(FreeMove, LeavesTheWindowAndComesBack) {
  // 20 frames left: x = 50 - 80 = -30, half the mark off the left edge and beyond.
  const std::string scratch = ScratchDirectory("free-move");
  const HeadlessRun out =
      RunHeadless("free_move-headless",
                  {"--frames", "20", "--keys", "left@0-19", "--png", scratch + "/out.png"});
  ASSERT_EQ(out.exitCode, 0) << out.errorOutput;
  EXPECT_EQ(MarkPositions(out).back(), std::make_pair(-30, 50));
  Picture picture;
  ASSERT_TRUE(ReadPng(scratch + "/out.png", &picture));
  EXPECT_TRUE(InkBox(picture).Empty());

  const HeadlessRun back = RunHeadless(
      "free_move-headless",
      {"--frames", "40", "--keys", "left@0-19,right@20-39", "--png", scratch + "/back.png"});
  ASSERT_EQ(back.exitCode, 0);
  EXPECT_EQ(MarkPositions(back).back(), std::make_pair(50, 50));
  ASSERT_TRUE(ReadPng(scratch + "/back.png", &picture));
  const Box box = InkBox(picture);
  ASSERT_FALSE(box.Empty());
  EXPECT_GE(box.left, 50);
  EXPECT_LE(box.right, 65);
  EXPECT_GE(box.top, 50);
  EXPECT_LE(box.bottom, 65);
  for (uint32_t pixel : picture.pixels) ASSERT_TRUE(pixel == 0xFFFFFF || pixel == 0x000000);
}

TEST(FreeMove, HeadlessTwinRejectsBadArguments) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"--frames"},
                                             {"--frames", "-1"},
                                             {"--frames", "x"},
                                             {"--frames", "3", "--keys", "jump@0-1"},
                                             {"--frames", "3", "--time", "soon"},
                                             {"--frames", "3", "--bogus"}}) {
    const HeadlessRun run = RunHeadless("free_move-headless", arguments);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errorOutput.find("usage:"), std::string::npos);
  }
}

}  // namespace
