// Fuzz target for the icon reader. Besides "no crash", it checks that decoding is repeatable,
// that loading as an icon is the list's first image, that what was decoded is consistent
// (sizes, masks, the composite's alpha) and that nothing beyond the reader's caps comes out.
#include "core/IconReader.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_ico oracle failed: %s\n", what);
    std::abort();
}

// Only EIconError is an acceptable way to refuse; anything else escapes and counts as a crash.
template <typename F> auto TryRead(F read) -> std::optional<decltype(read())> {
    try {
        return read();
    } catch (const EIconError&) {
        return std::nullopt;
    }
}

bool Same(const TIconImage& a, const TIconImage& b) {
    return a.Width == b.Width && a.Height == b.Height && a.BitCount == b.BitCount &&
           a.Png == b.Png && a.Picture == b.Picture && a.Mask == b.Mask;
}

void CheckImage(const TIconImage& im) {
    const Bitmap& p = im.Picture;
    if (p.Empty() || p.Width() != im.Width || p.Height() != im.Height)
        Broken("picture size differs from the image's");
    if (!im.Mask.Empty() && (im.Mask.Width() != im.Width || im.Mask.Height() != im.Height ||
                             im.Mask.PixelFormat() != TPixelFormat::pf1bit))
        Broken("mask is not a 1-bpp bitmap of the picture's size");
    if (im.Png && !im.Mask.Empty()) Broken("PNG image with a mask");
    const Bitmap c = im.Composite();
    if (!c.HasAlpha() || c.Width() != im.Width || c.Height() != im.Height)
        Broken("composite is not an alpha bitmap of the picture's size");
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) {
            const TRGBQuad pc = p.PixelColor(x, y), cc = c.PixelColor(x, y);
            if (p.HasAlpha()) {
                if (cc.reserved != pc.reserved) Broken("composite loses the picture's alpha");
                continue;
            }
            const bool masked = !im.Mask.Empty() && im.Mask.PixelColor(x, y).red;
            if (masked ? !(cc == TRGBQuad{}) : !(cc == TRGBQuad{pc.blue, pc.green, pc.red, 255}))
                Broken("composite disagrees with picture and mask");
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        // libpng complaints about broken PNG entries are expected; keep the log readable.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    const std::span<const uint8_t> bytes(data, size);
    const auto all = TryRead([&] { return ReadIconImages(bytes); });
    const auto again = TryRead([&] { return ReadIconImages(bytes); });
    const auto first = TryRead([&] { return LoadIcon(bytes); });
    if (all.has_value() != again.has_value()) Broken("second decode disagrees");
    if (!all) return 0;
    if (!first) Broken("the list decodes but its first image does not");
    if (all->size() != again->size() || all->empty()) Broken("image count differs or is 0");
    if (!Same(*first, all->front())) Broken("LoadIcon is not the first image");
    int64_t pixels = 0;
    for (size_t i = 0; i < all->size(); ++i) {
        if (!Same((*all)[i], (*again)[i])) Broken("second decode gives other pixels");
        CheckImage((*all)[i]);
        pixels += int64_t((*all)[i].Width) * (*all)[i].Height;
    }
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (all->size() > 256) Broken("more images than the cap");
    if (pixels > (int64_t(1) << 20)) Broken("pictures beyond the cap");
#endif
    return 0;
}
