// 60 Hz pacing: spin with zero-length sleeps until a frame period has passed
// since the previous return. Spinning keeps the cadence tight; overruns are
// not made up.
#include "Platform.h"
#include "Shell.h"

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

static int64_t ReadClock() {
  return MainFrameTimer.fallbackClock ? PlatformMilliseconds() : PlatformCounter();
}

void WaitForNextFrame() {
  const int64_t now = ReadClock();
  const double remaining =
      MainFrameTimer.period -
      static_cast<double>(now - MainFrameTimer.lastTick) / MainFrameTimer.counterRate;
  do {
    PlatformYield();
    MainFrameTimer.lastTick = ReadClock();
  } while (static_cast<double>(MainFrameTimer.lastTick - now) / MainFrameTimer.counterRate <
           remaining);
}
