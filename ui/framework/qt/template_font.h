#pragma once

#include <QFont>
#include <QRect>

#include "ui/framework/dialog_units.h"

// The template font on a Linux desktop and its dialog base units. Template
// fonts that do not exist here are replaced by a Debian font of close
// metrics so every text of a template stays fully visible.

QFont TemplateFont(const char* face, int pointSize);

DialogBaseUnits BaseUnitsOf(const QFont& font);

inline QRect ToQRect(const PixelRect& r) { return QRect(r.x, r.y, r.width, r.height); }
