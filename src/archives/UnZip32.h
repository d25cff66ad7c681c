#pragma once

// The UnZip32 archiver library (UnZip32.so beside the program) and its error.

#include "archives/ArchiveLibrary.h"
#include "core/Exception.h"

namespace pictor {

class EUnZipErr : public Exception {
public:
    using Exception::Exception;
};

namespace UnZip32 {

// The library's entry points (always callable; see TArchiveLibrary).
TArchiveLibrary& Library();
void LoadArchiveLibrary();
void UnloadArchiveLibrary();

} // namespace UnZip32

} // namespace pictor
