#pragma once

#include <QFont>
#include <QRect>

// Dialog units: a template's geometry in quarters of the font's average
// character width and eighths of its height, converted the classic way.
// Template fonts that do not exist here are replaced by a Debian font of
// close metrics so every text of a template stays fully visible.

QFont TemplateFont(const char* face, int pointSize);

struct DialogBaseUnits {
  int x;  // average character width in pixels
  int y;  // character height in pixels
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

int MulDiv(int number, int numerator, int denominator);

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);
