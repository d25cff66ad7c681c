#include "core/BmpCodec.h"
#include "core/ByteOrder.h"

#include "core/FileIO.h"
#include "core/PictureFormats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace pictor {

namespace {

// The fuzzer runs many inputs per second; a smaller picture cap keeps each one quick. The
// checks themselves are the same.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxReadPixels = int64_t(1) << 20;
#else
constexpr int64_t MaxReadPixels = Bitmap::MaxPixels;
#endif

constexpr size_t FileHeaderSize = 14;

enum : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFIELDS = 3,
    BI_JPEG = 4,
    BI_PNG = 5,
    BI_ALPHABITFIELDS = 6,
};

constexpr std::array<uint32_t, 4> Masks555{0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<uint32_t, 4> Masks565{0xF800, 0x07E0, 0x001F, 0};
constexpr std::array<uint32_t, 4> Masks888{0xFF0000, 0x00FF00, 0x0000FF, 0};

[[noreturn]] void Fail(const std::string& reason) {
    throw EBmpError("Bitmap image is not valid: " + reason);
}

// What the info header says, checked.
struct TDibInfo {
    uint32_t headerSize = 0;
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = BI_RGB;
    std::array<uint32_t, 4> masks{};
    std::vector<TRGBQuad> palette;
    size_t bitsOffset = 0; // from the start of the info header
};

// Parses header, masks and colour table of `dib` (which starts at the info header).
// fileBitsOffset is where a file header says the bits are (relative to the info header).
TDibInfo ParseDib(std::span<const uint8_t> dib, std::optional<uint64_t> fileBitsOffset) {
    TDibInfo info;
    if (dib.size() < 4) Fail("the info header is truncated");
    const uint32_t size = U32(dib, 0);
    switch (size) {
    case 12:  // OS/2 1.x core header
    case 16:  // OS/2 2.x header cut down to its first fields
    case 40:  // BITMAPINFOHEADER
    case 52:  // ... with red, green, blue masks
    case 56:  // ... and an alpha mask
    case 64:  // OS/2 2.x full header
    case 108: // V4
    case 124: // V5
        break;
    default:
        Fail("unsupported info header size " + std::to_string(size));
    }
    if (dib.size() < size)
        Fail("the " + std::to_string(size) + "-byte info header is truncated after " +
             std::to_string(dib.size()) + " bytes");
    info.headerSize = size;
    const bool core = size == 12;
    const bool os2v2 = size == 16 || size == 64;

    int64_t width, height;
    unsigned planes;
    uint32_t clrUsed = 0;
    if (core) {
        width = U16(dib, 4);
        height = U16(dib, 6);
        planes = U16(dib, 8);
        info.bitCount = U16(dib, 10);
    } else {
        width = int32_t(U32(dib, 4));
        height = int32_t(U32(dib, 8));
        planes = U16(dib, 12);
        info.bitCount = U16(dib, 14);
        if (size >= 20) info.compression = U32(dib, 16);
        if (size >= 36) clrUsed = U32(dib, 32);
    }

    const uint32_t comp = info.compression;
    if (os2v2 && comp == 3) Fail("OS/2 Huffman 1D compression is not supported");
    if (os2v2 && comp == 4) Fail("OS/2 24-bit RLE compression is not supported");
    if (comp == BI_JPEG) Fail("embedded JPEG data (BI_JPEG) is not supported");
    if (comp == BI_PNG) Fail("embedded PNG data (BI_PNG) is not supported");
    if (comp > BI_ALPHABITFIELDS) Fail("unsupported compression type " + std::to_string(comp));

    if (planes != 1) Fail("the plane count is " + std::to_string(planes) + ", not 1");
    const int bpp = info.bitCount;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail("unsupported bit count " + std::to_string(bpp));
    const bool masked = comp == BI_BITFIELDS || comp == BI_ALPHABITFIELDS;
    if ((comp == BI_RLE8 && bpp != 8) || (comp == BI_RLE4 && bpp != 4) ||
        (masked && bpp != 16 && bpp != 32))
        Fail("compression type " + std::to_string(comp) + " does not go with " +
             std::to_string(bpp) + " bits per pixel");

    if (width <= 0) Fail("invalid width " + std::to_string(width));
    if (height == 0) Fail("the height is 0");
    // Negated in 64 bits: INT32_MIN has no positive 32-bit counterpart.
    info.topDown = height < 0;
    if (info.topDown) height = -height;
    if (info.topDown && (comp == BI_RLE8 || comp == BI_RLE4))
        Fail("compressed bitmaps cannot be stored top-down");
    if (width > Bitmap::MaxSide || height > Bitmap::MaxSide || width * height > MaxReadPixels)
        Fail("the picture size " + std::to_string(width) + "x" + std::to_string(height) +
             " exceeds the supported limit");
    info.width = int(width);
    info.height = int(height);

    // Bit masks: in the header from 52 bytes on, otherwise right after it.
    size_t pos = size;
    if (bpp == 16 && comp == BI_RGB) info.masks = Masks555;
    if (masked) {
        const int wanted = comp == BI_ALPHABITFIELDS ? 4 : 3;
        const int inHeader = os2v2 ? 0 : size >= 56 ? 4 : size >= 52 ? 3 : 0;
        for (int i = 0; i < inHeader; ++i)
            info.masks[size_t(i)] = U32(dib, 40 + 4 * size_t(i));
        if (wanted > inHeader) {
            const size_t extra = 4 * size_t(wanted - inHeader);
            if (dib.size() - pos < extra) Fail("the bit masks are truncated");
            for (int i = inHeader; i < wanted; ++i)
                info.masks[size_t(i)] = U32(dib, pos + 4 * size_t(i - inHeader));
            pos += extra;
        }
    }

    // Colour table: biClrUsed entries, or all 2^bpp when that is 0 (always for OS/2 1.x).
    // An implied table may be cut short by the pixel offset; a stated one must fit.
    const uint64_t entrySize = core ? 3 : 4;
    const bool implied = core || clrUsed == 0;
    uint64_t count = implied ? (bpp <= 8 ? uint64_t(1) << bpp : 0) : clrUsed;
    const uint64_t tableStart = pos;
    if (fileBitsOffset) {
        if (*fileBitsOffset < tableStart)
            Fail("the pixel data offset " + std::to_string(*fileBitsOffset + FileHeaderSize) +
                 " points into the header");
        if (*fileBitsOffset > dib.size())
            Fail("the pixel data offset " + std::to_string(*fileBitsOffset + FileHeaderSize) +
                 " lies beyond the end of the file");
        const uint64_t room = *fileBitsOffset - tableStart;
        if (count * entrySize > room) {
            if (!implied)
                Fail("the colour table of " + std::to_string(count) +
                     " entries runs into the pixel data");
            count = room / entrySize;
        }
        info.bitsOffset = size_t(*fileBitsOffset);
    } else {
        if (count * entrySize > dib.size() - tableStart)
            Fail("the colour table of " + std::to_string(count) + " entries is truncated");
        info.bitsOffset = size_t(tableStart + count * entrySize);
    }
    if (bpp <= 8) {
        const size_t used = size_t(std::min<uint64_t>(count, uint64_t(1) << bpp));
        info.palette.resize(used);
        for (size_t i = 0; i < used; ++i) {
            const size_t at = size_t(tableStart + i * entrySize);
            info.palette[i] = {dib[at], dib[at + 1], dib[at + 2], 0};
        }
    }
    return info;
}

// Expands BI_RLE8 / BI_RLE4 data into a zeroed, bottom-up palettised bitmap. Pixels the data
// does not reach stay index 0.
void DecodeRle(std::span<const uint8_t> src, Bitmap& bitmap, bool rle4) {
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    size_t p = 0;
    int x = 0;
    int y = 0; // counted from the bottom row
    auto row = [&]() { return bitmap.ScanLine(h - 1 - y); };
    auto put = [&](uint8_t* line, int at, unsigned v) {
        if (!rle4) {
            line[at] = uint8_t(v);
        } else if (at & 1) {
            line[at >> 1] = uint8_t((line[at >> 1] & 0xF0) | (v & 0x0F));
        } else {
            line[at >> 1] = uint8_t((line[at >> 1] & 0x0F) | (v << 4));
        }
    };
    auto checkRun = [&](int n) {
        if (y >= h) Fail("the compressed pixel data runs past the last row");
        if (n > w - x)
            Fail("a compressed run of " + std::to_string(n) + " pixels at column " +
                 std::to_string(x) + " crosses the end of row " + std::to_string(h - 1 - y));
    };
    for (;;) {
        if (src.size() - p < 2)
            Fail("the compressed pixel data ends without an end-of-bitmap mark");
        const uint8_t count = src[p];
        const uint8_t code = src[p + 1];
        p += 2;
        if (count > 0) { // a run of one value (RLE4: two alternating nibbles)
            checkRun(count);
            uint8_t* line = row();
            for (int i = 0; i < count; ++i)
                put(line, x + i, rle4 ? ((i & 1) ? code & 0x0F : code >> 4) : code);
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            if (y >= h) Fail("an end-of-line mark follows the last row");
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta
            if (src.size() - p < 2) Fail("the compressed pixel data is truncated in a delta");
            const int dx = src[p];
            const int dy = src[p + 1];
            p += 2;
            if (dx > w - x || dy > h - y) Fail("a delta moves outside the picture");
            x += dx;
            y += dy;
            break;
        }
        default: { // absolute run of `code` pixels, padded to a 16-bit boundary
            const int n = code;
            const size_t bytes = rle4 ? size_t(n + 1) / 2 : size_t(n);
            const size_t padded = (bytes + 1) & ~size_t(1);
            if (src.size() - p < padded)
                Fail("the compressed pixel data is truncated in an absolute run");
            checkRun(n);
            uint8_t* line = row();
            for (int i = 0; i < n; ++i) {
                const uint8_t b = src[p + size_t(rle4 ? i / 2 : i)];
                put(line, x + i, rle4 ? ((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            p += padded;
            x += n;
            break;
        }
        }
    }
}

Bitmap DecodeDib(std::span<const uint8_t> dib, std::optional<uint64_t> fileBitsOffset) {
    TDibInfo info = ParseDib(dib, fileBitsOffset);
    const std::span<const uint8_t> bits = dib.subspan(info.bitsOffset);
    const int w = info.width;
    const int h = info.height;
    const int bpp = info.bitCount;

    if (info.compression == BI_RLE8 || info.compression == BI_RLE4) {
        Bitmap b(w, h, bpp == 8 ? TPixelFormat::pf8bit : TPixelFormat::pf4bit);
        b.Palette() = std::move(info.palette);
        DecodeRle(bits, b, info.compression == BI_RLE4);
        return b;
    }

    const uint64_t srcStride = (uint64_t(w) * uint64_t(bpp) + 31) / 32 * 4;
    const uint64_t rowBytes = (uint64_t(w) * uint64_t(bpp) + 7) / 8;
    // The last row's padding may be missing; its pixels may not.
    const uint64_t needed = srcStride * uint64_t(h - 1) + rowBytes;
    if (bits.size() < needed)
        Fail("the pixel data is truncated (" + std::to_string(bits.size()) + " of " +
             std::to_string(needed) + " bytes)");

    TPixelFormat format;
    bool custom = false;
    switch (bpp) {
    case 1:
        format = TPixelFormat::pf1bit;
        break;
    case 2:
    case 4:
        format = TPixelFormat::pf4bit;
        break;
    case 8:
        format = TPixelFormat::pf8bit;
        break;
    case 16:
        format = info.masks == Masks555   ? TPixelFormat::pf15bit
                 : info.masks == Masks565 ? TPixelFormat::pf16bit
                                          : TPixelFormat::pfCustom;
        custom = format == TPixelFormat::pfCustom;
        break;
    case 24:
        format = TPixelFormat::pf24bit;
        break;
    default:
        format = info.compression == BI_RGB || info.masks == Masks888 ? TPixelFormat::pf32bit
                                                                      : TPixelFormat::pfCustom;
        custom = format == TPixelFormat::pfCustom;
        break;
    }
    Bitmap b = custom ? Bitmap::Custom(w, h, bpp, info.masks) : Bitmap(w, h, format);
    if (bpp <= 8) b.Palette() = std::move(info.palette);

    for (int i = 0; i < h; ++i) {
        const uint8_t* src = bits.data() + srcStride * uint64_t(i);
        uint8_t* dst = b.ScanLine(info.topDown ? i : h - 1 - i);
        if (bpp == 2) { // no 2-bpp format here: each pixel becomes a nibble
            for (int x = 0; x < w; ++x) {
                const unsigned v = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                dst[x >> 1] |= uint8_t((x & 1) ? v : v << 4);
            }
            continue;
        }
        std::memcpy(dst, src, size_t(rowBytes));
        // Bits past the last pixel of a packed row are not picture; keep them zero.
        const uint64_t tailBits = uint64_t(w) * uint64_t(bpp) % 8;
        if (tailBits) dst[rowBytes - 1] &= uint8_t(0xFF00 >> tailBits);
    }
    return b;
}

// The info header, masks and colour table, then the rows bottom-up.
std::vector<uint8_t> BuildImage(const Bitmap& bitmap, bool withFileHeader) {
    if (bitmap.Empty()) throw EInvalidGraphic("An empty bitmap cannot be written as BMP");
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const int bpp = bitmap.BitsPerPixel();
    const TPixelFormat format = bitmap.PixelFormat();

    uint32_t compression = BI_RGB;
    std::array<uint32_t, 4> masks{};
    if (format == TPixelFormat::pf16bit) {
        compression = BI_BITFIELDS;
        masks = Masks565;
    } else if (format == TPixelFormat::pfCustom) {
        compression = BI_BITFIELDS;
        masks = bitmap.ColorMasks();
    }
    const bool v4 = compression == BI_BITFIELDS && masks[3] != 0;
    const uint32_t headerSize = v4 ? 108 : 40;
    const size_t maskBytes = compression == BI_BITFIELDS && !v4 ? 12 : 0;

    std::vector<TRGBQuad> palette;
    if (bpp <= 8) {
        const auto& p = bitmap.Palette();
        palette.assign(p.begin(), p.begin() + std::min<ptrdiff_t>(ptrdiff_t(p.size()), 1 << bpp));
        // biClrUsed 0 would mean a full table, so an empty palette is written as one black entry
        // (indices beyond a palette show black anyway).
        if (palette.empty()) palette.push_back({});
    }

    const size_t stride = bitmap.Stride();
    const uint64_t imageSize = uint64_t(stride) * uint64_t(h);
    const size_t prefix = withFileHeader ? FileHeaderSize : 0;
    const size_t bitsAt = prefix + headerSize + maskBytes + 4 * palette.size();
    const uint64_t total = bitsAt + imageSize;
    if (total > UINT32_MAX) throw EInvalidGraphic("The bitmap is too large for a BMP file");

    std::vector<uint8_t> out(size_t(total), 0);
    if (withFileHeader) {
        out[0] = 'B';
        out[1] = 'M';
        Put32(out, 2, uint32_t(total));
        Put32(out, 10, uint32_t(bitsAt));
    }
    const size_t hdr = prefix;
    Put32(out, hdr, headerSize);
    Put32(out, hdr + 4, uint32_t(w));
    Put32(out, hdr + 8, uint32_t(h));
    Put16(out, hdr + 12, 1);
    Put16(out, hdr + 14, uint32_t(bpp));
    Put32(out, hdr + 16, compression);
    Put32(out, hdr + 20, uint32_t(imageSize));
    Put32(out, hdr + 32, uint32_t(palette.size()));
    if (v4) {
        for (size_t i = 0; i < 4; ++i)
            Put32(out, hdr + 40 + 4 * i, masks[i]);
        Put32(out, hdr + 56, 0x73524742); // colour space 'sRGB'
    } else if (maskBytes) {
        for (size_t i = 0; i < 3; ++i)
            Put32(out, hdr + headerSize + 4 * i, masks[i]);
    }
    size_t at = hdr + headerSize + maskBytes;
    for (const TRGBQuad& c : palette) {
        out[at] = c.blue;
        out[at + 1] = c.green;
        out[at + 2] = c.red;
        at += 4;
    }

    const size_t rowBytes = (size_t(w) * size_t(bpp) + 7) / 8;
    for (int i = 0; i < h; ++i) {
        uint8_t* dst = out.data() + bitsAt + size_t(i) * stride;
        std::memcpy(dst, bitmap.ScanLine(h - 1 - i), rowBytes);
        if (format == TPixelFormat::pfDevice)
            for (int x = 0; x < w; ++x)
                dst[4 * x + 3] = 0;
    }
    return out;
}

} // namespace

Bitmap ReadBmp(std::span<const uint8_t> data) {
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M')
        Fail("the data does not start with \"BM\"");
    if (data.size() < FileHeaderSize) Fail("the file header is truncated");
    const uint32_t offBits = U32(data, 10);
    if (offBits < FileHeaderSize)
        Fail("the pixel data offset " + std::to_string(offBits) + " points into the header");
    return DecodeDib(data.subspan(FileHeaderSize), uint64_t(offBits) - FileHeaderSize);
}

Bitmap ReadDib(std::span<const uint8_t> data) {
    return DecodeDib(data, std::nullopt);
}

Bitmap LoadBmpFile(const std::string& path) {
    const auto data = ReadFileBytes(path, MaxBmpFileSize);
    if (!data) Fail("the file is larger than " + std::to_string(MaxBmpFileSize >> 20) + " MiB");
    return ReadBmp(*data);
}

std::vector<uint8_t> WriteBmp(const Bitmap& bitmap) {
    return BuildImage(bitmap, true);
}

std::vector<uint8_t> WriteDib(const Bitmap& bitmap) {
    return BuildImage(bitmap, false);
}

void SaveBmpFile(const Bitmap& bitmap, const std::string& path) {
    const std::vector<uint8_t> data = WriteBmp(bitmap);
    WriteFileAtomically(path, data);
}

void RegisterBmpFormats() {
    static const TGraphicClass bmpClass{
        "TBitmap", LoadBmpFile, [](std::span<const uint8_t> data, const std::string&) {
            const bool file = data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
            return file ? ReadBmp(data) : ReadDib(data);
        }};
    TPictureFormats::Instance().Register("bmp", "Bitmaps", &bmpClass);
    TPictureFormats::Instance().Register("dib", "Bitmaps", &bmpClass);
}

} // namespace pictor
