#pragma once

#include <array>

// The main window's controls as they are laid out: geometry in twips (15 to a
// pixel), tab positions, first texts and tooltips.
enum class ControlKind { Label, List, Button, TextBox, Radio };

struct ControlSpec {
    const char *name;
    ControlKind kind;
    const char *text;
    int left, top, width, height; // twips
    int tab;
    const char *tooltip;
    bool hidden;
};

inline constexpr int TwipsPerPixel = 15;

inline int px(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

extern const std::array<ControlSpec, 19> frmMainControls;
