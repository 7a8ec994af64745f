// The play rules called directly, with the keys and the text output faked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Actors.h"
#include "Tovalinex.h"

static bool SpaceHeld = false;
bool IsKeyHeld(int key) { return key == KeySpace && SpaceHeld; }

struct Drawn {
  std::string text;
  int x, y;
};
static std::vector<Drawn> Draws;
void DrawString(const char* text, int x, int y) { Draws.push_back({text, x, y}); }

// A player at (50, 50), no shots, no enemies, no keys.
static void ClearPlay() {
  Player = {KindPlayer, 50, 50, 4, true};
  for (Actor& shot : Shots) shot = {};
  for (Actor& enemy : Enemies) enemy = {};
  ShotCursor = FrameCount = FallenCount = 0;
  SpaceHeld = false;
  Draws.clear();
}

// One frame of play as the play scene runs it; whether a shot was fired.
static bool PlayFrame() {
  const int cursor = ShotCursor;
  UpdatePlayer();
  UpdateShots();
  UpdateEnemies();
  ++FrameCount;
  return ShotCursor != cursor;
}

TEST(MinigameRandom, KnownSeedGivesKnownSequence) {
  SeedRandom(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : expected) EXPECT_EQ(NextRandom(), value);
  SeedRandom(1);
  EXPECT_EQ(NextRandom(), 41);
  SeedRandom(0xFFFFFFFFu);  // the product wraps at 2^32
  EXPECT_EQ(NextRandom(), 35);
}

TEST(MinigameShots, OneEveryEighthFrameWhileSpaceHeld) {
  ClearPlay();
  SpaceHeld = true;
  std::vector<int> fired;
  for (int frame = 0; frame <= 40; ++frame)
    if (PlayFrame()) fired.push_back(frame);
  EXPECT_EQ(fired, (std::vector<int>{0, 8, 16, 24, 32, 40}));
  // Moved in the frame it is fired, so first drawn 8 pixels right of the player.
  EXPECT_EQ(Shots[5].x, 58);
  EXPECT_EQ(Shots[5].y, 50);
  DrawActor(Shots[5]);
  ASSERT_EQ(Draws.size(), 1u);
  EXPECT_EQ(Draws[0].text, "・");
  EXPECT_EQ(Draws[0].x, 58);
}

TEST(MinigameShots, FiredFromFallingPlayer) {
  ClearPlay();
  Player = {KindFallingPlayer, 100, 100, -8, true};
  SpaceHeld = true;
  UpdatePlayer();
  EXPECT_EQ(Player.x, 97);
  EXPECT_EQ(Player.y, 92);
  EXPECT_EQ(Player.speed, -7);
  EXPECT_TRUE(Shots[0].active);
  EXPECT_EQ(Shots[0].kind, KindShot);
  EXPECT_EQ(Shots[0].x, 97);
  EXPECT_EQ(Shots[0].y, 92);
  EXPECT_EQ(Shots[0].speed, 8);
}

TEST(MinigameShots, RingStallsWhileCursorSlotInFlight) {
  ClearPlay();
  SpaceHeld = true;
  ShotCursor = 5;
  Shots[5] = {KindShot, 0, 0, 0, true};
  EXPECT_FALSE(PlayFrame()) << "fired although the cursor's slot is busy";
  EXPECT_FALSE(Shots[6].active);

  // From far left the ring fills: the 33rd shot waits until slot 0's shot has
  // left the window (x = -3000 + 8 * 456 > 640 in frame 455).
  ClearPlay();
  SpaceHeld = true;
  Player.x = -3000;
  std::vector<int> fired;
  for (int frame = 0; frame <= 460; ++frame)
    if (PlayFrame()) fired.push_back(frame);
  ASSERT_EQ(fired.size(), 33u);
  EXPECT_EQ(fired[31], 248);
  EXPECT_EQ(fired[32], 456);
  EXPECT_EQ(ShotCursor, 1);
}

TEST(MinigameShots, FiredPastRightEdgeIsTestedOnceAndNeverDrawn) {
  ClearPlay();
  SpaceHeld = true;
  Player.x = 633;
  Enemies[0] = {KindEnemy, 650, 50, 0, true};  // in reach of a second step only
  UpdatePlayer();
  UpdateShots();
  EXPECT_FALSE(Shots[0].active);
  DrawActor(Shots[0]);
  EXPECT_TRUE(Draws.empty());
  UpdateShots();
  EXPECT_EQ(Enemies[0].kind, KindEnemy);

  // Retired beyond 640 only after striking at 641.
  ClearPlay();
  SpaceHeld = true;
  Player.x = 633;
  Enemies[0] = {KindEnemy, 633, 40, 0, true};
  UpdatePlayer();
  UpdateShots();
  EXPECT_EQ(Enemies[0].kind, KindFallingEnemy);
  EXPECT_FALSE(Shots[0].active);
}

