#include "FreeTypeText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TextCells.h"

constexpr int LineHeight = GlyphLineHeight;
constexpr int Baseline = 14;
constexpr char FontFamily[] = "IPAGothic";
constexpr char FontPackage[] = "fonts-ipafont-gothic";
static const char* const PackagePaths[] = {
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/ipafont-gothic/ipag.ttf",
};

// One character's ink: bit 15 of a row is the cell's leftmost column.
struct GlyphCell {
  uint16_t rows[LineHeight];
  bool ready;
};

static GlyphCell SingleByteGlyphs[256] = {};
static GlyphCell DoubleByteGlyphs[Cp932LeadByteCount * 256] = {};

static FT_Library Library = nullptr;
static FT_Face Face = nullptr;
static char FacePath[4096] = {};

static bool TryOpen(const char* path) {
  if (!path || !*path) return false;
  FT_Face face = nullptr;
  if (FT_New_Face(Library, path, 0, &face) != 0) return false;
  if (FT_Set_Pixel_Sizes(face, 0, LineHeight) != 0) {
    FT_Done_Face(face);
    return false;
  }
  Face = face;
  std::snprintf(FacePath, sizeof FacePath, "%s", path);
  return true;
}

// Asks fontconfig for the family; takes the answer only if it is that family,
// not the nearest substitute.
static bool TryFontconfig() {
  if (!FcInit()) return false;
  bool opened = false;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(FontFamily));
  if (pattern) {
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
      FcChar8* family = nullptr;
      FcChar8* file = nullptr;
      bool sameFamily = false;
      for (int index = 0; FcPatternGetString(match, FC_FAMILY, index, &family) == FcResultMatch;
           ++index)
        if (std::strcmp(reinterpret_cast<const char*>(family), FontFamily) == 0) sameFamily = true;
      if (sameFamily && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        opened = TryOpen(reinterpret_cast<const char*>(file));
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  FcFini();  // fontconfig is needed only to find the file
  return opened;
}

bool FreeTypeOpenFont() {
  if (Face) return true;
  if (!Library && FT_Init_FreeType(&Library) != 0) {
    std::fprintf(stderr, "tovalinex: FreeType could not be initialised\n");
    return false;
  }
  const char* chosen = std::getenv("TOVALINEX_FONT");
  if (chosen && *chosen) {
    if (TryOpen(chosen)) return true;
    std::fprintf(stderr, "tovalinex: the font file %s (TOVALINEX_FONT) cannot be opened\n", chosen);
    return false;
  }
  // The package's own paths first: asking fontconfig means parsing its whole
  // configuration, which costs more start-up time than everything else here.
  for (const char* path : PackagePaths)
    if (TryOpen(path)) return true;
  if (TryFontconfig()) return true;
  std::fprintf(stderr,
               "tovalinex: the Japanese font %s was not found; install it with\n"
               "  sudo apt-get install %s\n",
               FontFamily, FontPackage);
  return false;
}

const char* FreeTypeFontPath() { return Face ? FacePath : nullptr; }

// One character from `face` into a cell `width` pixels wide: ink[row] bit 15
// is the cell's leftmost column.
static void PlaceGlyph(FT_Face face, unsigned code, int width, uint16_t ink[LineHeight]) {
  std::memset(ink, 0, LineHeight * sizeof ink[0]);
  const uint32_t codePoint = Cp932CodeToUnicode(code);
  if (codePoint < 0x20 || codePoint == 0x7F) return;  // blank cell: none, or a control code
  const FT_UInt index = FT_Get_Char_Index(face, codePoint);
  if (index == 0) return;
  if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
    return;
  const FT_Bitmap& bitmap = face->glyph->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return;
  const int rows = static_cast<int>(bitmap.rows);
  const int columns = static_cast<int>(bitmap.width);
  // Ink is kept inside the cell: a glyph the hinting pushes past the line
  // (the overline sits one row too high) is moved back in, not cut off.
  int top = Baseline - face->glyph->bitmap_top;
  if (top + rows > LineHeight) top = LineHeight - rows;
  if (top < 0) top = 0;
  int left = face->glyph->bitmap_left;
  if (left + columns > width) left = width - columns;
  if (left < 0) left = 0;
  for (int row = 0; row < rows && top + row < LineHeight; ++row) {
    const unsigned char* line = bitmap.buffer + row * bitmap.pitch;
    for (int column = 0; column < columns && left + column < width; ++column)
      if (line[column >> 3] & (0x80 >> (column & 7)))
        ink[top + row] |= static_cast<uint16_t>(0x8000 >> (left + column));
  }
}

const uint16_t* FreeTypeGlyph(unsigned code, int width) {
  if (!Face) return nullptr;
  GlyphCell* cell = code <= 0xFF
                        ? &SingleByteGlyphs[code]
                        : &DoubleByteGlyphs[Cp932LeadIndex(code >> 8) * 256 + (code & 0xFF)];
  if (!cell->ready) {
    PlaceGlyph(Face, code, width, cell->rows);
    cell->ready = true;
  }
  return cell->rows;
}

static const uint16_t* CachedRows(unsigned code, int width, void*) {
  return FreeTypeGlyph(code, width);
}

int FreeTypeRenderText(Surface* strip, const char* text, int length) {
  if (!Face) return -1;
  return DrawTextCells(strip, text, length, CachedRows, nullptr);
}

// Each character placed afresh into one buffer, from the face given.
struct UncachedGlyph {
  FT_Face face;
  uint16_t rows[LineHeight];
};

static const uint16_t* UncachedRows(unsigned code, int width, void* context) {
  UncachedGlyph* glyph = static_cast<UncachedGlyph*>(context);
  PlaceGlyph(glyph->face, code, width, glyph->rows);
  return glyph->rows;
}

int FreeTypeRenderTextUncached(FT_Face face, Surface* strip, const char* text, int length) {
  UncachedGlyph glyph = {face, {}};
  return DrawTextCells(strip, text, length, UncachedRows, &glyph);
}
