#include "display/Graphics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace quenvis {
namespace {

constexpr std::uint32_t Black = 0xFF000000u;
constexpr CPen Green(MakeColor(255, 0, 255, 0));
constexpr CPen HalfRed(MakeColor(128, 255, 0, 0));
constexpr CPen Yellow(MakeColor(255, 255, 255, 0));
constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

using PixelSet = std::set<std::pair<int, int>>;

PixelSet Changed(const CBM32& s, std::uint32_t Background = Black) {
  PixelSet out;
  for (int y = 0; y < s.Info->Height; ++y)
    for (int x = 0; x < s.Info->Width; ++x)
      if (s.Info->Bits[y * s.Info->Width + x] != Background) out.insert({x, y});
  return out;
}

std::uint32_t At(const CBM32& s, int x, int y) { return s.Info->Bits[y * s.Info->Width + x]; }

TEST(Graphics, HorizontalLineFillsItsRowOnlyAndIsVisibleAtOnce) {
  CBM32 s(1024, 256);
  s.Fill(Black);
  CGraphics g(s.Bitmap);
  g.DrawLine(Green, 0, 10, 1024, 10);
  // Read while the context is still open.
  PixelSet expected;
  for (int x = 0; x < 1024; ++x) expected.insert({x, 10});
  EXPECT_EQ(Changed(s), expected);
  EXPECT_EQ(At(s, 0, 10), 0xFF00FF00u);
  EXPECT_EQ(At(s, 1023, 10), 0xFF00FF00u);
}

TEST(Graphics, VerticalLineTouchesOnlyItsColumnAndBothEnds) {
  CBM32 s(64, 48);
  s.Fill(Black);
  CGraphics(s.Bitmap).DrawLine(Green, 9, 3, 9, 20);
  PixelSet expected;
  for (int y = 3; y <= 20; ++y) expected.insert({9, y});
  EXPECT_EQ(Changed(s), expected);
}

TEST(Graphics, BlendingIsSourceOverAndKeepsOpaquePixelsOpaque) {
  struct Case {
    std::uint32_t Old, Pen, Expected;
  };
  const Case cases[] = {
      {Black, 0x80FF0000u, 0xFF800000u},        // red 128 over black
      {Black, 0x800000FFu, 0xFF000080u},        // blue 128 over black
      {0xFF00FF00u, 0x80FF0000u, 0xFF807F00u},  // over green: 255*128/255, 255*127/255
      {0xFF123456u, 0xFFABCDEFu, 0xFFABCDEFu},  // opaque pen replaces
      {0xFF123456u, 0x00ABCDEFu, 0xFF123456u},  // transparent pen leaves alone
      {0x00000000u, 0x80FF0000u, 0x80FF0000u},  // over nothing: the pen itself
  };
  for (const Case& c : cases) EXPECT_EQ(BlendOver(c.Old, c.Pen), c.Expected) << std::hex << c.Pen;
  // Over an opaque pixel the alpha stays 255 for every pen alpha.
  for (std::uint32_t a = 0; a < 256; ++a)
    ASSERT_EQ(BlendOver(0xFF102030u, a << 24 | 0xFFFFFF) >> 24, 255u) << a;

  CBM32 s(4, 4);
  s.Fill(Black);
  CGraphics(s.Bitmap).DrawLine(HalfRed, 0, 1, 3, 1);
  const std::uint32_t p = At(s, 2, 1);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 128, 1);
  EXPECT_EQ(p & 0xFF00FFFFu, 0xFF000000u);
}

TEST(Graphics, LinesOutsideTheSurfaceChangeNothing) {
  CBM32 s(1024, 256);
  s.Fill(Black);
  CGraphics g(s.Bitmap);
  g.DrawLine(Green, 0, 300, 1023, 300);
  g.DrawLine(Green, 2000, 0, 2000, 255);
  g.DrawLine(Green, -1, 0, -1, 255);
  g.DrawLine(Green, Min32, Min32, Max32, -1);  // passes just above the corner
  EXPECT_TRUE(Changed(s).empty());
}

TEST(Graphics, RectangleOutlinesCoverEdgesInclusive) {
  PixelSet expected;
  for (int i = 0; i <= 10; ++i) {
    expected.insert({45 + i, 95});
    expected.insert({45 + i, 105});
    expected.insert({45, 95 + i});
    expected.insert({55, 95 + i});
  }
  CBM32 a(256, 256), b(256, 256);
  a.Fill(Black);
  b.Fill(Black);
  CGraphics(a.Bitmap).DrawRectangleI(Yellow, 45, 95, 10, 10);
  CGraphics(b.Bitmap).DrawRectangle(Yellow, 45.0f, 95.0f, 10.0f, 10.0f);
  EXPECT_EQ(Changed(a), expected);
  EXPECT_EQ(Changed(b), expected);
  EXPECT_EQ(expected.size(), 40u);

  // Corners are blended once, like every other outline pixel.
  CBM32 c(256, 256);
  c.Fill(Black);
  CGraphics(c.Bitmap).DrawRectangleI(HalfRed, 45, 95, 10, 10);
  for (const auto& [x, y] : expected) ASSERT_EQ(At(c, x, y), 0xFF800000u) << x << "," << y;
}

