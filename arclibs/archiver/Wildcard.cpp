#include "Wildcard.h"

#include "NameText.h"

namespace pictor::arc {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Byte length of the character starting at s[i] (whole UTF-8 sequences count as one for '?').
size_t CharLength(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return n > s.size() - i ? s.size() - i : n;
}

// Iterative glob with one backtrack point: linear in practice, never exponential.
bool Glob(std::string_view p, std::string_view s) {
    size_t pi = 0, si = 0, starP = std::string_view::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && p[pi] == '?') {
            ++pi;
            si += CharLength(s, si);
        } else if (pi < p.size() && Lower(p[pi]) == Lower(s[si])) {
            ++pi;
            ++si;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            starS += CharLength(s, starS);
            si = starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

} // namespace

bool MatchWildcard(std::string_view patternIn, std::string_view memberPath) {
    const std::string pattern = SlashSeparators(std::string(patternIn));
    if (pattern.empty()) return false;
    if (pattern == "*" || pattern == "*.*") return true;
    std::string_view path = memberPath;
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1); // folder members
    if (pattern.back() == '/') {
        // Everything below a folder: some leading folder part of the path must match.
        const std::string_view folder(pattern.data(), pattern.size() - 1);
        for (size_t slash = path.find('/'); slash != std::string_view::npos;
             slash = path.find('/', slash + 1))
            if (Glob(folder, path.substr(0, slash))) return true;
        return false;
    }
    std::string_view subject = path;
    if (pattern.find('/') == std::string::npos) {
        const size_t slash = path.rfind('/');
        if (slash != std::string_view::npos) subject = path.substr(slash + 1);
    }
    if (Glob(pattern, subject)) return true;
    // MS-DOS: "name." and "*." also name files without an extension.
    if (pattern.back() == '.' && subject.find('.') == std::string_view::npos)
        return Glob(std::string_view(pattern).substr(0, pattern.size() - 1), subject);
    return false;
}

bool MatchAny(const std::vector<std::string>& patterns, std::string_view memberPath) {
    if (patterns.empty()) return true;
    for (const std::string& p : patterns)
        if (MatchWildcard(p, memberPath)) return true;
    return false;
}

} // namespace pictor::arc
