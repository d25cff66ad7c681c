#pragma once

// Files on the clipboard, in the forms the Linux file managers exchange: text/uri-list,
// the GNOME and MATE "copy"/"cut" lists, KDE's cut marker, and plain text for text fields.
// Paths are local byte strings (no encoding assumed); URIs carry them percent-encoded.

#include "core/Exception.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMimeData;

namespace pictor {

class EFileClipboardError : public Exception {
public:
    using Exception::Exception;
};

// MIME types written and read.
inline constexpr const char* MimeUriList = "text/uri-list";
inline constexpr const char* MimeGnomeCopiedFiles = "x-special/gnome-copied-files";
inline constexpr const char* MimeMateCopiedFiles = "x-special/mate-copied-files";
inline constexpr const char* MimeKdeCutSelection = "application/x-kde-cutselection";
inline constexpr const char* MimeTextPlain = "text/plain";

// Builds the clipboard contents for copying (cut false) or cutting these files. Every path
// must be absolute and free of NUL bytes, and there must be at least one; otherwise
// EFileClipboardError.
std::unique_ptr<QMimeData> MakeFileClipboard(const std::vector<std::string>& paths, bool cut);

struct TFileClipboard {
    std::vector<std::string> Paths;
    bool Cut = false; // a paste moves the files
};

// The local files on the clipboard and whether they were cut; nothing when no source holds a
// usable file URL. Non-file URLs and malformed entries are skipped.
std::optional<TFileClipboard> ReadFileClipboard(const QMimeData& data);

// Whether a paste of files is possible from this clipboard.
bool ClipboardHasFiles(const QMimeData& data);

// "file://" URI of an absolute byte path: everything but unreserved characters and "/" is
// percent-encoded, so invalid UTF-8 survives.
std::string FileUriFromPath(std::string_view path);
// The local path of a file URI ("file:///p", "file://localhost/p", "file:/p"); nothing for
// other schemes or hosts, bad escapes, an escaped "/" or NUL, or a relative path.
std::optional<std::string> PathFromFileUri(std::string_view uri);

} // namespace pictor
