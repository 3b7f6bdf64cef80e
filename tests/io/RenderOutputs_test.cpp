// PNG files as quenvis-render writes them, read back.
#include "io/RenderOutputs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <QImage>
#include <cstdint>
#include <vector>

namespace {

using namespace quenvis;

class RenderOutputsTest : public test::TTempFolderTest {};

// Every pixel read back as written, opaque or not, from raw pixels and from
// images of both alpha formats; an opaque image's file has no alpha
// channel, a translucent one's keeps it.
TEST_F(RenderOutputsTest, PngFilesHoldThePixels) {
  constexpr int width = 97, height = 31;
  for (const bool translucent : {false, true}) {
    std::vector<std::uint32_t> pixels(width * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const std::uint32_t alpha = translucent && (x * y) % 7 == 3 ? 0x80u : 0xFFu;
        const std::uint32_t red = (x * 5) & 0xFF, green = (y * 9) & 0xFF, blue = (x ^ y) & 0xFF;
        pixels[static_cast<std::size_t>(y * width + x)] =
            alpha << 24 | (red * alpha / 255) << 16 | (green * alpha / 255) << 8 | blue * alpha / 255;
      }
    const QImage expected(reinterpret_cast<const uchar*>(pixels.data()), width, height, width * 4,
                          QImage::Format_ARGB32_Premultiplied);
    int made = 0;
    for (const QImage::Format format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied}) {
      const std::string path = (FDir / ("p" + std::to_string(made++) + ".png")).string();
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (format == QImage::Format_ARGB32 && !translucent)
        ASSERT_EQ(SavePng(pixels.data(), width, height, fd), 0);
      else
        ASSERT_EQ(SavePng(expected.convertToFormat(format), fd), 0);
      const QImage back(QString::fromStdString(path));
      ASSERT_FALSE(back.isNull()) << path;
      EXPECT_EQ(back.hasAlphaChannel(), translucent) << path;
      EXPECT_EQ(back.dotsPerMeterX(), 3937);
      const QImage a = back.convertToFormat(QImage::Format_ARGB32);
      const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
      int wrong = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) wrong += a.pixel(x, y) != b.pixel(x, y);
      EXPECT_EQ(wrong, 0) << path;
    }
  }
}

}  // namespace
