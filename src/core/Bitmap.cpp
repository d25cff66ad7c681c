#include "core/Bitmap.h"

#include "core/Exception.h"

#include <QImage>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace pictor {

namespace {

int FormatBits(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit:
        return 1;
    case TPixelFormat::pf4bit:
        return 4;
    case TPixelFormat::pf8bit:
        return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
        return 16;
    case TPixelFormat::pf24bit:
        return 24;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf32bit:
    case TPixelFormat::pfCustom:
        return 32;
    }
    throw EInvalidGraphic("Unknown pixel format");
}

std::string SizeText(int64_t width, int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

inline uint32_t Get16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One masked channel: the bits under the mask, shifted down, scaled so that the largest value
// the mask can hold becomes 255 (rounded). Works for masks of any width, including gaps, a
// single bit, all 32 bits, or none (always 0).
uint8_t ScaleMasked(uint32_t pixel, uint32_t mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const uint64_t max = mask >> shift;
    return uint8_t((uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
}

// The same for whole rows: up to 16 bits a table is cheaper than a division per pixel.
class TChannel {
public:
    explicit TChannel(uint32_t mask) : FMask(mask) {
        if (!mask) return;
        FShift = std::countr_zero(mask);
        const uint32_t max = mask >> FShift;
        if (max <= 0xFFFF) {
            FTable.resize(size_t(max) + 1);
            for (uint32_t v = 0; v <= max; ++v)
                FTable[v] = ScaleMasked(v, max);
        }
    }
    uint8_t operator()(uint32_t pixel) const {
        if (FTable.empty()) return ScaleMasked(pixel, FMask);
        return FTable[(pixel & FMask) >> FShift];
    }

private:
    uint32_t FMask = 0;
    int FShift = 0;
    std::vector<uint8_t> FTable;
};

constexpr std::array<uint32_t, 4> Masks555{0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<uint32_t, 4> Masks565{0xF800, 0x07E0, 0x001F, 0};

// Decodes whole rows of any format into B, G, R, A quads; built once per conversion.
class TRowReader {
public:
    explicit TRowReader(const Bitmap& bitmap)
        : FBitmap(bitmap), FMasks(EffectiveMasks(bitmap)), FRed(FMasks[cmRed]),
          FGreen(FMasks[cmGreen]), FBlue(FMasks[cmBlue]), FAlpha(FMasks[cmAlpha]) {
        const auto& pal = bitmap.Palette();
        for (size_t i = 0; i < pal.size() && i < FPalette.size(); ++i)
            FPalette[i] = {pal[i].blue, pal[i].green, pal[i].red, 0};
    }

    void Read(int y, TRGBQuad* out) const {
        const uint8_t* row = FBitmap.Bits().data() + size_t(y) * FBitmap.Stride();
        const int w = FBitmap.Width();
        switch (FBitmap.PixelFormat()) {
        case TPixelFormat::pf1bit:
            for (int x = 0; x < w; ++x)
                out[x] = FPalette[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case TPixelFormat::pf4bit:
            for (int x = 0; x < w; ++x)
                out[x] = FPalette[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
            break;
        case TPixelFormat::pf8bit:
            for (int x = 0; x < w; ++x)
                out[x] = FPalette[row[x]];
            break;
        case TPixelFormat::pf24bit:
            for (int x = 0; x < w; ++x)
                out[x] = {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
            break;
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfDevice:
            for (int x = 0; x < w; ++x)
                out[x] = {row[4 * x], row[4 * x + 1], row[4 * x + 2], 0};
            break;
        default:
            if (FBitmap.BitsPerPixel() == 16) {
                for (int x = 0; x < w; ++x)
                    out[x] = Masked(Get16(row + 2 * x));
            } else {
                for (int x = 0; x < w; ++x)
                    out[x] = Masked(Get32(row + 4 * x));
            }
            break;
        }
    }

private:
    static std::array<uint32_t, 4> EffectiveMasks(const Bitmap& b) {
        switch (b.PixelFormat()) {
        case TPixelFormat::pf15bit:
            return Masks555;
        case TPixelFormat::pf16bit:
            return Masks565;
        case TPixelFormat::pfCustom:
            return b.ColorMasks();
        default:
            return {};
        }
    }
    TRGBQuad Masked(uint32_t v) const { return {FBlue(v), FGreen(v), FRed(v), FAlpha(v)}; }

    const Bitmap& FBitmap;
    std::array<uint32_t, 4> FMasks;
    TChannel FRed, FGreen, FBlue, FAlpha;
    std::array<TRGBQuad, 256> FPalette{}; // entries past the palette stay black
};

} // namespace

Bitmap::Bitmap(int width, int height, TPixelFormat format) : FFormat(format) {
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Bitmap size " + SizeText(width, height) + " is invalid");
    if (width > MaxSide || height > MaxSide || int64_t(width) * height > MaxPixels)
        throw EInvalidGraphic("Bitmap size " + SizeText(width, height) +
                              " is larger than the supported " + std::to_string(MaxSide) +
                              " pixels per side / " + std::to_string(MaxPixels) + " pixels");
    FBitsPerPixel = FormatBits(format);
    const uint64_t stride = (uint64_t(width) * uint64_t(FBitsPerPixel) + 31) / 32 * 4;
    if (height > 0 && stride > uint64_t(std::numeric_limits<ptrdiff_t>::max()) / uint64_t(height))
        throw EInvalidGraphic("Bitmap size " + SizeText(width, height) + " is too large");
    FWidth = width;
    FHeight = height;
    FStride = size_t(stride);
    FBits = TPixelBytes(FStride * size_t(height)); // zeroed by its allocator
    if (format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit ||
        format == TPixelFormat::pf8bit) {
        const int n = 1 << FBitsPerPixel;
        FPalette.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            const auto v = uint8_t(i * 255 / (n - 1));
            FPalette[size_t(i)] = {v, v, v, 0};
        }
    }
    if (format == TPixelFormat::pfCustom) FMasks = {0xFF0000, 0xFF00, 0xFF, 0};
}

Bitmap Bitmap::Custom(int width, int height, int bitsPerPixel,
                      const std::array<uint32_t, 4>& masks) {
    if (bitsPerPixel != 16 && bitsPerPixel != 32)
        throw EInvalidGraphic("A custom pixel format needs 16 or 32 bits per pixel, not " +
                              std::to_string(bitsPerPixel));
    // Sized as the plain format of that width, then given the masks.
    Bitmap b(width, height, bitsPerPixel == 16 ? TPixelFormat::pf16bit : TPixelFormat::pf32bit);
    b.FFormat = TPixelFormat::pfCustom;
    b.FMasks = masks;
    return b;
}

Bitmap::Bitmap(Bitmap&& other) noexcept
    : FWidth(other.FWidth), FHeight(other.FHeight), FFormat(other.FFormat),
      FBitsPerPixel(other.FBitsPerPixel), FStride(other.FStride), FBits(std::move(other.FBits)),
      FPalette(std::move(other.FPalette)), FMasks(other.FMasks) {
    other = Bitmap();
}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
    if (this == &other) return *this;
    FWidth = std::exchange(other.FWidth, 0);
    FHeight = std::exchange(other.FHeight, 0);
    FFormat = std::exchange(other.FFormat, TPixelFormat::pf24bit);
    FBitsPerPixel = std::exchange(other.FBitsPerPixel, 24);
    FStride = std::exchange(other.FStride, 0);
    FBits = std::move(other.FBits);
    other.FBits.clear();
    FPalette = std::move(other.FPalette);
    other.FPalette.clear();
    FMasks = std::exchange(other.FMasks, {});
    return *this;
}

Bitmap Bitmap::Copy() const {
    Bitmap b;
    b.FWidth = FWidth;
    b.FHeight = FHeight;
    b.FFormat = FFormat;
    b.FBitsPerPixel = FBitsPerPixel;
    b.FStride = FStride;
    b.FBits = FBits;
    b.FPalette = FPalette;
    b.FMasks = FMasks;
    return b;
}

int Bitmap::BitsPerPixel() const {
    return FBitsPerPixel;
}

bool Bitmap::HasAlpha() const {
    return FFormat == TPixelFormat::pfCustom && FMasks[cmAlpha] != 0;
}

void Bitmap::CheckRow(int row) const {
    if (row < 0 || row >= FHeight) throw EInvalidGraphic("Scan line index out of range");
}

uint8_t* Bitmap::ScanLine(int row) {
    CheckRow(row);
    return FBits.data() + size_t(row) * FStride;
}

const uint8_t* Bitmap::ScanLine(int row) const {
    CheckRow(row);
    return FBits.data() + size_t(row) * FStride;
}

TRGBQuad Bitmap::PixelColor(int x, int y) const {
    if (x < 0 || x >= FWidth || y < 0 || y >= FHeight)
        throw EInvalidGraphic("Pixel position (" + std::to_string(x) + ", " + std::to_string(y) +
                              ") is outside the bitmap");
    const uint8_t* row = FBits.data() + size_t(y) * FStride;
    auto fromPalette = [&](unsigned index) -> TRGBQuad {
        if (index >= FPalette.size()) return {};
        const TRGBQuad& c = FPalette[index];
        return {c.blue, c.green, c.red, 0};
    };
    switch (FFormat) {
    case TPixelFormat::pf1bit:
        return fromPalette((row[x >> 3] >> (7 - (x & 7))) & 1);
    case TPixelFormat::pf4bit:
        return fromPalette((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
    case TPixelFormat::pf8bit:
        return fromPalette(row[x]);
    case TPixelFormat::pf24bit:
        return {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
    case TPixelFormat::pf32bit:
    case TPixelFormat::pfDevice:
        return {row[4 * x], row[4 * x + 1], row[4 * x + 2], 0};
    default:
        break;
    }
    const std::array<uint32_t, 4> masks = FFormat == TPixelFormat::pf15bit   ? Masks555
                                          : FFormat == TPixelFormat::pf16bit ? Masks565
                                                                             : FMasks;
    const uint32_t v = FBitsPerPixel == 16 ? Get16(row + 2 * x) : Get32(row + 4 * x);
    return {ScaleMasked(v, masks[cmBlue]), ScaleMasked(v, masks[cmGreen]),
            ScaleMasked(v, masks[cmRed]), ScaleMasked(v, masks[cmAlpha])};
}

bool Bitmap::operator==(const Bitmap& other) const {
    return FWidth == other.FWidth && FHeight == other.FHeight && FFormat == other.FFormat &&
           FBitsPerPixel == other.FBitsPerPixel && FMasks == other.FMasks &&
           FPalette == other.FPalette && FBits == other.FBits;
}

Bitmap Bitmap::ConvertTo24() const {
    Bitmap result(FWidth, FHeight, TPixelFormat::pf24bit);
    if (result.Empty()) return result;
    const TRowReader reader(*this);
    std::vector<TRGBQuad> line(static_cast<size_t>(FWidth));
    for (int y = 0; y < FHeight; ++y) {
        reader.Read(y, line.data());
        uint8_t* out = result.FBits.data() + size_t(y) * result.FStride;
        for (int x = 0; x < FWidth; ++x) {
            out[3 * x] = line[size_t(x)].blue;
            out[3 * x + 1] = line[size_t(x)].green;
            out[3 * x + 2] = line[size_t(x)].red;
        }
    }
    return result;
}

QImage Bitmap::ToQImage() const {
    if (Empty()) return QImage();
    auto colorTable = [&](int count) {
        QList<QRgb> table(count, qRgb(0, 0, 0));
        for (int i = 0; i < count && size_t(i) < FPalette.size(); ++i)
            table[i] =
                qRgb(FPalette[size_t(i)].red, FPalette[size_t(i)].green, FPalette[size_t(i)].blue);
        return table;
    };
    if (FFormat == TPixelFormat::pf1bit) {
        QImage image(FWidth, FHeight, QImage::Format_Mono);
        image.setColorTable(colorTable(2));
        const size_t n = std::min(FStride, size_t(image.bytesPerLine()));
        for (int y = 0; y < FHeight; ++y)
            std::memcpy(image.scanLine(y), FBits.data() + size_t(y) * FStride, n);
        return image;
    }
    if (FFormat == TPixelFormat::pf4bit || FFormat == TPixelFormat::pf8bit) {
        QImage image(FWidth, FHeight, QImage::Format_Indexed8);
        // Every index must have an entry, so a short palette is filled up with black.
        image.setColorTable(colorTable(FFormat == TPixelFormat::pf4bit ? 16 : 256));
        for (int y = 0; y < FHeight; ++y) {
            const uint8_t* src = FBits.data() + size_t(y) * FStride;
            uint8_t* dst = image.scanLine(y);
            if (FFormat == TPixelFormat::pf8bit) {
                std::memcpy(dst, src, size_t(FWidth));
            } else {
                for (int x = 0; x < FWidth; ++x)
                    dst[x] = (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
            }
        }
        return image;
    }
    const bool alpha = HasAlpha();
    QImage image(FWidth, FHeight, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const TRowReader reader(*this);
    std::vector<TRGBQuad> line(static_cast<size_t>(FWidth));
    for (int y = 0; y < FHeight; ++y) {
        reader.Read(y, line.data());
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < FWidth; ++x) {
            const TRGBQuad& c = line[size_t(x)];
            dst[x] = qRgba(c.red, c.green, c.blue, alpha ? c.reserved : 255);
        }
    }
    return image;
}

Bitmap Bitmap::FromQImage(const QImage& source) {
    if (source.isNull()) return Bitmap();
    const int w = source.width();
    const int h = source.height();
    const QImage::Format f = source.format();
    const bool indexed =
        f == QImage::Format_Mono || f == QImage::Format_MonoLSB || f == QImage::Format_Indexed8;
    if (indexed && !source.hasAlphaChannel()) {
        const bool mono = f != QImage::Format_Indexed8;
        const QImage image =
            f == QImage::Format_MonoLSB ? source.convertToFormat(QImage::Format_Mono) : source;
        Bitmap b(w, h, mono ? TPixelFormat::pf1bit : TPixelFormat::pf8bit);
        const QList<QRgb> table = image.colorTable();
        b.FPalette.clear();
        for (qsizetype i = 0; i < table.size() && i < (mono ? 2 : 256); ++i)
            b.FPalette.push_back(
                {uint8_t(qBlue(table[i])), uint8_t(qGreen(table[i])), uint8_t(qRed(table[i])), 0});
        const size_t rowBytes = mono ? (size_t(w) + 7) / 8 : size_t(w);
        for (int y = 0; y < h; ++y) {
            uint8_t* dst = b.FBits.data() + size_t(y) * b.FStride;
            std::memcpy(dst, image.constScanLine(y), rowBytes);
            if (mono && (w & 7)) dst[rowBytes - 1] &= uint8_t(0xFF00 >> (w & 7));
        }
        return b;
    }
    if (source.hasAlphaChannel()) {
        const QImage image = source.convertToFormat(QImage::Format_ARGB32);
        Bitmap b = Custom(w, h, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
        for (int y = 0; y < h; ++y) {
            const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            uint8_t* dst = b.FBits.data() + size_t(y) * b.FStride;
            for (int x = 0; x < w; ++x) {
                dst[4 * x] = uint8_t(qBlue(src[x]));
                dst[4 * x + 1] = uint8_t(qGreen(src[x]));
                dst[4 * x + 2] = uint8_t(qRed(src[x]));
                dst[4 * x + 3] = uint8_t(qAlpha(src[x]));
            }
        }
        return b;
    }
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    Bitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uint8_t* dst = b.FBits.data() + size_t(y) * b.FStride;
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = uint8_t(qBlue(src[x]));
            dst[3 * x + 1] = uint8_t(qGreen(src[x]));
            dst[3 * x + 2] = uint8_t(qRed(src[x]));
        }
    }
    return b;
}

} // namespace pictor
