#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QPainter;
class QRectF;

namespace pictor {

// A WMF or EMF that cannot be read. The message starts with "Metafile is not valid" and says
// what is wrong.
class EMetafileError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

namespace metafile {
struct TData;
}

// A parsed Windows metafile (WMF, with or without the placeable header) or enhanced metafile
// (EMF), played back through QPainter. Reading checks every record completely (sizes, counts,
// offsets, embedded bitmaps), so drawing a metafile that was read never fails. Copies share the
// parsed data.
//
// Text needs fonts, which need a QGuiApplication; without one, text records draw nothing.
class TMetafile {
public:
    // Files above this size are refused before they are parsed.
    static constexpr uint64_t MaxFileSize = uint64_t(256) << 20;
    // Metafiles with more records than this are refused.
    static constexpr int MaxRecords = 100000;
    // Caps of the natural size (and so of ToBitmap()); a larger picture is scaled down to fit,
    // keeping its aspect ratio.
    static constexpr int MaxSide = 16384;
    static constexpr int64_t MaxPixels = int64_t(1) << 26;

    TMetafile();

    // Parses a whole WMF or EMF file image; the format is recognised by its first bytes.
    // Raises EMetafileError.
    static TMetafile Read(std::span<const uint8_t> data);
    // Reads a file: EInOutError when it cannot be read, EMetafileError when it is no readable
    // metafile.
    static TMetafile LoadFromFile(const std::string& path);

    bool Empty() const;
    bool Enhanced() const;
    // The picture's size in pixels at 96 DPI, as a viewer shows it at 100 %: the placeable
    // header's box and units per inch, the EMF frame (0.01 mm), or else the window extent, the
    // EMF bounds or the extent of the drawing. At least 1, at most MaxSide / MaxPixels.
    int Width() const;
    int Height() const;

    // Plays the records so that the picture fills `target` (in the painter's current
    // coordinates). The painter's state is the same afterwards; drawing is clipped to target.
    void Draw(QPainter& painter, const QRectF& target) const;

    // The picture stretched to width x height on white, 24 bits per pixel. Raises
    // EInvalidGraphic for an empty metafile or a size the Bitmap refuses.
    Bitmap ToBitmap(int width, int height) const;
    Bitmap ToBitmap() const { return ToBitmap(Width(), Height()); }

private:
    std::shared_ptr<const metafile::TData> FData;
};

// A metafile of the bitmap's own size holding the bitmap as one stretched DIB record (24 bits
// per pixel, or the palette depth for 1/4/8-bit bitmaps). WriteWmf raises EInvalidGraphic for a
// side above 32767 (WMF coordinates are 16-bit) and both for an empty bitmap.
std::vector<uint8_t> WriteEmf(const Bitmap& bitmap);
std::vector<uint8_t> WriteWmf(const Bitmap& bitmap);

// Writes WriteEmf (enhanced) or WriteWmf output through a temporary file in the same folder that
// is flushed and renamed over `path`; on failure the old file is untouched and EInOutError
// names the path.
void SaveMetafile(const Bitmap& bitmap, const std::string& path, bool enhanced);

// Registers "wmf" ("Metafiles") and "emf" ("Enhanced Metafiles") in TPictureFormats::Instance();
// loading gives ToBitmap() at the natural size.
void RegisterMetafileFormats();

} // namespace pictor
