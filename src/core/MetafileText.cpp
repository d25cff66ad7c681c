// Text records: character sets, fonts and the placement rules of TextOut/ExtTextOut.
#include "core/MetafilePlayer.h"

#include <QPainter>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pictor::metafile {

namespace {

// Symbol-font bytes that have a Unicode counterpart (Greek letters and common math signs).
QChar SymbolChar(uint8_t b) {
    static const char16_t upper[] = u"ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ";
    static const char16_t lower[] = u"αβχδεφγηιϕκλμνοπθρστυϖωξψζ";
    if (b >= 'A' && b <= 'Z') return QChar(upper[b - 'A']);
    if (b >= 'a' && b <= 'z') return QChar(lower[b - 'a']);
    switch (b) {
    case 0x2D:
        return QChar(0x2212);
    case 0xA2:
        return QChar(0x2032);
    case 0xA3:
        return QChar(0x2264);
    case 0xA5:
        return QChar(0x221E);
    case 0xAB:
        return QChar(0x2194);
    case 0xAC:
        return QChar(0x2190);
    case 0xAD:
        return QChar(0x2191);
    case 0xAE:
        return QChar(0x2192);
    case 0xAF:
        return QChar(0x2193);
    case 0xB0:
        return QChar(0x00B0);
    case 0xB1:
        return QChar(0x00B1);
    case 0xB2:
        return QChar(0x2033);
    case 0xB3:
        return QChar(0x2265);
    case 0xB4:
        return QChar(0x00D7);
    case 0xB5:
        return QChar(0x221D);
    case 0xB6:
        return QChar(0x2202);
    case 0xB7:
        return QChar(0x2022);
    case 0xB8:
        return QChar(0x00F7);
    case 0xB9:
        return QChar(0x2260);
    case 0xBA:
        return QChar(0x2261);
    case 0xBB:
        return QChar(0x2248);
    case 0xC5:
        return QChar(0x2295);
    case 0xC6:
        return QChar(0x2205);
    case 0xC7:
        return QChar(0x2229);
    case 0xC8:
        return QChar(0x222A);
    case 0xCE:
        return QChar(0x2208);
    case 0xD1:
        return QChar(0x2207);
    case 0xD5:
        return QChar(0x220F);
    case 0xD6:
        return QChar(0x221A);
    case 0xD7:
        return QChar(0x22C5);
    case 0xE5:
        return QChar(0x2211);
    case 0xF2:
        return QChar(0x222B);
    default:
        return QChar(b);
    }
}

const char* CharsetCodec(uint8_t charset) {
    switch (charset) {
    case 128:
        return "CP932";
    case 129:
        return "CP949";
    case 134:
        return "GBK";
    case 136:
        return "Big5";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 163:
        return "windows-1258";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    case 255:
        return "IBM437";
    default:
        return "windows-1252";
    }
}

} // namespace

// ---- text --------------------------------------------------------------------------------

QString DecodeBytes(std::span<const uint8_t> bytes, uint8_t charset,
                    const std::vector<double>& dxIn, std::vector<double>& dxOut) {
    dxOut.clear();
    const bool withDx = dxIn.size() == bytes.size() && !bytes.empty();
    const char* codec = CharsetCodec(charset);
    if (charset == 1) {
        // DEFAULT_CHARSET is the writer's system code page; Japanese files are the ones that
        // matter here, so text that is valid Shift-JIS with double-byte characters is taken as
        // such and anything else as Windows Latin.
        QStringDecoder sjis("CP932", QStringDecoder::Flag::Stateless);
        const QByteArrayView view(bytes.data(), qsizetype(bytes.size()));
        const QString s = sjis.decode(view);
        if (!sjis.hasError() && qsizetype(bytes.size()) > s.size()) codec = "CP932";
    }
    QStringDecoder decoder(codec);
    if (charset == 2 || !decoder.isValid()) {
        QString s;
        for (uint8_t b : bytes)
            s.append(charset == 2 ? SymbolChar(b) : QChar(b));
        if (withDx) dxOut = dxIn;
        return s;
    }
    if (!withDx) return decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    // Byte by byte, so each character gets the advances of the bytes it was made of.
    QString s;
    double pending = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const QString part = decoder.decode(QByteArrayView(bytes.data() + i, 1));
        pending += dxIn[i];
        if (part.isEmpty()) continue;
        s += part;
        dxOut.push_back(pending);
        dxOut.resize(size_t(s.size()), 0);
        pending = 0;
    }
    if (!dxOut.empty()) dxOut.back() += pending;
    return s;
}

