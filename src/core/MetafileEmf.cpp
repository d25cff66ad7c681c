// EMF records: type, size, then 32-bit little-endian fields at fixed offsets from the record
// start; variable parts (points, bitmaps, strings) are located by counts and offsets that are
// checked against the record.
#include "core/MetafilePlayer.h"

#include <QBrush>

#include <cmath>

namespace pictor::metafile {

namespace {

QPointF PointL(const TRecordView& r, size_t at) {
    return QPointF(r.S32(at), r.S32(at + 4));
}

QRectF RectL(const TRecordView& r, size_t at) {
    return QRectF(PointL(r, at), PointL(r, at + 8));
}

std::vector<QPointF> Points(const TRecordView& r, size_t at, uint32_t count, bool small) {
    const size_t size = small ? 4 : 8;
    const std::span<const uint8_t> raw = r.Sub(at, uint64_t(count) * size);
    std::vector<QPointF> points(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = raw.data() + i * size;
        if (small)
            points[i] = QPointF(int16_t(p[0] | p[1] << 8), int16_t(p[2] | p[3] << 8));
        else
            points[i] = QPointF(int32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24),
                                int32_t(p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24));
    }
    return points;
}

std::optional<QTransform> Xform(const TRecordView& r, size_t at) {
    const QTransform t(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16),
                       r.F32(at + 20));
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v) || std::abs(v) > 1e12) return std::nullopt;
    if (!(std::abs(t.determinant()) > 1e-18)) return std::nullopt;
    return t;
}

bool BottomUp(std::span<const uint8_t> bmi) {
    if (bmi.size() < 12) return true;
    if (bmi[0] == 12 && !bmi[1] && !bmi[2] && !bmi[3]) return true;
    return !(bmi[11] & 0x80);
}

