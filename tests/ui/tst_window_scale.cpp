#include "ui/qt/window_scale.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include <doctest.h>

using namespace ostrim;

namespace {

// Rooms as the window has them: a check box, the "Address" label's room up to the right margin,
// and the button.
constexpr TwipRect OutputBox {120, 120, 1125, 255};
constexpr TwipRect AddressRoom {720, 1560, 525, 240};
constexpr TwipRect Button {120, 2160, 1125, 375};

std::string Shown(const QRect &rect)
{
    return std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " "
        + std::to_string(rect.width()) + "x" + std::to_string(rect.height());
}

} // namespace

TEST_CASE("The design's twips become pixels at the scale")
{
    struct Row
    {
        std::string_view name;
        double scale;
        std::string outputBox;
        std::string addressRoom;
    };
    const Row rows[] {
        {"1: 15 twips to the pixel", 1.0, "8,8 75x17", "48,104 35x16"},
        {"2: every length doubled", 2.0, "16,16 150x34", "96,208 70x32"},
        // Both end at 83 * 1.45 = 120.35 -> 120, so the box is 108 wide, not 75 * 1.45 = 108.75
        // -> 109, and the margin stays whole.
        {"1.45: edges rounded, not sizes", 1.45, "12,12 108x24", "70,151 50x23"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(Shown(ToPixels(OutputBox, row.scale)) == row.outputBox);
        CHECK(Shown(ToPixels(AddressRoom, row.scale)) == row.addressRoom);
    }
}

TEST_CASE("The scale is the least at which every caption fits its room")
{
    struct Row
    {
        std::string_view name;
        std::vector<CaptionRoom> captions;
        double about; // need over room of the neediest caption
    };
    const Row rows[] {
        {"all fit at 15 twips to the pixel -> 1", {{OutputBox, {60, 15}}, {AddressRoom, {30, 13}}},
            1.0},
        {"needs exactly the room -> 1", {{OutputBox, {75, 17}}, {AddressRoom, {35, 16}}}, 1.0},
        {"nothing to fit -> 1", {}, 1.0},
        {"label 50 of 35 pixels -> about 50/35", {{OutputBox, {70, 17}}, {AddressRoom, {50, 14}}},
            50.0 / 35},
        {"height decides: 34 of 17 pixels -> about 2", {{OutputBox, {40, 34}}}, 2.0},
        {"the neediest caption wins, wherever it is",
            {{AddressRoom, {40, 14}}, {Button, {160, 26}}, {OutputBox, {80, 17}}}, 160.0 / 75},
        {"one pixel over -> just over 1", {{OutputBox, {76, 17}}}, 76.0 / 75},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const double scale = ScaleToFit(row.captions);
        INFO("scale ", scale);
        const auto allFitAt = [&](double at) {
            return std::ranges::all_of(
                row.captions, [at](const CaptionRoom &caption) { return Fits(caption, at); });
        };
        CHECK(allFitAt(scale));
        if (row.about == 1.0) {
            CHECK(scale == 1.0);
            continue;
        }
        CHECK(scale > 1.0);
        // Rounded edges may lend a room a pixel, so the scale lies within a pixel of the exact
        // ratio; and it is the least: a hundredth less leaves some caption short of room.
        CHECK(std::abs(scale - row.about) <= 1.0 / 17);
        CHECK_FALSE(allFitAt(scale - 0.01));
    }
}
