#include "core/PathRules.h"

#include <climits>
#include <unistd.h>

namespace pictor {

namespace {
bool IsDelimiter(char c) { return c == '/' || c == '\\' || c == ':'; }

size_t LastDelimiter(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsDelimiter(path[i - 1])) return i - 1;
    return std::string::npos;
}
} // namespace

std::string ExtractFileExt(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
        if (c == '.') return path.substr(i - 1);
        if (IsDelimiter(c)) break;
    }
    return {};
}

std::string ExtractFileName(const std::string& path) {
    const size_t d = LastDelimiter(path);
    return d == std::string::npos ? path : path.substr(d + 1);
}

std::string ExtractFilePath(const std::string& path) {
    const size_t d = LastDelimiter(path);
    return d == std::string::npos ? std::string() : path.substr(0, d + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const std::string old = ExtractFileExt(path);
    return path.substr(0, path.size() - old.size()) + ext;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

bool SameTextAscii(const std::string& a, const std::string& b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::string ProgramPath() {
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string ProgramFolder() {
    const std::string exe = ProgramPath();
    return exe.empty() ? std::string() : ExtractFilePath(exe);
}

} // namespace pictor
