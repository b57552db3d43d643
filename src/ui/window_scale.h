#pragma once

#include <span>

#include <QRect>
#include <QSize>

namespace ostrim {

// A place in the window's design, in twips from the top-left corner of the client area.
struct TwipRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The design was drawn at 96 dots per inch, where a pixel is 15 twips.
inline constexpr int TwipsPerPixel = 15;

// Device-independent pixels at the given scale. The edges are rounded rather than the sizes, so
// that controls that line up in the design still line up on screen at any scale.
QRect ToPixels(const TwipRect &twips, double scale);

// The room in the design that a caption must fit into, and the pixels it needs at the font and
// style in use.
struct CaptionRoom
{
    TwipRect room;
    QSize need;
};

bool Fits(const CaptionRoom &caption, double scale);

// The least uniform scale, never below 1, at which every caption fits its room.
double ScaleToFit(std::span<const CaptionRoom> captions);

} // namespace ostrim
