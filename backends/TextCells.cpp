#include "TextCells.h"

#include "Cp932.h"

int DrawTextCells(Surface* strip, const char* text, int length, GlyphRowsOf rowsOf, void* context) {
  if (!strip->pixels) return 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  int pen = 0;
  int index = 0;
  while (index < length && pen < strip->width) {
    unsigned code = bytes[index];
    int width = 8;
    // A lead byte without a trail (cut off, or followed by a byte that cannot
    // be one) is a blank single cell; the next byte stands on its own.
    if (IsCp932LeadByte(bytes[index]) && index + 1 < length && IsCp932TrailByte(bytes[index + 1])) {
      code = code << 8 | bytes[index + 1];
      width = 16;
      index += 2;
    } else {
      index += 1;
    }
    const uint16_t* rows = rowsOf(code, width, context);
    for (int row = 0; row < GlyphLineHeight && row < strip->height; ++row) {
      const uint16_t ink = rows[row];
      if (!ink) continue;
      uint32_t* line = PictureRow(strip, row);
      for (int column = 0; column < width && pen + column < strip->width; ++column)
        if (ink & (0x8000 >> column)) line[pen + column] = 0x000000;
    }
    pen += width;
  }
  return pen < strip->width ? pen : strip->width;
}
