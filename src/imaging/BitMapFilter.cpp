#include "imaging/BitMapFilter.h"

#include "core/ClampByte.h"
#include "imaging/RowBands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pictor {

namespace {

// The row kernels are plain loops over bytes. Loops over 3-byte pixels only vectorise with
// byte shuffles, so on x86-64 GCC also builds an AVX2 copy of each kernel and the loader picks
// one for the processor. The kernels use integer arithmetic only: both copies give the same
// bytes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PICTOR_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define PICTOR_KERNEL
#endif

void CheckSize(const Bitmap& source) {
    if (source.Width() <= 0 || source.Height() <= 0) throw EEffectError("Invalid Bitmap Size");
}

// The 24-bit picture the filters read. A pf24bit source is read in place (a converted copy
// would hold the same bytes); any other format is converted into a private copy, so the
// source is never changed.
class TWorkingCopy {
public:
    explicit TWorkingCopy(const Bitmap& source) : FPicture(&source) {
        CheckSize(source);
        if (source.PixelFormat() != TPixelFormat::pf24bit) {
            FConverted = source.ConvertTo24();
            FPicture = &FConverted;
        }
    }
    const Bitmap& Picture() const { return *FPicture; }

private:
    const Bitmap* FPicture;
    Bitmap FConverted;
};

// Runs kernel(sourceRow, resultRow, width, scratch) on every row; scratch holds width words.
template <class Kernel> Bitmap MapRows(const Bitmap& source, const Kernel& kernel) {
    const TWorkingCopy work(source);
    const Bitmap& picture = work.Picture();
    const int width = picture.Width();
    Bitmap result(width, picture.Height(), TPixelFormat::pf24bit);
    ForEachRowBand(picture.Height(), int64_t(3) * width, [&](int first, int end) {
        std::vector<uint32_t> scratch(static_cast<size_t>(width));
        for (int y = first; y < end; ++y)
            kernel(picture.ScanLine(y), result.ScanLine(y), width, scratch.data());
    });
    return result;
}

// Runs kernel(above, self, below, resultRow, width, scratch) on every row. Row indices are
// clamped, so the top and bottom rows stand in for the missing rows beyond them; the three
// pointers slide down and each step fetches one new row. scratch holds 3 * width sums.
template <class Kernel> Bitmap MapNeighbourRows(const Bitmap& source, const Kernel& kernel) {
    const TWorkingCopy work(source);
    const Bitmap& picture = work.Picture();
    const int width = picture.Width();
    const int last = picture.Height() - 1;
    Bitmap result(width, picture.Height(), TPixelFormat::pf24bit);
    ForEachRowBand(picture.Height(), int64_t(3) * width, [&](int first, int end) {
        std::vector<uint16_t> scratch(size_t(3) * size_t(width));
        const uint8_t* above = picture.ScanLine(std::max(first - 1, 0));
        const uint8_t* self = picture.ScanLine(first);
        const uint8_t* below = picture.ScanLine(std::min(first + 1, last));
        for (int y = first; y < end; ++y) {
            kernel(above, self, below, result.ScanLine(y), width, scratch.data());
            if (y + 1 < end) {
                above = self;
                self = below;
                below = picture.ScanLine(std::min(y + 2, last));
            }
        }
    });
    return result;
}

// ---- grey scale

// The grey level as defined: extended precision, rounded to nearest, halves to even.
uint8_t GrayLevel(uint8_t red, uint8_t green, uint8_t blue) {
    const long double y = 0.298912L * red + 0.586611L * green + 0.114478L * blue;
    return ClampByte(static_cast<int>(std::nearbyint(y)));
}

// The weighted sum in millionths is exact in 32 bits (at most 255,000,255). It decides the
// rounding of every pixel whose sum does not end in exactly ...500000; those exact halves are
// left to GrayLevel, because the extended-precision constants are not exactly the decimal
// weights and a few halves land just below .5. Two passes vectorise better than one.
PICTOR_KERNEL void GraySums(const uint8_t* __restrict src, uint32_t* __restrict sums, int width) {
    for (int x = 0; x < width; ++x)
        sums[x] =
            114478u * src[3 * x] + 586611u * src[3 * x + 1] + 298912u * src[3 * x + 2] + 500000u;
}

// Returns whether the row holds an exact half.
PICTOR_KERNEL bool GrayLevels(const uint32_t* __restrict sums, uint8_t* __restrict dst, int width) {
    uint32_t halves = 0;
    for (int x = 0; x < width; ++x) {
        const uint32_t y = sums[x] / 1000000u; // at most 255
        halves |= uint32_t(sums[x] == y * 1000000u);
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = uint8_t(y);
    }
    return halves != 0;
}

void FixGrayHalves(const uint8_t* src, uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = src + 3 * x;
        const uint32_t sum = 114478u * p[0] + 586611u * p[1] + 298912u * p[2];
        if (sum % 1000000u == 500000u)
            dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = GrayLevel(p[2], p[1], p[0]);
    }
}

