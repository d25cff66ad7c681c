#pragma once

// Reading an archive without writing anything: the check, the member index behind
// OpenArchive/FindFirst/FindNext, the "l" listing and the "t" test.

#include "ArcKind.h"
#include "ArchiveReader.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace pictor::arc {

class TOutputText;

// Most members an index holds (the listing of a bigger archive stops with an error there).
constexpr size_t kMaxIndexMembers = 1000000;

struct TArchiveIndex {
    std::vector<TMember> Members;
    int StopCode = 0; // 0: read to the end; else why the scan stopped after the last member
    std::string StopText;
    std::string Path;
    struct stat FileStat {};
};

// Every member header (no data is decompressed, except where the format must: a compressed
// tar). Throws EArcError when the file cannot be opened or is not an archive of this kind.
TArchiveIndex ScanArchive(TArcKind kind, const std::string& path,
                          size_t maxMembers = kMaxIndexMembers);

// The API's check. mode & 3: 0 the first three headers, 1 every header, 2 (and 3) every
// header and every member's data, where any read problem (a CRC error is only a warning in
// libarchive) means "not an archive". The higher bits (recovery, SFX report ...) change
// nothing.
bool CheckArchive(TArcKind kind, const std::string& path, int mode);

// The "l" command's text for the members matching the patterns. Returns 0 or the error that
// ended the archive early.
int ListArchive(TArcKind kind, const std::string& path, const std::vector<std::string>& patterns,
                TOutputText& out);

// The "t" command: decompresses the members matching the patterns and reports each.
// Returns 0 or the first failure's code.
int TestArchive(TArcKind kind, const std::string& path, const std::vector<std::string>& patterns,
                TOutputText& out);

// MS-DOS date and time words of a Unix time, in local time (1980-01-01 .. 2107-12-31).
void DosDateTime(int64_t unixTime, uint16_t& date, uint16_t& time);

// Attribute letters of the member record ("d" folder, "r" read-only, "h" hidden, "s"
// special, "a" file; '-' for each that does not apply), e.g. "----a".
std::string AttributeText(const TMember& m);
// The MS-DOS attribute bits for the same.
int DosAttributes(const TMember& m);

} // namespace pictor::arc
