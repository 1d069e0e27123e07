#include "ui/framework/dialog_units.h"

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
  return {(width / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
  return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(cx, units.x, 4),
               MulDiv(cy, units.y, 8));
}
