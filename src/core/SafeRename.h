#pragma once

// Moving and renaming that never replaces an existing file.

#include <string>

namespace pictor {

// Moves or renames `from` to `to` on one file system. Returns 0, or an errno value with both
// names left as they were:
//   EEXIST  something already has the name `to` (a file, folder, link, even a dangling link);
//           it is never replaced;
//   EXDEV   the two names are on different file systems. Nothing is copied here: a move across
//           volumes (copy, flush, rename into place, delete the source) is the caller's job;
//   others  as rename(2) reports them (ENOENT, EACCES, ENOTDIR, EINVAL for a folder moved into
//           itself, ...).
// The replace-free rename is atomic where the file system supports it (ext4, btrfs, xfs,
// tmpfs, vfat ...). Where it does not (NFS and other network file systems), a file is linked
// under the new name and then unlinked under the old one, still atomic against replacing;
// a folder, or a file on a file system without hard links, is checked and then renamed, which
// leaves a short window in which a file created by someone else under `to` could be replaced.
int RenameNoReplace(const std::string& from, const std::string& to);

// The path RenameNoReplace takes when the file system refuses the replace-free flag, callable
// directly so that tests can run it on file systems that do support the flag.
int RenameNoReplaceFallback(const std::string& from, const std::string& to);

// A short English text for an errno value ("File exists").
std::string ErrnoText(int err);

} // namespace pictor
