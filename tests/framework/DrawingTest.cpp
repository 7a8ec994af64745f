// The keyed copy, text cells and numbers, checked against pictures worked
// out independently of the copy's memory-row arithmetic.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Display.h"
#include "FreeTypeText.h"
#include "Headless.h"
#include "Tovalinex.h"

namespace {

struct OwnedSurface {
  std::vector<uint32_t> storage;
  Surface surface;
  OwnedSurface(int width, int height, uint32_t colour)
      : storage(static_cast<size_t>(width) * height, colour),
        surface{nullptr, storage.data(), width, height} {}
  uint32_t At(int x, int y) const { return PictureAt(&surface, x, y); }
  void Set(int x, int y, uint32_t value) {
    storage[static_cast<size_t>(height() - 1 - y) * width() + x] = value;
  }
  int width() const { return surface.width; }
  int height() const { return surface.height; }
};

// Every source pixel gets its own colour; a few are key-coloured.
OwnedSurface PatternSource(int width, int height) {
  OwnedSurface source(width, height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      source.Set(
          x, y,
          (x + y) % 5 == 0 ? KeyColour : 0x01000000u * (x % 3) + 0x010101u * (y * width + x + 1));
  return source;
}

// What the destination must look like: source picture pixel (i, j) lands on
// destination picture pixel (x + i, y + j) if that lies inside and is not key.
void ExpectCopy(const OwnedSurface& before, const OwnedSurface& after, const OwnedSurface& source,
                long long x, long long y) {
  for (int dy = 0; dy < after.height(); ++dy)
    for (int dx = 0; dx < after.width(); ++dx) {
      const long long i = dx - x;
      const long long j = dy - y;
      uint32_t expected = before.At(dx, dy);
      if (i >= 0 && i < source.width() && j >= 0 && j < source.height()) {
        const uint32_t pixel = source.At(static_cast<int>(i), static_cast<int>(j));
        if (((pixel ^ KeyColour) & 0xFFFFFF) != 0) expected = pixel;
      }
      ASSERT_EQ(after.At(dx, dy), expected)
          << "at (" << dx << ", " << dy << ") copying to (" << x << ", " << y << ")";
    }
}

TEST(KeyedCopy, ClipsOnEverySideAndAtAnyPosition) {
  const OwnedSurface source = PatternSource(24, 16);
  const int positions[][2] = {
      {0, 0},       {-5, 3},      {630, 10},          {100, 470},         {100, -7},
      {-23, -15},   {639, 479},   {640, 10},          {-24, 10},          {-640, 0},
      {10, 480},    {10, -16},    {616, 464},         {INT_MAX, 0},       {INT_MIN, 0},
      {0, INT_MAX}, {0, INT_MIN}, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {-1, -1}};
  for (const auto& position : positions) {
    const OwnedSurface before(640, 480, 0xFFFFFF);
    OwnedSurface after = before;
    after.surface.pixels = after.storage.data();
    BlitKeyed(&after.surface, &source.surface, position[0], position[1], KeyColour);
    ExpectCopy(before, after, source, position[0], position[1]);
  }
}

TEST(KeyedCopy, MatchesThePictureForRandomSizesAndPositions) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const int width = 1 + static_cast<int>(random() % 64);
    const int height = 1 + static_cast<int>(random() % 40);
    const OwnedSurface source =
        PatternSource(1 + static_cast<int>(random() % 80), 1 + static_cast<int>(random() % 30));
    const int x = static_cast<int>(random() % 200) - 100;
    const int y = static_cast<int>(random() % 120) - 60;
    const OwnedSurface before(width, height, 0x123456);
    OwnedSurface after = before;
    after.surface.pixels = after.storage.data();
    BlitKeyed(&after.surface, &source.surface, x, y, KeyColour);
    ExpectCopy(before, after, source, x, y);
  }
}

