#include "ui/framework/dialog_units.h"

int MulDivRounded(int number, int numerator, int denominator) {
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

int AverageCharWidth(int widthOfAlphabet) { return (widthOfAlphabet / 26 + 1) / 2; }

PixelRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
  return {MulDivRounded(x, units.x, 4), MulDivRounded(y, units.y, 8), MulDivRounded(cx, units.x, 4),
          MulDivRounded(cy, units.y, 8)};
}
