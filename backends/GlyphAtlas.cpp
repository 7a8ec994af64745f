#include "GlyphAtlas.h"

int AtlasCellOffset(unsigned code) {
  if (code <= 0xFF) return static_cast<int>(code) * AtlasSingleCellBytes;
  const unsigned lead = code >> 8;
  const unsigned trail = code & 0xFF;
  if (lead > 0xFF || !IsCp932LeadByte(static_cast<unsigned char>(lead)) ||
      trail < AtlasFirstTrail || trail >= AtlasFirstTrail + AtlasTrailCount)
    return -1;
  const int cell = Cp932LeadIndex(static_cast<unsigned char>(lead)) * AtlasTrailCount +
                   static_cast<int>(trail) - AtlasFirstTrail;
  return 256 * AtlasSingleCellBytes + cell * AtlasDoubleCellBytes;
}

bool StoreAtlasCell(unsigned char* atlas, unsigned code, const uint16_t rows[GlyphLineHeight]) {
  const int offset = AtlasCellOffset(code);
  if (offset < 0) return false;
  unsigned char* cell = atlas + offset;
  for (int row = 0; row < GlyphLineHeight; ++row) {
    if (code <= 0xFF) {
      cell[row] = static_cast<unsigned char>(rows[row] >> 8);
    } else {
      cell[2 * row] = static_cast<unsigned char>(rows[row] >> 8);
      cell[2 * row + 1] = static_cast<unsigned char>(rows[row] & 0xFF);
    }
  }
  return true;
}

void LoadAtlasCell(const unsigned char* atlas, unsigned code, uint16_t rows[GlyphLineHeight]) {
  const int offset = AtlasCellOffset(code);
  for (int row = 0; row < GlyphLineHeight; ++row) {
    if (offset < 0)
      rows[row] = 0;
    else if (code <= 0xFF)
      rows[row] = static_cast<uint16_t>(atlas[offset + row] << 8);
    else
      rows[row] = static_cast<uint16_t>(atlas[offset + 2 * row] << 8 | atlas[offset + 2 * row + 1]);
  }
}
