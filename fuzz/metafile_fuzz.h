#pragma once

// Shared body of the WMF and EMF fuzz targets: read, play onto a small canvas, and check the
// padding oracle: a record grown by zero bytes that its fields do not cover (its size field
// raised to match) must give the same picture. Records whose layout depends on their size are
// left out of the oracle.
#include "core/Metafile.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

namespace pictor_fuzz {

using namespace pictor;

[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "metafile fuzz oracle failed: %s\n", what);
    std::abort();
}

// Text needs fonts, and fonts need a GUI application (on the offscreen platform).
inline void EnsureApplication() {
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_metafile";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}

inline std::optional<TMetafile> TryRead(std::span<const uint8_t> data) {
    try {
        return TMetafile::Read(data);
    } catch (const EMetafileError&) {
        return std::nullopt;
    }
}

inline QImage Render(const TMetafile& m) {
    QImage image(61, 47, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    m.Draw(painter, QRectF(2.5, 1, 56, 44));
    painter.end();
    return image;
}

struct TSpan {
    size_t offset, size;
};

// Record boundaries (offset, size in bytes) the way the reader frames them, up to EOF.
inline std::vector<TSpan> Records(std::span<const uint8_t> d, bool enhanced) {
    auto u32 = [&](size_t at) {
        return uint32_t(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24);
    };
    std::vector<TSpan> out;
    if (enhanced) {
        for (size_t pos = 0; d.size() - pos >= 8;) {
            const uint32_t type = u32(pos), size = u32(pos + 4);
            if (size < 8 || size > d.size() - pos) break;
            if (type != 1 && type != 14) out.push_back({pos, size});
            if (type == 14) break;
            pos += size;
        }
        return out;
    }
    size_t pos = (d.size() >= 4 && u32(0) == 0x9AC6CDD7 ? 22 : 0) + 18;
    while (pos <= d.size() && d.size() - pos >= 6) {
        const uint64_t size = uint64_t(u32(pos)) * 2;
        const uint8_t f = d[pos + 4];
        if (size < 6 || size > d.size() - pos || (f == 0 && d[pos + 5] == 0)) break;
        // Left out: forms told apart by size (blits, text with optional advances) and records
        // holding bitmaps, whose decoders may reject trailing bytes.
        const bool sizeDependent =
            f == 0x22 || f == 0x23 || f == 0x32 || f == 0x33 || (f >= 0x40 && f <= 0x43);
        if (!sizeDependent) out.push_back({pos, size_t(size)});
        pos += size_t(size);
    }
    return out;
}

inline void Check(const uint8_t* data, size_t size) {
    EnsureApplication();
    const std::span<const uint8_t> bytes(data, size);
    const std::optional<TMetafile> m = TryRead(bytes);
    if (!m) return;
    if (m->Width() < 1 || m->Height() < 1 || m->Width() > TMetafile::MaxSide ||
        m->Height() > TMetafile::MaxSide ||
        int64_t(m->Width()) * m->Height() > TMetafile::MaxPixels)
        Broken("natural size outside the caps");
    const QImage first = Render(*m);
    (void)m->ToBitmap(19, 7);

    const std::vector<TSpan> records = Records(bytes, m->Enhanced());
    if (records.empty()) return;
    const TSpan r = records[(size + data[size / 2]) % records.size()];
    const size_t pad = m->Enhanced() ? 4 : 2;
    std::vector<uint8_t> grown(data, data + size);
    grown.insert(grown.begin() + std::ptrdiff_t(r.offset + r.size), pad, 0);
    const uint32_t newSize = uint32_t(m->Enhanced() ? r.size + pad : (r.size + pad) / 2);
    const size_t field = r.offset + (m->Enhanced() ? 4 : 0);
    for (int i = 0; i < 4; ++i)
        grown[field + size_t(i)] = uint8_t(newSize >> (8 * i));
    const std::optional<TMetafile> padded = TryRead(grown);
    if (!padded) Broken("padding a record made the metafile unreadable");
    if (padded->Width() != m->Width() || padded->Height() != m->Height())
        Broken("padding a record changed the size");
    if (Render(*padded) != first) Broken("padding a record changed the picture");
}

} // namespace pictor_fuzz

// Fontconfig keeps a few blocks of its start-up for good without a pointer to them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
