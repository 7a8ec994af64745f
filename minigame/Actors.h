// The mini-game's actors and play rules: one player, a ring of shots and a
// swarm of enemies, all in fixed tables, moved once per frame of play.
#pragma once

enum ActorKind : int {
  KindNone = 0,
  KindPlayer = 1,
  KindShot = 2,
  KindEnemy = 3,
  KindFallingEnemy = 4,   // shot down, dropping out of the window
  KindFallingPlayer = 5,  // touched by an enemy, hopping back and dropping out
};

struct Actor {
  int kind;  // an ActorKind
  int x;     // top-left corner of the mark, screen pixels
  int y;
  int speed;  // pixels per frame; the vertical velocity while falling
  bool active;
};

constexpr int ShotCount = 32;
constexpr int EnemyCount = 16;

extern Actor Player;  // its active flag means the player is still in play
extern Actor Shots[ShotCount];
extern Actor Enemies[EnemyCount];
extern int ShotCursor;   // the only slot the next shot may use
extern int FrameCount;   // frames of play so far
extern int FallenCount;  // enemies that have fallen out of the window

void SeedRandom(unsigned int seed);
// 0 ... 32767.
int NextRandom();

void UpdatePlayer();
void UpdateShots();
void HitTestShot(Actor& shot);
void UpdateEnemies();
void DrawActor(const Actor& actor);
