#include "shell/FileClipboard.h"

#include <QByteArray>
#include <QMimeData>
#include <QSysInfo>

#include <algorithm>

namespace pictor {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view TrimLine(std::string_view line) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && space(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && space(line.back()))
        line.remove_suffix(1);
    return line;
}

// Lines split at LF; a CR before the LF and surrounding blanks are dropped. A trailing
// newline gives no extra line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(TrimLine(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The file paths among URI lines; comments ("#") and empty lines are skipped.
std::vector<std::string> PathsOfUriLines(const std::vector<std::string_view>& lines,
                                         std::size_t first) {
    std::vector<std::string> paths;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (lines[i].empty() || lines[i].front() == '#') continue;
        if (auto path = PathFromFileUri(lines[i])) paths.push_back(std::move(*path));
    }
    return paths;
}

std::string_view View(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// A "copy"/"cut" list of the GNOME family, after an optional header line.
struct TMarkedList {
    bool Cut = false;
    std::vector<std::string> Paths;
};

std::optional<TMarkedList> ReadMarkedList(std::string_view text, std::string_view header) {
    // Plain text may be anything and large: look at its start before splitting it.
    const std::string_view start = TrimLine(text.substr(0, header.size() + 8));
    if (!start.starts_with(header.empty() ? std::string_view("c") : header)) return std::nullopt;
    const std::vector<std::string_view> lines = SplitLines(text);
    std::size_t at = 0;
    if (!header.empty()) {
        if (lines.empty() || lines[0] != header) return std::nullopt;
        at = 1;
    }
    if (at >= lines.size() || (lines[at] != "copy" && lines[at] != "cut")) return std::nullopt;
    TMarkedList list;
    list.Cut = lines[at] == "cut";
    list.Paths = PathsOfUriLines(lines, at + 1);
    return list;
}

void AppendLine(QByteArray& out, std::string_view line, const char* end) {
    out.append(line.data(), static_cast<qsizetype>(line.size()));
    out.append(end);
}

} // namespace

std::string FileUriFromPath(std::string_view path) {
    static const char* hex = "0123456789ABCDEF";
    std::string uri = "file://";
    uri.reserve(uri.size() + path.size() * 3);
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || c == '/') {
            uri += ch;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

std::optional<std::string> PathFromFileUri(std::string_view uri) {
    const std::size_t colon = uri.find(':');
    if (colon == std::string_view::npos || !EqualsAsciiNoCase(uri.substr(0, colon), "file"))
        return std::nullopt;
    std::string_view rest = uri.substr(colon + 1);
    // Query and fragment are not part of a local path.
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !EqualsAsciiNoCase(host, "localhost") &&
            !EqualsAsciiNoCase(host, QSysInfo::machineHostName().toStdString()))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        if (i + 2 >= rest.size()) return std::nullopt;
        const int high = HexValue(rest[i + 1]), low = HexValue(rest[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const char byte = static_cast<char>(high * 16 + low);
        // An escaped separator or NUL cannot name a local file.
        if (byte == '/' || byte == '\0') return std::nullopt;
        path += byte;
        i += 2;
    }
    return path;
}

std::unique_ptr<QMimeData> MakeFileClipboard(const std::vector<std::string>& paths, bool cut) {
    if (paths.empty()) throw EFileClipboardError("No files to put on the clipboard");
    for (const std::string& path : paths)
        if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
            throw EFileClipboardError("Not an absolute file path: " + path);
    QByteArray uriList, marked(cut ? "cut" : "copy"), text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string uri = FileUriFromPath(paths[i]);
        AppendLine(uriList, uri, "\r\n");
        marked.append('\n');
        marked.append(uri.data(), static_cast<qsizetype>(uri.size()));
        AppendLine(text, paths[i], i + 1 < paths.size() ? "\n" : "");
    }
    auto data = std::make_unique<QMimeData>();
    data->setData(MimeUriList, uriList);
    data->setData(MimeGnomeCopiedFiles, marked);
    data->setData(MimeMateCopiedFiles, marked);
    data->setData(MimeKdeCutSelection, QByteArray(cut ? "1" : "0"));
    data->setData(MimeTextPlain, text);
    return data;
}

std::optional<TFileClipboard> ReadFileClipboard(const QMimeData& data) {
    // The GNOME-family lists in order of preference (malformed ones are ignored).
    std::vector<TMarkedList> marked;
    for (const char* type : {MimeGnomeCopiedFiles, MimeMateCopiedFiles})
        if (data.hasFormat(type))
            if (auto list = ReadMarkedList(View(data.data(type)), {})) marked.push_back(*list);
    if (data.hasFormat(MimeTextPlain))
        if (auto list =
                ReadMarkedList(View(data.data(MimeTextPlain)), "x-special/nautilus-clipboard"))
            marked.push_back(*list);

    TFileClipboard result;
    if (data.hasFormat(MimeUriList))
        result.Paths = PathsOfUriLines(SplitLines(View(data.data(MimeUriList))), 0);
    for (std::size_t i = 0; result.Paths.empty() && i < marked.size(); ++i)
        result.Paths = marked[i].Paths;
    if (result.Paths.empty()) return std::nullopt;

    // KDE's marker "1" means cut; otherwise the first GNOME-family list decides.
    const QByteArray kde = data.data(MimeKdeCutSelection);
    result.Cut = (!kde.isEmpty() && kde[0] == '1') || (!marked.empty() && marked.front().Cut);
    return result;
}

bool ClipboardHasFiles(const QMimeData& data) {
    return ReadFileClipboard(data).has_value();
}

} // namespace pictor
