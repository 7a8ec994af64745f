// The literal text drawing the frame benchmarks compare against: for every
// call it opens the font file, clears the whole 640x16 strip, renders each
// character afresh and copies the whole strip with the key colour, scanning
// all 10,240 pixels. It draws exactly what the framework's DrawString draws.
#pragma once

#include "Surface.h"

// The FreeType library the literal drawing opens its faces with; false when
// FreeType cannot start or the framework's font has not been found yet.
bool StartLiteralText();
void LiteralDrawString(Surface* backBuffer, Surface* strip, const char* text, int x, int y);
void LiteralDrawNumber(Surface* backBuffer, Surface* strip, int value, int x, int y);
