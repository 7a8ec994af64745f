// The mini-game's frame function and its scenes: title, start, play, result.
// A scene that hands over to another draws nothing in that frame.
#include "Actors.h"
#include "Tovalinex.h"

const char AppTitle[] = "タイトル画面、ゲームオーバー画面";

typedef void (*Scene)();

static void TitleScene();
static void StartGameScene();
static void PlayScene();
static void ResultScene();

static Scene CurrentScene = TitleScene;  // runs from the next frame when changed
static bool SpacePrevious = false;       // space held when the previous frame ended

// A press is the frame the space bar goes down; holding it is not another.
static bool SpacePressed() { return IsKeyHeld(KeySpace) && !SpacePrevious; }

// Five single-byte spaces leave room for the seconds drawn at x 380.
static const char TimeText[] = "タイム：     秒";

static void DrawTime() {
  DrawString(TimeText, 300, 10);
  DrawNumber(FrameCount / 60, 380, 10);
}

static void TitleScene() {
  if (SpacePressed()) {
    CurrentScene = StartGameScene;
    return;
  }
  DrawString("羽虫落としミニゲーム　～ピルカモン～", 140, 220);
  DrawString("スペースキーでゲームスタート", 20, 10);
}

// Runs for one frame and draws nothing.
static void StartGameScene() {
  SeedRandom(static_cast<unsigned int>(CalendarSeconds()));
  Player = {KindPlayer, 50, 50, 4, true};
  for (Actor& shot : Shots) shot.active = false;
  // Separate statements: the random numbers are drawn x, y, speed, enemy after enemy.
  for (Actor& enemy : Enemies) {
    enemy.kind = KindEnemy;
    enemy.active = true;
    enemy.x = 400 + NextRandom() % 200;
    enemy.y = 40 + NextRandom() % 400;
    enemy.speed = 2 + NextRandom() % 4;
  }
  ShotCursor = 0;
  FrameCount = 0;
  FallenCount = 0;
  CurrentScene = PlayScene;
}

static void PlayScene() {
  UpdatePlayer();
  UpdateShots();
  UpdateEnemies();
  FrameCount += 1;  // the frame that ends the game is counted
  if (!Player.active || FallenCount >= EnemyCount) {
    CurrentScene = ResultScene;
    return;
  }
  DrawActor(Player);
  for (const Actor& shot : Shots) DrawActor(shot);
  for (const Actor& enemy : Enemies) DrawActor(enemy);
  DrawString("スペースキーでショット発射", 20, 10);
  DrawTime();
}

static void ResultScene() {
  if (SpacePressed()) {
    CurrentScene = TitleScene;
    return;
  }
  // A player hit but still in the window when the last enemy falls out has won.
  DrawString(Player.active ? "ゲームクリア" : "ゲームオーバー", 140, 220);
  DrawString("スペースキーでタイトルに戻る", 20, 10);
  DrawTime();
}

void GameFrame() {
  CurrentScene();
  SpacePrevious = IsKeyHeld(KeySpace);
}
