#pragma once

// Internal to the metafile reader: the parsed file and the record player shared by the WMF and
// EMF halves. Not for use outside src/core/Metafile*.cpp.

#include "core/Metafile.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

class QPainter;

namespace pictor::metafile {

[[noreturn]] void Fail(const std::string& reason);

// Raster operations (ROP3 codes) the player knows by name.
enum : uint32_t {
    SRCCOPY = 0x00CC0020,
    SRCPAINT = 0x00EE0086,
    SRCAND = 0x008800C6,
    SRCINVERT = 0x00660046,
    SRCERASE = 0x00440328,
    NOTSRCCOPY = 0x00330008,
    NOTSRCERASE = 0x001100A6,
    MERGEPAINT = 0x00BB0226,
    PATCOPY = 0x00F00021,
    PATINVERT = 0x005A0049,
    DSTINVERT = 0x00550009,
    BLACKNESS = 0x00000042,
    WHITENESS = 0x00FF0062,
};

inline bool Finite(const QTransform& t) {
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy(), t.m13(), t.m23(), t.m33()})
        if (!std::isfinite(v)) return false;
    return true;
}

inline bool Usable(const QTransform& t) {
    return Finite(t) && std::abs(t.determinant()) > 1e-18;
}

struct TRecord {
    uint32_t offset = 0; // of the record in the file image
    uint32_t size = 0;   // in bytes, prefix included
    uint32_t type = 0;   // EMF record type, or the WMF function number
};

struct TData {
    std::vector<uint8_t> bytes;
    bool enhanced = false;
    std::vector<TRecord> records;
    uint32_t objectSlots = 0; // size of the object table

    // WMF with a placeable header or a window extent: the logical window (initially `window`,
    // then whatever SETWINDOWORG/EXT say) is mapped onto `frame`; mapping modes and viewport
    // records are ignored. Otherwise records follow the GDI mapping rules to device pixels.
    bool lockedViewport = false;
    QRectF window;
    // The device rectangle that is mapped onto the target.
    QRectF frame;
    // Device pixels per millimetre (EMF: the reference device; WMF: 96 DPI).
    double pxPerMmX = 96 / 25.4, pxPerMmY = 96 / 25.4;

    int width = 0, height = 0;

    // Bitmaps of the records that carry one, decoded while reading (key: record index).
    std::unordered_map<size_t, QImage> images;
};

// Bounds-checked view of one record's bytes. Every accessor raises EMetafileError when the
// field lies outside the record.
class TRecordView {
public:
    TRecordView(std::span<const uint8_t> bytes, uint32_t fileOffset, bool enhanced)
        : FBytes(bytes), FOffset(fileOffset), FEnhanced(enhanced) {}
    size_t Size() const { return FBytes.size(); }
    std::span<const uint8_t> Bytes() const { return FBytes; }
    uint8_t U8(size_t at) const;
    uint16_t U16(size_t at) const;
    int16_t S16(size_t at) const { return int16_t(U16(at)); }
    uint32_t U32(size_t at) const;
    int32_t S32(size_t at) const { return int32_t(U32(at)); }
    float F32(size_t at) const;
    // WMF parameters: 16-bit words after the 6-byte prefix.
    int16_t W(size_t word) const { return S16(6 + 2 * word); }
    uint16_t UW(size_t word) const { return U16(6 + 2 * word); }
    size_t Words() const { return FBytes.size() >= 6 ? (FBytes.size() - 6) / 2 : 0; }
    // Bytes [at, at + count) of the record, checked in 64-bit arithmetic.
    std::span<const uint8_t> Sub(uint64_t at, uint64_t count) const;
    // A variable part found through an offset: it must also lie after the record's `fixed`
    // leading bytes (an offset into the fields themselves is corrupt).
    std::span<const uint8_t> Part(uint64_t offset, uint64_t count, size_t fixed) const;
    [[noreturn]] void Short() const;

private:
    std::span<const uint8_t> FBytes;
    uint32_t FOffset;
    bool FEnhanced;
};

