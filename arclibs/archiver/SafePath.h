#pragma once

// Where a member may go: every member lands below the destination folder or nowhere.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pictor::arc {

// Folder parts and the last part of a member's path below the destination.
struct TSafePath {
    std::vector<std::string> Parts; // never empty, no "", "." or ".." part
    std::string Joined() const;     // "a/b/c"
};

// Limits of a member path on Linux.
constexpr size_t kMaxNamePart = 255; // bytes per file or folder name (NAME_MAX)
constexpr size_t kMaxDepth = 256;    // folder levels

// The member's path ('/' separated, UTF-8; '\' counts as a separator too) checked and split.
// Refused, with the reason in why: an absolute path ("/x", "//host/x", "\x"), a drive letter
// ("C:x", "C:\x", "C:..\x"), a ".." part anywhere, a part longer than kMaxNamePart, more
// than kMaxDepth levels, or nothing left after dropping "." and empty parts (the folder
// itself: why stays empty then).
std::optional<TSafePath> SanitiseMemberPath(std::string_view name, std::string& why);

// May a symbolic link at the given depth (number of folders between the destination and the
// link) point at target? Only relative targets whose ".." parts all come first and climb no
// higher than the link's own folder depth. Together with folders that are never symbolic links
// themselves (the extractor opens every folder without following links), such a link - and
// any chain of such links - resolves below the destination; a ".." after a name could undo a
// link met on the way ("s/../../x" with s -> "../..") and is refused.
bool SymlinkTargetAllowed(std::string_view target, size_t linkDepth);

} // namespace pictor::arc
