// Whole games played through minigame-headless from key scripts, checked on
// what each frame draws and on the pictures it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "HeadlessRun.h"

static const std::string TitleText = "羽虫落としミニゲーム　～ピルカモン～";
static const std::string StartText = "スペースキーでゲームスタート";
static const std::string ShootText = "スペースキーでショット発射";
static const std::string TimeText = "タイム：     秒";
static const std::string ClearText = "ゲームクリア";
static const std::string OverText = "ゲームオーバー";
static const std::string BackText = "スペースキーでタイトルに戻る";

// The whole games of the program list (programs.json, minigame.rounds),
// handed over by the build.
// Seed 168: every enemy shot down from the left; then, without firing, the
// player flies into the last one and, knocked down, shoots it while hopping.
// It falls out before the player does. Press at 10, start at 11, play from 12,
// the last enemy falls out in frame 737 (726 frames of play); space is held
// on into the result until 767 and pressed again at 777.
static const char ClearSeconds[] = TOVALINEX_CLEAR_ROUND_TIME;
static const char ClearKeys[] = TOVALINEX_CLEAR_ROUND_KEYS;

// Seed 1: the player waits, then steers into the nearest enemy and falls out
// of the window in frame 191, after exactly 180 frames of play.
static const char OverSeconds[] = TOVALINEX_OVER_ROUND_TIME;
static const char OverKeys[] = TOVALINEX_OVER_ROUND_KEYS;

static std::vector<std::string> TextsOf(const std::vector<TextDraw>& draws) {
  std::vector<std::string> texts;
  for (const TextDraw& draw : draws) texts.push_back(draw.bytes);
  return texts;
}

// What the scene machine showed in a frame, told apart by its instruction line.
static std::string SceneIn(const HeadlessRun& run, int frame) {
  const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
  if (draws.empty()) return "blank";
  for (const TextDraw& draw : draws)
    if (draw.x == 20 && draw.y == 10) {
      if (draw.bytes == StartText) return "title";
      if (draw.bytes == ShootText) return "play";
      if (draw.bytes == BackText) return "result";
    }
  return "unknown";
}

static void ExpectScenes(const HeadlessRun& run, int first, int last, const std::string& scene) {
  for (int frame = first; frame <= last; ++frame)
    ASSERT_EQ(SceneIn(run, frame), scene) << "frame " << frame;
}

// The seconds drawn after "タイム：" in a play or result frame.
static std::string SecondsIn(const HeadlessRun& run, int frame) {
  const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
  if (draws.size() < 2 || draws[draws.size() - 2].bytes != TimeText) return "missing";
  const TextDraw& number = draws.back();
  EXPECT_EQ(draws[draws.size() - 2].x, 300);
  EXPECT_EQ(number.x, 380);
  EXPECT_EQ(number.y, 10);
  return number.bytes;
}

static void ExpectResult(const HeadlessRun& run, int frame, const std::string& verdict,
                         const std::string& seconds) {
  const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
  ASSERT_EQ(TextsOf(draws), (std::vector<std::string>{verdict, BackText, TimeText, seconds}));
  EXPECT_EQ(draws[0].x, 140);
  EXPECT_EQ(draws[0].y, 220);
  EXPECT_EQ(draws[1].x, 20);
  EXPECT_EQ(draws[1].y, 10);
}

TEST(MinigameFlow, TitleWaitsForPressAndFirstFramePressStarts) {
  HeadlessRun idle = RunHeadless("minigame-headless", {"--frames", "3"});
  ASSERT_EQ(idle.exitCode, 0) << idle.errorOutput;
  for (int frame = 0; frame < 3; ++frame) {
    const std::vector<TextDraw> draws = DrawsInFrame(idle, frame);
    ASSERT_EQ(TextsOf(draws), (std::vector<std::string>{TitleText, StartText}));
    EXPECT_EQ(draws[0].x, 140);
    EXPECT_EQ(draws[0].y, 220);
    EXPECT_EQ(draws[1].x, 20);
    EXPECT_EQ(draws[1].y, 10);
  }

  HeadlessRun pressed = RunHeadless("minigame-headless", {"--frames", "3", "--keys", "space@0-0"});
  ASSERT_EQ(pressed.exitCode, 0) << pressed.errorOutput;
  EXPECT_EQ(SceneIn(pressed, 0), "blank");  // the press
  EXPECT_EQ(SceneIn(pressed, 1), "blank");  // the start
  ASSERT_EQ(SceneIn(pressed, 2), "play");
  const std::vector<TextDraw> play = DrawsInFrame(pressed, 2);
  ASSERT_EQ(play.size(), 20u);  // player, no shots, 16 enemies, 3 texts
  EXPECT_EQ(play[0].bytes, "●");
  EXPECT_EQ(play[0].x, 50);
  EXPECT_EQ(play[0].y, 50);
  EXPECT_EQ(SecondsIn(pressed, 2), "0");
}

