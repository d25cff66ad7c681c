// Fuzz target for the host's handling of the two blocks a picture plug-in returns: the checks,
// the BMP image written from them and its conversion to a bitmap.
//
// Input: a 16-bit little-endian length n, then the info block (n bytes, or fewer when the input
// ends), then the pixel block (the rest). Each block is copied into a heap buffer of exactly its
// size, so AddressSanitizer reports any read past the size the host was given.
#include "core/BmpCodec.h"
#include "plugins/SPIBmp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_plugin_dib oracle failed: %s\n", what);
    std::abort();
}

std::unique_ptr<uint8_t[]> Exact(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size) std::memcpy(copy.get(), data, size);
    return copy;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t infoSize = std::min<size_t>(size_t(data[0] | data[1] << 8), size - 2);
    const size_t pixelSize = size - 2 - infoSize;
    const auto info = Exact(data + 2, infoSize);
    const auto pixels = Exact(data + 2 + infoSize, pixelSize);
    const std::span<const uint8_t> infoBlock(info.get(), infoSize),
        pixelBlock(pixels.get(), pixelSize);

    TSPIDibLayout layout;
    try {
        layout = AnalyseSPIDib(infoBlock, pixelSize);
    } catch (const EInvalidGraphic&) {
        // Refused blocks are refused by the whole conversion too.
        try {
            SPIDibToBitmap(infoBlock, pixelBlock);
        } catch (const EInvalidGraphic&) {
            return 0;
        }
        Broken("conversion accepts blocks the analysis refuses");
    }
    if (layout.InfoSize > infoSize || layout.ImageSize > pixelSize)
        Broken("layout larger than its blocks");

    TMemoryStream image;
    WriteSPIDibBmp(layout, infoBlock, pixelBlock, image);
    if (uint64_t(image.Size()) != 14 + uint64_t(layout.InfoSize) + layout.ImageSize)
        Broken("BMP image of the wrong size");

    // What the host accepts, the BMP reader must read, with the header's size and the pixels
    // the packed-DIB reader finds in the described part of the blocks.
    Bitmap bitmap;
    try {
        bitmap = SPIDibToBitmap(infoBlock, pixelBlock);
    } catch (const EInvalidGraphic&) {
        Broken("accepted blocks do not convert");
    }
    const int32_t rows = layout.Height < 0 ? -layout.Height : layout.Height;
    if (bitmap.Width() != layout.Width || bitmap.Height() != rows)
        Broken("bitmap size differs from the header");
    std::vector<uint8_t> packed(infoBlock.begin(), infoBlock.begin() + ptrdiff_t(layout.InfoSize));
    packed.insert(packed.end(), pixelBlock.begin(),
                  pixelBlock.begin() + ptrdiff_t(layout.ImageSize));
    if (!(ReadDib(packed) == bitmap)) Broken("bitmap differs from the packed DIB's");
    return 0;
}
