#include "core/IniFile.h"

#include "core/Exception.h"
#include "core/FileIO.h"
#include "core/PathRules.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t";
    const size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return SameTextAscii(std::string(a), std::string(b));
}

// Reads at most limit bytes of a regular file; anything else (a folder, a device, a missing
// or unreadable file) reads as nothing.
bool ReadBounded(const std::string& path, size_t limit, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > limit) {
        ::close(fd);
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (out.size() + size_t(n) > limit) {
            out.clear();
            ::close(fd);
            return false;
        }
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
    std::string text;
    FExisted = ReadBounded(FFileName, MaxFileSize, text);
    if (FExisted) SetText(text);
}

TIniFile::Line TIniFile::ParseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view t = Trim(line.text);
    if (!t.empty() && t.front() == '[') {
        line.isSection = true;
        const size_t close = t.find(']');
        line.section = std::string(Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
        return line;
    }
    const size_t eq = t.find('=');
    if (eq != std::string_view::npos && !t.empty() && t.front() != ';') {
        line.isValue = true;
        line.key = std::string(Trim(t.substr(0, eq)));
    }
    return line;
}

void TIniFile::SetText(std::string_view text) {
    FLines.clear();
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const size_t firstLf = text.find('\n');
    FCrLf = firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r';
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        FLines.push_back(ParseLine(std::string(raw)));
        pos = end + 1;
    }
}

std::string TIniFile::Text() const {
    const char* eol = FCrLf ? "\r\n" : "\n";
    std::string out;
    for (const Line& l : FLines) {
        out += l.text;
        out += eol;
    }
    return out;
}

long TIniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < FLines.size(); ++i)
        if (FLines[i].isSection && SameName(FLines[i].section, section)) return long(i);
    return -1;
}

long TIniFile::SectionEnd(long sectionLine) const {
    size_t i = size_t(sectionLine) + 1;
    while (i < FLines.size() && !FLines[i].isSection) ++i;
    return long(i);
}

long TIniFile::FindKey(long sectionLine, std::string_view key) const {
    const long end = SectionEnd(sectionLine);
    for (long i = sectionLine + 1; i < end; ++i)
        if (FLines[size_t(i)].isValue && SameName(FLines[size_t(i)].key, key)) return i;
    return -1;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& def) const {
    const long s = FindSection(section);
    if (s < 0) return def;
    const long k = FindKey(s, key);
    if (k < 0) return def;
    const std::string& text = FLines[size_t(k)].text;
    std::string_view value = Trim(std::string_view(text).substr(text.find('=') + 1));
    // The profile functions drop one pair of enclosing quotes.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    const std::string text = ReadString(section, key, "");
    if (text.empty()) return def;
    try {
        const long long v = StrToInt(text);
        const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        // A hexadecimal value fills all 32 bits (0xFFFFFFFF is -1); decimals must fit an int.
        if (hex && v >= 0 && v <= UINT_MAX) return static_cast<int>(static_cast<unsigned>(v));
        if (v < INT_MIN || v > INT_MAX) return def;
        return static_cast<int>(v);
    } catch (const EConvertError&) {
        return def;
    }
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) >= 0; }

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    const long s = FindSection(section);
    if (s < 0) return keys;
    for (long i = s + 1, end = SectionEnd(s); i < end; ++i)
        if (FLines[size_t(i)].isValue) keys.push_back(FLines[size_t(i)].key);
    return keys;
}

std::vector<std::string> TIniFile::ReadSectionValues(std::string_view section) const {
    std::vector<std::string> lines;
    const long s = FindSection(section);
    if (s < 0) return lines;
    for (long i = s + 1, end = SectionEnd(s); i < end; ++i) {
        const Line& l = FLines[size_t(i)];
        if (!l.isValue) continue;
        const std::string_view t = Trim(l.text);
        const size_t eq = t.find('=');
        lines.push_back(l.key + "=" + std::string(Trim(t.substr(eq + 1))));
    }
    return lines;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // Line breaks would split the entry; they cannot be stored in one profile value.
    std::string v(value);
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';
    const std::string text = std::string(key) + "=" + v;
    long s = FindSection(section);
    if (s < 0) {
        if (!FLines.empty() && !Trim(FLines.back().text).empty()) FLines.push_back(ParseLine(""));
        FLines.push_back(ParseLine("[" + std::string(section) + "]"));
        FLines.push_back(ParseLine(text));
        return;
    }
    const long k = FindKey(s, key);
    if (k >= 0) {
        FLines[size_t(k)] = ParseLine(text);
        return;
    }
    // New keys go after the last non-blank line of the section.
    long insert = SectionEnd(s);
    while (insert > s + 1 && Trim(FLines[size_t(insert - 1)].text).empty()) --insert;
    FLines.insert(FLines.begin() + insert, ParseLine(text));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, long long value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
    for (;;) {
        const long s = FindSection(section);
        if (s < 0) return;
        FLines.erase(FLines.begin() + s, FLines.begin() + SectionEnd(s));
    }
}

void TIniFile::UpdateFile() {
    const std::string text = Text();
    try {
        WriteFileAtomically(FFileName, std::span(reinterpret_cast<const uint8_t*>(text.data()),
                                                 text.size()));
    } catch (const EInOutError&) {
        throw EInOutError(FormatMessage("%s に書き込めません", {FFileName}));
    }
    FExisted = true;
}

} // namespace pictor
