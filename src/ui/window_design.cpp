#include "ui/window_design.h"

#include "serial/failure_advice.h"

#include <algorithm>
#include <cmath>

namespace ostrim {

std::optional<std::string> RunWindowAction(const ActionEntries &entries, SerialLine &line)
{
    const ActionOutcome outcome = SetOutputs(entries, line);
    if (outcome.ending == Ending::Sent)
        return std::nullopt;
    return WithAdvice(outcome.message, outcome.failure, windowWords);
}
namespace {

int ToPixel(int twips, double scale)
{
    return static_cast<int>(std::lround(twips * scale / TwipsPerPixel));
}

// Fine enough that a step moves no edge of the 174-pixel-high design by more than a third of a
// pixel, coarse enough that the search takes a few dozen steps.
constexpr double ScaleStep = 1.0 / 512;

} // namespace

double ScaleForDpi(int dpi)
{
    return static_cast<double>(dpi) / DesignDpi;
}

PixelRect ScaledPixels(const TwipRect &twips, double scale)
{
    const int left = ToPixel(twips.left, scale);
    const int top = ToPixel(twips.top, scale);
    return {left, top, ToPixel(twips.left + twips.width, scale) - left,
        ToPixel(twips.top + twips.height, scale) - top};
}

bool Fits(const CaptionRoom &caption, double scale)
{
    const PixelRect room = ScaledPixels(caption.room, scale);
    return caption.need.width <= room.width && caption.need.height <= room.height;
}

double ScaleToFit(std::span<const CaptionRoom> captions)
{
    // Rounded edges can give a room up to a pixel more than its exact size, so the search starts
    // where each caption would fit with that pixel, and goes up to where all of them do.
    double scale = 1.0;
    for (const CaptionRoom &caption : captions) {
        const double roomWidth = static_cast<double>(caption.room.width) / TwipsPerPixel;
        const double roomHeight = static_cast<double>(caption.room.height) / TwipsPerPixel;
        scale = std::max(
            {scale, (caption.need.width - 1) / roomWidth, (caption.need.height - 1) / roomHeight});
    }
    while (!std::ranges::all_of(captions, [scale](const CaptionRoom &c) { return Fits(c, scale); }))
        scale += ScaleStep;
    return scale;
}

} // namespace ostrim
