#include "app/icons/icon_file.h"

#include <QtEndian>
#include <algorithm>
#include <vector>

namespace {

constexpr int kColours = 16;
constexpr int kDirectoryHeaderSize = 6;
constexpr int kDirectoryEntrySize = 16;
constexpr int kBitmapHeaderSize = 40;

void Put16(QByteArray& out, quint16 value) {
  const quint16 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

void Put32(QByteArray& out, quint32 value) {
  const quint32 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

// Bitmap rows are padded to whole 32-bit words.
int RowBytes(int width, int bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

// One image as it is stored in an icon file: the bitmap header (with the
// height doubled for the mask), the palette, the colour bits and the mask,
// rows from the bottom up.
std::optional<QByteArray> EncodeImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int width = image.width();
  const int height = image.height();
  if (width < 1 || height < 1 || width > 256 || height > 256) return std::nullopt;

  std::vector<QRgb> palette;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qAlpha(pixel) < 128) continue;
      const QRgb colour = pixel | 0xFF000000u;
      if (std::find(palette.begin(), palette.end(), colour) != palette.end()) continue;
      if (palette.size() == kColours) return std::nullopt;
      palette.push_back(colour);
    }
  }
  palette.resize(kColours, qRgb(0, 0, 0));

  const int colourRow = RowBytes(width, 4);
  const int maskRow = RowBytes(width, 1);
  QByteArray colourBits(colourRow * height, '\0');
  QByteArray maskBits(maskRow * height, '\0');
  for (int y = 0; y < height; ++y) {
    const int row = height - 1 - y;
    for (int x = 0; x < width; ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qAlpha(pixel) < 128) {
        // Transparent: mask bit set, colour index 0.
        maskBits[row * maskRow + x / 8] =
            static_cast<char>(maskBits[row * maskRow + x / 8] | (0x80 >> (x % 8)));
        continue;
      }
      const auto index = static_cast<int>(
          std::find(palette.begin(), palette.end(), pixel | 0xFF000000u) - palette.begin());
      char& byte = colourBits[row * colourRow + x / 2];
      byte = static_cast<char>(byte | (x % 2 == 0 ? index << 4 : index));
    }
  }

  QByteArray out;
  Put32(out, kBitmapHeaderSize);
  Put32(out, static_cast<quint32>(width));
  Put32(out, static_cast<quint32>(height * 2));
  Put16(out, 1);  // planes
  Put16(out, 4);  // bits per pixel
  Put32(out, 0);  // no compression
  Put32(out, static_cast<quint32>(colourBits.size() + maskBits.size()));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, kColours);
  Put32(out, 0);
  for (const QRgb colour : palette) {
    out.append(static_cast<char>(qBlue(colour)));
    out.append(static_cast<char>(qGreen(colour)));
    out.append(static_cast<char>(qRed(colour)));
    out.append('\0');
  }
  out.append(colourBits);
  out.append(maskBits);
  return out;
}

}  // namespace

std::optional<QByteArray> EncodeIcon16Colours(std::span<const QImage> images) {
  if (images.empty()) return std::nullopt;
  std::vector<QByteArray> encoded;
  for (const QImage& image : images) {
    std::optional<QByteArray> one = EncodeImage(image);
    if (!one) return std::nullopt;
    encoded.push_back(std::move(*one));
  }

  QByteArray out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon
  Put16(out, static_cast<quint16>(images.size()));
  auto offset = static_cast<quint32>(kDirectoryHeaderSize + kDirectoryEntrySize * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    // A side of 256 is written as 0.
    out.append(static_cast<char>(images[i].width() & 0xFF));
    out.append(static_cast<char>(images[i].height() & 0xFF));
    out.append(static_cast<char>(kColours));
    out.append('\0');
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, static_cast<quint32>(encoded[i].size()));
    Put32(out, offset);
    offset += static_cast<quint32>(encoded[i].size());
  }
  for (const QByteArray& image : encoded) out.append(image);
  return out;
}
