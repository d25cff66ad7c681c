#include "SafePath.h"

namespace pictor::arc {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool HasDriveLetter(std::string_view s) {
    return s.size() >= 2 && s[1] == ':' &&
           ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

std::vector<std::string_view> SplitParts(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || IsSeparator(s[i])) {
            if (i > start) parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

} // namespace

std::string TSafePath::Joined() const {
    std::string out;
    for (const std::string& p : Parts) {
        if (!out.empty()) out += '/';
        out += p;
    }
    return out;
}

std::optional<TSafePath> SanitiseMemberPath(std::string_view name, std::string& why) {
    why.clear();
    if (!name.empty() && IsSeparator(name[0])) {
        why = "absolute path";
        return std::nullopt;
    }
    if (HasDriveLetter(name)) {
        why = "drive letter";
        return std::nullopt;
    }
    TSafePath path;
    for (std::string_view part : SplitParts(name)) {
        if (part == ".") continue;
        if (part == "..") {
            why = "path contains ..";
            return std::nullopt;
        }
        if (part.size() > kMaxNamePart) {
            why = "name too long";
            return std::nullopt;
        }
        path.Parts.emplace_back(part);
        if (path.Parts.size() > kMaxDepth) {
            why = "too many folder levels";
            return std::nullopt;
        }
    }
    if (path.Parts.empty()) return std::nullopt;
    return path;
}

bool SymlinkTargetAllowed(std::string_view target, size_t linkDepth) {
    if (target.empty() || IsSeparator(target[0]) || HasDriveLetter(target)) return false;
    size_t up = 0;
    bool sawName = false;
    for (std::string_view part : SplitParts(target)) {
        if (part == ".") continue;
        if (part == "..") {
            if (sawName) return false;
            if (++up > linkDepth) return false;
        } else {
            sawName = true;
        }
    }
    return true;
}

} // namespace pictor::arc
