#pragma once

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

struct TRGBQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

// A raster of Width x Height pixels. Row 0 is the top row; every row is padded to a multiple
// of 4 bytes; packed formats keep the leftmost pixel in the most significant bits.
// Copies are explicit (Copy()), so a routine that "gives X a copy" says so.
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height, TPixelFormat format);
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    Bitmap Copy() const;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
    TPixelFormat PixelFormat() const { return FFormat; }
    int BitsPerPixel() const; // 1, 4, 8, 16, 24 or 32 (15-bit formats use 16)
    size_t Stride() const { return FStride; }

    uint8_t* ScanLine(int row);
    const uint8_t* ScanLine(int row) const;

    // Up to 256 entries; only the palettised formats use it.
    std::vector<TRGBQuad>& Palette() { return FPalette; }
    const std::vector<TRGBQuad>& Palette() const { return FPalette; }

    // Red, green, blue (and alpha) masks of a pfCustom bitmap.
    std::array<uint32_t, 4>& ColorMasks() { return FMasks; }
    const std::array<uint32_t, 4>& ColorMasks() const { return FMasks; }

    // Colour of one pixel whatever the format (palette index out of range gives black).
    TRGBQuad PixelColor(int x, int y) const;

    // A new 24 bpp (B, G, R) bitmap with the same pixels.
    Bitmap ConvertTo24() const;

    // Conversions for drawing and the clipboard. FromQImage keeps 1/8-bit indexed pictures
    // indexed and turns every other format into 24 or 32 bpp (32 when it has alpha).
    QImage ToQImage() const;
    static Bitmap FromQImage(const QImage& image);

    // Largest picture accepted anywhere: guards allocations made from header values.
    static constexpr int64_t MaxPixels = int64_t(1) << 28;
    static constexpr int MaxSide = 1 << 17;

private:
    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FFormat = TPixelFormat::pf24bit;
    size_t FStride = 0;
    std::vector<uint8_t> FBits; // rows top to bottom
    std::vector<TRGBQuad> FPalette;
    std::array<uint32_t, 4> FMasks{};
};

} // namespace pictor
