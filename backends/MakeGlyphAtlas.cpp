// make_glyph_atlas FILE: renders every code page 932 character through the
// desktop's FreeType text drawing and writes the glyph atlas (GlyphAtlas.h),
// gzip-compressed, to FILE. Run at build time; the browser's text comes from it.
#include <zlib.h>

#include <cstdio>

#include "FreeTypeText.h"
#include "GlyphAtlas.h"

static unsigned char Atlas[AtlasBytes] = {};

// Stores one character's ink; true when it has any.
static bool Store(unsigned code, int width) {
  const uint16_t* rows = FreeTypeGlyph(code, width);
  StoreAtlasCell(Atlas, code, rows);
  for (int row = 0; row < GlyphLineHeight; ++row)
    if (rows[row]) return true;
  return false;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ATLAS.gz\n", argv[0]);
    return 2;
  }
  if (!FreeTypeOpenFont()) return 1;
  int singles = 0;
  int doubles = 0;
  for (unsigned code = 0; code <= 0xFF; ++code) singles += Store(code, 8);
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!IsCp932LeadByte(static_cast<unsigned char>(lead))) continue;
    for (unsigned trail = AtlasFirstTrail; trail < AtlasFirstTrail + AtlasTrailCount; ++trail)
      doubles += Store(lead << 8 | trail, 16);
  }
  // Level 9 and zlib's fixed header: the same font gives the same bytes.
  gzFile out = gzopen(argv[1], "wb9");
  const bool written = out && gzwrite(out, Atlas, sizeof Atlas) == static_cast<int>(sizeof Atlas);
  if (!out || gzclose(out) != Z_OK || !written) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  std::printf("%s: %d single-byte and %d double-byte characters with ink, from %s\n", argv[1],
              singles, doubles, FreeTypeFontPath());
  return 0;
}
