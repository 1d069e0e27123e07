#pragma once

// Dialog units: a template's geometry in quarters of the font's average
// character width and eighths of its height, converted the classic way. The
// backends measure the template font; the arithmetic is the same for both.

struct DialogBaseUnits {
  int x;  // average character width in pixels
  int y;  // character height in pixels
};

struct PixelRect {
  int x, y, width, height;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// number * numerator / denominator, rounded half away from zero.
int MulDivRounded(int number, int numerator, int denominator);

// The average character width from the width of the 52 Latin letters, as
// the platform computes it: rounded, not truncated.
int AverageCharWidth(int widthOfAlphabet);

PixelRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);
