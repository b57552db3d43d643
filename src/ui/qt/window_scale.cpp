#include "ui/qt/window_scale.h"

namespace ostrim {

QRect ToPixels(const TwipRect &twips, double scale)
{
    const PixelRect pixels = ScaledPixels(twips, scale);
    return QRect(pixels.left, pixels.top, pixels.width, pixels.height);
}

} // namespace ostrim
