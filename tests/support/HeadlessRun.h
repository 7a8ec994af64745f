// Runs a program's headless twin and reads back what it drew.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TextDraw {
  int frame;
  int x;
  int y;
  std::string bytes;  // the Shift-JIS bytes drawn
};

struct HeadlessRun {
  int exitCode;
  std::vector<TextDraw> draws;  // in drawing order
  std::string errorOutput;
};

// The path of build/bin/<program>.
std::string ProgramPath(const std::string& program);

// Runs build/bin/<program> with the arguments plus a trace of every text drawn.
HeadlessRun RunHeadless(const std::string& program, const std::vector<std::string>& arguments);

// The texts drawn in one frame, in order.
std::vector<TextDraw> DrawsInFrame(const HeadlessRun& run, int frame);
// The draws of one text (exact bytes), in order over all frames.
std::vector<TextDraw> DrawsOf(const HeadlessRun& run, const std::string& bytes);

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

bool ReadPng(const std::string& path, Picture* picture);

struct Box {
  int left, top, right, bottom;  // inclusive; left > right when empty
  bool Empty() const { return left > right; }
};
// The bounding box of the pixels that are not white.
Box InkBox(const Picture& picture);
// The same, inside the rectangle from (left, top) to (right, bottom) inclusive.
Box InkBoxIn(const Picture& picture, int left, int top, int right, int bottom);

// A fresh directory under the test's temporary directory.
std::string ScratchDirectory(const std::string& name);