// ---- sepia

// Cool, level and warm byte of each level, packed as blue, green, red, 0.
struct TSepiaColors {
    uint32_t Packed[256];
};

TSepiaColors MakeSepiaColors() {
    auto curve = [](int v, long double exponent) {
        return ClampByte(static_cast<int>(std::nearbyint(255.0L * std::pow(v / 255.0L, exponent))));
    };
    TSepiaColors colors;
    for (int v = 0; v < 256; ++v)
        colors.Packed[v] =
            uint32_t(curve(v, 1.33L)) | uint32_t(v) << 8 | uint32_t(curve(v, 0.75L)) << 16;
    return colors;
}

// The weights sum to 256, so the level fits a byte (and the sum 16 bits).
PICTOR_KERNEL void SepiaLevels(const uint8_t* __restrict src, uint8_t* __restrict levels,
                               int width) {
    for (int x = 0; x < width; ++x)
        levels[x] = uint8_t(
            uint16_t(29u * src[3 * x] + 150u * src[3 * x + 1] + 77u * src[3 * x + 2] + 128u) >> 8);
}

// Table lookups do not vectorise; 4-byte stores whose fourth byte the next pixel overwrites
// keep them cheap. The last pixel is stored byte by byte, so nothing past it is written.
void SepiaRow(const uint8_t* src, uint8_t* dst, int width, const TSepiaColors& colors,
              uint8_t* levels) {
    SepiaLevels(src, levels, width);
    int x = 0;
    for (; x < width - 1; ++x) {
        const uint32_t c = colors.Packed[levels[x]];
        std::memcpy(dst + 3 * x, &c, 4);
    }
    const uint32_t c = colors.Packed[levels[x]];
    dst[3 * x] = uint8_t(c);
    dst[3 * x + 1] = uint8_t(c >> 8);
    dst[3 * x + 2] = uint8_t(c >> 16);
}

// ---- negative

PICTOR_KERNEL void NegativeRow(const uint8_t* __restrict src, uint8_t* __restrict dst, int width) {
    const int n = 3 * width;
    for (int i = 0; i < n; ++i)
        dst[i] = uint8_t(~src[i]);
}

// ---- mean and sharpen
// Both work on the column sums of the three rows, byte by byte; the 3 x 3 sum of a byte is
// then the column sums of its own pixel and of the pixels left and right (3 bytes away). In
// the first and last pixel the three column taps are the pixel itself: three times its sum.

PICTOR_KERNEL void ColumnSums(const uint8_t* __restrict above, const uint8_t* __restrict self,
                              const uint8_t* __restrict below, uint16_t* __restrict sums, int n) {
    for (int i = 0; i < n; ++i)
        sums[i] = uint16_t(above[i] + self[i] + below[i]);
}

// A sum of nine bytes divided by 9 never falls on a half: plain rounding.
constexpr uint8_t MeanOfNine(unsigned sum) {
    return uint8_t((sum + 4) / 9);
}

PICTOR_KERNEL void SoftRow(const uint16_t* __restrict sums, uint8_t* __restrict dst, int width) {
    const int n = 3 * width;
    for (int c = 0; c < 3; ++c) {
        dst[c] = MeanOfNine(3u * sums[c]);
        dst[n - 3 + c] = MeanOfNine(3u * sums[n - 3 + c]);
    }
    for (int i = 3; i < n - 3; ++i)
        dst[i] = uint8_t(uint16_t(sums[i - 3] + sums[i] + sums[i + 3] + 4) / 9);
}

// ClampByte(t / 6 rounded, halves to even). t <= 0 gives 0 whatever the rounding.
constexpr uint8_t SharpOf(int t) {
    const unsigned p = unsigned(std::max(t, 0)) + 3; // rounds halves up ...
    const unsigned q = p / 6;
    const unsigned r = q - ((p == 6 * q) & q & 1u); // ... and an odd result of a half back down
    return uint8_t(std::min(r, 255u));
}

// The kernel is 15 x centre minus the 3 x 3 sum (14 in the centre, -1 around).
PICTOR_KERNEL void SharpRow(const uint16_t* __restrict sums, const uint8_t* __restrict self,
                            uint8_t* __restrict dst, int width) {
    const int n = 3 * width;
    for (int c = 0; c < 3; ++c) {
        dst[c] = SharpOf(15 * self[c] - 3 * sums[c]);
        dst[n - 3 + c] = SharpOf(15 * self[n - 3 + c] - 3 * sums[n - 3 + c]);
    }
    // SharpOf in 16-bit lanes (t lies in -2295..3825): twice as fast as in 32-bit ones.
    for (int i = 3; i < n - 3; ++i) {
        const int16_t t = int16_t(15 * self[i] - (sums[i - 3] + sums[i] + sums[i + 3]));
        const uint16_t p = uint16_t(std::max<int16_t>(t, 0) + 3);
        const uint16_t q = uint16_t(p / 6);
        const uint16_t r = uint16_t(q - ((p == 6 * q) & q & 1));
        dst[i] = uint8_t(std::min<uint16_t>(r, 255));
    }
}

