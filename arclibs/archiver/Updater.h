#pragma once

// The LHA library's "u" (and "a") command: create or update an archive with our own -lh5-
// writer. An existing archive is replaced only by a complete new one.

#include "CommandLine.h"

namespace pictor::arc {

class TOutputText;

// Returns 0, or: ARC_ERROR_CANNOT_WRITE when the archive could not be written (it is then as
// it was), ARC_ERROR_CANNOT_READ when some listed files could not be added (the rest is
// written), ARC_ERROR_COMMAND_NAME when the list names no file.
int UpdateArchive(const TCommandLine& cmd, TOutputText& out);

} // namespace pictor::arc
