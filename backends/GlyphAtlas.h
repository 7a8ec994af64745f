// The glyph atlas: the ink of every code page 932 character as the desktop's
// text drawing places it, in one dense 1-bit table indexed by code, made at
// build time (MakeGlyphAtlas.cpp) for platforms that draw text without
// FreeType (the browser).
//
// Layout: 256 single-byte cells of 16 bytes (one byte a row, top row first,
// bit 7 the leftmost column), then for each of the 60 lead bytes in order the
// 189 trail bytes 0x40-0xFC, each a cell of 32 bytes (two bytes a row, the
// left half first). Codes that are no character are blank cells.
#pragma once

#include <cstdint>

#include "Cp932.h"
#include "TextCells.h"

constexpr int AtlasSingleCellBytes = GlyphLineHeight;
constexpr int AtlasDoubleCellBytes = 2 * GlyphLineHeight;
constexpr int AtlasFirstTrail = 0x40;
constexpr int AtlasTrailCount = 0xFC - AtlasFirstTrail + 1;
constexpr int AtlasBytes =
    256 * AtlasSingleCellBytes + Cp932LeadByteCount * AtlasTrailCount * AtlasDoubleCellBytes;

// Where a character's cell starts, or -1 for a pair of bytes that is not a
// lead and a trail byte.
int AtlasCellOffset(unsigned code);
// Writes a character's ink (TextCells.h rows) into its cell; false when the
// code has no cell.
bool StoreAtlasCell(unsigned char* atlas, unsigned code, const uint16_t rows[GlyphLineHeight]);
// Reads it back; a code without a cell is blank.
void LoadAtlasCell(const unsigned char* atlas, unsigned code, uint16_t rows[GlyphLineHeight]);
