#include "app/WindowPosition.h"

#include "core/Exception.h"

#include <climits>
#include <string>

namespace pictor {

namespace {

using i64 = long long;

void CheckRect(const TRect& r, const char* what) {
    if (r.Right < r.Left || r.Bottom < r.Top)
        throw Exception(std::string("window position: ") + what + " has a negative size");
}

int Saturate(i64 v) {
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
}

} // namespace

TWindowPlacement RestoreWindowPosition(const TWindowPlacementInput& in) {
    if (in.VirtualWidth < 0 || in.VirtualHeight < 0 || in.PrimaryWidth < 0 || in.PrimaryHeight < 0)
        throw Exception("window position: negative screen size");
    CheckRect(in.PrimaryWorkArea, "the primary work area");
    for (const TRect& r : in.MonitorWorkAreas)
        CheckRect(r, "a monitor work area");

    // 64 bits throughout: stored values come from a text file and may be anything an int
    // holds, and W + L must not overflow.
    const i64 w = in.W, h = in.H, t = in.T, l = in.L;
    const bool e = in.FileExists;
    i64 m = i64(in.MonitorWorkAreas.size());
    i64 sw, sh;
    TRect wa = in.PrimaryWorkArea;
    const TRect* monitor = nullptr; // the monitor that keeps the window, multi-monitor case

    if (m > 1 && e) {
        sw = in.VirtualWidth;
        sh = in.VirtualHeight;
        // Edges included on all four sides; a later monitor overrides an earlier one.
        for (const TRect& r : in.MonitorWorkAreas)
            if (r.Left <= l && l <= r.Right && r.Top <= t && t <= r.Bottom) monitor = &r;
        if (!monitor) {
            m = 1;
            sw = in.PrimaryWidth;
            sh = in.PrimaryHeight;
        }
    } else {
        sw = in.PrimaryWidth;
        sh = in.PrimaryHeight;
    }

    i64 left, top, width = w, height = h;

    if (w > sw) {
        left = 0;
        width = sw;
    } else if (w + l > sw) {
        left = sw - w;
    } else if (!e) {
        left = (sw - w) / 2; // C++ division truncates toward zero
    } else if (m == 1 && l < 0) {
        left = 0;
    } else {
        left = l;
    }

    if (h > sh) {
        top = 0;
        height = sh;
    } else if (h + t > sh) {
        top = sh - h;
    } else if (!e) {
        top = (sh - h) / 2;
    } else if (m == 1 && t < wa.Top) {
        top = wa.Top;
    } else {
        top = t;
    }

    if (monitor) {
        const TRect& r = *monitor;
        if (r.Top <= top && r.Left <= left && r.Right >= left + width && top + height <= sh &&
            r.Bottom < top + height) {
            top = i64(r.Bottom) - height;
            if (top < 0) {
                height = i64(r.Bottom) - r.Top;
                top = 0;
            }
        }
    } else {
        // The stored top, not the one computed above, decides whether the window is moved up.
        if (t + height > wa.Bottom) top = i64(wa.Bottom) - height;
        if (top < 0) {
            height += top;
            top = 0;
        }
    }

    return {Saturate(left), Saturate(top), Saturate(width), Saturate(height)};
}

} // namespace pictor
