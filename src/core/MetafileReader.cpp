// Reading WMF and EMF files: headers, the record framing, the picture's frame and natural size,
// and the TMetafile entry points.
#include "core/ByteOrder.h"
#include "core/Metafile.h"

#include "core/FileIO.h"

#include "core/MetafilePlayer.h"
#include "core/PictureFormats.h"

#include <QImage>
#include <QPainter>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace pictor {

namespace metafile {

void Fail(const std::string& reason) {
    throw EMetafileError("Metafile is not valid: " + reason);
}

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr uint32_t EmfSignature = 0x464D4520;

std::string At(size_t offset) {
    return " at offset " + std::to_string(offset);
}

// The natural size in pixels, scaled down (keeping the aspect ratio) to the caps.
void SetSize(TData& d, double width, double height) {
    width = std::abs(width);
    height = std::abs(height);
    if (!(width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height)))
        Fail("the picture has no size");
    const double scale = std::min({1.0, TMetafile::MaxSide / width, TMetafile::MaxSide / height,
                                   std::sqrt(double(TMetafile::MaxPixels) / width / height)});
    // Rounded down when scaled, so the result stays within the caps.
    const auto side = [&](double v) {
        return std::max(1, int(scale < 1 ? std::floor(v * scale) : std::lround(v)));
    };
    d.width = side(width);
    d.height = side(height);
    while (int64_t(d.width) * d.height > TMetafile::MaxPixels) // rounding up at the limit
        --(d.width > d.height ? d.width : d.height);
}

void ReadWmfRecords(TData& d, size_t at) {
    const std::span<const uint8_t> b(d.bytes);
    if (b.size() - at < 18) Fail("the WMF header is truncated");
    const uint16_t type = U16(b, at), headerWords = U16(b, at + 2);
    if (type != 1 && type != 2) Fail("the WMF header has type " + std::to_string(type));
    if (headerWords != 9) Fail("the WMF header size is " + std::to_string(headerWords) + " words");
    d.objectSlots = U16(b, at + 10);
    size_t pos = at + 18;
    // The header's file size is not trusted (real files have it too small or counting the
    // placeable header); records run to META_EOF or to the end of the data.
    while (b.size() - pos >= 6) {
        const uint32_t words = U32(b, pos);
        const uint16_t function = U16(b, pos + 4);
        if (words < 3)
            Fail("a record" + At(pos) + " has the size " + std::to_string(words) + " words");
        const uint64_t bytes = uint64_t(words) * 2;
        if (bytes > b.size() - pos) Fail("a record" + At(pos) + " runs past the end of the file");
        if (d.records.size() >= size_t(TMetafile::MaxRecords))
            Fail("more than " + std::to_string(TMetafile::MaxRecords) + " records");
        d.records.push_back({uint32_t(pos), uint32_t(bytes), function});
        if (function == 0) break; // META_EOF
        pos += size_t(bytes);
    }
}

