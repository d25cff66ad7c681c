// Fuzz target for the JPEG reader (libjpeg-turbo behind our error, size and scan limits) at
// every scale. Besides "no crash, no leak after a refused file", it checks that the output
// size is the header's frame size scaled as libjpeg does, that decoding into a reused buffer
// gives the same pixels as a fresh decode, that a failed decode leaves that buffer empty, and
// that a decoded picture survives encoding and decoding again.
#include "core/JpegCodec.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what, int denom) {
    std::fprintf(stderr, "fuzz_jpeg oracle failed at 1/%d: %s\n", denom, what);
    std::abort();
}

// Only EJpegError is an acceptable way to refuse; anything else escapes and counts as a crash.
std::optional<Bitmap> TryRead(std::span<const uint8_t> data, int denom) {
    try {
        return ReadJpeg(data, denom);
    } catch (const EJpegError&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    int frameWidth = 0, frameHeight = 0;
    const bool header = ReadJpegHeaderSize(bytes, frameWidth, frameHeight);
    // Kept between inputs, so mutants of one seed decode into a buffer of their own size.
    static std::array<Bitmap, 4> reuse;
    int slot = 0;
    for (int denom : {1, 2, 4, 8}) {
        const std::optional<Bitmap> fresh = TryRead(bytes, denom);
        Bitmap& again = reuse[size_t(slot++)];
        bool reused = true;
        try {
            ReadJpegInto(bytes, again, denom);
        } catch (const EJpegError&) {
            reused = false;
            if (!again.Empty()) Broken("a failed decode left a picture in the buffer", denom);
        }
        if (fresh.has_value() != reused) Broken("decoding into a kept buffer disagrees", denom);
        if (!fresh) continue;
        const Bitmap& b = *fresh;
        if (!header) Broken("a picture from a file whose header cannot be read", denom);
        int w = 0, h = 0;
        JpegScaledSize(frameWidth, frameHeight, denom, w, h);
        if (b.Width() != w || b.Height() != h) Broken("output size is not the scaled frame", denom);
        if (b.PixelFormat() != TPixelFormat::pf24bit) Broken("not a 24-bit picture", denom);
        if (int64_t(frameWidth) * frameHeight > (int64_t(1) << 20)) Broken("frame beyond the cap", denom);
        if (!(again == b)) Broken("a kept buffer decodes to other pixels", denom);
        if (denom == 8) {
            const Bitmap back = ReadJpeg(WriteJpeg(b, 75));
            if (back.Width() != b.Width() || back.Height() != b.Height())
                Broken("an encoded picture reads back with another size", denom);
        }
    }
    return 0;
}
