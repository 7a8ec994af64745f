// Pacing for a driver called back on the display's frames: TakeAnimationFrame
// on simulated animation-frame clocks of several refresh rates, with jitter,
// dropped frames and a hidden page.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FrameTimer.h"
#include "Headless.h"

namespace {

constexpr int64_t Second = HeadlessCounterFrequency;  // 10 MHz ticks
constexpr int64_t Millisecond = Second / 1000;
constexpr double FramePeriod = Second / 60.0;

// Animation-frame times of a display: `hertz` frames a second from `start`,
// each moved by up to `jitter` ticks either way (a fixed pseudo-random walk,
// so every run sees the same clock).
std::vector<int64_t> DisplayFrames(double hertz, int64_t start, int64_t duration, int64_t jitter) {
  std::vector<int64_t> times;
  uint32_t state = 12345;
  for (int index = 0;; ++index) {
    const int64_t ideal = start + static_cast<int64_t>(index * (Second / hertz));
    if (ideal - start >= duration) break;
    state = state * 1664525u + 1013904223u;
    const int64_t offset =
        jitter == 0 ? 0 : static_cast<int64_t>(state >> 8) % (2 * jitter + 1) - jitter;
    times.push_back(ideal + offset);
  }
  return times;
}

// The display frames in which a frame ran.
std::vector<int64_t> FramesTaken(const std::vector<int64_t>& displayFrames) {
  std::vector<int64_t> taken;
  for (int64_t now : displayFrames)
    if (TakeAnimationFrame(now)) taken.push_back(now);
  return taken;
}

int CountWithin(const std::vector<int64_t>& taken, int64_t from, int64_t to) {
  int count = 0;
  for (int64_t time : taken) count += time >= from && time < to;
  return count;
}

class AnimationFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    ASSERT_EQ(InitFrameTimer(), 1);
  }
};

}  // namespace

TEST_F(AnimationFrames, SixtyFramesASecondAtEveryRefreshRate) {
  const int64_t start = 1000 * Second;
  for (double hertz : {60.0, 75.0, 105.0, 120.0, 144.0, 240.0}) {
    for (int64_t jitter : {int64_t{0}, Millisecond / 2}) {
      SCOPED_TRACE(testing::Message() << hertz << " Hz, jitter " << jitter << " ticks");
      HeadlessReset();
      InitFrameTimer();
      const std::vector<int64_t> display = DisplayFrames(hertz, start, 10 * Second, jitter);
      const std::vector<int64_t> taken = FramesTaken(display);
      EXPECT_NEAR(static_cast<double>(taken.size()), 600.0, 1.0);
      // Every whole second on its own, too: no stretch runs fast or slow.
      for (int second = 0; second < 10; ++second)
        EXPECT_NEAR(CountWithin(taken, start + second * Second, start + (second + 1) * Second), 60,
                    1)
            << "second " << second;
      // Each frame falls in the display frame nearest its due time: never
      // more than a period plus one display frame (and the jitter) apart.
      const double longest = FramePeriod + Second / hertz + 2 * jitter;
      for (size_t index = 1; index < taken.size(); ++index)
        EXPECT_LE(taken[index] - taken[index - 1], longest) << "frame " << index;
    }
  }
}

TEST_F(AnimationFrames, AtSixtyHertzEveryDisplayFrameRunsOne) {
  // Display frames come a little early or late; the half-period slack takes
  // each of them, where a strict "a whole period has passed" would skip some.
  const std::vector<int64_t> display = DisplayFrames(60.0, 500 * Second, 5 * Second, Millisecond);
  EXPECT_EQ(FramesTaken(display).size(), display.size());
}

TEST_F(AnimationFrames, ALateDisplayFrameDoesNotCostTheNextOne) {
  // One animation frame comes 10 ms late (the page was busy); the frame it
  // runs still counts from when it was due, so the next display frame, only
  // 6.7 ms later, runs the next one.
  std::vector<int64_t> display = DisplayFrames(60.0, 500 * Second, 2 * Second, 0);
  display[30] += 10 * Millisecond;
  EXPECT_EQ(FramesTaken(display).size(), display.size());
}

TEST_F(AnimationFrames, AfterAHiddenGapTheScheduleStartsAfreshWithoutABurst) {
  for (double hertz : {60.0, 144.0}) {
    SCOPED_TRACE(testing::Message() << hertz << " Hz");
    HeadlessReset();
    InitFrameTimer();
    const int64_t start = 2000 * Second;
    const std::vector<int64_t> before = DisplayFrames(hertz, start, 2 * Second, Millisecond / 4);
    FramesTaken(before);
    // Hidden for 5 s: no animation frames at all, then they come again.
    const int64_t back = start + 7 * Second;
    const std::vector<int64_t> after = DisplayFrames(hertz, back, 2 * Second, Millisecond / 4);
    const std::vector<int64_t> taken = FramesTaken(after);
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.front(), after.front());  // at once, the first display frame
    // Then 60 a second from there on: the 300 frames missed are not run.
    EXPECT_NEAR(CountWithin(taken, back, back + Second), 60, 1);
    EXPECT_NEAR(CountWithin(taken, back + Second, back + 2 * Second), 60, 1);
    EXPECT_GE(taken[1] - taken[0], FramePeriod / 2);
  }
}

TEST_F(AnimationFrames, TheFirstDisplayFrameRunsTheFirstFrame) {
  // Before any frame the timer's last start is 0: long overdue.
  EXPECT_TRUE(TakeAnimationFrame(300 * Second));
  EXPECT_FALSE(TakeAnimationFrame(300 * Second + 5 * Millisecond));
  EXPECT_TRUE(TakeAnimationFrame(300 * Second + 9 * Millisecond));  // nearer 16.7 than 25 ms
  // That frame started when it was due, not when it was seen.
  EXPECT_EQ(MainFrameTimer.lastTick, 300 * Second + 166667);
}
