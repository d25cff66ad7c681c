#pragma once

// Extraction: every selected member below the destination folder, never anywhere else.
// See README.md ("Extraction") for the rules.

#include "ArcKind.h"
#include "CommandLine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictor::arc {

class TOutputText;
struct TMember;

// Caps against archives built to fill the disk. Bytes count what is really written (holes
// of sparse members included), never what the headers claim.
struct TExtractLimits {
    int64_t MaxTotalBytes = -1;             // -1: the free space of the destination minus...
    int64_t DiskMargin = int64_t(64) << 20; // ...this margin, rechecked every 64 MiB
    int64_t RatioFloor = int64_t(64) << 20; // once this much is written, the output may be
    int64_t MaxRatio = 200;                 // at most MaxRatio times the archive bytes read
    int64_t MaxMembers = 1000000;

    static TExtractLimits Defaults();
};

struct TExtractOptions {
    std::vector<std::string> Patterns; // empty: every member
    TOverwrite Overwrite = TOverwrite::Update;
    bool Flat = false; // drop stored folders
    TExtractLimits Limits = TExtractLimits::Defaults();
    // Called before (begin true) and after each selected member with the member, the path of
    // its file and the bytes written so far; false cancels (ARC_ERROR_USER_CANCEL).
    std::function<bool(const TMember&, const std::string& destPath, int64_t written, bool begin)>
        Progress;
};

struct TExtractResult {
    int Code = 0; // 0, or the result code of the first failure
    int Extracted = 0, Kept = 0, Failed = 0;
};

// Extracts the archive into destFolder (created when missing, once the file is known to be
// an archive of this kind). A member that cannot be extracted is counted and reported, and
// the others go on; a broken archive, the byte caps and a cancel stop the run. Throws EArcError
// when the archive cannot be opened or is not one of this kind (nothing is created then).
TExtractResult ExtractArchive(TArcKind kind, const std::string& archivePath,
                              const std::string& destFolder, const TExtractOptions& options,
                              TOutputText& log);

} // namespace pictor::arc
