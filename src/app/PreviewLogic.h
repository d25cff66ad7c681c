#pragma once

// Decisions of the preview panel that need no window: which routine shows a selected file,
// the sizes of the picture box, the GIF and web captures, the media buttons, the position
// bar's jump, and the text the memo shows.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pictor {

// ---- File kinds and dispatch ----

enum class TPreviewKind {
    Dwg,
    Jpeg,
    Bitmap,
    Icon,
    Metafile,
    Text,
    Html,
    Gif,
    Archive,
    Media,
    Plugin,
    None
};
enum class TArchiveLib { Lha, Zip, Cab, Tar };

// One row of the file-kind table: the lower-case extension, the index of its switch in
// FileKindKeys (Settings.h), the routine, and the archiver for archive rows.
struct TFileKindRow {
    const char* Ext;
    int Switch;
    TPreviewKind Kind;
    TArchiveLib Lib;
};
extern const std::array<TFileKindRow, 26> FileKindTable;

struct TPreviewChoice {
    TPreviewKind Kind = TPreviewKind::None;
    TArchiveLib Lib = TArchiveLib::Lha; // meaningful only for Archive
    std::string Ext;                    // the path's extension in ASCII lower case ("" if none)
    int Row = -1;                       // index into FileKindTable; -1 for Plugin and None
    bool operator==(const TPreviewChoice&) const = default;
};

// The first table row whose extension equals the path's lower-cased extension and whose
// switch is on; otherwise Plugin when the extension is in pluginExts (ASCII case ignored),
// otherwise None. A path without an extension (a folder, "README") is always None.
TPreviewChoice ChoosePreview(const std::string& path, const std::array<bool, 23>& switches,
                             const std::vector<std::string>& pluginExts);

// ---- Panel geometry ----

struct TBoxSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TBoxSize&) const = default;
};

// The picture box of the bitmap, JPEG, metafile and plug-in previews: a picture within
// 200 × 150 keeps its size, any other is 200 wide and height × 200 / width high (truncated),
// so a tall narrow picture is enlarged. A width or height below 1 gives an empty box; a
// height beyond int's range is held at INT_MAX.
TBoxSize PictureBoxSize(int width, int height);

// "W 640 × H 480 pixel".
std::string DimensionText(int width, int height);

// Caption of the hint label shown with a picture preview.
inline constexpr const char* PreviewHintCaption = "サムネイルクリックで編集画面";

// Shown size of a GIF with logical screen width × height in a view clientWidth wide: within
// 200 × 200 it keeps its size; otherwise, when a side reaches clientWidth, it is shrunk by
// the larger of width / clientWidth and height / clientWidth (each side truncated). A client
// width below 1 counts as 1; negative sizes count as 0.
TBoxSize GifDisplaySize(int width, int height, int clientWidth);

// The largest side of a web page capture: beyond it the page's right or lower part is
// left out, so a page several thousand pixels wide cannot ask for a bitmap of gigabytes.
inline constexpr int WebCaptureMaxSide = 4096;

// Capture size of a web page whose body scrolls to scrollWidth × scrollHeight: 600 × 600 when
// either is below 500, else (scrollWidth + 100) × (min(scrollWidth, scrollHeight) + 100),
// each side held at WebCaptureMaxSide.
TBoxSize WebCaptureSize(int scrollWidth, int scrollHeight);

// What a media preview shows: player and position bar always, the "Pictor" button (opening
// the media window) only for video (".avi", ".mpg", ".mpeg", any case).
struct TMediaControls {
    bool Player = false;
    bool TrackBar = false;
    bool PictorButton = false;
    bool operator==(const TMediaControls&) const = default;
};
TMediaControls MediaControlsFor(const std::string& path);

// Geometry of the position bar at a click beside its thumb, in client coordinates.
struct TTrackBarGeometry {
    int ThumbLeft = 0, ThumbRight = 0;     // the thumb's rectangle, horizontally
    int ChannelLeft = 0, ChannelRight = 0; // the channel's rectangle, horizontally
    int ThumbWidth = 0;
    int Minimum = 0, Maximum = 0;
};
// The position the thumb jumps to when the mouse is at x: nothing when x is strictly inside
// the thumb or the channel leaves no room; else (x − channel left) × (max − min) /
// (channel right − thumb width / 2 − channel left), in single precision, rounded to nearest
// with halves to even, held within [min, max] as the bar itself would hold it.
std::optional<int> TrackBarJumpPosition(const TTrackBarGeometry& bar, int x);

// ---- GIF logical screen ----

// Width and height of a GIF's logical screen (little-endian 16-bit at offsets 6 and 8) when
// bytes start with "GIF87a" or "GIF89a" and hold both fields; nothing otherwise, and nothing
// for a zero width or height (there is no picture to size).
std::optional<std::pair<int, int>> GifLogicalScreenSize(std::string_view bytes);

// The same for a file, reading only its first bytes. Raises EInOutError when the file cannot
// be read (missing, a folder, a device or FIFO).
std::optional<std::pair<int, int>> ReadGifLogicalScreenSize(const std::string& path);

// ---- Text preview ----

enum class TTextEncoding { Utf8, Utf16LE, Utf16BE, ShiftJis, Latin1 };

// What the memo shows for a text file. Only the file's first `limit` bytes are read, so a
// huge file (or a binary one) costs no more than a small one.
struct TTextPreview {
    QString Text; // lines joined by "\n"; NUL bytes shown as U+FFFD
    TTextEncoding Encoding = TTextEncoding::Utf8;
    std::uint64_t ShownBytes = 0; // bytes of the file that Text stands for
    std::uint64_t FileSize = 0;
    bool Truncated = false; // the file goes on beyond what was read
    // "（全 1,048,576 KB のうち先頭 256 KB を表示）" when Truncated, empty otherwise. KB are
    // 1024 bytes; the total is rounded up and the shown part down, so neither overstates.
    QString Note;
    // What the memo holds: the note as the first line (seen before any scrolling), then Text.
    QString MemoText() const;
};

// Enough for any text someone reads in a 200-pixel memo, and small enough that the memo lays
// it out at once.
inline constexpr std::size_t DefaultTextPreviewLimit = 256 * 1024;

// Decodes the first bytes of a file: a byte order mark decides (UTF-8, UTF-16LE/BE); else
// UTF-8 when the bytes are valid UTF-8, else Shift_JIS (Windows code page 932) when valid
// there, else Latin-1, which takes any bytes. When `truncated`, a character cut by the end
// of the bytes is dropped before deciding. Line breaks (CR LF, CR, LF) become "\n". Note and
// FileSize are left for the caller (FileSize is bytes.size()).
TTextPreview DecodeTextPreview(std::string_view bytes, bool truncated);

// Reads at most `limit` bytes of path and decodes them as above. Raises EInOutError
// "Cannot read file "…": reason" when the file cannot be read (missing, a folder, a device or
// FIFO, an I/O error).
TTextPreview LoadTextPreview(const std::string& path, std::size_t limit);

} // namespace pictor