TEST(KeyedCopy, KeyComparesOnlyTheLowTwentyFourBits) {
  OwnedSurface source(4, 1, 0);
  source.Set(0, 0, 0xFF00FF00u);  // key colour with a high byte: still transparent
  source.Set(1, 0, 0x0000FF01u);  // one step off the key: ink
  source.Set(2, 0, 0xAB123456u);  // copied with all 32 bits
  source.Set(3, 0, 0x0000FF00u);
  OwnedSurface destination(4, 1, 0xFFFFFF);
  BlitKeyed(&destination.surface, &source.surface, 0, 0, KeyColour);
  EXPECT_EQ(destination.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(destination.At(1, 0), 0x0000FF01u);
  EXPECT_EQ(destination.At(2, 0), 0xAB123456u);
  EXPECT_EQ(destination.At(3, 0), 0xFFFFFFu);
}

// Text tests draw into the real back buffer with the real face.
class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    ASSERT_TRUE(FreeTypeOpenFont());
    ASSERT_TRUE(InitSurfaces(nullptr));
    FillSurface(&MainDisplay.backBuffer, White);
  }
  void TearDown() override {
    ReleaseSurface(&MainDisplay.backBuffer);
    ReleaseSurface(&MainDisplay.textStrip);
  }
  static bool Ink(int x, int y) { return PictureAt(&MainDisplay.backBuffer, x, y) != White; }
  // Whether any pixel of the rectangle [x0, x1) x [y0, y1) is ink.
  static bool InkIn(int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (Ink(x, y)) return true;
    return false;
  }
  static std::vector<uint32_t> Picture() {
    const Surface& back = MainDisplay.backBuffer;
    return std::vector<uint32_t>(back.pixels, back.pixels + back.width * back.height);
  }
};

TEST_F(Text, TextsArePinnedToCodePage932) {
  EXPECT_EQ(std::string("～"), "\x81\x60");
  EXPECT_EQ(std::string("●"), "\x81\x9c");
  EXPECT_EQ(std::string("￣"), "\x81\x50");
  EXPECT_EQ(std::strlen("＿＿＿＿＿＿＿＿＿＿"), 20u);
}

TEST_F(Text, CellsAreEightOrSixteenPixelsByByteWidth) {
  DrawString("A●A", 100, 200);
  EXPECT_TRUE(InkIn(100, 200, 108, 216));
  EXPECT_TRUE(InkIn(108, 200, 124, 216));
  EXPECT_TRUE(InkIn(124, 200, 132, 216));
  EXPECT_FALSE(InkIn(0, 0, 640, 200));
  EXPECT_FALSE(InkIn(0, 216, 640, 480));
  EXPECT_FALSE(InkIn(132, 200, 640, 216));
  EXPECT_FALSE(InkIn(0, 200, 100, 216));
  // Monochrome black ink: the keyed copy leaves no green-tinted edges.
  for (uint32_t pixel : Picture())
    ASSERT_TRUE(pixel == White || pixel == 0x000000) << std::hex << pixel;
}

TEST_F(Text, InkStaysInsideTheSixteenPixelLine) {
  DrawString("￣＿", 40, 100);
  EXPECT_TRUE(InkIn(40, 100, 56, 116));
  EXPECT_TRUE(InkIn(56, 100, 72, 116));
  EXPECT_FALSE(InkIn(0, 0, 640, 100));
  EXPECT_FALSE(InkIn(0, 116, 640, 480));
}

TEST_F(Text, EightiethByteCutLeavesALoneLeadByteBlank) {
  const std::string fits = std::string(78, 'A') + "●";  // 80 bytes: the mark fills columns 624-639
  DrawString(fits.c_str(), 0, 0);
  EXPECT_TRUE(InkIn(624, 0, 640, 16));
  FillSurface(&MainDisplay.backBuffer, White);
  const std::string cut = std::string(79, 'A') + "●";  // the cut keeps only the mark's lead byte
  DrawString(cut.c_str(), 0, 0);
  EXPECT_TRUE(InkIn(624, 0, 632, 16));
  EXPECT_FALSE(InkIn(632, 0, 640, 16));
  // Bytes past the 80th never show, even where the strip would have room.
  FillSurface(&MainDisplay.backBuffer, White);
  const std::string longer = std::string(40, ' ') + std::string(60, 'A');
  DrawString(longer.c_str(), -320, 300);
  EXPECT_TRUE(InkIn(0, 300, 320, 316));
  EXPECT_FALSE(InkIn(320, 300, 640, 316));
}

