// Writing a metafile of a bitmap's own size that holds the bitmap as one stretched DIB.
#include "core/BmpCodec.h"

#include "core/FileIO.h"
#include "core/Metafile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pictor {

namespace {

constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint16_t HALFTONE = 4;

struct TWriter {
    std::vector<uint8_t> out;
    void U16(uint32_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Bytes(const std::vector<uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); }
    void Pad(size_t multiple) {
        while (out.size() % multiple)
            out.push_back(0);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + size_t(i)] = uint8_t(v >> (8 * i));
    }
};

// The DIB written into the metafile: palettised bitmaps keep their depth, everything else is
// 24 bits per pixel (what every metafile reader understands).
std::vector<uint8_t> DibOf(const Bitmap& bitmap) {
    if (bitmap.Empty()) throw EInvalidGraphic("An empty bitmap cannot be written as a metafile");
    return bitmap.BitsPerPixel() <= 8 ? WriteDib(bitmap) : WriteDib(bitmap.ConvertTo24());
}

size_t BitsSize(const Bitmap& bitmap) {
    const int bpp = bitmap.BitsPerPixel() <= 8 ? bitmap.BitsPerPixel() : 24;
    return size_t(bitmap.Height()) * ((size_t(bitmap.Width()) * size_t(bpp) + 31) / 32 * 4);
}


} // namespace

std::vector<uint8_t> WriteWmf(const Bitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    if (w > 32767 || h > 32767)
        throw EInvalidGraphic("A WMF cannot hold a picture larger than 32767 x 32767 pixels");
    const std::vector<uint8_t> dib = DibOf(bitmap);
    TWriter f;
    // Placeable header: the box in pixels at 96 units per inch.
    f.U32(0x9AC6CDD7);
    f.U16(0);
    for (uint32_t v : {0, 0, w, h})
        f.U16(v);
    f.U16(96);
    f.U32(0);
    uint16_t sum = 0;
    for (size_t i = 0; i < 20; i += 2)
        sum ^= uint16_t(f.out[i] | f.out[i + 1] << 8);
    f.U16(sum);

    const size_t header = f.out.size();
    const uint64_t blitBytes = (28 + uint64_t(dib.size()) + 1) & ~uint64_t(1);
    if (blitBytes / 2 > UINT32_MAX) throw EInvalidGraphic("The bitmap is too large for a WMF");
    f.U16(1);
    f.U16(9);
    f.U16(0x0300);
    f.U32(0); // file size in words, filled in below
    f.U16(0);
    f.U32(uint32_t(blitBytes / 2));
    f.U16(0);
    // SETMAPMODE anisotropic, SETWINDOWORG (0, 0), SETWINDOWEXT (y, x), SETSTRETCHBLTMODE.
    f.U32(4), f.U16(0x0103), f.U16(8);
    f.U32(5), f.U16(0x020B), f.U16(0), f.U16(0);
    f.U32(5), f.U16(0x020C), f.U16(uint32_t(h)), f.U16(uint32_t(w));
    f.U32(4), f.U16(0x0107), f.U16(HALFTONE);
    // STRETCHDIB: rop, usage, source h, w, y, x, destination h, w, y, x, DIB.
    f.U32(uint32_t(blitBytes / 2));
    f.U16(0x0F43);
    f.U32(SRCCOPY);
    f.U16(0);
    for (uint32_t v : {h, w, 0, 0, h, w, 0, 0})
        f.U16(v);
    f.Bytes(dib);
    f.Pad(2);
    f.U32(3), f.U16(0); // META_EOF
    const uint64_t words = (f.out.size() - header) / 2;
    if (words > UINT32_MAX) throw EInvalidGraphic("The bitmap is too large for a WMF");
    f.Put32(header + 6, uint32_t(words));
    return std::move(f.out);
}

std::vector<uint8_t> WriteEmf(const Bitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const std::vector<uint8_t> dib = DibOf(bitmap);
    const size_t bits = BitsSize(bitmap);
    const size_t bmi = dib.size() - bits;
    const uint64_t blitSize = (80 + uint64_t(dib.size()) + 3) & ~uint64_t(3);
    const uint64_t total = 108 + 12 + blitSize + 20;
    if (total > UINT32_MAX) throw EInvalidGraphic("The bitmap is too large for an EMF");
    TWriter f;
    // EMR_HEADER: bounds (pixels, inclusive), frame (0.01 mm at 96 DPI, inclusive), signature,
    // version, size, records, handles, description, palette, reference device (96 DPI).
    f.U32(1), f.U32(108);
    for (uint32_t v : {0, 0, w - 1, h - 1})
        f.U32(v);
    f.U32(0), f.U32(0);
    f.U32(uint32_t(std::lround(w * 2540.0 / 96) - 1));
    f.U32(uint32_t(std::lround(h * 2540.0 / 96) - 1));
    f.U32(0x464D4520), f.U32(0x00010000), f.U32(uint32_t(total)), f.U32(4);
    f.U16(1), f.U16(0);
    f.U32(0), f.U32(0), f.U32(0);
    f.U32(1920), f.U32(1080), f.U32(508), f.U32(286);
    f.U32(0), f.U32(0), f.U32(0);
    f.U32(508000), f.U32(285750);
    // EMR_SETSTRETCHBLTMODE halftone, so that viewers scaling the picture smooth it.
    f.U32(21), f.U32(12), f.U32(HALFTONE);
    // EMR_STRETCHDIBITS.
    f.U32(81), f.U32(uint32_t(blitSize));
    for (uint32_t v : {0, 0, w - 1, h - 1})
        f.U32(v);
    f.U32(0), f.U32(0), f.U32(0), f.U32(0); // destination x, y; source x, y
    f.U32(uint32_t(w)), f.U32(uint32_t(h));
    f.U32(80), f.U32(uint32_t(bmi)), f.U32(uint32_t(80 + bmi)), f.U32(uint32_t(bits));
    f.U32(0), f.U32(SRCCOPY), f.U32(uint32_t(w)), f.U32(uint32_t(h));
    f.Bytes(dib);
    f.Pad(4);
    // EMR_EOF: no palette; the last field repeats the record size.
    f.U32(14), f.U32(20), f.U32(0), f.U32(16), f.U32(20);
    return std::move(f.out);
}

void SaveMetafile(const Bitmap& bitmap, const std::string& path, bool enhanced) {
    const std::vector<uint8_t> data = enhanced ? WriteEmf(bitmap) : WriteWmf(bitmap);
    WriteFileAtomically(path, data);
}

} // namespace pictor
