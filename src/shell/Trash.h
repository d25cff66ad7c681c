#pragma once

// The desktop trash ("ゴミ箱"), shared with the other file managers of the session: the home
// trash under $XDG_DATA_HOME/Trash for files on that file system, and one trash per other
// volume at its top folder ($topdir/.Trash/$uid or $topdir/.Trash-$uid). Each holds files/
// (the items under their trash names) and info/ (NAME.trashinfo: where an item came from and
// when it was deleted). Trashing is a rename on one file system, never a copy.

#include "shell/ShellEnv.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pictor {

// A path as the trash info files write it: bytes other than A-Z a-z 0-9 - . _ ~ and "/" become
// %XX (uppercase hex), each byte of a UTF-8 sequence on its own.
std::string PercentEncodePath(std::string_view path);
// The reverse; nothing when a "%" is not followed by two hex digits.
std::optional<std::string> PercentDecodePath(std::string_view text);

struct TTrashDir {
    std::string Dir;    // the folder holding files/ and info/
    std::string TopDir; // the volume's mount point; empty for the home trash
};

// The trash folders that exist now: the home trash, then for every mount point on another
// file system than the home trash's, $topdir/.Trash/$uid (only when $topdir/.Trash is a real
// folder with the sticky bit) and $topdir/.Trash-$uid. Creates nothing.
std::vector<TTrashDir> TrashDirectories(const TShellEnvironment& env,
                                        const std::vector<std::string>& volumeMountPoints);

struct TTrashEntry {
    std::string FilesPath;    // the item itself, inside files/
    std::string InfoPath;     // its info/NAME.trashinfo (which may be missing or broken)
    std::string OriginalPath; // where it came from, absolute; empty when the info is unusable
    std::string DeletionDate; // as written (local time YYYY-MM-DDThh:mm:ss), may be empty
};

// One entry per item in the folders' files/, sorted by trash name within each folder. An item
// whose info file is missing, too large, malformed or names no usable path is still listed,
// with an empty OriginalPath.
std::vector<TTrashEntry> ListTrash(const std::vector<TTrashDir>& dirs);

// The entry of one item given its path <trash>/files/NAME (the item need not exist any more);
// nothing when the path is not directly inside a folder named "files".
std::optional<TTrashEntry> ReadTrashEntry(const std::string& filesPath);

// The name to show: the original base name, else the trash name.
std::string TrashDisplayName(const TTrashEntry& entry);

struct TTrashResult {
    bool Ok = false;
    int Error = 0;         // errno value when not Ok
    std::string FilesPath; // where the item went
};

// Moves a file, folder or symbolic link (the link itself) into the trash of its volume:
// the home trash when it is on the home trash's file system (files/ and info/ are created,
// mode 0700, when missing), else the trash at the top of the longest mount point containing
// it. The trash name is the base name, or NAME.2, NAME.3 ... when taken. The info file is
// written and flushed before the move and removed again when the move fails, so the item is
// either in the trash with its info or still where it was. Errors: those of lstat and rename
// (ENOENT, EACCES, EBUSY ...); ENOTSUP when the file's volume is not among the mount points
// (no trash there: the caller may offer to delete it for good); EXDEV when the chosen trash is
// on another file system after all (nothing is copied); EINVAL for "/" or a path ending in
// "." or "..".
// Path= holds the absolute path in the home trash and the path relative to the mount point in
// a volume's trash, so a removable disk's trash still restores when mounted elsewhere.
TTrashResult MoveToTrash(const std::string& path, const TShellEnvironment& env,
                         const std::vector<std::string>& volumeMountPoints);

// Moves an item back to its OriginalPath, never replacing anything there (EEXIST), and then
// deletes its info file. EINVAL when the entry has no original path. On failure the item stays
// in the trash and *error (when given) holds the errno value.
bool RestoreFromTrash(const TTrashEntry& entry, int* error);

// The two choices above with the home trash's device given instead of taken from
// env.DataHome. With a device no file is on, a temporary folder can stand for a separate
// volume, which is how the per-volume trash is tested.
std::vector<TTrashDir> TrashDirectoriesForDevice(const TShellEnvironment& env,
                                                 const std::vector<std::string>& volumeMountPoints,
                                                 uint64_t homeDevice);
TTrashResult MoveToTrashForDevice(const std::string& path, const TShellEnvironment& env,
                                  const std::vector<std::string>& volumeMountPoints,
                                  uint64_t homeDevice);

} // namespace pictor
