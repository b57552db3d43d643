#pragma once

#include "output/set_outputs.h"
#include "serial/serial_line.h"

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The main window's design, the same on every platform: its controls with their captions, places
// and keyboard order, and the arithmetic that turns the design's twips into pixels. Each platform
// only creates the controls it describes.

namespace ostrim {

// The one way a window runs the action on a press of its button: what it must tell the user, the
// message with what they can do about it; nothing when the frame was sent.
std::optional<std::string> RunWindowAction(const ActionEntries &entries, SerialLine &line);

// A place in the window's design, in twips from the top-left corner of the client area.
struct TwipRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct PixelRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PixelRect &) const = default;
};

struct PixelSize
{
    int width = 0;
    int height = 0;
};

// The design was drawn at 96 dots per inch, where a pixel is 15 twips.
inline constexpr int TwipsPerPixel = 15;
inline constexpr int DesignDpi = 96;

// The scale at which the design's pixels become a monitor's: 1.5 at 144 dots per inch.
double ScaleForDpi(int dpi);

// Pixels at the given scale. The edges are rounded rather than the sizes, so that controls that
// line up in the design still line up on screen at any scale.
PixelRect ScaledPixels(const TwipRect &twips, double scale);

// The room in the design that a caption must fit into, and the pixels it needs at the font and
// style in use.
struct CaptionRoom
{
    TwipRect room;
    PixelSize need;
};

bool Fits(const CaptionRoom &caption, double scale);

// The least uniform scale, never below 1, at which every caption fits its room.
double ScaleToFit(std::span<const CaptionRoom> captions);

enum class ControlKind { PushButton, TextBox, CheckBox, Label };

struct ControlDesign
{
    std::string_view name;
    int index = -1; // its place in a control array; -1 for a control of its own
    ControlKind kind = ControlKind::Label;
    std::string_view caption; // "&" marks the access key; the entries start empty
    TwipRect place;
    // How far the caption may reach. A label sizes itself to its caption from its place's corner,
    // across to the next column or the right margin and down to its entry.
    TwipRect room;
    int tabIndex = 0;
};

inline constexpr std::string_view FrmMainCaption = "Ostrim";
inline constexpr TwipRect FrmMainClient {0, 0, 1365, 2610};

// In keyboard order, which is also the order the controls are created in. At start the entries
// are empty, no box is ticked and the focus is on the first control. Labels take no focus: the
// keyboard skips them.
inline constexpr std::array<ControlDesign, 9> FrmMainControls {{
    {"Command1", -1, ControlKind::PushButton, "&Set Outputs", {120, 2160, 1125, 375},
        {120, 2160, 1125, 375}, 0},
    {"TxtAddress", -1, ControlKind::TextBox, "", {720, 1800, 525, 285}, {720, 1800, 525, 285}, 1},
    {"ChkOutput", 0, ControlKind::CheckBox, "Output 1", {120, 120, 1125, 255},
        {120, 120, 1125, 255}, 2},
    {"ChkOutput", 1, ControlKind::CheckBox, "Output 2", {120, 480, 1125, 255},
        {120, 480, 1125, 255}, 3},
    {"ChkOutput", 2, ControlKind::CheckBox, "Output 3", {120, 840, 1125, 255},
        {120, 840, 1125, 255}, 4},
    {"ChkOutput", 3, ControlKind::CheckBox, "Output 4", {120, 1200, 1125, 255},
        {120, 1200, 1125, 255}, 5},
    {"Label1", -1, ControlKind::Label, "Address", {720, 1560, 570, 195}, {720, 1560, 525, 240}, 6},
    {"TxtPort", -1, ControlKind::TextBox, "", {120, 1800, 525, 285}, {120, 1800, 525, 285}, 7},
    {"Label2", -1, ControlKind::Label, "Port", {120, 1560, 285, 195}, {120, 1560, 600, 240}, 8},
}};

static_assert(
    [] {
        for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
            if (FrmMainControls[position].tabIndex != static_cast<int>(position))
                return false;
        }
        return true;
    }(),
    "the table is in keyboard order");

// The position of a control in FrmMainControls; a name that is not there does not compile.
consteval std::size_t ControlAt(std::string_view name, int index = -1)
{
    for (std::size_t position = 0; position < FrmMainControls.size(); ++position) {
        if (FrmMainControls[position].name == name && FrmMainControls[position].index == index)
            return position;
    }
    throw "no such control in the design";
}

} // namespace ostrim