QString Utf16(std::span<const uint8_t> bytes) {
    QString s(qsizetype(bytes.size() / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        s[i] = QChar(char16_t(bytes[2 * size_t(i)] | bytes[2 * size_t(i) + 1] << 8));
    return s;
}

} // namespace

std::optional<TObject> TPlayer::EmfCreate(size_t index, const TRecordView& r, uint32_t type,
                                          uint32_t& slot) {
    slot = r.U32(8);
    TObject o;
    switch (type) {
    case 38: // CREATEPEN: style, width (POINTL), colour
        o.kind = TObject::Pen;
        o.pen.style = int(r.U32(12));
        o.pen.width = std::abs(double(r.S32(16)));
        o.pen.color = ColorRef(r.U32(24));
        break;
    case 39: // CREATEBRUSHINDIRECT: style, colour, hatch
        o.kind = TObject::Brush;
        o.brush.style = int(r.U32(12));
        o.brush.color = ColorRef(r.U32(16));
        o.brush.hatch = int(r.U32(20));
        if (o.brush.style == 3 || o.brush.style == 5 || o.brush.style == 6) o.brush.style = 0;
        break;
    case 95: { // EXTCREATEPEN: bitmap offsets, then style, width, brush style, colour, hatch,
               // dashes
        o.kind = TObject::Pen;
        TPen& p = o.pen;
        p.style = int(r.U32(28));
        const bool geometric = p.style & 0x10000;
        p.width = geometric ? double(r.U32(32)) : 0;
        if (r.U32(36) == 1) p.style = (p.style & ~0xF) | 5; // hollow brush: no line
        p.color = ColorRef(r.U32(40));
        const uint32_t entries = r.U32(48);
        const std::span<const uint8_t> raw = r.Sub(52, uint64_t(entries) * 4);
        for (size_t i = 0; i < entries && i < 16; ++i)
            p.dashes.push_back(double(raw[4 * i] | raw[4 * i + 1] << 8 | raw[4 * i + 2] << 16 |
                                      uint32_t(raw[4 * i + 3]) << 24));
        break;
    }
    case 82: { // EXTCREATEFONTINDIRECTW: LOGFONTW (92 bytes) and possibly more
        o.kind = TObject::Font;
        TFont& f = o.font;
        f.height = r.S32(12);
        f.width = r.S32(16);
        f.escapement = r.S32(20);
        f.weight = r.S32(28);
        f.italic = r.U8(32);
        f.underline = r.U8(33);
        f.strikeOut = r.U8(34);
        f.charset = r.U8(35);
        const std::span<const uint8_t> face = r.Sub(40, 64);
        size_t n = 0;
        while (n < 32 && (face[2 * n] || face[2 * n + 1]))
            ++n;
        f.face = Utf16(face.subspan(0, 2 * n));
        break;
    }
    case 93:
    case 94: { // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
        o.kind = TObject::Brush;
        o.brush.style = 3;
        o.brush.color = Qt::gray;
        const uint32_t usage = r.U32(12);
        DecodeDibParts(index, r.Part(r.U32(16), r.U32(20), 32), r.Part(r.U32(24), r.U32(28), 32),
                       usage, false);
        if (const QImage* image = ImageOf(index)) o.brush.pattern = *image;
        break;
    }
    case 49: { // CREATEPALETTE: version, count, entries
        o.kind = TObject::Palette;
        const uint16_t count = r.U16(14);
        const std::span<const uint8_t> entries = r.Sub(16, uint64_t(count) * 4);
        for (size_t i = 0; i < count; ++i)
            o.palette.emplace_back(entries[4 * i], entries[4 * i + 1], entries[4 * i + 2]);
        break;
    }
    default:
        return std::nullopt;
    }
    return o;
}

void TPlayer::EmfPoly(const TRecordView& r, uint32_t type) {
    const bool small = type >= 85;
    const uint32_t base = small ? type - 83 : type; // 16-bit twins map onto 2..9
    if (base == 7 || base == 8) { // POLYPOLYLINE, POLYPOLYGON: polys, total points, counts, points
        const uint32_t polys = r.U32(24), total = r.U32(28);
        const std::span<const uint8_t> counts = r.Sub(32, uint64_t(polys) * 4);
        const std::vector<QPointF> points = Points(r, 32 + size_t(polys) * 4, total, small);
        QPainterPath p;
        size_t at = 0;
        for (uint32_t i = 0; i < polys; ++i) {
            const uint32_t n =
                uint32_t(counts[4 * i] | counts[4 * i + 1] << 8 | counts[4 * i + 2] << 16 |
                         uint32_t(counts[4 * i + 3]) << 24);
            if (n > points.size() - at) r.Short();
            if (n >= 2) {
                p.moveTo(points[at]);
                for (size_t k = 1; k < n; ++k)
                    p.lineTo(points[at + k]);
                if (base == 8) p.closeSubpath();
            }
            at += n;
        }
        Shape(p, base == 8, true);
        return;
    }
    const uint32_t count = r.U32(24);
    const std::vector<QPointF> points = Points(r, 28, count, small);
    switch (base) {
    case 2: { // POLYBEZIER
        if (points.empty()) return;
        QPainterPath p(points[0]);
        for (size_t i = 1; i + 3 <= points.size(); i += 3)
            p.cubicTo(points[i], points[i + 1], points[i + 2]);
        if (FInPath) {
            FPath.moveTo(points[0]);
            FPath.connectPath(p);
        } else {
            Shape(p, false, true);
        }
        break;
    }
    case 3:
        if (points.size() >= 2) {
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())));
            p.closeSubpath();
            Shape(p, true, true);
        }
        break;
    case 4:
        Polyline(points);
        break;
    case 5:
        PolyTo(points, true);
        break;
    case 6:
        PolyTo(points, false);
        break;
    case 9: { // POLYDRAW: points, then one type byte per point
        const std::span<const uint8_t> kinds = r.Sub(28 + uint64_t(count) * (small ? 4 : 8), count);
        QPainterPath p(FDC.position);
        for (size_t i = 0; i < points.size(); ++i) {
            const uint8_t k = kinds[i] & ~1;
            if (k == 6) {
                p.moveTo(points[i]);
            } else if (k == 4 && i + 2 < points.size()) {
                p.cubicTo(points[i], points[i + 1], points[i + 2]);
                i += 2;
            } else {
                p.lineTo(points[i]);
            }
            if (kinds[i] & 1) p.closeSubpath();
        }
        if (!points.empty()) FDC.position = points.back();
        if (FInPath)
            FPath.addPath(p);
        else
            Shape(p, false, true);
        break;
    }
    default:
        break;
    }
}

