#include "app/icons/icon_file.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <vector>

namespace {

// A square with `colours` opaque colours in stripes and a transparent corner.
QImage Striped(int side, int colours) {
  QImage image(side, side, QImage::Format_ARGB32);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const int c = (x + y) % colours;
      image.setPixel(x, y, qRgb(c * 15, 255 - c * 15, (c * 97) % 256));
    }
  }
  image.setPixel(0, 0, qRgba(0, 0, 0, 0));
  image.setPixel(side - 1, 0, qRgba(0, 0, 0, 0));
  return image;
}

std::vector<QImage> Decode(const QByteArray& bytes) {
  QByteArray copy = bytes;
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "ico");
  std::vector<QImage> images;
  for (int i = 0; i < reader.imageCount(); ++i) {
    reader.jumpToImage(i);
    images.push_back(reader.read().convertToFormat(QImage::Format_ARGB32));
  }
  return images;
}

TEST(IconFileTest, ImagesComeBackPixelForPixel) {
  // Odd sides exercise the row padding of both bitmaps.
  const std::vector<QImage> images = {Striped(32, 16), Striped(16, 3), Striped(13, 5)};
  const std::optional<QByteArray> icon = EncodeIcon16Colours(images);
  ASSERT_TRUE(icon);
  const std::vector<QImage> decoded = Decode(*icon);
  ASSERT_EQ(decoded.size(), images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(decoded[i].size(), images[i].size());
    for (int y = 0; y < images[i].height(); ++y) {
      for (int x = 0; x < images[i].width(); ++x) {
        const QRgb want = images[i].pixel(x, y);
        const QRgb got = decoded[i].pixel(x, y);
        if (qAlpha(want) == 0) {
          ASSERT_EQ(qAlpha(got), 0) << x << "," << y;
        } else {
          ASSERT_EQ(got, want) << x << "," << y;
        }
      }
    }
  }
}

TEST(IconFileTest, RefusesWhatFourBitsCannotHold) {
  const struct {
    const char* name;
    std::vector<QImage> images;
  } cases[] = {
      {"no image", {}},
      {"17 colours", {Striped(16, 16), Striped(32, 17)}},
      {"wider than 256", {[] {
         QImage image(257, 16, QImage::Format_ARGB32);
         image.fill(Qt::red);
         return image;
       }()}},
      {"empty image", {QImage()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(EncodeIcon16Colours(c.images));
  }
}

}  // namespace
