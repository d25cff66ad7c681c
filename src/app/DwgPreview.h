#pragma once

// The AutoCAD drawing reader behind the ".dwg" preview: the release that wrote a drawing and
// the small picture stored in it. No widgets: the preview panel shows what comes back.

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace pictor {

// An offset, size or colour count in the drawing points beyond the data that is there
// ("ストリームからの読み込みエラー").
class EDwgReadError : public EInOutError {
public:
    EDwgReadError();
};

// What the drawing holds in place of its preview entry.
enum class TDwgPreviewKind {
    None, // no preview: an old release, an image area without exactly two entries
    Bmp,  // a DIB, shown with black and white exchanged
    Png,  // a PNG (releases from 2013 on), shown as it is
    Wmf   // a metafile entry: not shown, and no error either
};

struct TDwgPreview {
    std::string Digits;      // the four version characters at offset 2, as stored
    std::string VersionText; // DwgVersionText(Digits); empty when the file could not be opened
    TDwgPreviewKind Kind = TDwgPreviewKind::None;
    Bitmap Picture; // empty when there is nothing to show
};

// Receives the version text as soon as the version characters are read, before anything that
// can fail, so the label is right even when the reader then raises.
using TDwgVersionSink = std::function<void(const std::string& versionText)>;

// Preview entries larger than this are refused (real ones are well below 1 MiB).
constexpr uint64_t MaxDwgPreviewBytes = uint64_t(16) << 20;

// The label text for the four version characters, compared exactly as stored: "1004" gives
// "ACAD EX-II", ... "1015" gives "ACAD R2000,LT2000", anything else "unknon".
std::string DwgVersionText(std::string_view digits);

// Reads the drawing's version and preview picture. Only the header fields and the preview
// entry are read, never the whole drawing.
//  - A file that cannot be opened (missing, a folder, no permission, not a regular file):
//    an empty result, no exception, and showVersion is not called.
//  - Version characters that are no decimal integer: EConvertError "'%s' は整数ではありません"
//    (bytes outside printable ASCII appear as U+FFFD in the message).
//  - A release code below 1012, or an image area whose entry count is not 2: no preview.
//  - Any offset, size or colour-table count beyond the file or the entry (also a file too short
//    for its header): EDwgReadError.
//  - A preview that cannot be decoded: the decoder's EInvalidGraphic (EBmpError for a DIB).
// The preview entry is the second one. Its code decides the road: 6 is a PNG, decoded as
// such; 3 is a metafile and gives no picture; anything else is taken to be a DIB, given a
// bitmap file header, and its colour-table entries 0x00FFFFFF and 0x00000000 are exchanged.
TDwgPreview ReadDwgPreview(const std::string& path, const TDwgVersionSink& showVersion = {});
TDwgPreview ReadDwgPreview(std::span<const uint8_t> data, const TDwgVersionSink& showVersion = {});

} // namespace pictor
