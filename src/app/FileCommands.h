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

} // namespace pictor
