#include "LiteralText.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstring>

#include "Cp932.h"
#include "FreeTypeText.h"

constexpr int LineHeight = 16;
constexpr int Baseline = 14;
constexpr int MaximumTextBytes = 80;

static FT_Library Library = nullptr;

bool StartLiteralText() {
  if (!FreeTypeFontPath()) return false;
  return Library || FT_Init_FreeType(&Library) == 0;
}

// One character cell of the given width at column `pen`, rendered from the
// open face with the framework's placement: ink kept inside the 16-pixel line
// and inside the cell.
static void RenderCharacter(FT_Face face, Surface* strip, unsigned code, int width, int pen) {
  const uint32_t codePoint = Cp932CodeToUnicode(code);
  if (codePoint < 0x20 || codePoint == 0x7F) return;
  const FT_UInt index = FT_Get_Char_Index(face, codePoint);
  if (index == 0) return;
  if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
    return;
  const FT_Bitmap& bitmap = face->glyph->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return;
  const int rows = static_cast<int>(bitmap.rows);
  const int columns = static_cast<int>(bitmap.width);
  int top = Baseline - face->glyph->bitmap_top;
  if (top + rows > LineHeight) top = LineHeight - rows;
  if (top < 0) top = 0;
  int left = face->glyph->bitmap_left;
  if (left + columns > width) left = width - columns;
  if (left < 0) left = 0;
  for (int row = 0; row < rows && top + row < LineHeight && top + row < strip->height; ++row) {
    const unsigned char* line = bitmap.buffer + row * bitmap.pitch;
    uint32_t* target =
        strip->pixels + static_cast<long long>(strip->height - 1 - (top + row)) * strip->width;
    for (int column = 0; column < columns && left + column < width; ++column) {
      const int x = pen + left + column;
      if (x < strip->width && (line[column >> 3] & (0x80 >> (column & 7)))) target[x] = 0x000000;
    }
  }
}

void LiteralDrawString(Surface* backBuffer, Surface* strip, const char* text, int x, int y) {
  if (!strip->pixels || !Library) return;
  FT_Face face = nullptr;
  if (FT_New_Face(Library, FreeTypeFontPath(), 0, &face) != 0) return;
  if (FT_Set_Pixel_Sizes(face, 0, LineHeight) != 0) {
    FT_Done_Face(face);
    return;
  }
  FillSurface(strip, KeyColour);
  const int length = static_cast<int>(strnlen(text, MaximumTextBytes));
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  int pen = 0;
  for (int index = 0; index < length && pen < strip->width;) {
    unsigned code = bytes[index];
    int width = 8;
    if (IsCp932LeadByte(bytes[index]) && index + 1 < length && IsCp932TrailByte(bytes[index + 1])) {
      code = code << 8 | bytes[index + 1];
      width = 16;
      index += 2;
    } else {
      index += 1;
    }
    RenderCharacter(face, strip, code, width, pen);
    pen += width;
  }
  FT_Done_Face(face);
  BlitKeyed(backBuffer, strip, x, y, KeyColour);
}

void LiteralDrawNumber(Surface* backBuffer, Surface* strip, int value, int x, int y) {
  char buffer[128] = {};
  std::snprintf(buffer, sizeof buffer, "%d", value);
  LiteralDrawString(backBuffer, strip, buffer, x, y);
}