struct TPen {
    int style = 0;    // PS_* including cap and join bits
    double width = 0; // logical units; 0 = one device pixel
    QColor color = Qt::black;
    std::vector<double> dashes; // PS_USERSTYLE entries, logical units
};

struct TBrush {
    int style = 0; // BS_SOLID, BS_NULL, BS_HATCHED, pattern
    QColor color = Qt::white;
    int hatch = 0;
    QImage pattern;
};

struct TFont {
    double height = 0, width = 0;
    int escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    uint8_t charset = 0;
    QString face;
    bool operator==(const TFont&) const = default;
};

struct TObject {
    enum TKind { None, Pen, Brush, Font, Palette, Region, Other } kind = None;
    TPen pen;
    TBrush brush;
    TFont font;
    QList<QColor> palette; // shared on copy
    QPainterPath region;   // WMF regions, logical units
};

// The device-context state that SAVEDC/RESTOREDC save and restore.
struct TDC {
    int mapMode = 1;
    QPointF windowOrg{0, 0}, windowExt{1, 1}, viewportOrg{0, 0}, viewportExt{1, 1};
    QTransform world;
    TPen pen;
    TBrush brush;
    TFont font;
    QList<QColor> palette;
    QColor textColor = Qt::black, bkColor = Qt::white;
    int bkMode = 2; // OPAQUE
    unsigned textAlign = 0;
    int polyFillMode = 1; // ALTERNATE
    int rop2 = 13;        // R2_COPYPEN
    bool clockwise = false;
    QPointF position;
    // Clip in target coordinates (after the frame-to-target mapping); none = whole target.
    std::optional<QPainterPath> clip;
};

// Plays a metafile's records. Without a painter it is the reading pass: it parses every record
// (raising EMetafileError for one that does not hold its fields), decodes the bitmaps into
// `images` and collects the extent of the drawing in device coordinates.
class TPlayer {
public:
    TPlayer(const TData& data, QPainter* painter, const QRectF& target);
    void Play();

    // Reading pass only.
    std::unordered_map<size_t, QImage>* imageSink = nullptr;
    QRectF DrawnBounds() const { return FBounds; }

private:
    // Record dispatch (MetafileWmf.cpp, MetafileEmf.cpp).
    void WmfRecord(size_t index, const TRecordView& r, uint32_t function);
    void EmfRecord(size_t index, const TRecordView& r, uint32_t type);
    void WmfBlt(size_t index, const TRecordView& r, uint32_t function);
    void EmfBlt(size_t index, const TRecordView& r, uint32_t type);
    void WmfText(const TRecordView& r, uint32_t function);
    void EmfText(const TRecordView& r, uint32_t type);
    void EmfPoly(const TRecordView& r, uint32_t type);
    void EmfRegion(const TRecordView& r, uint32_t type);
    std::optional<TObject> WmfCreate(size_t index, const TRecordView& r, uint32_t function);
    std::optional<TObject> EmfCreate(size_t index, const TRecordView& r, uint32_t type,
                                     uint32_t& slot);

    // Objects and state.
    void PutObject(uint32_t slot, TObject object);
    std::optional<uint32_t> LowestFreeSlot();
    void SelectObject(uint32_t slot);
    void SelectStockObject(uint32_t id);
    void DeleteObject(uint32_t slot);
    void SaveDC();
    void RestoreDC(int relative);
    void SetMapMode(int mode);
    void SetWindowOrg(QPointF p);
    void SetWindowExt(QPointF e);
    void SetViewportOrg(QPointF p);
    void SetViewportExt(QPointF e);
    bool ViewportLocked() const { return FData.lockedViewport; }

    // Transforms: logical -> device -> target.
    QTransform LogicalToDevice() const;
    QTransform LogicalToTarget() const { return LogicalToDevice() * FDeviceToTarget; }

