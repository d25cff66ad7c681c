// Bitmaps inside metafiles: decoding the DIBs while reading, and drawing them with their
// raster operations.
#include "core/MetafilePlayer.h"

#include "core/BmpCodec.h"

#include <QPainter>

#include <algorithm>

namespace pictor::metafile {

namespace {

// Bitmaps of one metafile together may not decode to more pixels than this.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxImagePixels = int64_t(1) << 20;
#else
constexpr int64_t MaxImagePixels = int64_t(1) << 26;
#endif

// Whether a raster operation reads the source bitmap.
bool UsesSource(uint32_t rop) {
    const uint32_t code = (rop >> 16) & 0xFF;
    return ((code >> 2) & 0x33) != (code & 0x33);
}

} // namespace

std::vector<uint8_t> PalColorsToRgb(std::span<const uint8_t> dib, const QList<QColor>& palette) {
    std::vector<uint8_t> out(dib.begin(), dib.end());
    if (dib.size() < 12) return out;
    const uint32_t headerSize =
        uint32_t(dib[0] | dib[1] << 8 | dib[2] << 16 | uint32_t(dib[3]) << 24);
    const bool core = headerSize == 12;
    if (!core && (headerSize < 16 || headerSize > dib.size())) return out;
    const int bpp = core ? dib[10] | dib[11] << 8 : dib[14] | dib[15] << 8;
    if (bpp > 8 || bpp <= 0) return out;
    uint32_t count = 1u << bpp;
    if (!core && headerSize >= 36) {
        const uint32_t used =
            uint32_t(dib[32] | dib[33] << 8 | dib[34] << 16 | uint32_t(dib[35]) << 24);
        if (used > 0 && used < count) count = used;
    }
    const size_t entry = core ? 3 : 4;
    if (dib.size() - headerSize < size_t(count) * 2) return out;
    out.assign(dib.begin(), dib.begin() + headerSize);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = headerSize + 2 * i;
        const uint16_t index = uint16_t(dib[at] | dib[at + 1] << 8);
        const QColor c = index < size_t(palette.size()) ? palette[index] : QColor(Qt::black);
        const uint8_t quad[4] = {uint8_t(c.blue()), uint8_t(c.green()), uint8_t(c.red()), 0};
        out.insert(out.end(), quad, quad + entry);
    }
    out.insert(out.end(), dib.begin() + headerSize + 2 * count, dib.end());
    return out;
}

// ---- bitmaps -----------------------------------------------------------------------------

namespace {

// Width and height a DIB header declares, for the pixel budget (0 when unreadable).
int64_t DeclaredPixels(std::span<const uint8_t> bmi) {
    if (bmi.size() < 12) return 0;
    auto u32 = [&](size_t at) {
        return uint32_t(bmi[at] | bmi[at + 1] << 8 | bmi[at + 2] << 16 |
                        uint32_t(bmi[at + 3]) << 24);
    };
    if (u32(0) == 12) return int64_t(bmi[4] | bmi[5] << 8) * (bmi[6] | bmi[7] << 8);
    if (bmi.size() < 12) return 0;
    return std::abs(int64_t(int32_t(u32(4)))) * std::abs(int64_t(int32_t(u32(8))));
}

// A 32-bit BI_RGB DIB with premultiplied alpha, as AlphaBlend reads it.
QImage AlphaImage(std::span<const uint8_t> bmi, std::span<const uint8_t> bits) {
    if (bmi.size() < 40) return {};
    auto u32 = [&](size_t at) {
        return uint32_t(bmi[at] | bmi[at + 1] << 8 | bmi[at + 2] << 16 |
                        uint32_t(bmi[at + 3]) << 24);
    };
    const int32_t w = int32_t(u32(4)), h = int32_t(u32(8));
    const int bpp = bmi[14] | bmi[15] << 8;
    if (bpp != 32 || u32(16) != 0 || w <= 0 || h == 0 || h == INT32_MIN) return {};
    const int rows = std::abs(h);
    if (w > Bitmap::MaxSide || rows > Bitmap::MaxSide) return {};
    const size_t stride = size_t(w) * 4;
    if (bits.size() / stride < size_t(rows)) return {};
    QImage img(w, rows, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return {};
    for (int y = 0; y < rows; ++y) {
        const uint8_t* src = bits.data() + stride * size_t(h > 0 ? rows - 1 - y : y);
        QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x, src += 4) {
            const int a = src[3];
            dst[x] = qRgba(std::min<int>(src[2], a), std::min<int>(src[1], a),
                           std::min<int>(src[0], a), a);
        }
    }
    return img;
}

} // namespace

