// The frame loop on the headless backend: order of one pass, pacing,
// activation, window placement and the failures that stop a start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Display.h"
#include "FrameLoop.h"
#include "FrameTimer.h"
#include "Headless.h"
#include "KeyScript.h"
#include "Shell.h"
#include "Tovalinex.h"

const char AppTitle[] = "ループの試験";

namespace {

std::vector<std::string> Events;
std::vector<int64_t> FrameStarts;
void (*FrameBody)(int frame) = nullptr;
int FramesSeen = 0;

bool BackBufferIsWhite() {
  const Surface& back = MainDisplay.backBuffer;
  for (int index = 0; index < back.width * back.height; ++index)
    if (back.pixels[index] != White) return false;
  return true;
}

void RecordPresent(int frame, const Surface* picture) {
  // Frame k draws its mark at x = 20 k; the picture shown must be that frame's.
  bool inkWhereFrameDrew = false;
  for (int x = 20 * frame; x < 20 * frame + 16 && x < 640; ++x)
    for (int y = 100; y < 116; ++y)
      if (PictureAt(picture, x, y) != White) inkWhereFrameDrew = true;
  Events.push_back("present " + std::to_string(frame) + (inkWhereFrameDrew ? " drawn" : " blank"));
}

class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    Events.clear();
    FrameStarts.clear();
    FrameBody = nullptr;
    FramesSeen = 0;
    HeadlessControl()->presented = RecordPresent;
  }
  static int Run(int frames) {
    HeadlessControl()->frames = frames;
    return ApplicationMain(1);
  }
};

}  // namespace

void GameFrame() {
  FrameStarts.push_back(HeadlessClock());
  Events.push_back(std::string("frame ") + std::to_string(FramesSeen) +
                   (BackBufferIsWhite() ? " white" : " dirty"));
  DrawString("●", 20 * FramesSeen, 100);
  if (FrameBody) FrameBody(FramesSeen);
  ++FramesSeen;
}

TEST_F(Loop, EachPassPresentsTheFrameCompletedInThePreviousPass) {
  EXPECT_EQ(Run(4), 0);
  const std::vector<std::string> expected = {
      "frame 0 white", "present 0 drawn", "frame 1 white", "present 1 drawn",
      "frame 2 white", "present 2 drawn", "frame 3 white", "present 3 drawn"};
  EXPECT_EQ(Events, expected);
  // The paint sent while the window is first shown finds no surfaces and copies nothing.
  EXPECT_EQ(HeadlessObserved()->paints, 5);
  EXPECT_EQ(HeadlessObserved()->presents, 4);
}

TEST_F(Loop, FramesAreAtLeastOnePeriodApartAndOverrunsAreNotMadeUp) {
  const int64_t period = HeadlessCounterFrequency / 60;  // 166666 ticks
  static int64_t yieldsBeforeOverrunWait = 0;
  FrameBody = [](int frame) {
    if (frame == 5) HeadlessAdvanceClock(HeadlessCounterFrequency / 40);  // a 25 ms frame
    if (frame == 5) yieldsBeforeOverrunWait = HeadlessObserved()->yields;
    if (frame == 6)
      Events.push_back("yields " +
                       std::to_string(HeadlessObserved()->yields - yieldsBeforeOverrunWait));
  };
  EXPECT_EQ(Run(12), 0);
  ASSERT_EQ(FrameStarts.size(), 12u);
  for (size_t index = 2; index < FrameStarts.size(); ++index) {
    const int64_t gap = FrameStarts[index] - FrameStarts[index - 1];
    EXPECT_GE(gap, period) << "frame " << index;
    if (index != 6) {
      EXPECT_LE(gap, period + HeadlessControl()->yieldTicks) << "frame " << index;
    }
  }
  // The wait after the long frame gives up its slice once and returns.
  EXPECT_NE(std::find(Events.begin(), Events.end(), "yields 1"), Events.end());
  EXPECT_EQ(FrameStarts[6] - FrameStarts[5],
            HeadlessCounterFrequency / 40 + HeadlessControl()->yieldTicks);
}

