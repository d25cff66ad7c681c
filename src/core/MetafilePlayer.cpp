// The device-context model shared by WMF and EMF playback: mapping modes, objects, clipping,
// paths, and the drawing primitives on QPainter.
#include "core/MetafilePlayer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace pictor::metafile {

namespace {

// SAVEDC levels kept; deeper saves are ignored.
constexpr size_t MaxSavedStates = 4096;
// Clip paths beyond this many elements are replaced by their bounding box, which keeps the
// boolean operations between clips quick.
constexpr int MaxClipElements = 2000;
// A dashed outline that would need more dashes than this is drawn solid.
constexpr double MaxDashes = 20000;

QPainterPath RectPath(const QRectF& r) {
    QPainterPath p;
    p.addRect(r);
    return p;
}

QPainterPath Simplified(QPainterPath p) {
    if (p.elementCount() > MaxClipElements) return RectPath(p.boundingRect());
    return p;
}

} // namespace

// ---- record view -------------------------------------------------------------------------

void TRecordView::Short() const {
    const uint32_t kind =
        FBytes.size() >= 6 ? (FEnhanced ? FBytes[0] | FBytes[1] << 8 : FBytes[4] | FBytes[5] << 8)
                           : 0;
    Fail("the record at offset " + std::to_string(FOffset) + " (" +
         (FEnhanced ? "type " : "function 0x") +
         (FEnhanced ? std::to_string(kind) : QString::number(kind, 16).toStdString()) +
         ") is too short for its fields");
}