    // Drawing. Paths are in logical coordinates; inside a path bracket they are collected.
    void Shape(const QPainterPath& path, bool fill, bool stroke);
    void Polyline(const std::vector<QPointF>& points);
    void PolyTo(const std::vector<QPointF>& points, bool bezier);
    void LineTo(QPointF p);
    void MoveTo(QPointF p);
    void Arc(const QRectF& box, QPointF start, QPointF end,
             int kind); // 0 arc, 1 chord, 2 pie, 3 arcto
    void FillRect(const QRectF& logical, const QBrush& brush);
    void FillRegion(const QPainterPath& path, bool logical, const TBrush& brush);
    void Text(QPointF reference, const QString& text, const std::vector<double>& dx,
              unsigned options, const std::optional<QRectF>& rect);
    // Draws the decoded bitmap of record `index`; `source` is in bitmap pixels, measured from
    // the bottom row when bottomOrigin (StretchDIBits semantics).
    void Image(size_t index, const QRectF& dest, QRectF source, uint32_t rop,
               bool bottomOrigin = false, int constantAlpha = 255,
               uint32_t transparentColor = 0xFFFFFFFF);
    void PatBlt(const QRectF& dest, uint32_t rop);
    void Pixel(QPointF p, QColor c);

    // Clip operations; rects and paths in logical coordinates unless said otherwise.
    void IntersectClip(const QRectF& logical);
    void ExcludeClip(const QRectF& logical);
    void CombineClip(const QPainterPath& target, int mode); // RGN_AND .. RGN_COPY
    void OffsetClip(QPointF logical);
    QPainterPath DeviceRegion(std::span<const uint8_t> rgnData) const; // RGNDATA, in target space

    // Path bracket (EMF).
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FinishPath(bool fill, bool stroke);
    void ClipPath(int mode);

    // Bitmaps.
    void DecodeDib(size_t index, std::span<const uint8_t> dib, uint32_t usage);
    void DecodeDibParts(size_t index, std::span<const uint8_t> bmi, std::span<const uint8_t> bits,
                        uint32_t usage, bool withAlpha);
    const QImage* ImageOf(size_t index) const;
    QColor PaletteColor(uint32_t index) const;

    QPen MakePen(const QTransform& toTarget, const QPainterPath& shape) const;
    QBrush MakeBrush(const TBrush& brush) const;
    QBrush DeviceAligned(QBrush brush) const;
    bool Begin(const QTransform& toTarget); // prepares the painter; false = draw nothing
    void Account(const QRectF& targetRect);
    QColor ColorRef(uint32_t c) const;

    const TData& FData;
    QPainter* FPainter;
    QRectF FTarget;
    QTransform FDeviceToTarget;
    QTransform FBase;
    TDC FDC;
    std::vector<TDC> FSaved;
    std::vector<TObject> FObjects;
    std::vector<uint64_t> FFree; // one bit per object slot, set when free
    size_t FFreeHint = 0;        // no free slot below word FFreeHint
    bool FInPath = false, FPathDone = false;
    QPainterPath FPath;
    QRectF FBounds;
    uint64_t FClipSerial = 0, FAppliedClip = 0;
    int64_t FImagePixels = 0;
    bool FHaveFonts = false;
    // The last font made for text, reused while the metafile keeps using it.
    std::optional<TFont> FFontKey;
    QFont FFont;
    std::optional<QFontMetricsF> FMetrics;
};

// Helpers shared by the halves.
QColor ColorFromRef(uint32_t colorRef);
// Decodes 8-bit text in a font's character set. dxIn (one advance per byte, may be empty)
// becomes dxOut, one advance per UTF-16 unit of the result.
QString DecodeBytes(std::span<const uint8_t> bytes, uint8_t charset,
                    const std::vector<double>& dxIn, std::vector<double>& dxOut);
std::vector<uint8_t> PalColorsToRgb(std::span<const uint8_t> dib, const QList<QColor>& palette);

} // namespace pictor::metafile