TEST_F(Text, BadSequencesDrawBlankCellsAndKeepTheLayout) {
  DrawString(
      "\x81\x7f"
      "A",
      0, 0);  // lead byte, then a byte that cannot trail it
  EXPECT_FALSE(InkIn(0, 0, 16, 16));
  EXPECT_TRUE(InkIn(16, 0, 24, 16));
  DrawString(
      "\x85\x40"
      "A",
      0, 40);  // a well-formed pair code page 932 leaves unassigned
  EXPECT_FALSE(InkIn(0, 40, 16, 56));
  EXPECT_TRUE(InkIn(16, 40, 24, 56));
  DrawString("\x81", 0, 80);  // a lone lead byte at the end
  EXPECT_FALSE(InkIn(0, 80, 640, 96));
}

TEST_F(Text, NumbersAreSignedDecimals) {
  DrawString("-123", 10, 10);
  const std::vector<uint32_t> expected = Picture();
  FillSurface(&MainDisplay.backBuffer, White);
  DrawNumber(-123, 10, 10);
  EXPECT_EQ(Picture(), expected);
  FillSurface(&MainDisplay.backBuffer, White);
  DrawNumber(0, 10, 10);
  EXPECT_TRUE(InkIn(10, 10, 18, 26));
  EXPECT_FALSE(InkIn(18, 0, 640, 480));
  FillSurface(&MainDisplay.backBuffer, White);
  DrawNumber(INT_MIN, 0, 0);  // "-2147483648": eleven cells
  EXPECT_TRUE(InkIn(80, 0, 88, 16));
  EXPECT_FALSE(InkIn(88, 0, 640, 16));
}

TEST_F(Text, ClipsLikeAnyCopyAndIgnoresExtremePositions) {
  DrawString("●●", -8, -8);
  EXPECT_TRUE(InkIn(0, 0, 24, 8));
  DrawString("●", 632, 472);
  EXPECT_TRUE(InkIn(632, 472, 640, 480));
  const std::vector<uint32_t> before = Picture();
  const int nowhere[][2] = {{640, 0},           {-640, 0},          {0, 480},     {0, -16},
                            {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, {INT_MIN, 0}, {0, INT_MAX}};
  for (const auto& position : nowhere) DrawString("●●●●", position[0], position[1]);
  EXPECT_EQ(Picture(), before);
}

// Clearing and copying only the strip columns in use must give exactly the
// picture of clearing and copying the whole strip for every text.
TEST_F(Text, PartialStripGivesTheWholeStripPicture) {
  const char* texts[] = {"羽虫落としミニゲーム　～ピルカモン～",
                         "*",
                         "●",
                         "タイム：     秒",
                         "1234567890",
                         "あんましヌピタっぽくないけどスペースキーでジャンプ",
                         "+",
                         "・",
                         "◎"};
  std::mt19937 random(11);
  OwnedSurface expected(640, 480, White);
  OwnedSurface strip(640, 16, KeyColour);
  for (int round = 0; round < 200; ++round) {
    const char* text = texts[random() % (sizeof texts / sizeof texts[0])];
    const int x = static_cast<int>(random() % 700) - 60;
    const int y = static_cast<int>(random() % 520) - 20;
    DrawString(text, x, y);
    FillSurface(&strip.surface, KeyColour);
    FreeTypeRenderText(&strip.surface, text, static_cast<int>(std::strlen(text)));
    BlitKeyed(&expected.surface, &strip.surface, x, y, KeyColour);
  }
  EXPECT_EQ(Picture(), expected.storage);
}

TEST(TextBeforeSurfaces, DrawsNothing) {
  HeadlessReset();
  DrawString("●", 0, 0);
  DrawNumber(5, 0, 0);
  EXPECT_EQ(MainDisplay.backBuffer.pixels, nullptr);
}

}  // namespace