// The enemies' start positions and speeds come from the seed in the order x, y,
// speed, enemy after enemy; in the first frame of play each takes one step.
TEST(MinigameFlow, EnemiesStartWhereTheSeedPutsThem) {
  const long long seeds[] = {1, 168, 1733700000, 4294967296LL + 168};
  for (long long seed : seeds) {
    unsigned int state = static_cast<unsigned int>(seed);
    auto next = [&state] {
      state = state * 214013u + 2531011u;
      return static_cast<int>(state >> 16 & 0x7FFF);
    };
    int start[16][3];
    for (auto& enemy : start) {
      enemy[0] = 400 + next() % 200;
      enemy[1] = 40 + next() % 400;
      enemy[2] = 2 + next() % 4;
    }
    HeadlessRun run = RunHeadless("minigame-headless", {"--frames", "3", "--keys", "space@0-0",
                                                        "--time", std::to_string(seed)});
    ASSERT_EQ(run.exitCode, 0) << run.errorOutput;
    const std::vector<TextDraw> draws = DrawsInFrame(run, 2);
    ASSERT_EQ(draws.size(), 20u);
    for (int index = 0; index < 16; ++index) {
      const int step = start[index][2];
      const int moves[5][2] = {{0, 0}, {0, -step}, {step, 0}, {0, step}, {-step, 0}};
      const int* move = moves[next() % 5];
      const TextDraw& drawn = draws[1 + index];
      EXPECT_EQ(drawn.bytes, "*");
      EXPECT_EQ(drawn.x, start[index][0] + move[0]) << "seed " << seed << " enemy " << index;
      EXPECT_EQ(drawn.y, start[index][1] + move[1]) << "seed " << seed << " enemy " << index;
    }
  }
}

TEST(MinigameFlow, ClearWhileKnockedDownThenBackToTitle) {
  HeadlessRun run = RunHeadless("minigame-headless",
                                {"--frames", "781", "--time", ClearSeconds, "--keys", ClearKeys});
  ASSERT_EQ(run.exitCode, 0) << run.errorOutput;
  ExpectScenes(run, 0, 9, "title");
  ExpectScenes(run, 10, 11, "blank");
  ExpectScenes(run, 12, 736, "play");
  ExpectScenes(run, 737, 737, "blank");
  ExpectScenes(run, 738, 776, "result");  // space held until 767 is no press
  ExpectScenes(run, 777, 777, "blank");
  ExpectScenes(run, 778, 780, "title");

  // The first shot, fired as play begins, is drawn 8 pixels right of the player.
  const std::vector<TextDraw> first = DrawsInFrame(run, 12);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(TextsOf(first)[1], "・");
  EXPECT_EQ(first[1].x, first[0].x + 8);
  EXPECT_EQ(first[1].y, first[0].y);

  // Knocked down, yet still in the window when the last enemy fell out.
  const std::vector<TextDraw> last = DrawsInFrame(run, 736);
  EXPECT_EQ(last[0].bytes, "◎");
  EXPECT_LE(last[0].y, 480);
  ExpectResult(run, 738, ClearText, "12");

  // Whole seconds of play, rounded down, counting the frame being drawn.
  for (int frame = 12; frame <= 736; ++frame)
    ASSERT_EQ(SecondsIn(run, frame), std::to_string((frame - 11) / 60)) << "frame " << frame;
}

TEST(MinigameFlow, GameOverCountsTheFrameThatEndsIt) {
  HeadlessRun run = RunHeadless("minigame-headless",
                                {"--frames", "233", "--time", OverSeconds, "--keys", OverKeys});
  ASSERT_EQ(run.exitCode, 0) << run.errorOutput;
  ExpectScenes(run, 12, 190, "play");
  ExpectScenes(run, 191, 191, "blank");
  ExpectScenes(run, 192, 230, "result");
  ExpectScenes(run, 231, 231, "blank");
  ExpectScenes(run, 232, 232, "title");
  EXPECT_EQ(DrawsInFrame(run, 190)[0].bytes, "◎");
  EXPECT_EQ(SecondsIn(run, 190), "2");    // 179 frames drawn
  ExpectResult(run, 192, OverText, "3");  // 180 with the last one
}

