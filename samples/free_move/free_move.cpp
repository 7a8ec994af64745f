// The smallest program: a mark that the arrow keys move freely over the window.
#include "Tovalinex.h"

const char AppTitle[] = "移動速度を速くしてみる";

static int x = 50;
static int y = 50;
static int speed = 4;

void GameFrame() {
  // Independent tests in this order, so opposite keys cancel.
  if (IsKeyHeld(KeyLeft)) x -= speed;
  if (IsKeyHeld(KeyRight)) x += speed;
  if (IsKeyHeld(KeyUp)) y -= speed;
  if (IsKeyHeld(KeyDown)) y += speed;
  DrawString("●", x, y);
}