// ---- emboss family
// A is the upper-left pixel, D the lower-right one; columns are clamped tap by tap.

template <int Mode> inline uint8_t GrayEmbossOf(const uint8_t* a, const uint8_t* d) {
    if constexpr (Mode == emSketch) {
        const int diff =
            (std::abs(d[0] - a[0]) + std::abs(d[1] - a[1]) + std::abs(d[2] - a[2])) / 3;
        return ClampByte(255 - diff);
    } else {
        int v = (d[0] + d[1] + d[2]) / 3 - (a[0] + a[1] + a[2]) / 3 + 128;
        if constexpr (Mode == emRelief) v = v > 158 ? v - 128 : v > 120 ? 255 : v;
        return ClampByte(v);
    }
}

template <int Mode>
PICTOR_KERNEL void GrayEmbossRow(const uint8_t* __restrict above, const uint8_t* __restrict below,
                                 uint8_t* __restrict dst, int width) {
    auto edge = [&](int x) {
        const uint8_t v = GrayEmbossOf<Mode>(above + 3 * std::max(x - 1, 0),
                                             below + 3 * std::min(x + 1, width - 1));
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
    };
    edge(0);
    if (width > 1) edge(width - 1);
    for (int x = 1; x < width - 1; ++x) {
        const uint8_t v = GrayEmbossOf<Mode>(above + 3 * (x - 1), below + 3 * (x + 1));
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
    }
}

PICTOR_KERNEL void ColorEmbossRow(const uint8_t* __restrict above, const uint8_t* __restrict self,
                                  const uint8_t* __restrict below, uint8_t* __restrict dst,
                                  int width) {
    const int n = 3 * width;
    auto edge = [&](int x) {
        const int a = 3 * std::max(x - 1, 0), d = 3 * std::min(x + 1, width - 1);
        for (int c = 0; c < 3; ++c)
            dst[3 * x + c] = ClampByte(below[d + c] - above[a + c] + self[3 * x + c]);
    };
    edge(0);
    if (width > 1) edge(width - 1);
    for (int i = 3; i < n - 3; ++i)
        dst[i] = ClampByte(below[i + 3] - above[i - 3] + self[i]);
}

template <int Mode> Bitmap GrayEmboss(const Bitmap& source) {
    return MapNeighbourRows(
        source, [](const uint8_t* above, const uint8_t*, const uint8_t* below, uint8_t* dst,
                   int width, uint16_t*) { GrayEmbossRow<Mode>(above, below, dst, width); });
}

} // namespace

Bitmap EffectGray(const Bitmap& source) {
    return MapRows(source, [](const uint8_t* src, uint8_t* dst, int width, uint32_t* sums) {
        GraySums(src, sums, width);
        if (GrayLevels(sums, dst, width)) FixGrayHalves(src, dst, width);
    });
}

Bitmap EffectSepia(const Bitmap& source) {
    CheckSize(source);
    const TSepiaColors colors = MakeSepiaColors();
    return MapRows(source,
                   [&colors](const uint8_t* src, uint8_t* dst, int width, uint32_t* scratch) {
                       SepiaRow(src, dst, width, colors, reinterpret_cast<uint8_t*>(scratch));
                   });
}

Bitmap EffectNegative(const Bitmap& source) {
    return MapRows(source, [](const uint8_t* src, uint8_t* dst, int width, uint32_t*) {
        NegativeRow(src, dst, width);
    });
}

Bitmap EffectSoft(const Bitmap& source) {
    return MapNeighbourRows(source,
                            [](const uint8_t* above, const uint8_t* self, const uint8_t* below,
                               uint8_t* dst, int width, uint16_t* sums) {
                                ColumnSums(above, self, below, sums, 3 * width);
                                SoftRow(sums, dst, width);
                            });
}

Bitmap EffectSharp(const Bitmap& source) {
    return MapNeighbourRows(source,
                            [](const uint8_t* above, const uint8_t* self, const uint8_t* below,
                               uint8_t* dst, int width, uint16_t* sums) {
                                ColumnSums(above, self, below, sums, 3 * width);
                                SharpRow(sums, self, dst, width);
                            });
}

Bitmap EffectEmboss(const Bitmap& source, int embossMode) {
    switch (embossMode) {
    case emSketch:
        return GrayEmboss<emSketch>(source);
    case emColorEmboss:
        return MapNeighbourRows(source,
                                [](const uint8_t* above, const uint8_t* self, const uint8_t* below,
                                   uint8_t* dst, int width,
                                   uint16_t*) { ColorEmbossRow(above, self, below, dst, width); });
    case emRelief:
        return GrayEmboss<emRelief>(source);
    default:
        return GrayEmboss<emEmboss>(source);
    }
}

} // namespace pictor