void TPlayer::Text(QPointF ref, const QString& text, const std::vector<double>& dx,
                   unsigned options, const std::optional<QRectF>& rect) {
    if (FInPath) return; // glyph outlines are not collected into paths
    const bool updateCp = FDC.textAlign & 1;
    if (updateCp) ref = FDC.position;
    if (rect && (options & 2)) FillRect(*rect, QBrush(FDC.bkColor)); // ETO_OPAQUE
    if (text.isEmpty()) return;

    const QTransform t = LogicalToTarget();
    if (!Finite(t)) return;
    const QPointF origin = t.map(ref);
    QPointF ux = t.map(ref + QPointF(1, 0)) - origin;
    const QPointF uy = t.map(ref + QPointF(0, 1)) - origin;
    const double sx = std::hypot(ux.x(), ux.y()), sy = std::hypot(uy.x(), uy.y());
    if (!(sx > 0 && sy > 0) || !std::isfinite(origin.x()) || !std::isfinite(origin.y())) return;
    // A mirrored mapping keeps text readable, as the original system does.
    if (ux.x() * uy.y() - ux.y() * uy.x() < 0 && ux.x() < 0) ux = -ux;
    const double angle =
        std::atan2(ux.y(), ux.x()) * 180 / std::numbers::pi - FDC.font.escapement / 10.0;
    const double frameScale = std::sqrt(std::abs(FDeviceToTarget.determinant()));
    double size = FDC.font.height == 0 ? 12 * frameScale : std::abs(FDC.font.height) * sy;
    size = std::clamp(size, 0.01, 1e5);

    double dxTotal = 0;
    for (double d : dx)
        dxTotal += d;

    if (!FPainter || !FHaveFonts) {
        // Reading pass (or no fonts): an estimate of the text box for the drawing's extent.
        const double width = dx.empty() ? text.size() * size * 0.55 : dxTotal * sx;
        if (updateCp) FDC.position = ref + QPointF(width / sx, 0);
        const double x0 = (FDC.textAlign & 6) == 6   ? -width / 2
                          : (FDC.textAlign & 6) == 2 ? -width
                                                     : 0;
        const double y0 = (FDC.textAlign & 24) == 0   ? 0
                          : (FDC.textAlign & 24) == 8 ? -size
                                                      : -size * 0.8;
        Account(QRectF(origin + QPointF(x0, y0), QSizeF(width, size)));
        return;
    }

    // Fonts are made at a comfortable pixel size and scaled, so tiny or fractional sizes keep
    // their proportions.
    const int nominal = 64;
    if (FFontKey != FDC.font) {
        QFont font(FDC.font.face.isEmpty() ? QStringLiteral("Sans") : FDC.font.face);
        font.setPixelSize(nominal);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setWeight(
            QFont::Weight(std::clamp(FDC.font.weight == 0 ? 400 : FDC.font.weight, 100, 900)));
        font.setItalic(FDC.font.italic);
        font.setUnderline(FDC.font.underline);
        font.setStrikeOut(FDC.font.strikeOut);
        FFont = font;
        FMetrics.emplace(font);
        FFontKey = FDC.font;
    }
    const QFont& font = FFont;
    const QFontMetricsF& fm = *FMetrics;
    if (FDC.font.height > 0 && fm.ascent() + fm.descent() > 0)
        size *= nominal / (fm.ascent() + fm.descent()); // a cell height, not an em size
    const double k = size / nominal;
    const double width = dx.empty() ? fm.horizontalAdvance(text) * k : dxTotal * sx;
    const double ascent = fm.ascent() * k, descent = fm.descent() * k;
    const double x0 = (FDC.textAlign & 6) == 6 ? -width / 2 : (FDC.textAlign & 6) == 2 ? -width : 0;
    const double y0 = (FDC.textAlign & 24) == 0 ? ascent : (FDC.textAlign & 24) == 8 ? -descent : 0;
    if (updateCp) FDC.position = ref + QPointF(width / sx, 0);

    const int savedRop = FDC.rop2;
    FDC.rop2 = 13;
    const bool ok = Begin(t);
    FDC.rop2 = savedRop;
    if (!ok) return;
    FPainter->save();
    if (rect && (options & 4)) FPainter->setClipRect(rect->normalized(), Qt::IntersectClip);
    QTransform place;
    place.translate(origin.x(), origin.y());
    place.rotate(angle);
    FPainter->setTransform(place * FBase);
    if (FDC.bkMode == 2 && !(rect && (options & 2)))
        FPainter->fillRect(QRectF(x0, y0 - ascent, width, ascent + descent), FDC.bkColor);
    FPainter->scale(k, k);
    FPainter->setFont(font);
    FPainter->setPen(FDC.textColor);
    if (dx.empty() || size_t(text.size()) != dx.size()) {
        FPainter->drawText(QPointF(x0 / k, y0 / k), text);
    } else {
        double x = x0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            qsizetype n = 1;
            if (text[i].isHighSurrogate() && i + 1 < text.size()) n = 2;
            FPainter->drawText(QPointF(x / k, y0 / k), text.mid(i, n));
            for (qsizetype j = 0; j < n; ++j)
                x += dx[size_t(i + j)] * sx;
            i += n - 1;
        }
    }
    FPainter->restore();
}

} // namespace pictor::metafile