TEST_F(Loop, OnePassAtATimeAsACalledBackDriverRunsIt) {
  HeadlessScript* script = HeadlessControl();
  script->frames = 2;
  script->activations[0] = ActivationChange{1, 0};
  script->activations[1] = ActivationChange{2, 1};
  script->activationCount = 2;
  ASSERT_EQ(StartApplication(1), StillRunning);
  int exitCode = -1;
  EXPECT_EQ(RunOnePass(&exitCode), PassOutcome::Frame);
  EXPECT_EQ(HeadlessObserved()->presents, 0);
  // Deactivated: the frame already drawn is still presented, nothing runs.
  EXPECT_EQ(RunOnePass(&exitCode), PassOutcome::Idle);
  EXPECT_EQ(HeadlessObserved()->presents, 1);
  EXPECT_EQ(RunOnePass(&exitCode), PassOutcome::Frame);
  // The script's end closes the window once the last frame is up.
  EXPECT_EQ(RunOnePass(&exitCode), PassOutcome::Quit);
  EXPECT_EQ(exitCode, 0);
  const std::vector<std::string> expected = {"frame 0 white", "present 0 drawn", "frame 1 white",
                                             "present 1 drawn"};
  EXPECT_EQ(Events, expected);
  StopApplication();
  EXPECT_EQ(MainDisplay.backBuffer.pixels, nullptr);
  EXPECT_EQ(MainDisplay.textStrip.pixels, nullptr);
}

TEST(FrameTimerTest, DueOnceAWholePeriodHasPassedSinceTheLastStart) {
  HeadlessReset();
  ASSERT_EQ(InitFrameTimer(), 1);
  const int64_t start = 1000000000;  // 10 MHz: a period is 166,666.67 ticks
  EXPECT_TRUE(IsFrameDue(start));    // nothing has started yet
  StartFrame(start);
  EXPECT_FALSE(IsFrameDue(start + 166666));
  EXPECT_TRUE(IsFrameDue(start + 166667));
  // A late frame starts a new period from when it really starts.
  StartFrame(start + 500000);
  EXPECT_FALSE(IsFrameDue(start + 500000 + 166666));
  EXPECT_TRUE(IsFrameDue(start + 500000 + 166667));
}

TEST_F(Loop, WithoutACounterTheMillisecondClockPaces) {
  HeadlessControl()->counterAvailable = false;
  EXPECT_EQ(Run(6), 0);
  EXPECT_TRUE(MainFrameTimer.fallbackClock);
  ASSERT_EQ(FrameStarts.size(), 6u);
  for (size_t index = 2; index < FrameStarts.size(); ++index) {
    const int64_t gap = FrameStarts[index] - FrameStarts[index - 1];
    EXPECT_GE(gap, HeadlessCounterFrequency / 60) << "frame " << index;
    EXPECT_LE(gap, HeadlessCounterFrequency / 50) << "frame " << index;
  }
}

TEST_F(Loop, NothingRunsWhileInactive) {
  HeadlessScript* script = HeadlessControl();
  script->activations[0] = ActivationChange{3, 0};
  script->activations[1] = ActivationChange{9, 2};  // only exactly 1 activates
  script->activations[2] = ActivationChange{12, 1};
  script->activationCount = 3;
  static int keyQueriesWhileFrozen = -1;
  FrameBody = [](int frame) {
    IsKeyHeld(KeyRight);
    if (frame == 3) keyQueriesWhileFrozen = HeadlessObserved()->keyQueries;
  };
  EXPECT_EQ(Run(6), 0);
  EXPECT_EQ(FramesSeen, 6);
  // Passes 0-2 run frames 0-2; passes 3-11 only wait; frame 3 runs in pass 12.
  EXPECT_EQ(HeadlessObserved()->waits, 9);
  EXPECT_EQ(HeadlessObserved()->passes, 12 + 3 + 1);
  EXPECT_EQ(keyQueriesWhileFrozen, 4);  // no key was read while frozen
  // Frame 2's picture stays up through the pause: nothing presented in between.
  const std::vector<std::string> expectedStart = {
      "frame 0 white", "present 0 drawn", "frame 1 white", "present 1 drawn",
      "frame 2 white", "present 2 drawn", "frame 3 white"};
  EXPECT_EQ(std::vector<std::string>(Events.begin(), Events.begin() + 7), expectedStart);
}