TEST(MinigameHits, BoxIncludesBothEdges) {
  struct Case {
    int x, y;
    bool struck;
  } cases[] = {{100, 100, true},  {108, 116, true}, {104, 108, true}, {99, 100, false},
               {109, 100, false}, {100, 99, false}, {100, 117, false}};
  for (const Case& c : cases) {
    ClearPlay();
    Enemies[0] = {KindEnemy, 100, 100, 3, true};
    Actor shot = {KindShot, c.x, c.y, 8, true};
    HitTestShot(shot);
    EXPECT_EQ(Enemies[0].kind == KindFallingEnemy, c.struck) << c.x << "," << c.y;
    EXPECT_EQ(shot.active, !c.struck) << c.x << "," << c.y;
  }
}

TEST(MinigameHits, FirstActiveEnemyInTableOrderIsStruck) {
  ClearPlay();
  Enemies[1] = {KindEnemy, 200, 200, 3, false};
  Enemies[3] = {KindEnemy, 200, 200, 3, true};
  Enemies[7] = {KindEnemy, 202, 204, 3, true};
  Actor shot = {KindShot, 204, 208, 8, true};
  HitTestShot(shot);
  EXPECT_EQ(Enemies[1].kind, KindEnemy);
  EXPECT_EQ(Enemies[3].kind, KindFallingEnemy);
  EXPECT_EQ(Enemies[3].speed, 0);
  EXPECT_EQ(Enemies[7].kind, KindEnemy);
  EXPECT_EQ(Enemies[7].speed, 3);
}

TEST(MinigameHits, FallingEnemyStruckAgainRestartsAndFallsOut) {
  ClearPlay();
  Enemies[2] = {KindFallingEnemy, 300, 470, 6, true};
  Actor shot = {KindShot, 300, 470, 8, true};
  HitTestShot(shot);
  EXPECT_FALSE(shot.active);
  EXPECT_EQ(Enemies[2].speed, 0);
  // Falls 1, 2, 3, 4, 5 pixels: still in at 480, gone at 485.
  std::vector<int> heights;
  for (int frame = 0; frame < 6; ++frame) {
    UpdateEnemies();
    heights.push_back(Enemies[2].y);
  }
  EXPECT_EQ(heights, (std::vector<int>{471, 473, 476, 480, 485, 485}));
  EXPECT_FALSE(Enemies[2].active);
  EXPECT_EQ(FallenCount, 1);
}

TEST(MinigameHits, WanderingFollowsTheRandomSequence) {
  ClearPlay();
  SeedRandom(1);  // 41, 18467, 6334, 26500, 19169, 15724, 11478: mod 5 1 2 4 0 4 4 3
  Enemies[4] = {KindEnemy, 200, 200, 3, true};
  Enemies[5] = {KindFallingEnemy, 300, 0, 0, true};  // draws no random number
  const int expected[][2] = {{200, 197}, {203, 197}, {200, 197}, {200, 197},
                             {197, 197}, {194, 197}, {194, 200}};
  for (const auto& position : expected) {
    UpdateEnemies();
    EXPECT_EQ(Enemies[4].x, position[0]);
    EXPECT_EQ(Enemies[4].y, position[1]);
  }
  EXPECT_EQ(NextRandom(), 29358);
}

TEST(MinigameHits, TouchingEnemyKnocksPlayerDownAgainAndAgain) {
  ClearPlay();
  SeedRandom(1);
  Enemies[0] = {KindEnemy, 46, 42, 0, true};  // speed 0: stays put whatever it draws
  UpdateEnemies();
  EXPECT_EQ(Player.kind, KindFallingPlayer);
  EXPECT_EQ(Player.speed, -8);
  Player.speed = 5;
  UpdateEnemies();
  EXPECT_EQ(Player.speed, -8);
  // A falling enemy does not touch.
  ClearPlay();
  Enemies[0] = {KindFallingEnemy, 50, 34, 0, true};
  UpdateEnemies();
  EXPECT_EQ(Player.kind, KindPlayer);
}

TEST(MinigameHits, FallingPlayerHopsLeftAndLeavesBelow) {
  ClearPlay();
  Player = {KindFallingPlayer, 100, 479, 1, true};
  UpdatePlayer();
  EXPECT_EQ(Player.x, 97);
  EXPECT_EQ(Player.y, 480);
  EXPECT_TRUE(Player.active);
  UpdatePlayer();
  EXPECT_EQ(Player.y, 482);
  EXPECT_FALSE(Player.active);
}

TEST(MinigameDraw, EachKindHasItsMarkAndInactiveDrawsNothing) {
  ClearPlay();
  const char* marks[] = {"●", "・", "*", "+", "◎"};
  for (int kind = KindPlayer; kind <= KindFallingPlayer; ++kind) {
    DrawActor({kind, kind * 10, -kind, 0, true});
    DrawActor({kind, 0, 0, 0, false});
  }
  ASSERT_EQ(Draws.size(), 5u);
  for (int index = 0; index < 5; ++index) {
    EXPECT_EQ(Draws[index].text, marks[index]);
    EXPECT_EQ(Draws[index].x, (index + 1) * 10);
    EXPECT_EQ(Draws[index].y, -(index + 1));
  }
}