void TPlayer::DecodeDib(size_t index, std::span<const uint8_t> dib, uint32_t usage) {
    DecodeDibParts(index, dib, {}, usage, false);
}

void TPlayer::DecodeDibParts(size_t index, std::span<const uint8_t> bmi,
                             std::span<const uint8_t> bits, uint32_t usage, bool withAlpha) {
    if (!imageSink) return;
    const int64_t pixels = DeclaredPixels(bmi);
    if (pixels <= 0 || pixels > MaxImagePixels - FImagePixels) return;
    std::vector<uint8_t> converted;
    if (usage == 1) { // DIB_PAL_COLORS: the colour table indexes the selected palette
        converted = PalColorsToRgb(bmi, FDC.palette);
        bmi = converted;
    }
    QImage image;
    if (withAlpha) image = AlphaImage(bmi, bits);
    if (image.isNull()) {
        try {
            if (bits.empty()) {
                image = ReadDib(bmi).ToQImage();
            } else {
                // A file image, so that the bits are found at their own offset whatever
                // padding follows the colour table.
                std::vector<uint8_t> file(14);
                file[0] = 'B';
                file[1] = 'M';
                const uint32_t offBits = uint32_t(14 + bmi.size());
                for (int i = 0; i < 4; ++i)
                    file[size_t(10 + i)] = uint8_t(offBits >> (8 * i));
                file.insert(file.end(), bmi.begin(), bmi.end());
                file.insert(file.end(), bits.begin(), bits.end());
                image = ReadBmp(file).ToQImage();
            }
        } catch (const EInvalidGraphic&) {
            return; // a bitmap that cannot be decoded is left out of the picture
        }
    }
    FImagePixels += int64_t(image.width()) * image.height();
    (*imageSink)[index] = image;
}

const QImage* TPlayer::ImageOf(size_t index) const {
    const auto it = FData.images.find(index);
    return it == FData.images.end() ? nullptr : &it->second;
}

QColor TPlayer::PaletteColor(uint32_t index) const {
    return index < size_t(FDC.palette.size()) ? FDC.palette[index] : QColor(Qt::black);
}

QColor TPlayer::ColorRef(uint32_t c) const {
    if ((c >> 24) == 1) return PaletteColor(c & 0xFFFF); // PALETTEINDEX
    return ColorFromRef(c);
}

void TPlayer::Image(size_t index, const QRectF& dest, QRectF source, uint32_t rop,
                    bool bottomOrigin, int constantAlpha, uint32_t transparentColor) {
    const QImage* image = FPainter ? ImageOf(index) : nullptr;
    if (!UsesSource(rop)) {
        PatBlt(dest, rop);
        return;
    }
    const QTransform t = LogicalToTarget();
    if (!FPainter) {
        if (Finite(t)) Account(t.mapRect(dest.normalized()));
        return;
    }
    if (!image || image->isNull() || source.width() == 0 || source.height() == 0) return;
    if (bottomOrigin) source.moveTop(image->height() - source.top() - source.height());
    // Only the part of the source inside the bitmap is drawn, where it would have gone.
    const QRectF inside = source.normalized().intersected(QRectF(image->rect()));
    if (inside.isEmpty()) return;
    const double kx = dest.width() / source.width(), ky = dest.height() / source.height();
    const QTransform place(kx, 0, 0, ky, dest.left() - source.left() * kx,
                           dest.top() - source.top() * ky);
    const int savedRop = FDC.rop2;
    FDC.rop2 = 13;
    const bool ok = Begin(place * t);
    FDC.rop2 = savedRop;
    if (!ok) return;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop) {
    case SRCPAINT:
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    case SRCAND:
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case SRCINVERT:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case SRCERASE:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case NOTSRCCOPY:
        mode = QPainter::RasterOp_NotSource;
        break;
    case NOTSRCERASE:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case MERGEPAINT:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    default:
        break;
    }
    QImage img = *image;
    if (transparentColor != 0xFFFFFFFF) {
        img = img.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = ColorFromRef(transparentColor).rgb() & 0xFFFFFF;
        for (int y = 0; y < img.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
        }
    }
    if (mode != QPainter::CompositionMode_SourceOver) {
        img = img.convertToFormat(QImage::Format_RGB32);
        FPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    FPainter->setCompositionMode(mode);
    FPainter->setOpacity(std::clamp(constantAlpha, 0, 255) / 255.0);
    FPainter->drawImage(inside, img, inside);
    FPainter->setOpacity(1);
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, true);
}

} // namespace pictor::metafile