TEST_F(Loop, ActivationAndScreenSaverMessages) {
  long long result = -1;
  EXPECT_TRUE(MainWndProc(nullptr, WindowMessage::ActivateApp, 0, 0, &result));
  EXPECT_EQ(ActivationFlag, 0);
  EXPECT_TRUE(MainWndProc(nullptr, WindowMessage::ActivateApp, 1, 7, &result));
  EXPECT_EQ(ActivationFlag, 1);
  EXPECT_TRUE(MainWndProc(nullptr, WindowMessage::SystemCommand, 0xF140, 0, &result));
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(MainWndProc(nullptr, WindowMessage::SystemCommand, 0xF141, 0, &result));
  EXPECT_FALSE(MainWndProc(nullptr, WindowMessage::SystemCommand, 0xF060, 0, &result));
  EXPECT_FALSE(MainWndProc(nullptr, WindowMessage::Other, 0, 0, &result));
}

TEST_F(Loop, WindowIsCentredAndRaisedByHalfTheCaption) {
  EXPECT_EQ(Run(1), 0);
  const HeadlessRecord* record = HeadlessObserved();
  // On a 1024x768 screen with a 23-pixel caption and 3-pixel dialog frames.
  EXPECT_EQ(record->windowWidth, 646);
  EXPECT_EQ(record->windowHeight, 509);
  EXPECT_EQ(record->windowX, 189);
  EXPECT_EQ(record->windowY, 117);
  EXPECT_EQ(record->showState, 1);
}

TEST_F(Loop, ASecondStartOpensNothingAndSaysWhetherTheFirstAnswered) {
  HeadlessControl()->runningCopy = RunningCopy::BroughtForward;
  EXPECT_EQ(Run(3), 0);
  EXPECT_EQ(FramesSeen, 0);
  EXPECT_EQ(HeadlessObserved()->windowWidth, 0);

  SetUp();
  HeadlessControl()->runningCopy = RunningCopy::NotAnswering;
  EXPECT_EQ(Run(3), ExitNoAnswer);
  EXPECT_EQ(FramesSeen, 0);
  EXPECT_EQ(HeadlessObserved()->windowWidth, 0);
  EXPECT_EQ(MainDisplay.backBuffer.pixels, nullptr);
}

TEST_F(Loop, FailedStartsSayWhyAndExitNonZero) {
  HeadlessControl()->refuseWindowClass = true;
  EXPECT_EQ(Run(3), ExitNoWindowClass);
  EXPECT_EQ(HeadlessObserved()->messageBoxes, 1);
  EXPECT_EQ(FramesSeen, 0);

  SetUp();
  HeadlessControl()->refuseWindow = true;
  EXPECT_EQ(Run(3), ExitNoWindow);
  EXPECT_EQ(FramesSeen, 0);

  SetUp();
  HeadlessControl()->refuseSurfaces = true;
  EXPECT_EQ(Run(3), ExitNoSurface);
  EXPECT_EQ(FramesSeen, 0);
  EXPECT_EQ(MainDisplay.backBuffer.pixels, nullptr);

  SetUp();
  HeadlessControl()->refuseFont = true;
  EXPECT_EQ(Run(3), ExitNoFont);
  EXPECT_EQ(HeadlessObserved()->windowWidth, 0);  // no window of invisible text
}

TEST(KeyScriptTest, ParsesSpansAndRejectsEverythingElse) {
  KeyScript script = {};
  ASSERT_TRUE(ParseKeyScript("right@0-29,space+up@10-12", &script));
  ASSERT_EQ(script.spanCount, 2);
  EXPECT_EQ(script.spans[0].keys, KeySetBit(KeyRight));
  EXPECT_EQ(script.spans[0].first, 0);
  EXPECT_EQ(script.spans[0].last, 29);
  EXPECT_EQ(script.spans[1].keys, KeySetBit(KeySpace) | KeySetBit(KeyUp));
  EXPECT_EQ(script.spans[1].first, 10);
  EXPECT_EQ(script.spans[1].last, 12);
  EXPECT_EQ(KeysAtFrame(&script, 9), KeySetBit(KeyRight));
  EXPECT_EQ(KeysAtFrame(&script, 11), KeySetBit(KeyRight) | KeySetBit(KeySpace) | KeySetBit(KeyUp));
  EXPECT_EQ(KeysAtFrame(&script, 30), 0u);
  for (const char* bad :
       {"right", "right@", "right@5", "right@5-", "right@5-4", "jump@0-1", "right@0-1,",
        "right@0-1;left@2-3", "@0-1", "right+@0-1", "right@-1-3", "right@0-99999999999"})
    EXPECT_FALSE(ParseKeyScript(bad, &script)) << bad;
}
