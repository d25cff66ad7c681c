#pragma once

#include "lha/LhaError.h"
#include "lha/Lh5Encoder.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictor::lha {

enum class TEntryResult {
    Added,    // a new member
    Replaced, // the archive had it, older: replaced in place
    Kept,     // the archive had it, as new or newer: left as it was
    Failed,   // could not be read (see Error); an older copy in the archive stays
};

struct TLhaEntryReport {
    std::string StoredName;
    TEntryResult Result = TEntryResult::Failed;
    std::string Method;        // -lh5-, -lh0- or -lhd- (for Kept: the stored member's)
    uint64_t OriginalSize = 0; // Added/Replaced: bytes read; Kept: as the archive says
    uint64_t PackedSize = 0;
    std::string Error;
};

struct TLhaReport {
    std::vector<TLhaEntryReport> Entries; // in the order of the Add calls
    bool ArchiveWritten = false;          // false when nothing was added or replaced
};

// Creates or updates an LHA archive the way an archiver's "u" command does: files not in
// the archive are appended, files newer than their stored copy replace it in place, others
// leave the stored copy alone; every other member is copied over byte for byte (whatever
// its header level, 0 to 3, or method). Members are level-2 headers with -lh5- data, or -lh0- where
// compressing does not make a file smaller, and -lhd- for directories.
//
// Nothing touches the disk until Finish(), which builds the whole new archive in a temporary
// file beside it, flushes it and renames it over the archive. A failure writing that file
// (disk full ...) or an existing archive that cannot be read raises ELhaError and leaves the
// archive exactly as it was; a source file that cannot be read is reported as Failed in the
// report and left out, the rest is written.
//
// Stored names are UTF-8 with '/' between folders, relative to the base folder. They are
// written as CP932 when they convert there and back unchanged, else as UTF-8 (marked with
// code page 65001). Matching against members of an existing archive is by decoded path.
class TLhaWriter {
public:
    explicit TLhaWriter(std::string archivePath, const Lh5Options& options = {});
    TLhaWriter(const TLhaWriter&) = delete;
    TLhaWriter& operator=(const TLhaWriter&) = delete;

    // Queue a regular file (symbolic links are followed) under storedName. Raises ELhaError
    // at once for a name that cannot be stored or is queued twice.
    void AddFile(const std::string& diskPath, const std::string& storedName);
    // Queue a directory entry (no contents) for storedName.
    void AddDirectory(const std::string& diskPath, const std::string& storedName);

    TLhaReport Finish();

private:
    struct TPending {
        std::string DiskPath, StoredName, Key;
        bool Directory = false;
    };
    void Queue(const std::string& diskPath, const std::string& storedName, bool directory);

    std::string FPath;
    Lh5Options FOptions;
    std::vector<TPending> FPending;
    bool FFinished = false;
};

// A member given in memory, for BuildArchive.
struct TMemoryMember {
    std::string StoredName;
    std::span<const uint8_t> Data;
    bool Directory = false;
    uint32_t MTime = 0;
    uint16_t Mode = 0; // 0: 0100644 for files, 040755 for directories
};

struct TBuildOptions {
    Lh5Options Lh5;
    bool AllowStored = true; // false forces -lh5- even when it is larger
};

// The same members as TLhaWriter would write, as a whole archive in memory.
std::vector<uint8_t> BuildArchive(std::span<const TMemoryMember> members,
                                  const TBuildOptions& options = {});

} // namespace pictor::lha
