// The free-moving mark held below a wall line and inside the window, with its
// coordinates printed every frame.
#include "Tovalinex.h"

const char AppTitle[] = "壁の指定と数字表示";

static int x = 50;
static int y = 50;
static int speed = 4;

void GameFrame() {
  if (IsKeyHeld(KeyLeft)) x -= speed;
  if (IsKeyHeld(KeyRight)) x += speed;
  if (IsKeyHeld(KeyUp)) y -= speed;
  if (IsKeyHeld(KeyDown)) y += speed;

  // The top limit keeps the mark just under the wall line; right and bottom
  // let its 16-pixel cell reach 2 pixels past the edge.
  if (y < 46) y = 46;
  if (x > 626) x = 626;
  if (y > 466) y = 466;
  if (x < 0) x = 0;

  DrawString("●", x, y);
  // Four 160-pixel pieces make one line across the full width.
  for (int left = 0; left < 640; left += 160) DrawString("＿＿＿＿＿＿＿＿＿＿", left, 30);
  DrawNumber(x, 100, 10);
  DrawNumber(y, 160, 10);
}