uint8_t TRecordView::U8(size_t at) const {
    if (at >= FBytes.size()) Short();
    return FBytes[at];
}
uint16_t TRecordView::U16(size_t at) const {
    if (at > FBytes.size() || FBytes.size() - at < 2) Short();
    return uint16_t(FBytes[at] | FBytes[at + 1] << 8);
}
uint32_t TRecordView::U32(size_t at) const {
    if (at > FBytes.size() || FBytes.size() - at < 4) Short();
    return uint32_t(FBytes[at]) | uint32_t(FBytes[at + 1]) << 8 | uint32_t(FBytes[at + 2]) << 16 |
           uint32_t(FBytes[at + 3]) << 24;
}
float TRecordView::F32(size_t at) const {
    const uint32_t bits = U32(at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
std::span<const uint8_t> TRecordView::Sub(uint64_t at, uint64_t count) const {
    if (at > FBytes.size() || count > FBytes.size() - at) Short();
    return FBytes.subspan(size_t(at), size_t(count));
}

std::span<const uint8_t> TRecordView::Part(uint64_t offset, uint64_t count, size_t fixed) const {
    if (count > 0 && offset < fixed)
        Fail("the record at offset " + std::to_string(FOffset) + " points into its own fields");
    return Sub(offset, count);
}

// ---- helpers -----------------------------------------------------------------------------

QColor ColorFromRef(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// ---- player ------------------------------------------------------------------------------

TPlayer::TPlayer(const TData& data, QPainter* painter, const QRectF& target)
    : FData(data), FPainter(painter), FTarget(target) {
    const QRectF& f = data.frame;
    if (f.width() != 0 && f.height() != 0)
        FDeviceToTarget =
            QTransform::fromTranslate(-f.left(), -f.top()) *
            QTransform::fromScale(target.width() / f.width(), target.height() / f.height()) *
            QTransform::fromTranslate(target.left(), target.top());
    if (painter) FBase = painter->worldTransform();
    FObjects.resize(data.objectSlots);
    FFree.assign((data.objectSlots + 63) / 64, ~uint64_t(0));
    if (data.objectSlots % 64) FFree.back() = (uint64_t(1) << (data.objectSlots % 64)) - 1;
    if (data.lockedViewport) {
        FDC.mapMode = 8;
        FDC.windowOrg = data.window.topLeft();
        FDC.windowExt = {data.window.width(), data.window.height()};
        FDC.viewportOrg = data.frame.topLeft();
        FDC.viewportExt = {data.frame.width(), data.frame.height()};
    }
    FHaveFonts = painter && qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

void TPlayer::Play() {
    if (FPainter) {
        FPainter->save();
        FPainter->setClipRect(FTarget, Qt::IntersectClip);
        FPainter->setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                                 QPainter::TextAntialiasing);
        FPainter->save(); // replaced whenever the metafile's clip changes
    }
    struct TRestore {
        QPainter* p;
        ~TRestore() {
            if (p) {
                p->restore();
                p->restore();
            }
        }
    } restore{FPainter};
    const std::span<const uint8_t> bytes(FData.bytes);
    for (size_t i = 0; i < FData.records.size(); ++i) {
        const TRecord& rec = FData.records[i];
        const TRecordView r(bytes.subspan(rec.offset, rec.size), rec.offset, FData.enhanced);
        if (FData.enhanced)
            EmfRecord(i, r, rec.type);
        else
            WmfRecord(i, r, rec.type);
    }
}

// ---- state -------------------------------------------------------------------------------

void TPlayer::PutObject(uint32_t slot, TObject object) {
    if (slot >= FObjects.size()) return;
    FObjects[slot] = std::move(object);
    FFree[slot / 64] &= ~(uint64_t(1) << (slot % 64));
}

std::optional<uint32_t> TPlayer::LowestFreeSlot() {
    for (; FFreeHint < FFree.size(); ++FFreeHint)
        if (FFree[FFreeHint])
            return uint32_t(FFreeHint * 64 + size_t(std::countr_zero(FFree[FFreeHint])));
    return std::nullopt;
}

void TPlayer::SelectObject(uint32_t slot) {
    if (slot >= FObjects.size()) return;
    const TObject& o = FObjects[slot];
    switch (o.kind) {
    case TObject::Pen:
        FDC.pen = o.pen;
        break;
    case TObject::Brush:
        FDC.brush = o.brush;
        break;
    case TObject::Font:
        FDC.font = o.font;
        break;
    case TObject::Palette:
        FDC.palette = o.palette;
        break;
    case TObject::Region: // selecting a region into a WMF makes it the clip
        CombineClip(LogicalToTarget().map(o.region), 5);
        break;
    default:
        break;
    }
}

void TPlayer::SelectStockObject(uint32_t id) {
    TBrush brush;
    TPen pen;
    switch (id) {
    case 0:
        brush.color = Qt::white;
        break;
    case 1:
        brush.color = QColor(192, 192, 192);
        break;
    case 2:
        brush.color = QColor(128, 128, 128);
        break;
    case 3:
        brush.color = QColor(64, 64, 64);
        break;
    case 4:
        brush.color = Qt::black;
        break;
    case 5:
        brush.style = 1;
        break;
    case 6:
        pen.color = Qt::white;
        break;
    case 7:
        pen.color = Qt::black;
        break;
    case 8:
        pen.style = 5;
        break;
    case 18:
        brush.color = Qt::white;
        break; // DC_BRUSH
    case 19:
        pen.color = Qt::black;
        break; // DC_PEN
    default:
        if (id >= 10 && id <= 17 && id != 15) FDC.font = TFont{};
        return;
    }
    if (id <= 5 || id == 18)
        FDC.brush = brush;
    else
        FDC.pen = pen;
}

void TPlayer::DeleteObject(uint32_t slot) {
    if (slot >= FObjects.size()) return;
    FObjects[slot] = TObject{};
    FFree[slot / 64] |= uint64_t(1) << (slot % 64);
    FFreeHint = std::min(FFreeHint, size_t(slot / 64));
}

void TPlayer::SaveDC() {
    if (FSaved.size() < MaxSavedStates) FSaved.push_back(FDC);
}

void TPlayer::RestoreDC(int relative) {
    size_t keep;
    if (relative < 0) {
        const uint64_t levels = uint64_t(-int64_t(relative));
        if (levels > FSaved.size()) return;
        keep = FSaved.size() - size_t(levels);
    } else {
        if (relative == 0 || size_t(relative) > FSaved.size()) return;
        keep = size_t(relative) - 1;
    }
    FDC = FSaved[keep];
    FSaved.resize(keep);
    ++FClipSerial;
}

void TPlayer::SetMapMode(int mode) {
    if (!ViewportLocked() && mode >= 1 && mode <= 8) FDC.mapMode = mode;
}
void TPlayer::SetWindowOrg(QPointF p) {
    FDC.windowOrg = p;
}
void TPlayer::SetWindowExt(QPointF e) {
    if (e.x() != 0 && e.y() != 0) FDC.windowExt = e;
}
void TPlayer::SetViewportOrg(QPointF p) {
    if (!ViewportLocked()) FDC.viewportOrg = p;
}
void TPlayer::SetViewportExt(QPointF e) {
    if (!ViewportLocked() && e.x() != 0 && e.y() != 0) FDC.viewportExt = e;
}

QTransform TPlayer::LogicalToDevice() const {
    double sx = 1, sy = 1;
    const int mode = ViewportLocked() ? 8 : FDC.mapMode;
    const double unitMm[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
    switch (mode) {
    case 1:
        break;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        sx = unitMm[mode] * FData.pxPerMmX;
        sy = -unitMm[mode] * FData.pxPerMmY;
        break;
    default:
        sx = FDC.viewportExt.x() / FDC.windowExt.x();
        sy = FDC.viewportExt.y() / FDC.windowExt.y();
        if (mode == 7) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    }
    const QPointF& w = FDC.windowOrg;
    const QPointF& v = FDC.viewportOrg;
    const QTransform page(sx, 0, 0, sy, v.x() - w.x() * sx, v.y() - w.y() * sy);
    return FDC.world * page;
}

// ---- drawing -----------------------------------------------------------------------------

bool TPlayer::Begin(const QTransform& toTarget) {
    if (!FPainter || !Usable(toTarget) || FDC.rop2 == 11) return false;
    if (FAppliedClip != FClipSerial) {
        FPainter->restore();
        FPainter->save();
        if (FDC.clip) {
            FPainter->setTransform(FBase);
            FPainter->setClipPath(*FDC.clip, Qt::IntersectClip);
        }
        FAppliedClip = FClipSerial;
    }
    FPainter->setTransform(toTarget * FBase);
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (FDC.rop2) {
    case 2:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case 3:
        mode = QPainter::RasterOp_NotSourceAndDestination;
        break;
    case 4:
        mode = QPainter::RasterOp_NotSource;
        break;
    case 5:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case 6:
        mode = QPainter::RasterOp_NotDestination;
        break;
    case 7:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 8:
        mode = QPainter::RasterOp_NotSourceOrNotDestination;
        break;
    case 9:
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 10:
        mode = QPainter::RasterOp_NotSourceXorDestination;
        break;
    case 12:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    case 14:
        mode = QPainter::RasterOp_SourceOrNotDestination;
        break;
    case 15:
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    default:
        break;
    }
    FPainter->setCompositionMode(mode);
    // Raster operations are defined on whole pixels.
    FPainter->setRenderHint(QPainter::Antialiasing, mode == QPainter::CompositionMode_SourceOver);
    return true;
}

void TPlayer::Account(const QRectF& r) {
    if (FPainter) return;
    for (double v : {r.left(), r.top(), r.right(), r.bottom()})
        if (!std::isfinite(v)) return;
    FBounds = FBounds.isNull() ? r : FBounds.united(r);
}

QPen TPlayer::MakePen(const QTransform& toTarget, const QPainterPath& shape) const {
    const TPen& p = FDC.pen;
    const int type = p.style & 0xF;
    if (type == 5) return Qt::NoPen;
    QColor color = p.color;
    if (FDC.rop2 == 1) color = Qt::black;
    if (FDC.rop2 == 16) color = Qt::white;
    QPen pen(color);
    const double scale = std::sqrt(std::abs(toTarget.determinant()));
    const double targetWidth = p.width * scale;
    if (p.width <= 0 || targetWidth < 1) {
        pen.setCosmetic(true);
        pen.setWidthF(1);
    } else {
        // Kept within what QPen accepts: a line wider than 10^5 output pixels covers it all anyway.
        pen.setWidthF(std::min(p.width, 1e5 / scale));
    }
    switch (p.style & 0xF00) {
    case 0x100:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case 0x200:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
        break;
    }
    switch (p.style & 0xF000) {
    case 0x1000:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case 0x2000:
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setMiterLimit(10);
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
        break;
    }
    const bool geometric = p.style & 0x10000;
    // Old-style dashed pens wider than a pixel draw solid, as on the original system.
    if (type >= 1 && type <= 4 && (geometric || std::max(targetWidth, 1.0) <= 1.5)) {
        static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                              Qt::DashDotLine, Qt::DashDotDotLine};
        pen.setStyle(styles[type]);
    } else if (type == 7 && !p.dashes.empty()) {
        QList<qreal> pattern;
        const double unit = pen.isCosmetic() ? 1 / std::max(scale, 1e-9) : p.width;
        for (double d : p.dashes)
            pattern.append(std::clamp(d / unit, 0.01, 1e4));
        if (pattern.size() % 2) pattern.append(pattern.back());
        pen.setDashPattern(pattern);
    } else if (type == 8) {
        pen.setDashPattern({1, 1});
    }
    if (pen.style() != Qt::SolidLine) {
        // Guards against outlines that would need millions of dashes.
        double patternLength = 0;
        for (qreal d : pen.dashPattern())
            patternLength += d;
        patternLength *= std::max(pen.isCosmetic() ? 1.0 : targetWidth, 1.0);
        const double length = toTarget.map(shape).length();
        if (!(length / std::max(patternLength, 1e-9) < MaxDashes)) pen.setStyle(Qt::SolidLine);
    }
    return pen;
}

QBrush TPlayer::MakeBrush(const TBrush& b) const {
    QColor color = b.color;
    if (FDC.rop2 == 1) return QBrush(Qt::black);
    if (FDC.rop2 == 16) return QBrush(Qt::white);
    switch (b.style) {
    case 1:
        return Qt::NoBrush;
    case 2: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                 Qt::FDiagPattern, Qt::BDiagPattern,
                                                 Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(color, b.hatch >= 0 && b.hatch < 6 ? hatches[b.hatch] : Qt::SolidPattern);
    }
    case 3:
    case 5:
    case 6:
        if (!b.pattern.isNull()) return QBrush(b.pattern);
        return QBrush(color);
    default:
        return QBrush(color);
    }
}

// Bitmap patterns repeat in whole output pixels, as on a screen, whatever the mapping.
QBrush TPlayer::DeviceAligned(QBrush brush) const {
    if (brush.style() == Qt::TexturePattern) brush.setTransform(FPainter->transform().inverted());
    return brush;
}

void TPlayer::Shape(const QPainterPath& path, bool fill, bool stroke) {
    if (FInPath) {
        FPath.addPath(path);
        return;
    }
    const QTransform t = LogicalToTarget();
    if (!FPainter) {
        if (Finite(t)) Account(t.mapRect(path.controlPointRect()));
        return;
    }
    if (!Begin(t)) return;
    QPainterPath p = path;
    p.setFillRule(FDC.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    if (fill && FDC.brush.style != 1) {
        if (FDC.brush.style == 2 && FDC.bkMode == 2) FPainter->fillPath(p, FDC.bkColor);
        FPainter->fillPath(p, DeviceAligned(MakeBrush(FDC.brush)));
    }
    if (stroke) {
        const QPen pen = MakePen(t, p);
        if (pen.style() != Qt::NoPen) FPainter->strokePath(p, pen);
    }
}

void TPlayer::Polyline(const std::vector<QPointF>& points) {
    if (points.empty()) return;
    QPainterPath p(points[0]);
    for (size_t i = 1; i < points.size(); ++i)
        p.lineTo(points[i]);
    if (FInPath) {
        FPath.moveTo(points[0]);
        FPath.connectPath(p);
        return;
    }
    if (points.size() >= 2) Shape(p, false, true);
}

void TPlayer::PolyTo(const std::vector<QPointF>& points, bool bezier) {
    QPainterPath p(FDC.position);
    size_t i = 0;
    if (bezier) {
        for (; i + 3 <= points.size(); i += 3)
            p.cubicTo(points[i], points[i + 1], points[i + 2]);
    } else {
        for (; i < points.size(); ++i)
            p.lineTo(points[i]);
    }
    if (i > 0) FDC.position = points[i - 1];
    if (FInPath) {
        if (FPath.elementCount() == 0 || FPath.currentPosition() != p.elementAt(0))
            FPath.moveTo(p.elementAt(0));
        FPath.connectPath(p);
        return;
    }
    if (i > 0) Shape(p, false, true);
}

void TPlayer::LineTo(QPointF to) {
    PolyTo({to}, false);
}

void TPlayer::MoveTo(QPointF p) {
    FDC.position = p;
    if (FInPath) FPath.moveTo(p);
}

void TPlayer::Arc(const QRectF& box, QPointF start, QPointF end, int kind) {
    const QRectF b = box.normalized();
    const QPointF c = b.center();
    const double rx = b.width() / 2, ry = b.height() / 2;
    if (!(rx > 0 && ry > 0)) return;
    auto angle = [&](QPointF p) {
        const double a = std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx);
        return std::isfinite(a) ? a * 180 / std::numbers::pi : 0.0;
    };
    const double a0 = angle(start);
    double sweep = angle(end) - a0;
    if (FDC.clockwise) {
        while (sweep >= 0)
            sweep -= 360;
    } else {
        while (sweep <= 0)
            sweep += 360;
    }
    QPainterPath p;
    if (kind == 2) {
        p.moveTo(c);
        p.arcTo(b, a0, sweep);
        p.closeSubpath();
    } else {
        p.arcMoveTo(b, a0);
        if (kind == 3) { // ARCTO: a line from the current position to the arc first
            QPainterPath line(FDC.position);
            line.lineTo(p.currentPosition());
            line.arcTo(b, a0, sweep);
            p = line;
        } else {
            p.arcTo(b, a0, sweep);
        }
        if (kind == 1) p.closeSubpath();
    }
    if (kind == 3) {
        FDC.position = p.currentPosition();
        if (FInPath) {
            if (FPath.elementCount() == 0) FPath.moveTo(p.elementAt(0));
            FPath.connectPath(p);
            return;
        }
    }
    Shape(p, kind == 1 || kind == 2, true);
}

void TPlayer::FillRect(const QRectF& logical, const QBrush& brush) {
    const QTransform t = LogicalToTarget();
    if (!FPainter) {
        if (Finite(t)) Account(t.mapRect(logical.normalized()));
        return;
    }
    if (!Begin(t)) return;
    FPainter->fillRect(logical.normalized(), DeviceAligned(brush));
}

void TPlayer::FillRegion(const QPainterPath& path, bool logical, const TBrush& brush) {
    const QTransform t = logical ? LogicalToTarget() : QTransform();
    if (!FPainter) {
        if (logical && Finite(t)) Account(t.mapRect(path.controlPointRect()));
        return;
    }
    if (!Begin(t)) return;
    if (brush.style == 2 && FDC.bkMode == 2) FPainter->fillPath(path, FDC.bkColor);
    FPainter->fillPath(path, DeviceAligned(MakeBrush(brush)));
}

void TPlayer::PatBlt(const QRectF& dest, uint32_t rop) {
    switch (rop) {
    case BLACKNESS:
        FillRect(dest, QBrush(Qt::black));
        return;
    case WHITENESS:
        FillRect(dest, QBrush(Qt::white));
        return;
    case 0x00AA0029:
        return; // destination unchanged
    default:
        break;
    }
    const int saved = FDC.rop2;
    if (rop == DSTINVERT) FDC.rop2 = 6;
    if (rop == PATINVERT) FDC.rop2 = 7;
    if (FDC.brush.style != 1) FillRect(dest, MakeBrush(FDC.brush));
    FDC.rop2 = saved;
}

void TPlayer::Pixel(QPointF p, QColor c) {
    const QTransform t = LogicalToTarget();
    if (!FPainter) {
        if (Finite(t)) Account(QRectF(t.map(p), QSizeF(1, 1)));
        return;
    }
    if (!Begin(t)) return;
    const QPointF at = t.map(p);
    FPainter->setTransform(FBase);
    FPainter->fillRect(QRectF(std::floor(at.x()), std::floor(at.y()), 1, 1), c);
}

// ---- clipping ----------------------------------------------------------------------------

void TPlayer::CombineClip(const QPainterPath& path, int mode) {
    if (!FPainter) return; // the reading pass has nothing to clip
    const QPainterPath operand = Simplified(path);
    const QPainterPath whole = RectPath(FTarget.adjusted(-1, -1, 1, 1));
    const QPainterPath current = FDC.clip ? *FDC.clip : whole;
    switch (mode) {
    case 1:
        FDC.clip = current.intersected(operand);
        break;
    case 2:
        if (FDC.clip) FDC.clip = current.united(operand);
        break;
    case 3:
        FDC.clip = current.united(operand).subtracted(current.intersected(operand));
        break;
    case 4:
        FDC.clip = current.subtracted(operand);
        break;
    case 5:
        FDC.clip = operand;
        break;
    default:
        return;
    }
    if (FDC.clip) FDC.clip = Simplified(*FDC.clip); // OR with no clip keeps none
    ++FClipSerial;
}

void TPlayer::IntersectClip(const QRectF& logical) {
    const QTransform t = LogicalToTarget();
    if (Finite(t)) CombineClip(t.map(RectPath(logical.normalized())), 1);
}

void TPlayer::ExcludeClip(const QRectF& logical) {
    const QTransform t = LogicalToTarget();
    if (Finite(t)) CombineClip(t.map(RectPath(logical.normalized())), 4);
}

void TPlayer::OffsetClip(QPointF logical) {
    if (!FDC.clip) return;
    const QTransform t = LogicalToTarget();
    const QPointF d = t.map(logical) - t.map(QPointF(0, 0));
    if (!std::isfinite(d.x()) || !std::isfinite(d.y())) return;
    FDC.clip->translate(d);
    ++FClipSerial;
}

// ---- paths -------------------------------------------------------------------------------

void TPlayer::BeginPath() {
    FInPath = true;
    FPathDone = false;
    FPath = QPainterPath();
}
void TPlayer::EndPath() {
    if (!FInPath) return;
    FInPath = false;
    FPathDone = true;
}
void TPlayer::AbortPath() {
    FInPath = FPathDone = false;
    FPath = QPainterPath();
}
void TPlayer::CloseFigure() {
    if (FInPath) FPath.closeSubpath();
}
void TPlayer::FinishPath(bool fill, bool stroke) {
    if (!FPathDone) return;
    const QPainterPath path = FPath;
    AbortPath();
    Shape(path, fill, stroke);
}
void TPlayer::ClipPath(int mode) {
    if (!FPathDone) return;
    QPainterPath path = FPath;
    AbortPath();
    path.setFillRule(FDC.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    const QTransform t = LogicalToTarget();
    if (Finite(t)) CombineClip(t.map(path), mode);
}

} // namespace pictor::metafile
