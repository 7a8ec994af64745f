#include "Display.h"

#include "Platform.h"
#include "Text.h"

Display MainDisplay = {};
void (*TextObserver)(const char* text, int length, int x, int y) = nullptr;

bool InitSurfaces(PlatformWindow* window) {
  MainDisplay.originX = 0;
  MainDisplay.originY = 0;
  MainDisplay.width = ClientWidth;
  MainDisplay.height = ClientHeight;
  MainDisplay.window = window;
  MainDisplay.ready = 1;
  const bool back = CreateSurface(&MainDisplay.backBuffer, window, ClientWidth, ClientHeight);
  const bool strip = CreateSurface(&MainDisplay.textStrip, window, ClientWidth, StripHeight);
  // A paint can come before the first frame (the window is exposed when it
  // is first shown): it then shows white, like the window's own background,
  // not the black of fresh pixels.
  FillSurface(&MainDisplay.backBuffer, White);
  // The strip starts all key colour, so each text need only clear the columns
  // the previous one touched.
  FillSurface(&MainDisplay.textStrip, KeyColour);
  TextStripDirtyColumns = 0;
  return back && strip;
}

void PaintWindow(PlatformWindow* window) {
  PlatformBeginPaint(window);
  if (MainDisplay.ready == 1 && MainDisplay.backBuffer.pixels)
    PlatformPresent(window, &MainDisplay.backBuffer, MainDisplay.width, MainDisplay.height);
  PlatformEndPaint(window);
}
