#pragma once

#include "app/Settings.h"

namespace pictor {

// Asks the media backend whether sound can be played and MP3 decoded.
TMediaSupport ProbeMediaSupport();

} // namespace pictor
