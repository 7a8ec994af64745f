// The glyph atlas the browser draws its text from: its layout, and the atlas
// make_glyph_atlas writes against the desktop's FreeType drawing, character
// by character.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FreeTypeText.h"
#include "GlyphAtlas.h"
#include "TextCells.h"

namespace {

constexpr int Narrow = 8;
constexpr int Wide = 16;

std::string AtlasMaker() { return std::string(TOVALINEX_BIN_DIR) + "/make_glyph_atlas"; }

std::string ScratchPath(const char* name) {
  return "/tmp/tovalinex-atlas-test-" + std::to_string(getpid()) + "-" + name;
}

std::vector<unsigned char> ReadGzip(const std::string& path) {
  std::vector<unsigned char> bytes;
  gzFile in = gzopen(path.c_str(), "rb");
  if (!in) return bytes;
  unsigned char buffer[65536];
  int count = 0;
  while ((count = gzread(in, buffer, sizeof buffer)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + count);
  gzclose(in);
  return bytes;
}

std::vector<char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every code the text drawing can look up: all single bytes, and every lead
// byte with every trail byte of the table.
std::vector<unsigned> AllCodes() {
  std::vector<unsigned> codes;
  for (unsigned code = 0; code <= 0xFF; ++code) codes.push_back(code);
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead)
    if (IsCp932LeadByte(static_cast<unsigned char>(lead)))
      for (unsigned trail = AtlasFirstTrail; trail < AtlasFirstTrail + AtlasTrailCount; ++trail)
        codes.push_back(lead << 8 | trail);
  return codes;
}

struct Strip {
  std::vector<uint32_t> pixels;
  Surface surface;
  explicit Strip(int width) : pixels(static_cast<size_t>(width) * GlyphLineHeight, KeyColour) {
    surface = Surface{nullptr, pixels.data(), width, GlyphLineHeight};
  }
};

const unsigned char* LoadedAtlas = nullptr;
const uint16_t* AtlasRows(unsigned code, int, void*) {
  static uint16_t rows[GlyphLineHeight];
  LoadAtlasCell(LoadedAtlas, code, rows);
  return rows;
}

bool HasInk(const unsigned char* atlas, unsigned code) {
  uint16_t rows[GlyphLineHeight];
  LoadAtlasCell(atlas, code, rows);
  for (uint16_t row : rows)
    if (row) return true;
  return false;
}

}  // namespace

TEST(AtlasLayout, OneCellPerCodeInCodeOrder) {
  EXPECT_EQ(AtlasBytes, 366976);  // 256 x 16 + 60 x 189 x 32
  EXPECT_EQ(AtlasCellOffset(0x00), 0);
  EXPECT_EQ(AtlasCellOffset(0xFF), 255 * 16);
  EXPECT_EQ(AtlasCellOffset(0x8140), 4096);
  EXPECT_EQ(AtlasCellOffset(0x8141), 4096 + 32);
  EXPECT_EQ(AtlasCellOffset(0x81FC), 4096 + 188 * 32);
  EXPECT_EQ(AtlasCellOffset(0x8240), 4096 + 189 * 32);
  EXPECT_EQ(AtlasCellOffset(0x9FFC), 4096 + 31 * 189 * 32 - 32);
  EXPECT_EQ(AtlasCellOffset(0xE040), 4096 + 31 * 189 * 32);
  EXPECT_EQ(AtlasCellOffset(0xFCFC), AtlasBytes - 32);
  // Every cell is used once: the offsets of all codes are distinct and cover the table.
  std::vector<bool> used(AtlasBytes, false);
  for (unsigned code : AllCodes()) {
    const int offset = AtlasCellOffset(code);
    const int size = code <= 0xFF ? AtlasSingleCellBytes : AtlasDoubleCellBytes;
    ASSERT_GE(offset, 0) << std::hex << code;
    ASSERT_LE(offset + size, AtlasBytes) << std::hex << code;
    for (int byte = offset; byte < offset + size; ++byte) {
      ASSERT_FALSE(used[byte]) << std::hex << code;
      used[byte] = true;
    }
  }
  EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
  // Pairs that are no lead and trail byte have no cell.
  for (unsigned code : {0x8130u, 0x81FDu, 0x8040u, 0xA040u, 0xFD40u, 0x10000u, 0x1008140u})
    EXPECT_EQ(AtlasCellOffset(code), -1) << std::hex << code;
}

