// Build-time tool: turns the program's icon images (XPM, drawn by hand with
// at most 16 colours) into the icon file compiled into the program and into
// PNG copies for the desktop's icon theme.
//
//   zlm-icon-tool OUTPUT.ico PNG-DIR IMAGE.xpm...
// writes OUTPUT.ico with every image, and PNG-DIR/<image name>.png for each.

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <cstdio>
#include <vector>

#include "app/icons/icon_file.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUTPUT.ico PNG-DIR IMAGE.xpm...\n", argv[0]);
    return 2;
  }
  const QString iconPath = QString::fromLocal8Bit(argv[1]);
  const QString pngDir = QString::fromLocal8Bit(argv[2]);

  std::vector<QImage> images;
  for (int i = 3; i < argc; ++i) {
    const QString path = QString::fromLocal8Bit(argv[i]);
    QImage image(path);
    if (image.isNull()) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 1;
    }
    const QString png = pngDir + QLatin1Char('/') + QFileInfo(path).completeBaseName() + ".png";
    if (!image.save(png, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(png));
      return 1;
    }
    images.push_back(std::move(image));
  }

  const std::optional<QByteArray> icon = EncodeIcon16Colours(images);
  if (!icon) {
    std::fprintf(stderr, "%s: an image is too large or has more than 16 colours\n", argv[0]);
    return 1;
  }
  QFile file(iconPath);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(*icon) != icon->size()) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
