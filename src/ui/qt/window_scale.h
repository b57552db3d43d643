#pragma once

#include "ui/window_design.h"

#include <QRect>
#include <QSize>

namespace ostrim {

// The design's places as Qt's rectangles: device-independent pixels at the given scale.
QRect ToPixels(const TwipRect &twips, double scale);

inline PixelSize ToPixelSize(const QSize &size)
{
    return {size.width(), size.height()};
}

} // namespace ostrim
