// The one header a Tovalinex program includes. A program defines AppTitle and
// GameFrame; the framework owns the window, the loop and every pixel, and the
// program draws only through DrawString and DrawNumber.
#pragma once

#include <cmath>  // sine and cosine for programs that steer by angle

// The program's title in Shift-JIS (code page 932): the window caption and,
// with the class name "Tovalinex", the identity of a running copy.
extern const char AppTitle[];

// Called once per active frame, after the back buffer has been cleared to white.
void GameFrame();

// Draws a zero-terminated Shift-JIS text with its top-left corner at (x, y).
// Single-byte characters take 8-pixel cells, double-byte ones 16; lines are 16
// pixels high; at most the first 80 bytes are drawn; anything outside the
// 640x480 picture is clipped.
void DrawString(const char* text, int x, int y);

// Draws a signed decimal number at (x, y).
void DrawNumber(int value, int x, int y);

// Virtual-key codes of the keys the programs poll.
enum VirtualKey : int {
  KeySpace = 0x20,
  KeyLeft = 0x25,
  KeyUp = 0x26,
  KeyRight = 0x27,
  KeyDown = 0x28,
};

// Whether the key is held. The answer does not change during one GameFrame.
bool IsKeyHeld(int virtualKey);

// The calendar time in whole seconds since 1970-01-01 UTC.
long long CalendarSeconds();
