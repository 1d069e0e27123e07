#include "ui/framework/qt/template_font.h"

#include <QFontMetrics>
#include <cstring>

namespace {

// The classic 8-point UI font is not on a Linux desktop. Liberation Sans at
// 7.5 points has nearly its average width and height, and keeps the longest
// labels of our templates within their rectangles.
struct FontSubstitute {
  const char* face;
  const char* replacement;
  double pointDelta;
};
constexpr FontSubstitute kSubstitutes[] = {
    {"MS Sans Serif", "Liberation Sans", -0.5},
    {"MS Shell Dlg", "Liberation Sans", -0.5},
};

}  // namespace

QFont TemplateFont(const char* face, int pointSize) {
  QFont font;
  double size = pointSize;
  font.setFamily(QString::fromUtf8(face));
  for (const auto& s : kSubstitutes) {
    if (std::strcmp(s.face, face) == 0) {
      font.setFamily(QString::fromUtf8(s.replacement));
      size += s.pointDelta;
      break;
    }
  }
  font.setPointSizeF(size);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {AverageCharWidth(width), metrics.height()};
}
