// 60 Hz pacing. The timer answers one question, whether the next frame is
// due at a given counter value, and records when a frame starts; a driver
// that can block spins on that question (WaitForNextFrame), one called back
// by its platform asks it each time (TakeAnimationFrame).
#pragma once

#include <cstdint>

struct FrameTimer {
  double period;       // milliseconds per frame
  double counterRate;  // counter ticks per millisecond
  int64_t lastTick;    // counter value at the start of the last frame; 0 before the first
  bool fallbackClock;  // no high-resolution counter: the millisecond clock is used
};
extern FrameTimer MainFrameTimer;

// 1 when the high-resolution counter can be read; 0 when the millisecond
// clock has to stand in for it (pacing still works, only coarser).
int InitFrameTimer();
// The clock the timer paces on, in its own ticks.
int64_t ReadFrameClock();
// Whether a whole frame period has passed at `now` since the last frame started.
bool IsFrameDue(int64_t now);
// Records that a frame starts at `now`.
void StartFrame(int64_t now);
// Returns once the next frame is due, and starts it: successive returns are
// at least one frame period apart, a late frame is not made up for, and the
// processor is given up at least once.
void WaitForNextFrame();
// For a driver called back on each of the display's frames (a browser's
// animation frames): whether a frame should run in the one that comes at
// `now`, and if so starts it. A frame is due from half a period early on, so
// the display frame nearest to each sixtieth of a second takes it, and it
// starts when it was due rather than when it was noticed: 60 frames a second
// on a 60, 120 or 144 Hz display alike. After a long gap (a hidden page) the
// schedule starts afresh from `now` instead of catching up.
bool TakeAnimationFrame(int64_t now);
