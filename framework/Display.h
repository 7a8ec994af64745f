// What the window shows: the back buffer, the text strip and presenting.
#pragma once

#include "Surface.h"

struct PlatformWindow;

struct Display {
  // The paint record's origin, always (0, 0); kept with the record, though
  // presenting copies from and to (0, 0) without reading it.
  int originX;
  int originY;
  int width;  // the size copied to the window on repaint
  int height;
  Surface backBuffer;  // 640x480, what the window shows
  Surface textStrip;   // 640x16, where each text is rendered before its keyed copy
  PlatformWindow* window;
  int ready;  // 1 once InitSurfaces has run; never cleared
};

extern Display MainDisplay;

constexpr int ClientWidth = 640;
constexpr int ClientHeight = 480;
constexpr int StripHeight = 16;

// Fills MainDisplay and makes both surfaces; false when one cannot be made.
bool InitSurfaces(PlatformWindow* window);
// What the paint message does: presents the back buffer once surfaces exist.
void PaintWindow(PlatformWindow* window);

// Called with every text DrawString is about to draw; tools use it to record
// what a frame drew. Null by default.
extern void (*TextObserver)(const char* text, int length, int x, int y);
