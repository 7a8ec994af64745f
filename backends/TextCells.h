// Text as a row of cells: each Shift-JIS character in a cell of its byte
// width (8 or 16 pixels) on a 16-pixel line, black ink on whatever the strip
// holds. Where a character's ink comes from is the caller's (FreeType on the
// desktop, the glyph atlas in the browser); the walk is the same for both, so
// both draw the same pixels.
#pragma once

#include <cstdint>

#include "Surface.h"

constexpr int GlyphLineHeight = 16;

// One character's ink: rows[r] bit 15 is the cell's leftmost column. `code`
// is a single byte, or lead << 8 | trail; `width` is 8 or 16.
using GlyphRowsOf = const uint16_t* (*)(unsigned code, int width, void* context);

// Draws the first `length` bytes of the text at (0, 0) of the strip; returns
// the width of the cells drawn, at most the strip's.
int DrawTextCells(Surface* strip, const char* text, int length, GlyphRowsOf rowsOf, void* context);
