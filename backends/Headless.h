// Control and observation of the headless backend: a virtual clock, scripted
// keys and activation, and the pictures the loop presents. Tests and the
// <program>-headless tools drive the unchanged frame loop through it.
#pragma once

#include <cstdint>

#include "KeySet.h"
#include "Platform.h"
#include "Surface.h"

struct ActivationChange {
  int pass;  // the loop pass at whose start the message arrives
  int active;
};

constexpr int MaximumActivationChanges = 64;
constexpr int64_t HeadlessCounterFrequency = 10000000;  // ticks per second

struct HeadlessScript {
  int frames;  // GameFrame calls before the window is closed
  long long calendarSeconds;
  ActivationChange activations[MaximumActivationChanges];
  int activationCount;
  bool counterAvailable;    // false: there is no high-resolution counter
  int64_t yieldTicks;       // how far one zero-length sleep moves the virtual clock
  RunningCopy runningCopy;  // what the single-instance lookup finds; None by default
  bool refuseWindowClass;
  bool refuseWindow;
  bool refuseSurfaces;
  bool refuseFont;
  // Called each time a frame's picture is presented, with that frame's index.
  void (*presented)(int frame, const Surface* picture);
  // Gives the keys held in each frame (a KeySetBit set); called once per
  // frame, in frame order. Null: no key is ever held.
  unsigned (*keySource)(int frame);
};

struct HeadlessRecord {
  int framesRun;
  int passes;
  int paints;    // paint messages handled
  int presents;  // of which copied the back buffer
  int waits;     // blocking waits while inactive
  int64_t yields;
  int messageBoxes;
  int windowX, windowY, windowWidth, windowHeight, showState;
  int keyQueries;
};

// Back to the default script (one frame, no keys, the real calendar time) and
// a clean record. Also resets the core's loop state for another run.
void HeadlessReset();
HeadlessScript* HeadlessControl();
const HeadlessRecord* HeadlessObserved();
// The picture last presented (640x480, bottom row first, as the back buffer).
const Surface* HeadlessPresented();
// Moves the virtual clock, as if the caller had taken that long.
void HeadlessAdvanceClock(int64_t ticks);
int64_t HeadlessClock();
