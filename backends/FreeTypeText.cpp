#include "FreeTypeText.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Maps the font file as FreeType would, but only a regular file, opened
// without blocking: a FIFO or a device named as the font would wait for ever.
// Null, with the reason in *why, when it cannot.
static const unsigned char* MapFontFile(const char* path, size_t* size, const char** why) {
  const int file = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  struct stat info = {};
  void* bytes = MAP_FAILED;
  if (fstat(file, &info) != 0)
    *why = std::strerror(errno);
  else if (!S_ISREG(info.st_mode))
    *why = "not a regular file";
  else if (info.st_size == 0)
    *why = "an empty file";
  else if ((bytes = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, file,
                         0)) == MAP_FAILED)
    *why = std::strerror(errno);
  close(file);
  if (bytes == MAP_FAILED) return nullptr;
  *size = static_cast<size_t>(info.st_size);
  return static_cast<const unsigned char*>(bytes);
}

// Every program draws "●", and texts in kana: a face that cannot render them
// as monochrome glyphs of a 16-pixel cell would give a window without marks.
static bool DrawsTheNeededCharacters(FT_Face face) {
  static const FT_ULong Needed[] = {0x25CF /* ● */, 0x3042 /* あ */, 0x30A2 /* ア */};
  for (const FT_ULong character : Needed) {
    const FT_UInt index = FT_Get_Char_Index(face, character);
    if (index == 0 ||
        FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
      return false;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO || bitmap.rows == 0 || bitmap.rows > LineHeight ||
        bitmap.width == 0 || bitmap.width > 2 * 8)
      return false;
    bool ink = false;
    for (unsigned row = 0; row < bitmap.rows && !ink; ++row)
      for (unsigned byte = 0; byte < (bitmap.width + 7) / 8; ++byte)
        ink = ink || bitmap.buffer[row * bitmap.pitch + byte] != 0;
    if (!ink) return false;
  }
  return true;
}

// Opens the face at `path`; false, with the reason in *why, when it is no
// usable font.
static bool TryOpen(const char* path, const char** why) {
  *why = "no file named";
  if (!path || !*path) return false;
  size_t size = 0;
  const unsigned char* bytes = MapFontFile(path, &size, why);
  if (!bytes) return false;
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(Library, bytes, static_cast<FT_Long>(size), 0, &face) != 0) {
    *why = "not a font FreeType can read";
  } else if (FT_Set_Pixel_Sizes(face, 0, LineHeight) != 0) {
    *why = "it has no 16-pixel size";
  } else if (!DrawsTheNeededCharacters(face)) {
    *why = "it cannot draw the black circle U+25CF and kana as 16-pixel monochrome glyphs";
  } else {
    Face = face;  // the mapping stays for the life of the face
    std::snprintf(FacePath, sizeof FacePath, "%s", path);
    return true;
  }
  if (face) FT_Done_Face(face);
  munmap(const_cast<unsigned char*>(bytes), size);
  return false;
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
      const char* why = nullptr;
      if (sameFamily && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        opened = TryOpen(reinterpret_cast<const char*>(file), &why);
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
  const char* why = nullptr;
  if (chosen && *chosen) {
    if (TryOpen(chosen, &why)) return true;
    std::fprintf(stderr, "tovalinex: the font file %s (TOVALINEX_FONT) cannot be used: %s\n",
                 chosen, why);
    return false;
  }
  // The package's own paths first: asking fontconfig means parsing its whole
  // configuration, which costs more start-up time than everything else here.
  for (const char* path : PackagePaths)
    if (TryOpen(path, &why)) return true;
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