TEST(Graphics, OutlinePartlyOffTheTopLeftShowsOnlyItsInsideEdges) {
  PixelSet expected;
  for (int i = 0; i <= 7; ++i) {
    expected.insert({7, i});
    expected.insert({i, 7});
  }
  CBM32 a(256, 256), b(256, 256);
  a.Fill(Black);
  b.Fill(Black);
  CGraphics(a.Bitmap).DrawRectangleI(Yellow, -3, -3, 10, 10);
  CGraphics(b.Bitmap).DrawRectangle(Yellow, -3.0f, -3.0f, 10.0f, 10.0f);
  EXPECT_EQ(Changed(a), expected);
  EXPECT_EQ(Changed(b), expected);
}

TEST(Graphics, DegenerateAndFarAwayRectangles) {
  CBM32 s(32, 32);
  s.Fill(Black);
  CGraphics g(s.Bitmap);
  g.DrawRectangleI(Yellow, 4, 4, -2, 3);
  g.DrawRectangleI(Yellow, Max32, Max32, Max32, Max32);
  g.DrawRectangleI(Yellow, Min32, Min32, 10, 10);
  g.DrawRectangle(Yellow, NAN, 1, 2, 3);
  g.DrawRectangle(Yellow, 1e30f, -1e30f, 5, 5);
  g.DrawRectangle(Yellow, -INFINITY, 3, 1, 1);
  g.DrawRectangle(Yellow, 3, -INFINITY, 4, INFINITY);  // bottom edge -inf + inf is NaN
  g.DrawRectangle(Yellow, -INFINITY, 3, INFINITY, 4);
  EXPECT_TRUE(Changed(s).empty());
  // A huge outline around the surface shows nothing; one through it shows its edge.
  g.DrawRectangleI(Yellow, Min32, Min32, Max32, Max32);
  EXPECT_TRUE(Changed(s).empty());
  g.DrawRectangleI(Yellow, Min32, 5, Max32, 0);  // right edge x = -1: still outside
  EXPECT_TRUE(Changed(s).empty());
  g.DrawRectangleI(Yellow, 2, 5, Max32, 0);  // one row from x = 2 to far right
  PixelSet row;
  for (int x = 2; x < 32; ++x) row.insert({x, 5});
  EXPECT_EQ(Changed(s), row);
}

// The pixels the unclipped line from (x1, y1) to (x2, y2) sets inside a
// W x H surface, evaluated step by step in 128-bit arithmetic.
PixelSet ReferenceLine(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2, int W,
                       int H) {
  PixelSet out;
  const std::int64_t dx = x2 - x1, dy = y2 - y1;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const std::int64_t maj0 = xMajor ? x1 : y1, min0 = xMajor ? y1 : x1;
  const std::int64_t dMaj = xMajor ? dx : dy, dMin = xMajor ? dy : dx;
  const std::int64_t aMaj = std::llabs(dMaj), aMin = std::llabs(dMin);
  const int sMaj = dMaj < 0 ? -1 : 1, sMin = dMin < 0 ? -1 : 1;
  const int majCount = xMajor ? W : H;
  for (int p = 0; p < majCount; ++p) {
    const std::int64_t i = (p - maj0) * sMaj;
    if (i < 0 || i > aMaj) continue;
    const auto off =
        aMaj == 0
            ? 0
            : static_cast<std::int64_t>((2 * static_cast<unsigned __int128>(i) * aMin + aMaj) /
                                        (2 * static_cast<unsigned __int128>(aMaj)));
    const std::int64_t q = min0 + sMin * off;
    const int x = xMajor ? p : static_cast<int>(q);
    const int y = xMajor ? static_cast<int>(q) : p;
    if (xMajor ? (q >= 0 && q < H) : (q >= 0 && q < W)) out.insert({x, y});
  }
  return out;
}

TEST(Graphics, ClippedLinesMatchTheUnclippedLineForAnyCoordinates) {
  constexpr int W = 37, H = 23;
  struct Line {
    std::int32_t x1, y1, x2, y2;
  };
  std::vector<Line> lines = {
      {0, 0, 36, 22},
      {36, 22, 0, 0},
      {-10, -7, 50, 30},
      {5, -100, 9, 200},
      {Min32, Min32, Max32, Max32},
      {Max32, Min32, Min32, Max32},
      {Min32, 11, Max32, 11},
      {7, Min32, 7, Max32},
      {Min32, 0, Max32, 22},
      {Min32, Max32, 20, 10},
      {-1000000000, 5, 1000000000, 17},
      {3, 3, 3, 3},
      {Max32, Max32, Max32, Max32},
      {-2, 30, 40, -8},
  };
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::int32_t> any(Min32, Max32), near(-60, 60);
  std::uniform_int_distribution<int> kind(0, 2);
  for (int n = 0; n < 3000; ++n) {
    auto pick = [&] { return kind(rng) == 0 ? any(rng) : near(rng); };
    lines.push_back({pick(), pick(), pick(), pick()});
  }
  for (const Line& l : lines) {
    CBM32 s(W, H);
    s.Fill(Black);
    CGraphics(s.Bitmap).DrawLine(Green, l.x1, l.y1, l.x2, l.y2);
    ASSERT_EQ(Changed(s), ReferenceLine(l.x1, l.y1, l.x2, l.y2, W, H))
        << l.x1 << "," << l.y1 << " -> " << l.x2 << "," << l.y2;
  }
}

}  // namespace
}  // namespace quenvis
