// 60 Hz pacing: spin with zero-length sleeps until a frame period has passed
// since the previous frame started. Spinning keeps the cadence tight; overruns
// are not made up. A called-back driver takes the display frame nearest to
// each due time instead.
#include "FrameTimer.h"

#include <cmath>

#include "Platform.h"

FrameTimer MainFrameTimer = {1000.0 / 60.0, 1.0, 0, false};

int InitFrameTimer() {
  MainFrameTimer.period = 1000.0 / 60.0;
  int64_t frequency = 0;
  if (!PlatformCounterFrequency(&frequency) || frequency <= 0) {
    // No high-resolution counter: pace on the millisecond clock instead.
    MainFrameTimer.fallbackClock = true;
    MainFrameTimer.counterRate = 1.0;
    return 0;
  }
  MainFrameTimer.fallbackClock = false;
  MainFrameTimer.counterRate = static_cast<double>(frequency) * 0.001;
  return 1;
}

int64_t ReadFrameClock() {
  return MainFrameTimer.fallbackClock ? PlatformMilliseconds() : PlatformCounter();
}

bool IsFrameDue(int64_t now) {
  // The difference is taken on the counter values, then converted: before the
  // first frame the last tick is 0 and the frame is long overdue.
  return static_cast<double>(now - MainFrameTimer.lastTick) / MainFrameTimer.counterRate >=
         MainFrameTimer.period;
}

void StartFrame(int64_t now) { MainFrameTimer.lastTick = now; }

void WaitForNextFrame() {
  int64_t now = 0;
  do {
    PlatformYield();
    now = ReadFrameClock();
  } while (!IsFrameDue(now));
  StartFrame(now);
}

bool TakeAnimationFrame(int64_t now) {
  const int64_t period = std::llround(MainFrameTimer.period * MainFrameTimer.counterRate);
  if (!IsFrameDue(now + period / 2)) return false;
  const int64_t due = MainFrameTimer.lastTick + period;
  StartFrame(now - due > period ? now : due);
  return true;
}