TEST(AtlasLayout, CellsHoldTheInkOfTheirWidth) {
  std::vector<unsigned char> atlas(AtlasBytes, 0);
  uint16_t pattern[GlyphLineHeight];
  for (int row = 0; row < GlyphLineHeight; ++row)
    pattern[row] = static_cast<uint16_t>(0x8001u << (row % 8) | 0x0100u * row);
  uint16_t back[GlyphLineHeight];
  ASSERT_TRUE(StoreAtlasCell(atlas.data(), 0x889F, pattern));
  LoadAtlasCell(atlas.data(), 0x889F, back);
  EXPECT_EQ(std::memcmp(back, pattern, sizeof back), 0);
  // A single-byte cell is 8 columns wide: only the left byte of each row is kept.
  ASSERT_TRUE(StoreAtlasCell(atlas.data(), 'A', pattern));
  LoadAtlasCell(atlas.data(), 'A', back);
  for (int row = 0; row < GlyphLineHeight; ++row)
    EXPECT_EQ(back[row], pattern[row] & 0xFF00) << "row " << row;
  // Neighbours are untouched, a code without a cell writes nothing and reads blank.
  EXPECT_FALSE(HasInk(atlas.data(), 0x889E));
  EXPECT_FALSE(HasInk(atlas.data(), 0x88A0));
  EXPECT_FALSE(HasInk(atlas.data(), 'B'));
  const std::vector<unsigned char> before = atlas;
  EXPECT_FALSE(StoreAtlasCell(atlas.data(), 0x8130, pattern));
  EXPECT_EQ(atlas, before);
  LoadAtlasCell(atlas.data(), 0x8130, back);
  for (uint16_t row : back) EXPECT_EQ(row, 0);
}

class MadeAtlas : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path = ScratchPath("atlas.gz");
    const std::string command = AtlasMaker() + " " + path + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    atlas = ReadGzip(path);
    LoadedAtlas = atlas.data();
  }
  static void TearDownTestSuite() { std::remove(path.c_str()); }
  void SetUp() override {
    ASSERT_TRUE(FreeTypeOpenFont());
    ASSERT_EQ(atlas.size(), static_cast<size_t>(AtlasBytes));
  }
  static std::string path;
  static std::vector<unsigned char> atlas;
};
std::string MadeAtlas::path;
std::vector<unsigned char> MadeAtlas::atlas;

TEST_F(MadeAtlas, DrawsEveryCharacterAsTheDesktopDoes) {
  int inked = 0;
  for (unsigned code : AllCodes()) {
    char text[2] = {static_cast<char>(code > 0xFF ? code >> 8 : code), static_cast<char>(code)};
    const int length = code > 0xFF ? 2 : 1;
    Strip fromAtlas(Wide);
    Strip fromFreeType(Wide);
    const int atlasWidth = DrawTextCells(&fromAtlas.surface, text, length, AtlasRows, nullptr);
    const int freeTypeWidth = FreeTypeRenderText(&fromFreeType.surface, text, length);
    ASSERT_EQ(atlasWidth, freeTypeWidth) << std::hex << code;
    ASSERT_EQ(fromAtlas.pixels, fromFreeType.pixels) << "character " << std::hex << code;
    inked += HasInk(atlas.data(), code);
  }
  // Most of code page 932 has ink: the kana, kanji and symbols, not the gaps.
  EXPECT_GT(inked, 7500);
  EXPECT_TRUE(HasInk(atlas.data(), 'A'));
  EXPECT_TRUE(HasInk(atlas.data(), 0x819C));  // ●
  EXPECT_TRUE(HasInk(atlas.data(), 0x8160));  // ～, which only CP932 maps
  EXPECT_FALSE(HasInk(atlas.data(), ' '));
  EXPECT_FALSE(HasInk(atlas.data(), 0x8794));  // ∑: IPAGothic has no glyph
  EXPECT_FALSE(HasInk(atlas.data(), 0xF040));  // the user-defined area
}

TEST_F(MadeAtlas, DrawsWholeTextsAsTheDesktopDoes) {
  // Texts the programs draw, and broken ones: a cut-off lead byte, a lead
  // byte before a byte that cannot trail, control codes, a text wider than the strip.
  const std::string texts[] = {"羽虫落としミニゲーム　～ピルカモン～",
                               "タイム：     秒",
                               "x=-12 y=460",
                               "\x81",
                               "\x81\x20\x82\xA0",
                               "\x88\x7F",
                               "\x01\x1F\x7F\x80\xA0\xFD\xFE\xFF",
                               std::string(90, '\x88') + "\x9F"};
  for (const std::string& text : texts) {
    Strip fromAtlas(640);
    Strip fromFreeType(640);
    const int length = static_cast<int>(text.size());
    EXPECT_EQ(DrawTextCells(&fromAtlas.surface, text.data(), length, AtlasRows, nullptr),
              FreeTypeRenderText(&fromFreeType.surface, text.data(), length));
    EXPECT_EQ(fromAtlas.pixels, fromFreeType.pixels) << text;
  }
}

TEST_F(MadeAtlas, TheSameFontGivesTheSameFile) {
  // The site names the atlas by a hash of its bytes, so a rebuild must not change them.
  const std::string again = ScratchPath("again.gz");
  ASSERT_EQ(std::system((AtlasMaker() + " " + again + " > /dev/null").c_str()), 0);
  EXPECT_EQ(ReadFile(again), ReadFile(path));
  std::remove(again.c_str());
  EXPECT_EQ(WEXITSTATUS(std::system((AtlasMaker() + " 2> /dev/null").c_str())), 2);
  EXPECT_NE(std::system((AtlasMaker() + " /nonexistent/dir/atlas.gz 2> /dev/null").c_str()), 0);
}
