#include "app/LongPath.h"

#include "core/PathRules.h"

#include <sys/stat.h>

namespace pictor {

std::string ExpandLongPath(const std::string& path) {
    std::string p = path;
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.size() == 2 && p[1] == ':') return p;
    struct stat st;
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return p;

    std::string out = p[0] == '/' ? "/" : "";
    size_t i = 0;
    while (i < p.size()) {
        while (i < p.size() && p[i] == '/')
            ++i;
        const size_t end = p.find('/', i);
        const size_t stop = end == std::string::npos ? p.size() : end;
        if (stop > i) {
            if (!out.empty() && out.back() != '/') out += '/';
            out.append(p, i, stop - i);
        }
        i = stop;
    }
    return out;
}

std::string StartFolderFromArgument(const std::string& arg) {
    const std::string expanded = ExpandLongPath(arg);
    if (ExtractFileExt(arg).empty()) return expanded;
    std::string folder = ExtractFilePath(expanded);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

} // namespace pictor
