#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictor {

// An INI-format settings file with the semantics of the classic private-profile functions:
// section and key names compare ignoring ASCII case, the first matching section and key win,
// an absent file reads as all defaults, integers are decimal or "0x" hexadecimal and anything
// else reads as the default. Unlike those functions the file is edited in memory and written
// whole by UpdateFile(): to a temporary file in the same folder, flushed, then renamed over
// the old one, so an interrupted save leaves either the old or the new complete file.
class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }
    // Whether the file could be read when this object was made.
    bool FileExisted() const { return FExisted; }

    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& def) const;
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    bool SectionExists(std::string_view section) const;
    // Keys of a section, in file order.
    std::vector<std::string> ReadSection(std::string_view section) const;
    // The raw "key=value" lines of a section, in file order (lines without "=" are skipped).
    std::vector<std::string> ReadSectionValues(std::string_view section) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, long long value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);

    // Writes the whole file atomically. Raises EInOutError "%s に書き込めません" with the
    // file's path when the system refuses; the file on disk is then unchanged.
    void UpdateFile();

    // The text UpdateFile() would write, and parsing of a text as if read from the file.
    std::string Text() const;
    void SetText(std::string_view text);

    // Files larger than this are not settings files; they read as empty.
    static constexpr size_t MaxFileSize = 16u << 20;

private:
    struct Line {
        std::string text;    // the line as it stands, without its line end
        std::string section; // for a section header: its name
        std::string key;     // for "key=value": the trimmed key
        bool isSection = false;
        bool isValue = false;
    };
    static Line ParseLine(std::string text);
    // Index of the header line of the first section with that name, or -1.
    long FindSection(std::string_view section) const;
    // Index of the first "key=" line of the section starting at sectionLine, or -1.
    long FindKey(long sectionLine, std::string_view key) const;
    long SectionEnd(long sectionLine) const;

    std::string FFileName;
    bool FExisted = false;
    bool FCrLf = false;
    std::vector<Line> FLines;
};

} // namespace pictor
