#pragma once

#include <string>

namespace pictor {

// The stored form of a path, as the command-line argument is taken.
//
// One trailing '/' is dropped ("/" stays "/"); a two-character drive name such as "C:" is
// returned as it is. A path that does not exist (looked up without following a final
// symbolic link, so a dangling link exists) is returned otherwise unchanged. An existing path
// is returned with its components as the file system stores them. On Linux a name is stored
// exactly as it is spelled (no short names, no case folding), so that comes down to joining
// the components again: repeated '/' collapse, while ".", ".." and symbolic links stay as
// written, because resolving them would change which folder the user sees.
std::string ExpandLongPath(const std::string& path);

// The folder the tree opens for a command-line argument: when the argument has an extension
// (its last '.' comes after its last '/', '\' and ':'), the folder part of ExpandLongPath of
// it, without its trailing '/' unless that is the root; otherwise ExpandLongPath of it. A
// bare file name has no folder part and gives "".
std::string StartFolderFromArgument(const std::string& arg);

} // namespace pictor
