// Text output: every mark on the screen is a text rendered into the strip and
// copied onto the back buffer with the key colour transparent.
#include "Text.h"

#include <cstdio>

#include "Display.h"
#include "Platform.h"
#include "Tovalinex.h"

constexpr int MaximumTextBytes = 80;

int TextStripDirtyColumns = 0;

void DrawString(const char* text, int x, int y) {
  Surface* strip = &MainDisplay.textStrip;
  if (!text || !strip->pixels) return;
  int length = 0;
  while (length < MaximumTextBytes && text[length] != 0) ++length;
  if (TextObserver) TextObserver(text, length, x, y);
  FillSurfaceColumns(strip, KeyColour, TextStripDirtyColumns);
  TextStripDirtyColumns = 0;
  int touched = PlatformRenderText(strip, text, length);
  if (touched < 0) {
    TextStripDirtyColumns = strip->width;  // a failed render may have left anything
    return;
  }
  if (touched > strip->width) touched = strip->width;
  TextStripDirtyColumns = touched;
  BlitKeyedColumns(&MainDisplay.backBuffer, strip, x, y, KeyColour, touched);
}

void DrawNumber(int value, int x, int y) {
  char buffer[128] = {};
  std::snprintf(buffer, sizeof buffer, "%d", value);
  DrawString(buffer, x, y);
}
