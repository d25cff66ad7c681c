#include "app/FileCommands.h"

#include "core/PathRules.h"

namespace pictor {

std::string RenameTargetPath(const std::string& path, const std::string& entered) {
    if (entered.empty() || entered == "." || entered == ".." ||
        entered.find('/') != std::string::npos || entered.find('\0') != std::string::npos)
        return {};
    const std::string name = ChangeFileExt(entered, ExtractFileExt(path));
    if (name.empty() || name == "." || name == "..") return {};
    return ExtractFilePath(path) + name;
}

std::string RenameProposal(const std::string& path) {
    const std::string name = ExtractFileName(path);
    return name.substr(0, name.size() - ExtractFileExt(name).size());
}

std::string ExistsMessage(const std::string& name) {
    return "すでに" + name + "は、存在しています。";
}

} // namespace pictor
