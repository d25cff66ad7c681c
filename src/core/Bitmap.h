#pragma once

#include "core/PixelAllocator.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class QImage;

namespace pictor {

enum class TPixelFormat {
    pfDevice, // the screen's format; held here as 32 bpp B, G, R, unused
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit, // 5-5-5, top bit unused
    pf16bit, // 5-6-5
    pf24bit, // B, G, R
    pf32bit, // B, G, R, A (A may be unused)
    pfCustom // 16 or 32 bpp with the bit masks in ColorMasks()
};

// Index of each mask in Bitmap::ColorMasks().
enum TColorMaskIndex { cmRed = 0, cmGreen = 1, cmBlue = 2, cmAlpha = 3 };

struct TRGBQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

// A raster of Width x Height pixels. Row 0 is the top row; every row is padded to a multiple
// of 4 bytes; packed formats keep the leftmost pixel in the most significant bits.
// Copies are explicit (Copy()), so a routine that "gives X a copy" says so.
//
// A new bitmap is all zero bits; palettised formats start with a grey ramp of 2, 16 or 256
// entries. pf32bit keeps its fourth byte but never treats it as alpha (BMP files of that kind
// often hold garbage there); a picture with real alpha is a pfCustom bitmap with an alpha mask.
// The bytes of a picture's rows; see TPixelAllocator for why they are not a plain vector.
using TPixelBytes = std::vector<uint8_t, TPixelAllocator<uint8_t>>;

class Bitmap {
public:
    Bitmap() = default;
    // Raises EInvalidGraphic for a negative size or one beyond MaxSide / MaxPixels. A pfCustom
    // bitmap made this way is 32 bpp with the masks of B, G, R bytes and no alpha.
    Bitmap(int width, int height, TPixelFormat format);
    // A pfCustom bitmap of 16 or 32 bits per pixel with the given red, green, blue, alpha masks.
    static Bitmap Custom(int width, int height, int bitsPerPixel,
                         const std::array<uint32_t, 4>& masks);
    // A moved-from bitmap is empty (0 x 0).
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    Bitmap Copy() const;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
    TPixelFormat PixelFormat() const { return FFormat; }
    int BitsPerPixel() const; // 1, 4, 8, 16, 24 or 32 (15-bit formats use 16)
    size_t Stride() const { return FStride; }

    // Raises EInvalidGraphic "Scan line index out of range" for a row outside 0..Height-1.
    uint8_t* ScanLine(int row);
    const uint8_t* ScanLine(int row) const;
    // All rows, top to bottom, Stride() bytes each.
    const TPixelBytes& Bits() const { return FBits; }

    // Up to 256 entries; only the palettised formats use it.
    std::vector<TRGBQuad>& Palette() { return FPalette; }
    const std::vector<TRGBQuad>& Palette() const { return FPalette; }

    // Red, green, blue (and alpha) masks of a pfCustom bitmap.
    std::array<uint32_t, 4>& ColorMasks() { return FMasks; }
    const std::array<uint32_t, 4>& ColorMasks() const { return FMasks; }

    // True for a pfCustom bitmap with an alpha mask.
    bool HasAlpha() const;

    // Colour of one pixel whatever the format (palette index out of range gives black). Masked
    // channels are scaled to 0..255 (a 5-bit 31 gives 255). `reserved` carries the alpha of a
    // bitmap with HasAlpha(), otherwise 0. Raises EInvalidGraphic outside the bitmap.
    TRGBQuad PixelColor(int x, int y) const;

    // Same format, size, palette, masks and bits.
    bool operator==(const Bitmap& other) const;

    // A new 24 bpp (B, G, R) bitmap with the same pixels.
    Bitmap ConvertTo24() const;

    // Conversions for drawing and the clipboard. ToQImage gives Mono for 1 bpp, Indexed8 for
    // 4 and 8 bpp (palette filled up with black), ARGB32 when HasAlpha(), RGB32 otherwise.
    // FromQImage keeps 1/8-bit indexed pictures indexed and turns every other format into 24
    // bpp, or into 32 bpp (pfCustom, B G R A bytes) when it has alpha.
    QImage ToQImage() const;
    static Bitmap FromQImage(const QImage& image);

    // Largest picture accepted anywhere: guards allocations made from header values.
    static constexpr int64_t MaxPixels = int64_t(1) << 28;
    static constexpr int MaxSide = 1 << 17;

private:
    void CheckRow(int row) const;

    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FFormat = TPixelFormat::pf24bit;
    int FBitsPerPixel = 24;
    size_t FStride = 0;
    TPixelBytes FBits; // rows top to bottom
    std::vector<TRGBQuad> FPalette;
    std::array<uint32_t, 4> FMasks{};
};

} // namespace pictor
