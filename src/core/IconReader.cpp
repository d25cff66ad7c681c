#include "core/IconReader.h"
#include "core/ByteOrder.h"

#include "core/FileIO.h"

#include "core/BmpCodec.h"
#include "core/PictureFormats.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pictor {

namespace {

// The fuzzer runs many inputs per second; smaller caps keep each one quick. The checks
// themselves are the same.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxIconPixels = int64_t(1) << 20;
constexpr uint32_t MaxIconEntries = 256;
#else
constexpr int64_t MaxIconPixels = Bitmap::MaxPixels;
constexpr uint32_t MaxIconEntries = 65535; // the directory's own limit
#endif

constexpr size_t DirHeaderSize = 6;
constexpr size_t DirEntrySize = 16;
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t ProfileEmbedded = 0x4D424544; // 'MBED', a V5 header's colour space
constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

const std::string ErrorPrefix = "Icon image is not valid: ";

[[noreturn]] void Fail(const std::string& reason) {
    throw EIconError(ErrorPrefix + reason);
}

std::string SizeText(int64_t w, int64_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Refuses a picture that does not fit the pixels left for this file.
void CheckSize(int64_t w, int64_t h, int64_t budget) {
    if (w > Bitmap::MaxSide || h > Bitmap::MaxSide || w * h > budget)
        Fail("the picture size " + SizeText(w, h) + " exceeds the supported limit");
}

struct TEntry {
    uint32_t offset = 0;
    uint32_t size = 0;
};

// Checks the header and every directory entry; entries are byte ranges inside `data`.
std::vector<TEntry> ReadDirectory(std::span<const uint8_t> data) {
    if (data.size() < DirHeaderSize)
        Fail("the file header is truncated (" + std::to_string(data.size()) + " bytes)");
    if (U16(data, 0) != 0) Fail("the reserved header field is " + std::to_string(U16(data, 0)));
    const uint16_t type = U16(data, 2);
    if (type != 1 && type != 2)
        Fail("resource type " + std::to_string(type) + " is neither an icon (1) nor a cursor (2)");
    const uint32_t count = U16(data, 4);
    if (count == 0) Fail("the file holds no images");
    if (count > MaxIconEntries)
        Fail("the file lists " + std::to_string(count) + " images, more than the supported " +
             std::to_string(MaxIconEntries));
    // Checked before anything is allocated from the count.
    const uint64_t dirEnd = DirHeaderSize + uint64_t(count) * DirEntrySize;
    if (dirEnd > data.size())
        Fail("the directory of " + std::to_string(count) + " entries is truncated");

    std::vector<TEntry> entries(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = DirHeaderSize + size_t(i) * DirEntrySize;
        TEntry& e = entries[i];
        e.size = U32(data, at + 8);
        e.offset = U32(data, at + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (e.size == 0) Fail(which + " has a size of 0 bytes");
        if (e.offset < dirEnd)
            Fail(which + " at offset " + std::to_string(e.offset) + " overlaps the directory");
        if (uint64_t(e.offset) + e.size > data.size())
            Fail(which + " (" + std::to_string(e.size) + " bytes at offset " +
                 std::to_string(e.offset) + ") runs past the end of the file (" +
                 std::to_string(data.size()) + " bytes)");
    }
    return entries;
}

// The chunks of a PNG that make its picture: the critical ones (IHDR, PLTE, IDAT, IEND and
// any unknown critical chunk, which the decoder then refuses) and tRNS. The decoder allocates
// a chunk's declared length before reading it and inflates compressed text and profiles
// without a size limit, so every length is checked against the bytes present here, and the
// other ancillary chunks, which only carry text and colour metadata, are left out.
QByteArray PicturePart(std::span<const uint8_t> png) {
    QByteArray out(reinterpret_cast<const char*>(png.data()), 8);
    size_t at = 8;
    while (png.size() - at >= 12) {
        const uint32_t length = BigU32(png, at);
        if (length > png.size() - at - 12)
            Fail("a PNG chunk of " + std::to_string(length) +
                 " bytes runs past the end of the data");
        const uint8_t* type = png.data() + at + 4;
        const bool critical = (type[0] & 0x20) == 0;
        if (critical || std::memcmp(type, "tRNS", 4) == 0)
            out.append(reinterpret_cast<const char*>(png.data() + at), qsizetype(length + 12));
        at += size_t(length) + 12;
        if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    return out;
}

// A PNG-compressed entry: its IHDR is checked here, the data decoded by Qt's PNG reader.
TIconImage DecodePng(std::span<const uint8_t> e, int64_t budget) {
    // Signature, then the IHDR chunk: length 13, type, width, height, depth, colour type.
    if (e.size() < 8 + 8 + 13) Fail("the PNG header is truncated");
    if (BigU32(e, 8) != 13 || std::memcmp(e.data() + 12, "IHDR", 4) != 0)
        Fail("the PNG data does not start with its IHDR chunk");
    const uint32_t w = BigU32(e, 16);
    const uint32_t h = BigU32(e, 20);
    if (w == 0 || h == 0) Fail("the PNG picture size " + SizeText(w, h) + " is empty");
    CheckSize(w, h, budget);
    const int depth = e[24];
    int channels = 0;
    switch (e[25]) {
    case 0: // grey
    case 3: // palette
        channels = 1;
        break;
    case 2: // RGB
        channels = 3;
        break;
    case 4: // grey + alpha
        channels = 2;
        break;
    case 6: // RGBA
        channels = 4;
        break;
    default:
        Fail("the PNG colour type " + std::to_string(e[25]) + " is not valid");
    }

    QByteArray bytes = PicturePart(e);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false); // PNG or nothing
    const QImage image = reader.read();
    if (image.isNull())
        Fail("the PNG data cannot be decoded (" + reader.errorString().toStdString() + ")");
    if (image.width() != int(w) || image.height() != int(h))
        Fail("the PNG decoder gave " + SizeText(image.width(), image.height()) + " for a " +
             SizeText(w, h) + " picture");

    TIconImage result;
    result.Width = int(w);
    result.Height = int(h);
    result.BitCount = depth * channels;
    result.Png = true;
    result.Picture = Bitmap::FromQImage(image);
    return result;
}

// 32-bpp colour data carries alpha in its fourth byte unless every one of them is 0 (older
// writers leave it 0 and rely on the mask). Such a picture becomes pfCustom with alpha.
void TakeAlpha(Bitmap& picture) {
    const std::array<uint32_t, 4> argb{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const bool plain = picture.PixelFormat() == TPixelFormat::pf32bit;
    const bool masked = picture.HasAlpha();
    if (!plain && !masked) return;
    bool any = false;
    for (int y = 0; y < picture.Height() && !any; ++y)
        for (int x = 0; x < picture.Width() && !any; ++x)
            any = plain ? picture.ScanLine(y)[4 * x + 3] != 0 : picture.PixelColor(x, y).reserved;
    if (!any) {
        if (masked) picture.ColorMasks()[cmAlpha] = 0;
        return;
    }
    if (!plain) return;
    Bitmap alpha = Bitmap::Custom(picture.Width(), picture.Height(), 32, argb);
    for (int y = 0; y < picture.Height(); ++y)
        std::memcpy(alpha.ScanLine(y), picture.ScanLine(y), size_t(picture.Width()) * 4);
    picture = std::move(alpha);
}

// A DIB entry: info header (its height counts the colour rows and the mask rows together),
// optional bit masks, colour table, colour rows bottom-up, then the 1-bpp AND mask rows, each
// padded to 32 bits.
TIconImage DecodeDibEntry(std::span<const uint8_t> e, int64_t budget) {
    if (e.size() < 4) Fail("the info header is truncated");
    const uint32_t headerSize = U32(e, 0);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124)
        Fail("unsupported info header size " + std::to_string(headerSize));
    if (e.size() < headerSize)
        Fail("the " + std::to_string(headerSize) + "-byte info header is truncated after " +
             std::to_string(e.size()) + " bytes");
    const int32_t width = int32_t(U32(e, 4));
    const int32_t doubleHeight = int32_t(U32(e, 8));
    const int bpp = U16(e, 14);
    const uint32_t compression = U32(e, 16);
    const uint32_t clrUsed = U32(e, 32);

    if (width <= 0) Fail("invalid width " + std::to_string(width));
    // Compared, never negated: INT32_MIN has no positive counterpart.
    if (doubleHeight < 0)
        Fail("top-down icon bitmaps (height " + std::to_string(doubleHeight) + ") are not valid");
    const int height = doubleHeight / 2; // colour rows; as many mask rows follow
    if (height == 0)
        Fail("the bitmap height " + std::to_string(doubleHeight) + " leaves no picture rows");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail("unsupported bit count " + std::to_string(bpp));
    // Compressed colour data would leave the mask's position unknown.
    if (!(compression == BI_RGB || (compression == BI_BITFIELDS && (bpp == 16 || bpp == 32))))
        Fail("compression type " + std::to_string(compression) + " is not supported in icons");
    if (clrUsed > 256)
        Fail("the colour table of " + std::to_string(clrUsed) + " entries exceeds 256");
    CheckSize(width, height, budget);

    // Where the colour rows start, as the DIB reader will find it.
    const uint64_t maskFields = compression == BI_BITFIELDS && headerSize == 40 ? 12 : 0;
    const uint64_t paletteCount = clrUsed ? clrUsed : bpp <= 8 ? uint64_t(1) << bpp : 0;
    const uint64_t bitsAt = headerSize + maskFields + 4 * paletteCount;
    const uint64_t colourBytes = (uint64_t(width) * uint64_t(bpp) + 31) / 32 * 4 * height;
    const uint64_t maskStride = (uint64_t(width) + 31) / 32 * 4;
    // The last mask row's padding may be missing; its bits may not.
    const uint64_t maskBytes = maskStride * uint64_t(height - 1) + (uint64_t(width) + 7) / 8;
    if (bitsAt > e.size())
        Fail("the colour table of " + std::to_string(paletteCount) + " entries is truncated");
    if (colourBytes > e.size() - bitsAt)
        Fail("the pixel data is truncated (" + std::to_string(e.size() - bitsAt) + " of " +
             std::to_string(colourBytes) + " bytes)");

    // The DIB reader gets the colour part alone, with the height it covers.
    std::vector<uint8_t> dib(e.begin(), e.begin() + ptrdiff_t(bitsAt + colourBytes));
    for (int i = 0; i < 4; ++i)
        dib[8 + size_t(i)] = uint8_t(uint32_t(height) >> (8 * i));
    TIconImage result;
    result.Width = width;
    result.Height = height;
    result.BitCount = bpp;
    try {
        result.Picture = ReadDib(dib);
    } catch (const EBmpError& error) {
        std::string reason = error.what();
        const std::string bmpPrefix = "Bitmap image is not valid: ";
        if (reason.rfind(bmpPrefix, 0) == 0) reason.erase(0, bmpPrefix.size());
        Fail(reason);
    }
    if (bpp == 32) TakeAlpha(result.Picture);

    // A V5 header may embed a colour profile; when the profile sits where the mask would be,
    // the writer stored no mask and the picture is opaque.
    const uint64_t maskAt = bitsAt + colourBytes;
    if (headerSize == 124 && U32(e, 56) == ProfileEmbedded && U32(e, 116) != 0) {
        const uint64_t profileAt = U32(e, 112);
        if (profileAt < maskAt + maskBytes && profileAt + U32(e, 116) > maskAt) return result;
    }
    const std::span<const uint8_t> mask = e.subspan(size_t(maskAt));
    if (mask.size() < maskBytes) {
        if (result.Picture.HasAlpha()) return result; // alpha alone decides
        Fail("the AND mask is truncated (" + std::to_string(mask.size()) + " of " +
             std::to_string(maskBytes) + " bytes)");
    }
    result.Mask = Bitmap(width, height, TPixelFormat::pf1bit);
    const size_t rowBytes = (size_t(width) + 7) / 8;
    for (int i = 0; i < height; ++i) {
        uint8_t* dst = result.Mask.ScanLine(height - 1 - i);
        std::memcpy(dst, mask.data() + size_t(i) * maskStride, rowBytes);
        if (width & 7) dst[rowBytes - 1] &= uint8_t(0xFF00 >> (width & 7));
    }
    return result;
}

TIconImage DecodeEntry(std::span<const uint8_t> data, const TEntry& entry, size_t index,
                       size_t count, int64_t budget) {
    const std::span<const uint8_t> e = data.subspan(entry.offset, entry.size);
    try {
        if (e.size() >= 8 && std::memcmp(e.data(), PngSignature, 8) == 0)
            return DecodePng(e, budget);
        return DecodeDibEntry(e, budget);
    } catch (const EIconError& error) {
        // Name the image when the file holds several.
        if (count == 1) throw;
        std::string reason = error.what();
        reason.erase(0, ErrorPrefix.size());
        Fail("image " + std::to_string(index + 1) + " of " + std::to_string(count) + ": " + reason);
    } catch (const EInvalidGraphic& error) { // a bitmap the shared caps refuse
        Fail(error.what());
    }
}

} // namespace

Bitmap TIconImage::Composite() const {
    if (Picture.Empty()) throw EIconError(ErrorPrefix + "the icon has no picture");
    const int w = Picture.Width();
    const int h = Picture.Height();
    const QImage image = Picture.ToQImage().convertToFormat(QImage::Format_ARGB32);
    Bitmap out = Bitmap::Custom(w, h, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
    const bool useMask = !Picture.HasAlpha() && Mask.Width() == w && Mask.Height() == h;
    for (int y = 0; y < h; ++y) {
        // ARGB32 words are B, G, R, A bytes in memory, the same as the output's.
        uint8_t* dst = out.ScanLine(y);
        std::memcpy(dst, image.constScanLine(y), size_t(w) * 4);
        if (!useMask) continue;
        const uint8_t* m = Mask.ScanLine(y);
        for (int x = 0; x < w; ++x)
            if ((m[x >> 3] >> (7 - (x & 7))) & 1) std::memset(dst + 4 * x, 0, 4);
    }
    return out;
}

std::vector<TIconImage> ReadIconImages(std::span<const uint8_t> data) {
    const std::vector<TEntry> entries = ReadDirectory(data);
    std::vector<TIconImage> images;
    images.reserve(entries.size());
    int64_t budget = MaxIconPixels;
    for (size_t i = 0; i < entries.size(); ++i) {
        images.push_back(DecodeEntry(data, entries[i], i, entries.size(), budget));
        budget -= int64_t(images.back().Width) * images.back().Height;
    }
    return images;
}

TIconImage LoadIcon(std::span<const uint8_t> data) {
    const std::vector<TEntry> entries = ReadDirectory(data);
    return DecodeEntry(data, entries[0], 0, entries.size(), MaxIconPixels);
}

TIconImage LoadIconFile(const std::string& path) {
    const auto data = ReadFileBytes(path, MaxIconFileSize);
    if (!data)
        Fail("the file \"" + path + "\" is larger than " + std::to_string(MaxIconFileSize >> 20) +
             " MiB");
    return LoadIcon(*data);
}

void RegisterIconFormats() {
    static const TGraphicClass iconClass{
        "TIcon", [](const std::string& path) { return LoadIconFile(path).Composite(); },
        [](std::span<const uint8_t> data, const std::string&) {
            return LoadIcon(data).Composite();
        }};
    TPictureFormats::Instance().Register("ico", "Icon", &iconClass);
}

} // namespace pictor
