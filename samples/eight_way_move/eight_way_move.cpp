// A mark that moves in eight directions, covering the same distance per frame
// whether the step is straight or diagonal.
#include "Tovalinex.h"

const char AppTitle[] = "移動速度をよく考えてみる";

static double x = 50.0;
static double y = 50.0;
static double speed = 4.0;
// -1 stands still; 0 to 7 are steps of 45 degrees clockwise from up.
static int direction = -1;

static int ChooseDirection() {
  // Up wins over down, and left over right.
  if (IsKeyHeld(KeyUp)) {
    if (IsKeyHeld(KeyLeft)) return 7;
    if (IsKeyHeld(KeyRight)) return 1;
    return 0;
  }
  if (IsKeyHeld(KeyDown)) {
    if (IsKeyHeld(KeyLeft)) return 5;
    if (IsKeyHeld(KeyRight)) return 3;
    return 4;
  }
  if (IsKeyHeld(KeyLeft)) return 6;
  if (IsKeyHeld(KeyRight)) return 2;
  return -1;
}

void GameFrame() {
  direction = ChooseDirection();
  // Every heading goes through sine and cosine, straight ones included, so
  // their cross-axis part is a rounding residue rather than an exact zero.
  if (direction != -1) {
    const double angle = direction * 0.7853981633974483;
    x += std::sin(angle) * speed;
    y -= std::cos(angle) * speed;
  }
  // The position keeps its fraction; only the drawing truncates towards zero.
  DrawString("●", static_cast<int>(x), static_cast<int>(y));
}
