// A mark that runs with momentum and friction and jumps higher the longer the
// space bar is held. Positions and speeds are in eighths of a pixel.
#include "Tovalinex.h"

const char AppTitle[] = "ヌピタっぽいジャンプ";

static int x = 400;
static int y = 3328;
static int velocityX = 0;
static int velocityY = 0;
// Set once the lift is used up or the space bar is let go; cleared on landing.
static bool jumpLocked = false;
static bool spaceWasHeld = false;

static const int groundLevel = 3328;

void GameFrame() {
  if (IsKeyHeld(KeyLeft)) velocityX -= 3;
  if (IsKeyHeld(KeyRight)) velocityX += 3;

  if (IsKeyHeld(KeySpace)) {
    if (!jumpLocked) {
      velocityY -= 8;
      if (velocityY < -40) jumpLocked = true;
    }
    spaceWasHeld = true;
  } else {
    // Letting go ends the lift for the rest of this jump.
    if (spaceWasHeld) jumpLocked = true;
    spaceWasHeld = false;
  }

  // Friction applies in the same step as the limit, so the limit lands on 39.
  if (velocityX > 40) {
    velocityX = 39;
  } else if (velocityX < -40) {
    velocityX = -39;
  } else if (velocityX > 0) {
    velocityX -= 1;
  } else if (velocityX < 0) {
    velocityX += 1;
  }

  x += velocityX;
  y += velocityY;
  velocityY += 4;

  // Landing needs y to pass the ground, so a mark at rest alternates between
  // a speed of 0 and 4 and is unlocked only every second frame.
  if (y > groundLevel) {
    y = groundLevel;
    velocityY = 0;
    jumpLocked = false;
  }

  DrawString("●", x / 8, y / 8);
  for (int left = 0; left < 640; left += 160) DrawString("￣￣￣￣￣￣￣￣￣￣", left, 430);
  DrawString("あんましヌピタっぽくないけどスペースキーでジャンプ", 80, 444);
}