void ReadWmf(TData& d, bool placeable) {
    const std::span<const uint8_t> b(d.bytes);
    QRectF box;
    double inch = 1440;
    if (placeable) {
        if (b.size() < 22) Fail("the placeable header is truncated");
        const auto s16 = [&](size_t at) { return double(int16_t(U16(b, at))); };
        box = QRectF(QPointF(s16(6), s16(8)), QPointF(s16(10), s16(12)));
        // Units per inch 0 would divide by zero; twips is what such files usually mean.
        if (U16(b, 14) != 0) inch = U16(b, 14);
    }
    ReadWmfRecords(d, placeable ? 22 : 0);

    if (placeable && box.width() != 0 && box.height() != 0) {
        d.lockedViewport = true;
        d.window = box;
        d.frame = box.normalized();
        SetSize(d, box.width() / inch * 96, box.height() / inch * 96);
        return;
    }
    // Without a usable box the first window extent is the frame, one unit a pixel (or the unit
    // of a fixed mapping mode set before it).
    QPointF org(0, 0);
    int mapMode = 1;
    for (const TRecord& r : d.records) {
        const uint8_t f = r.type & 0xFF;
        if (r.size < 10 && f != 0x03) continue;
        const auto w = [&](size_t i) { return double(int16_t(U16(b, r.offset + 6 + 2 * i))); };
        if (f == 0x03 && r.size >= 8) mapMode = U16(b, r.offset + 6);
        if (f == 0x0B) org = QPointF(w(1), w(0));
        if (f == 0x0C && w(0) != 0 && w(1) != 0) {
            const QPointF ext(w(1), w(0));
            static const double unitMm[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
            const double px = mapMode >= 2 && mapMode <= 6 ? unitMm[mapMode] * 96 / 25.4 : 1;
            d.lockedViewport = true;
            d.window = QRectF(org, QSizeF(ext.x(), ext.y()));
            d.frame = d.window.normalized();
            SetSize(d, ext.x() * px, ext.y() * px);
            return;
        }
    }
    d.frame = QRectF(0, 0, 1, 1); // measured from the drawing after the reading pass
}

void ReadEmf(TData& d) {
    const std::span<const uint8_t> b(d.bytes);
    const uint32_t headerSize = U32(b, 4);
    if (headerSize < 88 || headerSize % 4 != 0 || headerSize > b.size())
        Fail("the EMF header record has the size " + std::to_string(headerSize));
    const QRectF bounds(QPointF(S32(b, 8), S32(b, 12)),
                        QPointF(S32(b, 16) + 1.0, S32(b, 20) + 1.0));
    const double fl = S32(b, 24), ft = S32(b, 28), fr = S32(b, 32), fb = S32(b, 36);
    d.objectSlots = std::max<uint32_t>(1, U16(b, 56));
    // Pixels per millimetre of the reference device. The micrometre fields of newer headers are
    // more precise, but they are used only where no description can overlap them and where they
    // agree with the millimetres (a header with a description may be the short form).
    double pxX = 0, pxY = 0;
    const int32_t devX = S32(b, 72), devY = S32(b, 76), mmX = S32(b, 80), mmY = S32(b, 84);
    if (devX > 0 && devY > 0 && mmX > 0 && mmY > 0) {
        pxX = double(devX) / mmX;
        pxY = double(devY) / mmY;
        const uint32_t nDescription = U32(b, 60), offDescription = U32(b, 64);
        const bool clear =
            nDescription == 0 || (offDescription >= 108 && offDescription <= headerSize &&
                                  nDescription <= (headerSize - offDescription) / 2);
        if (headerSize >= 108 && clear) {
            const int32_t umX = S32(b, 100), umY = S32(b, 104);
            if (umX > 0 && umY > 0 && std::abs(umX / 1000.0 - mmX) <= 1 &&
                std::abs(umY / 1000.0 - mmY) <= 1) {
                pxX = devX * 1000.0 / umX;
                pxY = devY * 1000.0 / umY;
            }
        }
    }
    if (pxX > 0.01 && pxX < 1e5 && pxY > 0.01 && pxY < 1e5) {
        d.pxPerMmX = pxX;
        d.pxPerMmY = pxY;
    }

    size_t pos = 0;
    while (b.size() - pos >= 8) {
        const uint32_t type = U32(b, pos), size = U32(b, pos + 4);
        if (size < 8 || size % 4 != 0 || size > b.size() - pos)
            Fail("a record" + At(pos) + " has the size " + std::to_string(size));
        if (d.records.size() >= size_t(TMetafile::MaxRecords))
            Fail("more than " + std::to_string(TMetafile::MaxRecords) + " records");
        d.records.push_back({uint32_t(pos), size, type});
        if (type == 14) break; // EMR_EOF
        pos += size;
    }

    // The frame (0.01 mm) is mapped onto the target; when the bounds (whole device pixels) say
    // the same to within a pixel they are the exact form of it.
    const QRectF frame(QPointF(fl * d.pxPerMmX / 100, ft * d.pxPerMmY / 100),
                       QPointF(fr * d.pxPerMmX / 100, fb * d.pxPerMmY / 100));
    const bool frameOk = fr > fl && fb > ft;
    const bool boundsOk = bounds.width() > 0 && bounds.height() > 0;
    if (frameOk) {
        const bool same = boundsOk && std::abs(frame.left() - bounds.left()) <= 1 &&
                          std::abs(frame.top() - bounds.top()) <= 1 &&
                          std::abs(frame.right() - bounds.right()) <= 1 &&
                          std::abs(frame.bottom() - bounds.bottom()) <= 1;
        d.frame = same ? bounds : frame;
        SetSize(d, (fr - fl) / 2540 * 96, (fb - ft) / 2540 * 96);
    } else if (boundsOk) {
        d.frame = bounds;
        SetSize(d, bounds.width() / d.pxPerMmX / 25.4 * 96,
                bounds.height() / d.pxPerMmY / 25.4 * 96);
    } else {
        d.frame = QRectF(0, 0, 1, 1); // measured from the drawing after the reading pass
    }
}

} // namespace

} // namespace metafile

