#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictor {

// An icon file that cannot be read. The message starts with "Icon image is not valid" and
// names the image (when one is at fault) and what is wrong with it.
class EIconError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Files larger than this are refused before they are read; real icons stay far below it.
constexpr uint64_t MaxIconFileSize = uint64_t(16) << 20;

// One image of an icon file. The size is the image data's own (the DIB info header or the PNG
// header), not the directory's: the directory's byte 0 means 256, and some writers put
// something else there altogether.
struct TIconImage {
    int Width = 0;
    int Height = 0;
    // Bits per pixel of the data: the DIB's bit count, or a PNG's bit depth times its channels.
    // The directory's own bit count is ignored (often 0, sometimes nonsense).
    int BitCount = 0;
    bool Png = false;
    // The colour part in the entry's own pixel format (1/4/8 bpp with palette, 16, 24, 32 bpp).
    // A 32-bpp entry with any non-zero alpha byte, and a PNG with alpha, is a pfCustom bitmap
    // with an alpha mask (HasAlpha()); a 32-bpp entry whose alpha bytes are all 0 is plain
    // pf32bit, transparent through its AND mask as older writers meant it.
    Bitmap Picture;
    // The AND mask, 1 bpp, palette black/white: 1 (white) is transparent. Empty for PNG entries
    // and for 32-bpp entries with alpha whose mask is missing or cut short (alpha decides there),
    // and when a V5 header's embedded colour profile takes the mask's place (opaque picture).
    Bitmap Mask;

    // What a viewer shows: a 32-bpp pfCustom bitmap with alpha (B, G, R, A bytes). The alpha is
    // the picture's own when it has one (a mask that disagrees is ignored), otherwise opaque
    // except where the mask is 1, where the pixel is transparent black.
    Bitmap Composite() const;
};

// Every image of an .ico file (type 1), in directory order. Cursor files (type 2) have the same
// layout and are read the same way; their hot spots are ignored. Raises EIconError for a
// malformed directory, an entry outside the file or overlapping the directory, or an image
// that cannot be decoded; all images together may hold at most Bitmap::MaxPixels pixels.
// Never reads outside `data`, and allocates nothing a header asks for before the bytes that
// back it are known to be there.
std::vector<TIconImage> ReadIconImages(std::span<const uint8_t> data);

// The first image in directory order, which is what loading a file "as an icon" shows. The
// whole directory is checked; only the first image is decoded.
TIconImage LoadIcon(std::span<const uint8_t> data);

// LoadIcon on a file; EInOutError when it cannot be read, EIconError when it is larger than
// MaxIconFileSize or is not a readable icon.
TIconImage LoadIconFile(const std::string& path);

// Registers "ico" ("Icon") in TPictureFormats::Instance(); loading gives the first image's
// Composite().
void RegisterIconFormats();

} // namespace pictor