// Where a frame's texts can leave ink: 8 pixels per byte, 16 rows.
static bool InsideSomeText(const std::vector<TextDraw>& draws, int x, int y) {
  for (const TextDraw& draw : draws)
    if (x >= draw.x && x < draw.x + 8 * static_cast<int>(draw.bytes.size()) && y >= draw.y &&
        y < draw.y + 16)
      return true;
  return false;
}

static void ExpectPictureOfDraws(const std::string& directory, const HeadlessRun& run, int frame,
                                 Picture* picture) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%05d.png", frame);
  ASSERT_TRUE(ReadPng(directory + name, picture)) << name;
  ASSERT_EQ(picture->width, 640);
  ASSERT_EQ(picture->height, 480);
  const std::vector<TextDraw> draws = DrawsInFrame(run, frame);
  int stray = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      if (picture->At(x, y) != 0xFFFFFF && !InsideSomeText(draws, x, y)) ++stray;
  EXPECT_EQ(stray, 0) << "ink outside the texts of frame " << frame;
  // Every text wholly inside the window shows some ink of its own.
  for (const TextDraw& draw : draws) {
    const int right = draw.x + 8 * static_cast<int>(draw.bytes.size());
    if (draw.x < 0 || draw.y < 0 || right > 640 || draw.y + 16 > 480) continue;
    bool inked = false;
    for (int y = draw.y; y < draw.y + 16; ++y)
      for (int x = draw.x; x < right; ++x) inked = inked || picture->At(x, y) != 0xFFFFFF;
    EXPECT_TRUE(inked) << "no ink at " << draw.x << "," << draw.y << " in frame " << frame;
  }
}

static int RightmostInk(const Picture& picture, int top, int bottom) {
  int right = -1;
  for (int y = top; y <= bottom; ++y)
    for (int x = 0; x < picture.width; ++x)
      if (picture.At(x, y) != 0xFFFFFF && x > right) right = x;
  return right;
}

// Each scene of a whole game, and the blank frames between them, on the pictures.
TEST(MinigamePictures, WholeGameScenes) {
  const std::string clearDump = ScratchDirectory("clear");
  HeadlessRun clear = RunHeadless("minigame-headless", {"--frames", "779", "--time", ClearSeconds,
                                                        "--keys", ClearKeys, "--dump", clearDump});
  ASSERT_EQ(clear.exitCode, 0) << clear.errorOutput;
  const std::string overDump = ScratchDirectory("over");
  HeadlessRun over = RunHeadless("minigame-headless", {"--frames", "193", "--time", OverSeconds,
                                                       "--keys", OverKeys, "--dump", overDump});
  ASSERT_EQ(over.exitCode, 0) << over.errorOutput;

  Picture picture, title;
  for (int frame : {10, 11, 737, 777}) {
    ExpectPictureOfDraws(clearDump, clear, frame, &picture);
    EXPECT_TRUE(InkBox(picture).Empty()) << "frame " << frame << " is not blank";
  }
  for (int frame : {12, 400, 736}) ExpectPictureOfDraws(clearDump, clear, frame, &picture);
  ExpectPictureOfDraws(clearDump, clear, 0, &title);
  ExpectPictureOfDraws(clearDump, clear, 778, &picture);
  EXPECT_EQ(picture.pixels, title.pixels) << "the title after a game differs from the first";

  // The verdict line: "ゲームクリア" ends at x 235, "ゲームオーバー" one character later.
  ExpectPictureOfDraws(clearDump, clear, 738, &picture);
  EXPECT_GT(RightmostInk(picture, 220, 235), 219);
  EXPECT_LE(RightmostInk(picture, 220, 235), 235);
  ExpectPictureOfDraws(overDump, over, 191, &picture);
  EXPECT_TRUE(InkBox(picture).Empty());
  ExpectPictureOfDraws(overDump, over, 192, &picture);
  EXPECT_GT(RightmostInk(picture, 220, 235), 235);
}
