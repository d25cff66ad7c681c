#pragma once

// Icons of the system image list: an index stands for icon-theme names (ShellImages); here
// they become icons, with the style's standard icons where the theme has none, and with the
// overlay of links and shared items drawn into the corner.

#include <QIcon>

class QStyle;

namespace pictor {

// The icon of an index (overlay: 0 none, 1 shared, 2 link). Cached per index and overlay.
QIcon SystemIcon(int index, const QStyle* style, int overlay = 0);

} // namespace pictor
