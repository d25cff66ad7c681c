#include "app/FileCommands.h"

#include "core/PathRules.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

bool CreateLinkBeside(const std::string& path) {
    const std::string base = path + " へのリンク";
    for (int n = 1; n < 1000; ++n) {
        const std::string link = n == 1 ? base : base + " (" + std::to_string(n) + ")";
        if (::symlink(path.c_str(), link.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

TNewFolderResult CreateNewFolder(const std::string& folder, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return TNewFolderResult::Failed;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return TNewFolderResult::AlreadyThere;
    return ::mkdir(path.c_str(), 0777) == 0 ? TNewFolderResult::Created : TNewFolderResult::Failed;
}

} // namespace pictor
