#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>
#include <span>

// Writes images as one icon file (.ico) with 4 bits per pixel: each image
// gets a palette of its own opaque colours, at most 16, and a 1-bit mask for
// its transparent pixels. Nothing when there is no image, an image is larger
// than 256 pixels a side, or it uses more than 16 opaque colours.
std::optional<QByteArray> EncodeIcon16Colours(std::span<const QImage> images);
