#include "display/DXCommon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <new>

namespace quenvis {
namespace {

TEST(DXCommon, SurfaceGeometryAndFormat) {
  struct Case {
    std::int32_t w, h, stride;
  };
  for (const Case c : {Case{1024, 256, 4096}, Case{256, 256, 1024}}) {
    CBM32 s(c.w, c.h);
    ASSERT_NE(s.Info, nullptr);
    EXPECT_EQ(s.Info->Width, c.w);
    EXPECT_EQ(s.Info->Height, c.h);
    EXPECT_EQ(s.Info->Stride, c.stride);
    EXPECT_EQ(s.Info->PixelFormat, 0x26200Au);
    EXPECT_EQ(PixelCount(*s.Info) * 4, std::int64_t{c.stride} * c.h);
    // The bitmap is a view of the very same buffer.
    EXPECT_EQ(s.Bitmap.Bits(), s.Info->Bits);
    EXPECT_EQ(s.Bitmap.Stride(), c.stride);
  }
}

TEST(DXCommon, FillWritesEveryPixelInMemoryOrderBGRA) {
  CBM32 s(1024, 256);
  std::memset(s.Info->Bits, 0x5A, 1024 * 256 * 4);
  s.Fill(0xFF000000u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.Info->Bits);
  for (std::size_t i = 0; i < 1024u * 256u; ++i) {
    const unsigned char expected[4] = {0x00, 0x00, 0x00, 0xFF};
    ASSERT_EQ(std::memcmp(bytes + 4 * i, expected, 4), 0) << "pixel " << i;
  }
}

TEST(DXCommon, MakeColor) {
  EXPECT_EQ(MakeColor(255, 0, 255, 0), 0xFF00FF00u);
  EXPECT_EQ(MakeColor(128, 255, 0, 0), 0x80FF0000u);
  EXPECT_EQ(MakeColor(128, 0, 0, 255), 0x800000FFu);
  EXPECT_EQ(MakeColor(255, 255, 255, 0), 0xFFFFFF00u);
  EXPECT_EQ(MakeColor(1, 2, 3, 4), 0x01020304u);
}

TEST(DXCommon, AllocAndFreeHeader) {
  TBM32Info* info = nullptr;
  ASSERT_EQ(AllocBM32Info(info, 3, 2), 0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Stride, 12);
  FreeBM32Info(info);
  EXPECT_EQ(info, nullptr);
  FreeBM32Info(info);  // an empty header is left alone
  EXPECT_EQ(info, nullptr);
}

TEST(DXCommon, SizesThatCannotBeHeldFailCleanly) {
  // A stride that does not fit 32 bits is refused instead of wrapping.
  TBM32Info* info = reinterpret_cast<TBM32Info*>(1);
  EXPECT_EQ(AllocBM32Info(info, std::numeric_limits<std::int32_t>::max(), 1), 3);
  EXPECT_EQ(info, nullptr);
  EXPECT_THROW(CBM32(std::numeric_limits<std::int32_t>::max(), 2), std::bad_alloc);
}

TEST(DXCommon, NonPositiveSizesMakeEmptySurfacesThatFillNothing) {
  for (auto [w, h] : {std::pair{0, 10}, std::pair{-1, -1}, std::pair{-5, 3}}) {
    CBM32 s(w, h);
    EXPECT_EQ(PixelCount(*s.Info), 0);
    EXPECT_TRUE(s.Bitmap.Empty());
    s.Fill(0xFFFFFFFFu);  // must not write (ASan checks)
  }
}

}  // namespace
}  // namespace quenvis
