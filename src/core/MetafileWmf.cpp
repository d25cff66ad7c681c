// WMF records: parameters are 16-bit words stored in reverse order of the drawing call's
// arguments (a point is y then x, a rectangle bottom, right, top, left).
#include "core/MetafilePlayer.h"

namespace pictor::metafile {

namespace {

QPointF Pt(const TRecordView& r, size_t word) { // y at `word`, x after it
    return QPointF(r.W(word + 1), r.W(word));
}

QRectF Box(const TRecordView& r, size_t word) { // bottom, right, top, left from `word`
    return QRectF(QPointF(r.W(word + 3), r.W(word + 2)), QPointF(r.W(word + 1), r.W(word)));
}

std::vector<QPointF> Points(const TRecordView& r, size_t at, int64_t count) {
    if (count < 0) r.Short();
    const std::span<const uint8_t> raw = r.Sub(at, uint64_t(count) * 4);
    std::vector<QPointF> points(static_cast<size_t>(count));
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = QPointF(int16_t(raw[4 * i] | raw[4 * i + 1] << 8),
                            int16_t(raw[4 * i + 2] | raw[4 * i + 3] << 8));
    return points;
}

bool BottomUp(std::span<const uint8_t> dib) {
    if (dib.size() >= 12 && dib[0] == 12 && !dib[1] && !dib[2] && !dib[3]) return true;
    return dib.size() >= 12 && !(dib[11] & 0x80);
}

// Region object: 10 words of header (scan count at word 4, then the bounding box), then scans of
// (count, top, bottom, count / 2 x (left, right), count). Writers disagree on the scans (some
// leave them inconsistent), so a region whose scans do not add up is its bounding box.
QPainterPath RegionPath(const TRecordView& r) {
    const uint16_t scans = r.U16(14);
    const QRectF box(QPointF(r.S16(18), r.S16(20)), QPointF(r.S16(22), r.S16(24)));
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    const size_t size = r.Size();
    size_t at = 26;
    bool ok = true;
    for (uint16_t s = 0; ok && s < scans; ++s) {
        if (size - at < 6) {
            ok = false;
            break;
        }
        const uint16_t count = r.U16(at);
        const int16_t top = r.S16(at + 2), bottom = r.S16(at + 4);
        at += 6;
        if ((size - at) / 2 < size_t(count) + 1 || count % 2) {
            ok = false;
            break;
        }
        for (uint16_t i = 0; i < count; i += 2, at += 4)
            path.addRect(QRectF(QPointF(r.S16(at), top), QPointF(r.S16(at + 2), bottom)));
        ok = r.U16(at) == count;
        at += 2;
    }
    if (!ok || scans == 0) {
        path = QPainterPath();
        path.addRect(box.normalized());
    }
    return path;
}

} // namespace

std::optional<TObject> TPlayer::WmfCreate(size_t index, const TRecordView& r, uint32_t function) {
    TObject o;
    switch (function & 0xFF) {
    case 0xFA: // CREATEPENINDIRECT
        o.kind = TObject::Pen;
        o.pen.style = r.UW(0);
        o.pen.width = std::abs(int(r.W(1)));
        o.pen.color = ColorRef(r.U32(12));
        break;
    case 0xFC: // CREATEBRUSHINDIRECT
        o.kind = TObject::Brush;
        o.brush.style = r.UW(0);
        o.brush.color = ColorRef(r.U32(8));
        o.brush.hatch = r.UW(3);
        if (o.brush.style == 3 || o.brush.style == 5) o.brush.style = 0; // no bitmap here
        break;
    case 0xFB: { // CREATEFONTINDIRECT
        o.kind = TObject::Font;
        TFont& f = o.font;
        f.height = r.W(0);
        f.width = r.W(1);
        f.escapement = r.W(2);
        f.weight = r.W(4);
        f.italic = r.U8(16);
        f.underline = r.U8(17);
        f.strikeOut = r.U8(18);
        f.charset = r.U8(19);
        r.U8(23);
        size_t end = 24;
        while (end < r.Size() && end < 24 + 32 && r.Bytes()[end])
            ++end;
        std::vector<double> none;
        f.face = DecodeBytes(r.Bytes().subspan(24, end - 24), f.charset, {}, none);
        break;
    }
    case 0x42: { // DIBCREATEPATTERNBRUSH
        o.kind = TObject::Brush;
        o.brush.style = 3;
        const uint16_t usage = r.UW(1);
        const std::span<const uint8_t> dib = r.Sub(10, r.Size() - std::min<size_t>(r.Size(), 10));
        DecodeDib(index, dib, usage);
        if (const QImage* image = ImageOf(index)) o.brush.pattern = *image;
        o.brush.color = Qt::gray;
        break;
    }
    case 0xF9: // CREATEPATTERNBRUSH (device-dependent bitmap): a neutral grey
        o.kind = TObject::Brush;
        o.brush.color = Qt::gray;
        break;
    case 0xF7: { // CREATEPALETTE
        o.kind = TObject::Palette;
        const uint16_t count = r.UW(1);
        const std::span<const uint8_t> entries = r.Sub(10, uint64_t(count) * 4);
        for (size_t i = 0; i < count; ++i)
            o.palette.emplace_back(entries[4 * i], entries[4 * i + 1], entries[4 * i + 2]);
        break;
    }
    case 0xFF: // CREATEREGION
        o.kind = TObject::Region;
        o.region = RegionPath(r);
        break;
    default:
        return std::nullopt;
    }
    return o;
}

void TPlayer::WmfText(const TRecordView& r, uint32_t function) {
    std::vector<double> dx, dxOut;
    if ((function & 0xFF) == 0x21) { // TEXTOUT: count, string, y, x
        const int16_t count = r.W(0);
        if (count < 0) r.Short();
        const std::span<const uint8_t> bytes = r.Sub(8, uint64_t(count));
        const size_t after = (size_t(count) + 1) / 2;
        const QPointF at = Pt(r, 1 + after);
        Text(at, DecodeBytes(bytes, FDC.font.charset, {}, dxOut), {}, 0, std::nullopt);
        return;
    }
    // EXTTEXTOUT: y, x, count, options, [rectangle], string, [dx]
    const QPointF at = Pt(r, 0);
    const int16_t count = r.W(2);
    if (count < 0) r.Short();
    const uint16_t options = r.UW(3);
    size_t pos = 14;
    std::optional<QRectF> rect;
    if (options & 6) {
        rect = QRectF(QPointF(r.S16(14), r.S16(16)), QPointF(r.S16(18), r.S16(20)));
        pos = 22;
    }
    const std::span<const uint8_t> bytes = r.Sub(pos, uint64_t(count));
    pos += (size_t(count) + 1) & ~size_t(1);
    if (count > 0 && r.Size() >= pos && (r.Size() - pos) / 2 >= size_t(count)) {
        dx.resize(size_t(count));
        for (size_t i = 0; i < dx.size(); ++i)
            dx[i] = r.S16(pos + 2 * i);
    }
    const QString text = DecodeBytes(bytes, FDC.font.charset, dx, dxOut);
    Text(at, text, dxOut, options, rect);
}

void TPlayer::WmfBlt(size_t index, const TRecordView& r, uint32_t function) {
    const uint8_t f = function & 0xFF;
    // The forms without a bitmap are recognised by their size, as the format prescribes.
    const bool noBitmap = r.Size() == 2 * (size_t(function >> 8) + 3);
    const uint32_t rop = f == 0x33 ? 0x00CC0020 : r.U32(6);
    if (noBitmap && f != 0x43 && f != 0x33) {
        // rop, reserved, [source height, width, y, x,] height, width, y, x
        const bool stretch = f == 0x41 || f == 0x23;
        const size_t d = stretch ? 7 : 3;
        PatBlt(QRectF(r.W(d + 3), r.W(d + 2), r.W(d + 1), r.W(d)), rop);
        return;
    }
    QRectF source, dest;
    size_t dibAt = 0;
    uint16_t usage = 0;
    bool bottomOrigin = false;
    switch (f) {
    case 0x41: // DIBSTRETCHBLT: rop, srcH, srcW, srcY, srcX, dstH, dstW, dstY, dstX, DIB
        source = QRectF(r.W(5), r.W(4), r.W(3), r.W(2));
        dest = QRectF(r.W(9), r.W(8), r.W(7), r.W(6));
        dibAt = 26;
        break;
    case 0x40: // DIBBITBLT: rop, srcY, srcX, height, width, dstY, dstX, DIB
        source = QRectF(r.W(3), r.W(2), r.W(5), r.W(4));
        dest = QRectF(r.W(7), r.W(6), r.W(5), r.W(4));
        dibAt = 22;
        break;
    case 0x43: // STRETCHDIB: rop, usage, srcH, srcW, srcY, srcX, dstH, dstW, dstY, dstX, DIB
        usage = r.UW(2);
        source = QRectF(r.W(6), r.W(5), r.W(4), r.W(3));
        dest = QRectF(r.W(10), r.W(9), r.W(8), r.W(7));
        dibAt = 28;
        bottomOrigin = true;
        break;
    case 0x33: // SETDIBTODEV: usage, scans, start, srcY, srcX, height, width, dstY, dstX, DIB
        usage = r.UW(0);
        source = QRectF(r.W(4), r.W(3), r.W(6), r.W(5));
        dest = QRectF(r.W(8), r.W(7), r.W(6), r.W(5));
        dibAt = 24;
        bottomOrigin = true;
        break;
    default:
        return; // BITBLT/STRETCHBLT with a device-dependent bitmap: not drawn
    }
    const std::span<const uint8_t> dib = r.Sub(dibAt, r.Size() - std::min(r.Size(), dibAt));
    DecodeDib(index, dib, usage);
    Image(index, dest, source, rop, bottomOrigin && BottomUp(dib));
}

void TPlayer::WmfRecord(size_t index, const TRecordView& r, uint32_t function) {
    switch (function & 0xFF) {
    case 0x00:
        break; // EOF
    case 0x01:
        FDC.bkColor = ColorRef(r.U32(6));
        break;
    case 0x02:
        if (r.UW(0) == 1 || r.UW(0) == 2) FDC.bkMode = r.UW(0);
        break;
    case 0x03:
        SetMapMode(r.UW(0));
        break;
    case 0x04:
        if (r.UW(0) >= 1 && r.UW(0) <= 16) FDC.rop2 = r.UW(0);
        break;
    case 0x06:
        if (r.UW(0) == 1 || r.UW(0) == 2) FDC.polyFillMode = r.UW(0);
        break;
    case 0x09:
        FDC.textColor = ColorRef(r.U32(6));
        break;
    case 0x0B:
        SetWindowOrg(Pt(r, 0));
        break;
    case 0x0C:
        SetWindowExt(Pt(r, 0));
        break;
    case 0x0D:
        SetViewportOrg(Pt(r, 0));
        break;
    case 0x0E:
        SetViewportExt(Pt(r, 0));
        break;
    case 0x0F:
        SetWindowOrg(FDC.windowOrg + Pt(r, 0));
        break;
    case 0x11:
        SetViewportOrg(FDC.viewportOrg + Pt(r, 0));
        break;
    case 0x10:
    case 0x12: { // SCALEWINDOWEXT, SCALEVIEWPORTEXT: yDenom, yNum, xDenom, xNum
        const double yd = r.W(0), yn = r.W(1), xd = r.W(2), xn = r.W(3);
        if (xd == 0 || yd == 0) break;
        if ((function & 0xFF) == 0x10)
            SetWindowExt({FDC.windowExt.x() * xn / xd, FDC.windowExt.y() * yn / yd});
        else
            SetViewportExt({FDC.viewportExt.x() * xn / xd, FDC.viewportExt.y() * yn / yd});
        break;
    }
    case 0x13:
        LineTo(Pt(r, 0));
        break;
    case 0x14:
        MoveTo(Pt(r, 0));
        break;
    case 0x15:
        ExcludeClip(Box(r, 0));
        break;
    case 0x16:
        IntersectClip(Box(r, 0));
        break;
    case 0x17:
        Arc(Box(r, 4), Pt(r, 2), Pt(r, 0), 0);
        break;
    case 0x30:
        Arc(Box(r, 4), Pt(r, 2), Pt(r, 0), 1);
        break;
    case 0x1A:
        Arc(Box(r, 4), Pt(r, 2), Pt(r, 0), 2);
        break;
    case 0x18: {
        QPainterPath p;
        p.addEllipse(Box(r, 0).normalized());
        Shape(p, true, true);
        break;
    }
    case 0x1B: {
        QPainterPath p;
        p.addRect(Box(r, 0).normalized());
        Shape(p, true, true);
        break;
    }
    case 0x1C: { // ROUNDRECT: corner height, corner width, box
        const double ch = std::abs(r.W(0)), cw = std::abs(r.W(1));
        QPainterPath p;
        p.addRoundedRect(Box(r, 2).normalized(), cw / 2, ch / 2);
        Shape(p, true, true);
        break;
    }
    case 0x1D: // PATBLT: rop, height, width, y, x
        PatBlt(QRectF(r.W(5), r.W(4), r.W(3), r.W(2)), r.U32(6));
        break;
    case 0x1E:
        SaveDC();
        break;
    case 0x27:
        RestoreDC(r.W(0));
        break;
    case 0x1F:
        Pixel(Pt(r, 2), ColorRef(r.U32(6)));
        break;
    case 0x20:
        OffsetClip(Pt(r, 0));
        break;
    case 0x21:
    case 0x32:
        WmfText(r, function);
        break;
    case 0x22:
    case 0x23:
    case 0x40:
    case 0x41:
    case 0x43:
    case 0x33:
        WmfBlt(index, r, function);
        break;
    case 0x24:
    case 0x25: { // POLYGON, POLYLINE: count, points
        const std::vector<QPointF> points = Points(r, 8, r.W(0));
        if ((function & 0xFF) == 0x25) {
            Polyline(points);
        } else if (points.size() >= 2) {
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())));
            p.closeSubpath();
            Shape(p, true, true);
        }
        break;
    }
    case 0x38: { // POLYPOLYGON: polygon count, point counts, points
        const uint16_t n = r.UW(0);
        r.Sub(8, uint64_t(n) * 2);
        size_t at = 8 + 2 * size_t(n);
        QPainterPath p;
        for (uint16_t i = 0; i < n; ++i) {
            const std::vector<QPointF> points = Points(r, at, r.W(1 + i));
            at += points.size() * 4;
            if (points.size() < 2) continue;
            p.addPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())));
            p.closeSubpath();
        }
        Shape(p, true, true);
        break;
    }
    case 0x28:
    case 0x2B:
    case 0x2A: { // FILLREGION (region, brush), PAINTREGION, INVERTREGION
        const uint16_t slot = r.UW(0);
        TBrush brush = FDC.brush;
        if ((function & 0xFF) == 0x28) {
            const uint16_t b = r.UW(1);
            if (b >= FObjects.size() || FObjects[b].kind != TObject::Brush) break;
            brush = FObjects[b].brush;
        }
        if (slot >= FObjects.size() || FObjects[slot].kind != TObject::Region) break;
        const int saved = FDC.rop2;
        if ((function & 0xFF) == 0x2A) {
            FDC.rop2 = 6;
            brush = TBrush{};
        }
        FillRegion(FObjects[slot].region, true, brush);
        FDC.rop2 = saved;
        break;
    }
    case 0x2C: { // SELECTCLIPREGION
        const uint16_t slot = r.UW(0);
        if (slot < FObjects.size() && FObjects[slot].kind == TObject::Region) SelectObject(slot);
        break;
    }
    case 0x2D:
        SelectObject(r.UW(0));
        break;
    case 0x34:
        SelectObject(r.UW(0));
        break; // SELECTPALETTE
    case 0xF0:
        DeleteObject(r.UW(0));
        break;
    case 0x2E:
        FDC.textAlign = r.UW(0);
        break;
    case 0x42:
    case 0xF7:
    case 0xF9:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFF: {
        std::optional<TObject> o = WmfCreate(index, r, function);
        // The object takes the lowest free slot; with none free it is lost, as on the
        // original system.
        if (const auto slot = LowestFreeSlot(); o && slot) PutObject(*slot, std::move(*o));
        break;
    }
    default:
        break; // ESCAPE, palette animation, flood fills and others draw nothing here
    }
}

} // namespace pictor::metafile