QPainterPath TPlayer::DeviceRegion(std::span<const uint8_t> data) const {
    const TRecordView rgn(data, 0, true);
    const uint32_t count = rgn.U32(8);
    const std::span<const uint8_t> rects = rgn.Sub(32, uint64_t(count) * 16);
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    const TRecordView rv(rects, 0, true);
    if (count > 1000) {
        p.addRect(QRectF(PointL(rgn, 16), PointL(rgn, 24)).normalized());
    } else {
        for (uint32_t i = 0; i < count; ++i)
            p.addRect(QRectF(PointL(rv, 16 * i), PointL(rv, 16 * i + 8)).normalized());
    }
    return FDeviceToTarget.map(p);
}

void TPlayer::EmfRegion(const TRecordView& r, uint32_t type) {
    auto brushOf = [&](uint32_t id) -> std::optional<TBrush> {
        if (id & 0x80000000u) {
            const TBrush saved = FDC.brush;
            const TPen savedPen = FDC.pen;
            SelectStockObject(id & 0x7FFFFFFF);
            const TBrush b = FDC.brush;
            FDC.brush = saved;
            FDC.pen = savedPen;
            return b;
        }
        if (id < FObjects.size() && FObjects[id].kind == TObject::Brush) return FObjects[id].brush;
        return std::nullopt;
    };
    switch (type) {
    case 75: { // EXTSELECTCLIPRGN: size, mode, region
        const uint32_t size = r.U32(8), mode = r.U32(12);
        if (mode == 5 && size < 32) {
            FDC.clip.reset();
            ++FClipSerial;
            return;
        }
        const QPainterPath region = DeviceRegion(r.Sub(16, size));
        if (FPainter) CombineClip(region, int(mode));
        return;
    }
    case 71: { // FILLRGN: bounds, size, brush, region
        const QPainterPath region = DeviceRegion(r.Sub(32, r.U32(24)));
        if (const auto b = brushOf(r.U32(28))) FillRegion(region, false, *b);
        return;
    }
    case 72: // FRAMERGN: parsed, not drawn
        DeviceRegion(r.Sub(40, r.U32(24)));
        return;
    case 73:
    case 74: { // INVERTRGN, PAINTRGN: bounds, size, region
        const QPainterPath region = DeviceRegion(r.Sub(28, r.U32(24)));
        const int saved = FDC.rop2;
        if (type == 73) FDC.rop2 = 6;
        FillRegion(region, false, type == 73 ? TBrush{} : FDC.brush);
        FDC.rop2 = saved;
        return;
    }
    default:
        return;
    }
}

void TPlayer::EmfText(const TRecordView& r, uint32_t type) {
    std::vector<double> dx, dxOut;
    if (type == 108) { // SMALLTEXTOUT: x, y, count, options, mode, scales, [rect], text
        const QPointF at = PointL(r, 8);
        const uint32_t count = r.U32(16), options = r.U32(20);
        size_t pos = 36;
        std::optional<QRectF> rect;
        if (!(options & 0x100)) {
            rect = RectL(r, 36);
            pos = 52;
        }
        const bool narrow = options & 0x200;
        const std::span<const uint8_t> bytes = r.Sub(pos, uint64_t(count) * (narrow ? 1 : 2));
        const QString text =
            narrow ? DecodeBytes(bytes, FDC.font.charset, {}, dxOut) : Utf16(bytes);
        Text(at, options & 0x10 ? QString() : text, {}, options, rect);
        return;
    }
    // EXTTEXTOUTA/W: bounds, graphics mode, scales, then reference, count, string offset,
    // options, rectangle, dx offset
    const QPointF at = PointL(r, 36);
    const uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52);
    const QRectF rect = RectL(r, 56);
    const uint32_t offDx = r.U32(72);
    const bool wide = type == 84;
    const std::span<const uint8_t> bytes = r.Part(offString, uint64_t(count) * (wide ? 2 : 1), 76);
    if (offDx != 0 && count > 0) {
        const bool pdy = options & 0x2000; // dx, dy pairs
        const std::span<const uint8_t> raw = r.Part(offDx, uint64_t(count) * (pdy ? 8 : 4), 76);
        const TRecordView rv(raw, 0, true);
        dx.resize(count);
        for (size_t i = 0; i < count; ++i)
            dx[i] = rv.S32(i * (pdy ? 8 : 4));
    }
    QString text;
    if (wide) {
        text = Utf16(bytes);
        dxOut = dx;
    } else {
        text = DecodeBytes(bytes, FDC.font.charset, dx, dxOut);
    }
    if (options & 0x10) text.clear(); // glyph indices cannot be shown without the font file
    Text(at, text, dxOut, options, (options & 6) ? std::optional<QRectF>(rect) : std::nullopt);
}

