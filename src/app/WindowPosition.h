#pragma once

#include <cstdint>
#include <vector>

namespace pictor {

// A rectangle with exclusive right and bottom edges, in virtual-screen pixels.
struct TRect {
    int32_t Left, Top, Right, Bottom;
};

struct TWindowPlacementInput {
    int W, H;        // width and height read from the settings file (or their defaults)
    int T, L;        // stored top and left (0 when the file has none)
    bool FileExists; // whether the settings file exists
    // One work area per monitor, in the system's enumeration order; its size is the monitor
    // count.
    std::vector<TRect> MonitorWorkAreas;
    int VirtualWidth, VirtualHeight; // the virtual screen (all monitors)
    int PrimaryWidth, PrimaryHeight; // the primary screen
    TRect PrimaryWorkArea;
};

struct TWindowPlacement {
    int Left, Top, Width, Height;
};

// Where the main window reopens, from its stored bounds and the current monitors.
//
// With several monitors and a settings file, the monitor whose work area contains the stored
// top-left corner (all four edges count as inside; the last such monitor in enumeration order
// wins) keeps the window; coordinates are then checked against the virtual screen, and a
// window whose bottom leaves that monitor's work area is moved up. Otherwise (one monitor, no
// file, or a corner on no monitor) the window is kept on the primary screen: clamped to its
// size, centred when there is no file, kept off negative left and above the work area, and
// moved up (and shortened if need be) so that the stored top plus its height does not pass
// the work area's bottom.
//
// Stored values of any int size are accepted: the arithmetic is done in 64 bits and the
// results saturate to the int range. Negative screen sizes or a work area whose right or
// bottom lies before its left or top raise pictor::Exception.
TWindowPlacement RestoreWindowPosition(const TWindowPlacementInput& in);

} // namespace pictor
