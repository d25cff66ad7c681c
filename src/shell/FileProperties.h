#pragma once

// The facts the properties dialog shows about one or more files and folders, gathered
// without any window: names, type, location, sizes (folders walked with a bound), times,
// owner, access rights and link targets.

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pictor {

enum class TFileKind { File, Folder, Symlink, Fifo, Socket, CharDevice, BlockDevice, Other };

// One path, read with lstat (links are described, never followed).
struct TFileFacts {
    std::string Path;     // as given, made absolute
    std::string Name;     // last component ("/" for the root)
    std::string Location; // the parent folder ("" for the root)
    TFileKind Kind = TFileKind::Other;
    QString MimeName; // "inode/directory", "image/png" ...
    QString TypeName; // the MIME type's comment, or a fallback name
    // A file's own size; for a folder the sum over everything below it.
    std::uint64_t Size = 0;
    std::uint64_t DiskSize = 0; // allocated blocks, the same way
    // Folders only: what lies below (the folder itself not counted).
    std::uint64_t Files = 0;
    std::uint64_t Folders = 0;
    bool Cut = false; // the walk stopped at the bound: the figures are lower limits
    // Nanoseconds since 1970; no birth time where the file system does not keep one.
    std::optional<std::int64_t> Created;
    std::int64_t Modified = 0;
    std::int64_t Accessed = 0;
    std::uint32_t Uid = 0, Gid = 0;
    std::string Owner, Group; // names, or the number when the id has no name
    std::uint32_t Mode = 0;   // st_mode
    std::string LinkTarget;   // symlinks only, as stored in the link
    bool LinkBroken = false;  // the target does not exist
};

// How much work a folder walk may do before it gives up (shared by all paths of one call).
struct TWalkBound {
    std::uint64_t MaxEntries = 200000;
    std::chrono::milliseconds MaxTime{2000};
};

struct TFileProperties {
    std::vector<TFileFacts> Items;
    // Sums over the items: a selected file counts as one file, a selected folder as one
    // folder plus what lies below it.
    std::uint64_t TotalSize = 0;
    std::uint64_t TotalDiskSize = 0;
    std::uint64_t TotalFiles = 0;
    std::uint64_t TotalFolders = 0;
    bool Cut = false;

    // Raises EInOutError "'%s' が見つかりません" for a path that does not exist (and
    // pictor::Exception for an empty list or an empty path).
    static TFileProperties Gather(const std::vector<std::string>& paths,
                                  const TWalkBound& bound = {});
};

// "rwxr-x---" (set-id and sticky bits as s/S and t/T) and "0750".
std::string PermissionText(std::uint32_t mode);
std::string OctalModeText(std::uint32_t mode);
// "512 バイト", "1.5 MB (1,572,864 バイト)".
QString SizeText(std::uint64_t bytes);
// "2024/03/05 9:07:02" in local time.
QString DateTimeText(std::int64_t nanoseconds);

} // namespace pictor
