#pragma once

// The UNLHA32 archiver library (UNLHA32.so beside the program) and its error.

#include "archives/ArchiveLibrary.h"
#include "core/Exception.h"

namespace pictor {

class EUnlhaErr : public Exception {
public:
    using Exception::Exception;
};

namespace UnLha32 {

// The library's entry points (always callable; see TArchiveLibrary).
TArchiveLibrary& Library();
void LoadArchiveLibrary();
void UnloadArchiveLibrary();

} // namespace UnLha32

} // namespace pictor
