#pragma once

// Decisions of the main window's file commands that need no window.

#include <string>

namespace pictor {

// The path a rename gives: the entered name in the old folder, with the old extension in place
// of any extension entered (none when the old name had none). Empty when the entered name
// cannot be a file name (empty, ".", "..", or containing "/").
std::string RenameTargetPath(const std::string& path, const std::string& entered);

// The base name a rename proposes: the file name without its extension.
std::string RenameProposal(const std::string& path);

// "すでに" + name + "は、存在しています。"
std::string ExistsMessage(const std::string& name);

// A symbolic link to path beside it, "<name> へのリンク" or, when taken, "… (2)" and on; never
// replaces anything. True when a link was made.
bool CreateLinkBeside(const std::string& path);

// What asking for a new folder gave.
enum class TNewFolderResult { Created, AlreadyThere, Failed };
// Makes the folder `name` in folder; an existing folder of that name is left as it is.
TNewFolderResult CreateNewFolder(const std::string& folder, const std::string& name);

} // namespace pictor
