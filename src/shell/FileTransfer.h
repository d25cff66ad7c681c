#pragma once

// Copying and moving files and folders into a folder, as a drop or a paste does it, without
// ever losing or silently replacing a file.
//
// Rules:
// - A move on one file system is a replace-free rename. Across file systems (and for every
//   copy) the source is copied under a temporary hidden name in the target folder (folders
//   recursively, symbolic links as links, FIFOs as FIFOs; permissions and modification times
//   kept; every file flushed), then put in place under its name. A moved source is deleted
//   only after its whole copy is in place; any failure removes the partial copy and leaves
//   the source as it was.
// - An existing name in the target folder is put to askReplace: Skip leaves both untouched,
//   Cancel stops the whole request there, Replace replaces the existing item only once the new
//   one is complete (a file by an atomic rename over it; a folder, or an item of another type,
//   by renaming the old one aside, putting the new one in place and then deleting the old).
// - An item moved into the folder it is already in is skipped (nothing to do); copied there,
//   it gets a free name: "name (2).ext", "name (3).ext" ... (the number goes before the last
//   extension; names starting with '.' and folders get it at the end).
// - A folder is never moved or copied into itself or one of its subfolders, and an existing
//   item that contains the source is never replaced by it: both are errors and change nothing.
// - Sockets and device files cannot be copied (an error; the source stays).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictor {

struct TTransferRequest {
    std::vector<std::string> Sources; // absolute paths
    std::string TargetDir;
    bool Move = false;
};

enum class TConflictAnswer { Replace, Skip, Cancel };

struct TTransferResult {
    int Done = 0, Skipped = 0, Failed = 0;
    bool Cancelled = false;
    std::vector<std::string> Errors; // one line per failed source
};

using TAskReplace =
    std::function<TConflictAnswer(const std::string& source, const std::string& target)>;

// Where a running request stands: bytes copied of the bytes it has to copy (renames within
// one file system copy nothing and count nothing) and the source being worked on.
struct TTransferProgress {
    uint64_t DoneBytes = 0, TotalBytes = 0;
    std::string Current;
};
// Called when a source starts and every few MiB while it is copied. Returning false cancels
// the request: the copy in progress is removed, its source stays, and the result says
// Cancelled.
using TTransferProgressFn = std::function<bool(const TTransferProgress&)>;

// Runs a request. Without askReplace every conflict is skipped. Never raises.
TTransferResult TransferFiles(const TTransferRequest& request, const TAskReplace& askReplace,
                              const TTransferProgressFn& progress = {});

// What a drop of these sources on a folder would do.
enum class TDropEffect { None, Copy, Move };
// Move when every source is on the target's file system, else copy; forceMove (Shift) and
// forceCopy (Ctrl) decide instead. None when nothing could happen: no sources, a target that
// is not a folder, a folder dropped into itself or below itself, or a move of items that are
// all in the target folder already.
TDropEffect ChooseDropEffect(const std::vector<std::string>& sources, const std::string& targetDir,
                             bool forceMove, bool forceCopy);

// The first "name (n).ext" (n = 2, 3 ...) that does not exist in dir.
std::string FreeCopyName(const std::string& dir, const std::string& name);

} // namespace pictor
