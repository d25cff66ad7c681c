#include "app/WindowPosition.h"
#include "core/Exception.h"

#include <gtest/gtest.h>

#include <climits>

using namespace pictor;

namespace {

// A 1920x1080 primary screen with a 40 px task bar at the bottom, and a 1280x1024 secondary
// screen to its right with a 40 px task bar: virtual screen 3200x1080.
const TRect kPrimaryWa{0, 0, 1920, 1040};
const TRect kSecondaryWa{1920, 0, 3200, 984};

TWindowPlacementInput Single(int w, int h, int t, int l, bool file, int sw = 1920, int sh = 1080,
                             TRect wa = kPrimaryWa) {
    return {w, h, t, l, file, {wa}, sw, sh, sw, sh, wa};
}

TWindowPlacementInput Dual(int w, int h, int t, int l, bool file,
                           std::vector<TRect> areas = {kPrimaryWa, kSecondaryWa}) {
    return {w, h, t, l, file, std::move(areas), 3200, 1080, 1920, 1080, kPrimaryWa};
}

struct TCase {
    const char* Name;
    TWindowPlacementInput In;
    TWindowPlacement Expected;
};

void CheckAll(const std::vector<TCase>& cases) {
    for (const TCase& c : cases) {
        const TWindowPlacement p = RestoreWindowPosition(c.In);
        EXPECT_EQ(p.Left, c.Expected.Left) << c.Name;
        EXPECT_EQ(p.Top, c.Expected.Top) << c.Name;
        EXPECT_EQ(p.Width, c.Expected.Width) << c.Name;
        EXPECT_EQ(p.Height, c.Expected.Height) << c.Name;
    }
}

} // namespace

TEST(WindowPosition, FirstStartCentresOnThePrimaryScreen) {
    CheckAll({
        {"full HD", Single(800, 600, 0, 0, false), {560, 240, 800, 600}},
        {"odd difference truncates",
         Single(800, 600, 0, 0, false, 1025, 801, {0, 0, 1025, 801}),
         {112, 100, 800, 600}},
        // 1024x600 with a 40 px task bar: moved up to the work area and shortened.
        {"small screen",
         Single(800, 600, 0, 0, false, 1024, 600, {0, 0, 1024, 560}),
         {112, 0, 800, 560}},
        // The stored top (0), not the centred one, is checked against the work area bottom.
        {"centred overlap kept",
         Single(800, 600, 0, 0, false, 1024, 700, {0, 0, 1024, 620}),
         {112, 50, 800, 600}},
        {"two monitors still primary", Dual(800, 600, 0, 0, false), {560, 240, 800, 600}},
    });
}

TEST(WindowPosition, SingleMonitorWithStoredBounds) {
    CheckAll({
        {"kept", Single(800, 600, 100, 200, true), {200, 100, 800, 600}},
        {"left -5", Single(800, 600, 100, -5, true), {0, 100, 800, 600}},
        {"above work area",
         Single(800, 600, 10, 50, true, 1920, 1080, {0, 40, 1920, 1080}),
         {50, 40, 800, 600}},
        {"right edge passed", Single(800, 600, 100, 1500, true), {1120, 100, 800, 600}},
        // Bottom passes the screen: top = 1080 - 600; the stored top 700 then passes the
        // work area, so the window rises to end at 1040.
        {"bottom passed", Single(800, 600, 700, 200, true), {200, 440, 800, 600}},
        {"larger than screen", Single(3000, 2000, 0, 0, true), {0, 0, 1920, 1040}},
        {"huge stored corner", Single(800, 600, INT_MAX, INT_MAX, true), {1120, 440, 800, 600}},
        {"huge size", Single(INT_MAX, INT_MAX, INT_MAX, INT_MAX, true), {0, 0, 1920, 1040}},
        {"negative top kept on work area", Single(800, 600, -300, 10, true), {10, 0, 800, 600}},
    });
}

TEST(WindowPosition, SeveralMonitors) {
    CheckAll({
        {"reopens on secondary", Dual(800, 600, 100, 2000, true), {2000, 100, 800, 600}},
        // Bottom 1100 passes the virtual screen (top 480), then the secondary work area
        // (bottom 984): moved up.
        {"secondary bottom passed", Dual(800, 600, 500, 2000, true), {2000, 384, 800, 600}},
        {"secondary work area bottom", Dual(800, 600, 400, 2000, true), {2000, 384, 800, 600}},
        // The window would not fit the 500 px monitor: top 0 and the monitor's height.
        {"taller than its monitor",
         Dual(700, 600, 10, 1950, true, {kPrimaryWa, {1920, 0, 2720, 500}}),
         {1950, 0, 700, 500}},
        // Spills over the primary's right edge: not moved up (top stays 1080 - 600).
        {"spans two monitors", Dual(800, 600, 500, 1500, true), {1500, 480, 800, 600}},
        {"on no monitor", Dual(800, 600, 5000, 5000, true), {1120, 440, 800, 600}},
        {"no monitor, negative left", Dual(800, 600, 100, -3000, true), {0, 100, 800, 600}},
        {"negative top on a monitor",
         Dual(800, 600, -100, 2000, true, {kPrimaryWa, {1920, -200, 3200, 984}}),
         {2000, -100, 800, 600}},
    });
}

TEST(WindowPosition, MonitorEdgesAndOverlaps) {
    CheckAll({
        // (3200, 100) lies on the secondary's right edge only: the virtual width applies.
        {"right edge included", Dual(100, 50, 100, 3200, true), {3100, 100, 100, 50}},
        // (2000, 984) on its bottom edge: found, then moved up to end at 984.
        {"bottom edge included", Dual(800, 50, 984, 2000, true), {2000, 934, 800, 50}},
        // Both work areas contain (100, 200); the last one decides.
        {"last of overlapping wins",
         Dual(800, 600, 200, 100, true, {kPrimaryWa, {0, 0, 1280, 700}}),
         {100, 100, 800, 600}},
        {"order reversed",
         Dual(800, 600, 200, 100, true, {{0, 0, 1280, 700}, kPrimaryWa}),
         {100, 200, 800, 600}},
    });
}

TEST(WindowPosition, RejectsImpossibleScreens) {
    TWindowPlacementInput in = Single(800, 600, 0, 0, true);
    in.PrimaryWidth = -1;
    EXPECT_THROW(RestoreWindowPosition(in), Exception);
    in = Dual(800, 600, 0, 0, true, {kPrimaryWa, {100, 0, 50, 10}});
    EXPECT_THROW(RestoreWindowPosition(in), Exception);
    in = Single(800, 600, 0, 0, true, 1920, 1080, {0, 500, 1920, 100});
    EXPECT_THROW(RestoreWindowPosition(in), Exception);
}
