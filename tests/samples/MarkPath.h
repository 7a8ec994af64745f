// Shared helpers for the movement samples' tests: run a headless twin for a
// number of frames under a key script and follow where its mark was drawn.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HeadlessRun.h"

// "●" in code page 932.
const std::string Mark = "\x81\x9c";

struct Point {
  int x, y;
  bool operator==(const Point& other) const { return x == other.x && y == other.y; }
};
inline std::ostream& operator<<(std::ostream& out, const Point& point) {
  return out << "(" << point.x << ", " << point.y << ")";
}

inline HeadlessRun RunFrames(const std::string& program, int frames, const std::string& keys = "") {
  std::vector<std::string> arguments = {"--frames", std::to_string(frames)};
  if (!keys.empty()) arguments.insert(arguments.end(), {"--keys", keys});
  HeadlessRun run = RunHeadless(program, arguments);
  EXPECT_EQ(run.exitCode, 0) << run.errorOutput;
  return run;
}

// Where the mark was drawn in each frame; each frame must draw it exactly once.
inline std::vector<Point> MarkPath(const HeadlessRun& run, int frames) {
  std::vector<Point> path;
  for (int frame = 0; frame < frames; ++frame) {
    int marks = 0;
    Point where = {-99999, -99999};
    for (const TextDraw& draw : DrawsInFrame(run, frame))
      if (draw.bytes == Mark && marks++ == 0) where = {draw.x, draw.y};
    EXPECT_EQ(marks, 1) << "frame " << frame;
    path.push_back(where);
  }
  return path;
}

// The picture the last of the given frames left.
inline Picture LastPicture(const std::string& program, int frames, const std::string& keys = "") {
  const std::string png = ScratchDirectory(program) + "/last.png";
  std::vector<std::string> arguments = {"--frames", std::to_string(frames), "--png", png};
  if (!keys.empty()) arguments.insert(arguments.end(), {"--keys", keys});
  EXPECT_EQ(RunHeadless(program, arguments).exitCode, 0);
  Picture picture;
  EXPECT_TRUE(ReadPng(png, &picture)) << png;
  return picture;
}

// The ink bounding box inside one region of a picture.
inline Box InkIn(const Picture& picture, int left, int top, int right, int bottom) {
  return InkBoxIn(picture, left, top, right, bottom);
}
