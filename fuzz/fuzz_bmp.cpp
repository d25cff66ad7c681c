// Fuzz target for the BMP/DIB reader. Besides "no crash", it checks that decoding is
// repeatable, that no picture beyond the reader's cap is produced, and that what was decoded
// survives writing and reading back unchanged.
#include "core/BmpCodec.h"

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_bmp oracle failed: %s\n", what);
    std::abort();
}

bool SameColours(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(a.PixelColor(x, y) == b.PixelColor(x, y))) return false;
    return true;
}

// Only EBmpError is an acceptable way to refuse; anything else escapes and counts as a crash.
std::optional<Bitmap> TryRead(Bitmap (*read)(std::span<const uint8_t>),
                              std::span<const uint8_t> data) {
    try {
        return read(data);
    } catch (const EBmpError&) {
        return std::nullopt;
    }
}

void Check(Bitmap (*read)(std::span<const uint8_t>), Bitmap (*readBack)(std::span<const uint8_t>),
           std::vector<uint8_t> (*write)(const Bitmap&), std::span<const uint8_t> data) {
    const std::optional<Bitmap> first = TryRead(read, data);
    const std::optional<Bitmap> second = TryRead(read, data);
    if (first.has_value() != second.has_value()) Broken("second decode disagrees");
    if (!first) return;
    if (!(*first == *second)) Broken("second decode gives other pixels");
    const Bitmap& b = *first;
    if (b.Empty()) Broken("empty picture accepted");
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (int64_t(b.Width()) * b.Height() > (int64_t(1) << 20)) Broken("picture beyond the cap");
#endif

    const Bitmap again = readBack(write(b));
    if (again.Width() != b.Width() || again.Height() != b.Height() ||
        again.BitsPerPixel() != b.BitsPerPixel())
        Broken("written picture reads back with another size or depth");
    if (!SameColours(b, again)) Broken("written picture reads back with other colours");
    // The 24-bpp and QImage conversions must show the same colours as the pixel accessor, and
    // coming back from QImage must keep them.
    const Bitmap b24 = b.ConvertTo24();
    const QImage image = b.ToQImage();
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const TRGBQuad c = b.PixelColor(x, y);
            if (!(b24.PixelColor(x, y) == TRGBQuad{c.blue, c.green, c.red, 0}))
                Broken("ConvertTo24 disagrees with PixelColor");
            if (image.pixel(x, y) != qRgba(c.red, c.green, c.blue, b.HasAlpha() ? c.reserved : 255))
                Broken("ToQImage disagrees with PixelColor");
        }
    if (!SameColours(b, Bitmap::FromQImage(image))) Broken("FromQImage changes colours");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    Check(ReadBmp, ReadBmp, WriteBmp, bytes);
    // The same bytes as a headerless DIB (skipping a file header when there is one), so both
    // entry points see every mutation.
    const bool file = size >= 14 && data[0] == 'B' && data[1] == 'M';
    Check(ReadDib, ReadDib, WriteDib, file ? bytes.subspan(14) : bytes);
    return 0;
}