void TPlayer::EmfBlt(size_t index, const TRecordView& r, uint32_t type) {
    QRectF dest, source;
    uint32_t rop = 0x00CC0020, offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0, usage = 0;
    uint32_t transparent = 0xFFFFFFFF;
    int alpha = 255;
    bool withAlpha = false, bottomOrigin = false;
    switch (type) {
    case 76:
    case 77:
    case 114:
    case 116: {
        // BITBLT and relatives: dest rect, rop, source origin, source transform, background,
        // usage, bitmap; the stretching ones add the source size.
        dest = QRectF(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
        rop = r.U32(40);
        usage = r.U32(80);
        offBmi = r.U32(84);
        cbBmi = r.U32(88);
        offBits = r.U32(92);
        cbBits = r.U32(96);
        source = QRectF(r.S32(44), r.S32(48), dest.width(), dest.height());
        if (type != 76) source.setSize(QSizeF(r.S32(100), r.S32(104)));
        if (const auto x = Xform(r, 52)) source = x->mapRect(source);
        if (type == 114) { // BLENDFUNCTION: op, flags, constant alpha, format
            alpha = r.U8(42);
            withAlpha = r.U8(43) & 1;
            rop = 0x00CC0020;
        } else if (type == 116) {
            transparent = rop & 0xFFFFFF;
            rop = 0x00CC0020;
        }
        break;
    }
    case 80: // SETDIBITSTODEVICE: dest origin, source rect, bitmap, usage, scans
        source = QRectF(r.S32(32), r.S32(36), r.S32(40), r.S32(44));
        dest = QRectF(QPointF(r.S32(24), r.S32(28)), source.size());
        offBmi = r.U32(48);
        cbBmi = r.U32(52);
        offBits = r.U32(56);
        cbBits = r.U32(60);
        usage = r.U32(64);
        r.U32(72);
        bottomOrigin = true;
        break;
    case 81: // STRETCHDIBITS: dest origin, source rect, bitmap, usage, rop, dest size
        source = QRectF(r.S32(32), r.S32(36), r.S32(40), r.S32(44));
        offBmi = r.U32(48);
        cbBmi = r.U32(52);
        offBits = r.U32(56);
        cbBits = r.U32(60);
        usage = r.U32(64);
        rop = r.U32(68);
        dest = QRectF(r.S32(24), r.S32(28), r.S32(72), r.S32(76));
        bottomOrigin = true;
        break;
    default:
        return;
    }
    if (cbBmi == 0) { // no bitmap: a pattern operation
        PatBlt(dest, rop);
        return;
    }
    // The fixed fields: 100 bytes for BITBLT, 108 for the stretching ones, 76 and 80 for
    // SETDIBITSTODEVICE and STRETCHDIBITS.
    const size_t fixed = type == 76 ? 100 : type == 80 ? 76 : type == 81 ? 80 : 108;
    const std::span<const uint8_t> bmi = r.Part(offBmi, cbBmi, fixed),
                                   bits = r.Part(offBits, cbBits, fixed);
    DecodeDibParts(index, bmi, bits, usage, withAlpha);
    Image(index, dest, source, rop, bottomOrigin && BottomUp(bmi), alpha, transparent);
}

void TPlayer::EmfRecord(size_t index, const TRecordView& r, uint32_t type) {
    switch (type) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 56:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 90:
    case 91:
    case 92:
        EmfPoly(r, type == 56 ? 9 : type);
        break;
    case 9:
        SetWindowExt(PointL(r, 8));
        break;
    case 10:
        SetWindowOrg(PointL(r, 8));
        break;
    case 11:
        SetViewportExt(PointL(r, 8));
        break;
    case 12:
        SetViewportOrg(PointL(r, 8));
        break;
    case 15:
        Pixel(PointL(r, 8), ColorRef(r.U32(16)));
        break;
    case 17:
        SetMapMode(int(r.U32(8)));
        break;
    case 18:
        if (r.U32(8) == 1 || r.U32(8) == 2) FDC.bkMode = int(r.U32(8));
        break;
    case 19:
        if (r.U32(8) == 1 || r.U32(8) == 2) FDC.polyFillMode = int(r.U32(8));
        break;
    case 20:
        if (r.U32(8) >= 1 && r.U32(8) <= 16) FDC.rop2 = int(r.U32(8));
        break;
    case 22:
        FDC.textAlign = r.U32(8);
        break;
    case 24:
        FDC.textColor = ColorRef(r.U32(8));
        break;
    case 25:
        FDC.bkColor = ColorRef(r.U32(8));
        break;
    case 26:
        OffsetClip(PointL(r, 8));
        break;
    case 27:
        MoveTo(PointL(r, 8));
        break;
    case 29:
        ExcludeClip(RectL(r, 8));
        break;
    case 30:
        IntersectClip(RectL(r, 8));
        break;
    case 31:
    case 32: { // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX: xNum, xDenom, yNum, yDenom
        const double xn = r.S32(8), xd = r.S32(12), yn = r.S32(16), yd = r.S32(20);
        if (xd == 0 || yd == 0) break;
        if (type == 32)
            SetWindowExt({FDC.windowExt.x() * xn / xd, FDC.windowExt.y() * yn / yd});
        else
            SetViewportExt({FDC.viewportExt.x() * xn / xd, FDC.viewportExt.y() * yn / yd});
        break;
    }
    case 33:
        SaveDC();
        break;
    case 34:
        RestoreDC(r.S32(8));
        break;
    case 35:
        if (const auto x = Xform(r, 8)) FDC.world = *x;
        break;
    case 36: { // MODIFYWORLDTRANSFORM: xform, mode
        const auto x = Xform(r, 8);
        const uint32_t mode = r.U32(32);
        QTransform w = FDC.world;
        if (mode == 1)
            w = QTransform();
        else if (x && mode == 2)
            w = *x * w;
        else if (x && mode == 3)
            w = w * *x;
        else if (x && mode == 4)
            w = *x;
        if (std::abs(w.determinant()) > 1e-18 && std::isfinite(w.determinant())) FDC.world = w;
        break;
    }
    case 37: {
        const uint32_t id = r.U32(8);
        if (id & 0x80000000u)
            SelectStockObject(id & 0x7FFFFFFF);
        else
            SelectObject(id);
        break;
    }
    case 38:
    case 39:
    case 49:
    case 82:
    case 93:
    case 94:
    case 95: {
        uint32_t slot = 0;
        std::optional<TObject> o = EmfCreate(index, r, type, slot);
        if (o && slot != 0) PutObject(slot, std::move(*o)); // slot 0 is the metafile itself
        break;
    }
    case 40:
        if (!(r.U32(8) & 0x80000000u)) DeleteObject(r.U32(8));
        break;
    case 41: { // ANGLEARC: centre, radius, start angle, sweep angle
        const QPointF c = PointL(r, 8);
        const double radius = r.U32(16), start = r.F32(20), sweep = r.F32(24);
        if (!std::isfinite(start) || !std::isfinite(sweep)) break;
        const QRectF box(c - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
        QPainterPath p(FDC.position);
        QPainterPath arc;
        arc.arcMoveTo(box, std::fmod(start, 360.0));
        p.lineTo(arc.currentPosition());
        p.arcTo(box, std::fmod(start, 360.0), std::clamp(sweep, -360.0, 360.0));
        FDC.position = p.currentPosition();
        if (FInPath) {
            FPath.connectPath(p);
        } else {
            Shape(p, false, true);
        }
        break;
    }
    case 42:
    case 43:
    case 44: {
        const QRectF box = RectL(r, 8).normalized();
        QPainterPath p;
        if (type == 42)
            p.addEllipse(box);
        else if (type == 43)
            p.addRect(box);
        else
            p.addRoundedRect(box, std::abs(r.S32(24)) / 2.0, std::abs(r.S32(28)) / 2.0);
        Shape(p, true, true);
        break;
    }
    case 45:
    case 46:
    case 47:
    case 55: {
        static const int kinds[] = {0, 1, 2};
        Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), type == 55 ? 3 : kinds[type - 45]);
        break;
    }
    case 48: {
        const uint32_t id = r.U32(8);
        if (id & 0x80000000u)
            FDC.palette.clear();
        else
            SelectObject(id);
        break;
    }
    case 54:
        LineTo(PointL(r, 8));
        break;
    case 57:
        FDC.clockwise = r.U32(8) == 2;
        break;
    case 59:
        BeginPath();
        break;
    case 60:
        EndPath();
        break;
    case 61:
        CloseFigure();
        break;
    case 62:
        FinishPath(true, false);
        break;
    case 63:
        FinishPath(true, true);
        break;
    case 64:
        FinishPath(false, true);
        break;
    case 67:
        ClipPath(int(r.U32(8)));
        break;
    case 68:
        AbortPath();
        break;
    case 71:
    case 72:
    case 73:
    case 74:
    case 75:
        EmfRegion(r, type);
        break;
    case 76:
    case 77:
    case 80:
    case 81:
    case 114:
    case 116:
        EmfBlt(index, r, type);
        break;
    case 83:
    case 84:
    case 108:
        EmfText(r, type);
        break;
    case 118: { // GRADIENTFILL: vertices (x, y, 16-bit r, g, b, a), then rectangles or triangles
        const uint32_t nVer = r.U32(24), nTri = r.U32(28), mode = r.U32(32);
        const std::span<const uint8_t> v = r.Sub(36, uint64_t(nVer) * 16);
        const TRecordView vv(v, 0, true);
        const uint64_t each = mode == 2 ? 12 : 8;
        const TRecordView gv(r.Sub(36 + uint64_t(nVer) * 16, uint64_t(nTri) * each), 0, true);
        auto colour = [&](uint32_t i) {
            return QColor(vv.U16(16 * i + 8) >> 8, vv.U16(16 * i + 10) >> 8,
                          vv.U16(16 * i + 12) >> 8);
        };
        for (uint32_t g = 0; g < nTri; ++g) {
            const uint32_t a = gv.U32(g * each), b = gv.U32(g * each + 4);
            const uint32_t c = mode == 2 ? gv.U32(g * each + 8) : 0;
            if (a >= nVer || b >= nVer || c >= nVer) continue;
            const QPointF pa = PointL(vv, 16 * a), pb = PointL(vv, 16 * b);
            if (mode == 2) {
                const QPointF pc = PointL(vv, 16 * c);
                const QColor ca = colour(a), cb = colour(b), cc = colour(c);
                const QColor mean((ca.red() + cb.red() + cc.red()) / 3,
                                  (ca.green() + cb.green() + cc.green()) / 3,
                                  (ca.blue() + cb.blue() + cc.blue()) / 3);
                QPainterPath p;
                p.addPolygon(QPolygonF({pa, pb, pc}));
                p.closeSubpath();
                TBrush brush;
                brush.color = mean;
                const TBrush saved = FDC.brush;
                const TPen savedPen = FDC.pen;
                FDC.brush = brush;
                FDC.pen.style = 5;
                Shape(p, true, false);
                FDC.brush = saved;
                FDC.pen = savedPen;
            } else {
                QLinearGradient gradient(pa, mode == 0 ? QPointF(pb.x(), pa.y())
                                                       : QPointF(pa.x(), pb.y()));
                gradient.setColorAt(0, colour(a));
                gradient.setColorAt(1, colour(b));
                FillRect(QRectF(pa, pb), QBrush(gradient));
            }
        }
        break;
    }
    default:
        break; // header, comments (EMF+ included) and state the player does not model
    }
}

} // namespace pictor::metafile
