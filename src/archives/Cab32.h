#pragma once

// The Cab32 archiver library (Cab32.so beside the program) and its error.

#include "archives/ArchiveLibrary.h"
#include "core/Exception.h"

namespace pictor {

class ECabErr : public Exception {
public:
    using Exception::Exception;
};

namespace Cab32 {

// The library's entry points (always callable; see TArchiveLibrary).
TArchiveLibrary& Library();
void LoadArchiveLibrary();
void UnloadArchiveLibrary();

} // namespace Cab32

} // namespace pictor
