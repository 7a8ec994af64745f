// Monochrome text from a Japanese Gothic face through FreeType: each
// character in a cell of its Shift-JIS byte width (8 or 16 pixels) on a
// 16-pixel line, black on whatever the strip holds.
#pragma once

#include <cstdint>

#include "Cp932.h"
#include "Surface.h"

// Finds and opens the face once (TOVALINEX_FONT, then the Debian package's
// path, then fontconfig's IPAGothic). False, after a message naming the package
// to install, when none opens.
bool FreeTypeOpenFont();
// The path of the open face, or null.
const char* FreeTypeFontPath();
// Renders the first `length` bytes of the text at (0, 0) of the strip;
// returns the width of the cells drawn, or -1 when no face is open.
int FreeTypeRenderText(Surface* strip, const char* text, int length);
// The ink of one character as FreeTypeRenderText draws it (TextCells.h: a
// single byte or lead << 8 | trail, in a cell `width` 8 or 16 pixels wide);
// null when no face is open.
const uint16_t* FreeTypeGlyph(unsigned code, int width);

// The same drawing from another open face, every character rendered afresh
// (no glyph cache); for comparisons.
struct FT_FaceRec_;
int FreeTypeRenderTextUncached(FT_FaceRec_* face, Surface* strip, const char* text, int length);
