// Movement, shooting and hits of the mini-game, one frame at a time.
#include "Actors.h"

#include "Tovalinex.h"

Actor Player = {};
Actor Shots[ShotCount] = {};
Actor Enemies[EnemyCount] = {};
int ShotCursor = 0;
int FrameCount = 0;
int FallenCount = 0;

static unsigned int RandomState = 1;

static_assert(sizeof(unsigned int) == 4, "the random source wraps at 2^32");

// Indexed by ActorKind.
static const char* const ActorMarks[] = {"", "●", "・", "*", "+", "◎"};

static const int ShotSpeed = 8;
static const int FirePeriod = 8;  // frames between shots while space is held
static const int HopSpeed = -8;   // upward kick of a touched player
static const int ScreenWidth = 640;
static const int ScreenHeight = 480;

void SeedRandom(unsigned int seed) { RandomState = seed; }

int NextRandom() {
  RandomState = RandomState * 214013u + 2531011u;
  return static_cast<int>((RandomState >> 16) & 0x7FFF);
}

// Every actor's box is 8 wide and 16 high with both edges included, whatever
// its mark; the point tested is the other actor's top-left corner.
static bool BoxContains(const Actor& box, int x, int y) {
  return box.x <= x && x <= box.x + 8 && box.y <= y && y <= box.y + 16;
}

void UpdatePlayer() {
  if (Player.kind == KindPlayer) {
    // Independent tests, so opposite keys cancel and nothing stops the mark.
    if (IsKeyHeld(KeyLeft)) Player.x -= Player.speed;
    if (IsKeyHeld(KeyRight)) Player.x += Player.speed;
    if (IsKeyHeld(KeyUp)) Player.y -= Player.speed;
    if (IsKeyHeld(KeyDown)) Player.y += Player.speed;
  } else if (Player.kind == KindFallingPlayer) {
    Player.x -= 3;
    Player.y += Player.speed;
    Player.speed += 1;
    if (Player.y > ScreenHeight) Player.active = false;
  }

  // Shots go round the ring in order: while the cursor's slot is still in
  // flight nothing is fired, even if other slots are free. A falling player
  // keeps shooting.
  Actor& shot = Shots[ShotCursor];
  if (IsKeyHeld(KeySpace) && !shot.active && FrameCount % FirePeriod == 0) {
    shot.kind = KindShot;
    shot.x = Player.x;
    shot.y = Player.y;
    shot.speed = ShotSpeed;
    shot.active = true;
    ShotCursor = (ShotCursor + 1) % ShotCount;
  }
}

void UpdateShots() {
  for (Actor& shot : Shots) {
    if (!shot.active) continue;
    shot.x += shot.speed;
    // Tested before being retired, so a shot leaving the window can still strike.
    HitTestShot(shot);
    if (shot.x > ScreenWidth) shot.active = false;
  }
}

void HitTestShot(Actor& shot) {
  for (Actor& enemy : Enemies) {
    // Falling enemies count too: striking one again restarts its fall.
    if (enemy.active && BoxContains(enemy, shot.x, shot.y)) {
      shot.active = false;
      enemy.kind = KindFallingEnemy;
      enemy.speed = 0;
      return;
    }
  }
}

void UpdateEnemies() {
  for (Actor& enemy : Enemies) {
    if (!enemy.active) continue;
    if (enemy.kind == KindEnemy) {
      switch (NextRandom() % 5) {
        case 0: break;
        case 1: enemy.y -= enemy.speed; break;
        case 2: enemy.x += enemy.speed; break;
        case 3: enemy.y += enemy.speed; break;
        case 4: enemy.x -= enemy.speed; break;
      }
      // A player already falling is kicked up again.
      if (BoxContains(enemy, Player.x, Player.y)) {
        Player.kind = KindFallingPlayer;
        Player.speed = HopSpeed;
      }
    } else if (enemy.kind == KindFallingEnemy) {
      enemy.speed += 1;
      enemy.y += enemy.speed;
      if (enemy.y > ScreenHeight) {
        enemy.active = false;
        FallenCount += 1;
      }
    }
  }
}

void DrawActor(const Actor& actor) {
  if (actor.active) DrawString(ActorMarks[actor.kind], actor.x, actor.y);
}
