#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictor {

// A BMP or DIB image that cannot be read. The message starts with "Bitmap image is not valid"
// and says what is wrong (truncated, bad header size, unsupported compression ...).
class EBmpError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Files larger than this are refused before they are read.
constexpr uint64_t MaxBmpFileSize = uint64_t(1) << 30;

// Reads a whole BMP file image (14-byte "BM" header first). The bitmap keeps the file's own
// pixel format: 1/4/8 bpp with their palette (2 bpp widened to 4), 16 bpp 5-5-5 as pf15bit,
// 5-6-5 as pf16bit, other masks as pfCustom, 24 bpp as pf24bit, 32 bpp plain as pf32bit and
// with other masks (or an alpha mask) as pfCustom.
//
// Policies: a palette index beyond the palette shows black; pixels that RLE data leaves
// undefined (delta, early end of line or bitmap) are palette entry 0; an RLE run that crosses
// the end of its row, a delta leaving the image, data past the last row or a missing
// end-of-bitmap marker make the image invalid. bfSize and biSizeImage are not trusted.
// Raises EBmpError; never reads outside `data`.
Bitmap ReadBmp(std::span<const uint8_t> data);

// Reads a packed DIB (the clipboard form): the info header, bit masks and colour table are
// followed directly by the pixel bits.
Bitmap ReadDib(std::span<const uint8_t> data);

// Reads a BMP file; EInOutError when the file cannot be read, EBmpError when it is not a
// readable bitmap or is larger than MaxBmpFileSize.
Bitmap LoadBmpFile(const std::string& path);

// Writes a bitmap in its own pixel format, bottom-up, with a 40-byte info header (pf16bit and
// pfCustom as BI_BITFIELDS with three masks after it; a pfCustom with an alpha mask uses the
// 108-byte header, which has room for the fourth mask), so reading it back gives the same
// pixels. pfDevice is written as 32 bpp with the unused byte 0. An empty bitmap raises
// EInvalidGraphic.
std::vector<uint8_t> WriteBmp(const Bitmap& bitmap);
std::vector<uint8_t> WriteDib(const Bitmap& bitmap);

// Writes the file through a temporary file in the same folder that is flushed and then
// renamed over the target, so the target is either the old or the complete new file. On
// failure the temporary file is removed and EInOutError names the path.
void SaveBmpFile(const Bitmap& bitmap, const std::string& path);

// Registers "bmp" and "dib" ("Bitmaps") in TPictureFormats::Instance(). Loading from memory
// reads a BMP file image, or a packed DIB when the data does not start with "BM".
void RegisterBmpFormats();

} // namespace pictor
