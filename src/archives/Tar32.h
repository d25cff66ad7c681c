#pragma once

// The Tar32 archiver library (Tar32.so beside the program) and its error.

#include "archives/ArchiveLibrary.h"
#include "core/Exception.h"

namespace pictor {

class ETarErr : public Exception {
public:
    using Exception::Exception;
};

namespace Tar32 {

// The library's entry points (always callable; see TArchiveLibrary).
TArchiveLibrary& Library();
void LoadArchiveLibrary();
void UnloadArchiveLibrary();

} // namespace Tar32

} // namespace pictor