using metafile::Fail;
using metafile::TData;

TMetafile::TMetafile() = default;

TMetafile TMetafile::Read(std::span<const uint8_t> data) {
    if (data.size() > MaxFileSize)
        Fail("the file is larger than " + std::to_string(MaxFileSize >> 20) + " MiB");
    auto d = std::make_shared<TData>();
    d->bytes.assign(data.begin(), data.end());
    const std::span<const uint8_t> b(d->bytes);
    if (b.size() >= 4 && U32(b, 0) == metafile::PlaceableKey) {
        metafile::ReadWmf(*d, true);
    } else if (b.size() >= 88 && U32(b, 0) == 1 && U32(b, 40) == metafile::EmfSignature) {
        d->enhanced = true;
        metafile::ReadEmf(*d);
    } else if (b.size() >= 18 && (U16(b, 0) == 1 || U16(b, 0) == 2) && U16(b, 2) == 9) {
        metafile::ReadWmf(*d, false);
    } else if (b.size() >= 4 && U32(b, 0) == 1) {
        Fail("the EMF header is truncated or has no \" EMF\" signature");
    } else {
        Fail("the data is neither a WMF nor an EMF");
    }
    // The reading pass checks every record and decodes the bitmaps; it also measures the
    // drawing for files that say nothing about their size.
    metafile::TPlayer reader(*d, nullptr, d->frame);
    reader.imageSink = &d->images;
    reader.Play();
    if (d->width == 0) {
        const QRectF drawn = reader.DrawnBounds();
        if (!(drawn.width() > 0 || drawn.height() > 0))
            Fail("the metafile gives no size and draws nothing");
        d->frame = drawn.adjusted(0, 0, drawn.width() > 0 ? 0 : 1, drawn.height() > 0 ? 0 : 1);
        metafile::SetSize(*d, d->frame.width() / d->pxPerMmX / 25.4 * 96,
                          d->frame.height() / d->pxPerMmY / 25.4 * 96);
    }
    TMetafile m;
    m.FData = std::move(d);
    return m;
}

TMetafile TMetafile::LoadFromFile(const std::string& path) {
    const auto data = ReadFileBytes(path, MaxFileSize);
    if (!data) Fail("the file is larger than " + std::to_string(MaxFileSize >> 20) + " MiB");
    return Read(*data);
}

bool TMetafile::Empty() const {
    return !FData;
}
bool TMetafile::Enhanced() const {
    return FData && FData->enhanced;
}
int TMetafile::Width() const {
    return FData ? FData->width : 0;
}
int TMetafile::Height() const {
    return FData ? FData->height : 0;
}

void TMetafile::Draw(QPainter& painter, const QRectF& target) const {
    if (!FData || !painter.isActive()) return;
    for (double v : {target.left(), target.top(), target.width(), target.height()})
        if (!std::isfinite(v)) return;
    if (target.width() == 0 || target.height() == 0) return;
    metafile::TPlayer(*FData, &painter, target).Play();
}

Bitmap TMetafile::ToBitmap(int width, int height) const {
    if (!FData) throw EInvalidGraphic("An empty metafile cannot be drawn");
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic("A metafile cannot be drawn at " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels");
    Bitmap bitmap(width, height, TPixelFormat::pf24bit);
    // Painted in place: the bitmap's rows are B, G, R bytes with 4-byte aligned strides.
    QImage canvas(bitmap.ScanLine(0), width, height, qsizetype(bitmap.Stride()),
                  QImage::Format_BGR888);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    Draw(painter, QRectF(0, 0, width, height));
    painter.end();
    return bitmap;
}

void RegisterMetafileFormats() {
    static const TGraphicClass metafileClass{
        "TMetafile",
        [](const std::string& path) { return TMetafile::LoadFromFile(path).ToBitmap(); },
        [](std::span<const uint8_t> data, const std::string&) {
            return TMetafile::Read(data).ToBitmap();
        }};
    TPictureFormats::Instance().Register("wmf", "Metafiles", &metafileClass);
    TPictureFormats::Instance().Register("emf", "Enhanced Metafiles", &metafileClass);
}

} // namespace pictor
