#include "LiteralText.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstring>

#include "FreeTypeText.h"

constexpr int LineHeight = 16;
constexpr int MaximumTextBytes = 80;

static FT_Library Library = nullptr;

bool StartLiteralText() {
  if (!FreeTypeFontPath()) return false;
  return Library || FT_Init_FreeType(&Library) == 0;
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
  FreeTypeRenderTextUncached(face, strip, text, static_cast<int>(strnlen(text, MaximumTextBytes)));
  FT_Done_Face(face);
  BlitKeyed(backBuffer, strip, x, y, KeyColour);
}

void LiteralDrawNumber(Surface* backBuffer, Surface* strip, int value, int x, int y) {
  char buffer[128] = {};
  std::snprintf(buffer, sizeof buffer, "%d", value);
  LiteralDrawString(backBuffer, strip, buffer, x, y);
}
