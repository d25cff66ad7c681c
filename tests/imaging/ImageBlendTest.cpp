#include "imaging/ImageBlend.h"

#include "core/Exception.h"
#include "imaging/RowBands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace pictor {
namespace {

template <class F> auto WithThreads(int n, F make) {
    TRowBandThreads setting(n);
    return make();
}

// The blend as written: single-precision weight, extended sum, truncation, clamp.
int BlendRef(int h, int o, int p) {
    const float a = p / 10.0f;
    const long double v = (1.0L - a) * h + static_cast<long double>(a) * o;
    const long long t = static_cast<long long>(truncl(v));
    return t < 0 ? 0 : t > 255 ? 255 : int(t);
}

Bitmap RandomPicture(int width, int height, unsigned seed,
                     TPixelFormat format = TPixelFormat::pf24bit) {
    Bitmap b(width, height, format);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < width * b.BitsPerPixel() / 8; ++i) // pixels only, not padding
            row[i] = uint8_t(rng());
    }
    return b;
}

TEST(ImageBlend, EveryPairAndWeightMatchesTheExtendedFormula) {
    // All 65536 (H, O) pairs in one row, shifted by one byte so the vector loads are
    // unaligned, plus a 9-byte tail for the scalar end of the loop.
    const int64_t bytes = 65536 + 9;
    std::vector<uint8_t> object(bytes + 1), composite(bytes + 1), result(bytes + 1);
    std::mt19937 rng(11);
    for (int64_t i = 0; i < bytes; ++i) {
        const uint32_t pair = i < 65536 ? uint32_t(i) : uint32_t(rng());
        composite[size_t(i) + 1] = uint8_t(pair);
        object[size_t(i) + 1] = uint8_t(pair >> 8);
    }
    for (int p = 0; p <= 10; ++p) {
        const TBlendWeight weight(p);
        EXPECT_EQ(weight.Alpha(), p / 10.0f);
        BlendRow(object.data() + 1, composite.data() + 1, result.data() + 1, bytes, weight);
        for (int64_t i = 0; i < bytes; ++i) {
            const int h = composite[size_t(i) + 1], o = object[size_t(i) + 1];
            ASSERT_EQ(result[size_t(i) + 1], BlendRef(h, o, p))
                << "p " << p << " H " << h << " O " << o;
        }
        EXPECT_EQ(result[0], 0); // nothing written before the row
    }
}

TEST(ImageBlend, WorkedValuesOfTheWeights) {
    auto one = [](int h, int o, int p) {
        const uint8_t ov = uint8_t(o), hv = uint8_t(h);
        uint8_t r = 0;
        BlendRow(&ov, &hv, &r, 1, TBlendWeight(p));
        return int(r);
    };
    // p = 5: the truncated mean, through the vector loop (rows of 256 bytes).
    const TBlendWeight half(5);
    std::vector<uint8_t> object(256), composite(256), result(256);
    for (int h = 0; h < 256; ++h) {
        for (int o = 0; o < 256; ++o) {
            object[size_t(o)] = uint8_t(o);
            composite[size_t(o)] = uint8_t(h);
        }
        BlendRow(object.data(), composite.data(), result.data(), 256, half);
        for (int o = 0; o < 256; ++o)
            ASSERT_EQ(result[size_t(o)], (h + o) / 2) << h << " " << o;
    }
    EXPECT_EQ(one(254, 1, 5), 127);
    // 0.9f is a little below 0.9, 0.1f a little above 0.1: truncation shows it.
    EXPECT_EQ(one(0, 100, 9), 89);
    EXPECT_EQ(one(100, 0, 9), 10);
    EXPECT_EQ(one(10, 0, 1), 8);
    EXPECT_EQ(one(0, 10, 1), 1);
    EXPECT_EQ(one(255, 255, 7), 255);
    EXPECT_EQ(one(200, 50, 0), 200);
    EXPECT_EQ(one(200, 50, 10), 50);
}

TEST(ImageBlend, IdenticalPicturesBlendToThemselves) {
    const Bitmap picture = RandomPicture(97, 13, 1);
    for (int p = 1; p <= 9; ++p)
        EXPECT_EQ(BlendImages(picture, picture, p), picture) << p;
}

TEST(ImageBlend, ResultTakesThePicturesSize) {
    Bitmap object = RandomPicture(6, 4, 2);
    Bitmap small(3, 2, TPixelFormat::pf24bit), large = RandomPicture(12, 8, 3);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            small.ScanLine(y)[i] = uint8_t(10 * y + i + 1);
    // p = 0 keeps only the second picture, so the result shows how it was stretched.
    for (const Bitmap* composite : {&small, &large}) {
        const Bitmap r = BlendImages(object, *composite, 0);
        ASSERT_EQ(r.Width(), 6);
        ASSERT_EQ(r.Height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int sx = x * composite->Width() / 6, sy = y * composite->Height() / 4;
                    ASSERT_EQ(r.ScanLine(y)[3 * x + c], composite->ScanLine(sy)[3 * sx + c]);
                }
    }
    // Stretched first, then blended with the weight.
    const Bitmap half = BlendImages(object, small, 5);
    EXPECT_EQ(half.ScanLine(3)[3 * 5 + 2], (object.ScanLine(3)[17] + small.ScanLine(1)[8]) / 2);

    // No second picture: the blank one is black.
    const Bitmap blank = BlendImages(object, Bitmap(), 5);
    ASSERT_EQ(blank.Width(), 6);
    for (int y = 0; y < 4; ++y)
        for (int i = 0; i < 18; ++i)
            ASSERT_EQ(blank.ScanLine(y)[i], object.ScanLine(y)[i] / 2);

    EXPECT_TRUE(BlendImages(Bitmap(), small, 5).Empty());
}

TEST(ImageBlend, OtherFormatsAreBlendedAs24Bits) {
    Bitmap object(4, 3, TPixelFormat::pf8bit); // grey ramp palette
    object.ScanLine(1)[2] = 200;
    const Bitmap composite = RandomPicture(4, 3, 4, TPixelFormat::pf32bit);
    const Bitmap r = BlendImages(object, composite, 5);
    ASSERT_EQ(r.PixelFormat(), TPixelFormat::pf24bit);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(r.ScanLine(1)[6 + c], (200 + composite.ScanLine(1)[8 + c]) / 2);
    EXPECT_EQ(object.PixelFormat(), TPixelFormat::pf8bit); // inputs untouched
}

TEST(ImageBlend, WeightsOutsideTheRangeAreRefused) {
    const Bitmap picture = RandomPicture(3, 3, 5);
    EXPECT_THROW(BlendImages(picture, picture, -1), Exception);
    EXPECT_THROW(BlendImages(picture, picture, 11), Exception);
    EXPECT_THROW(TBlendWeight(100), Exception);
    std::vector<uint8_t> row(9, 7);
    uint8_t* rows[] = {row.data()};
    EXPECT_THROW(BlendRows(rows, rows, rows, 3, 1, 12), Exception);
    EXPECT_EQ(row, std::vector<uint8_t>(9, 7));
}

TEST(ImageBlend, RowsOfAnyWidthAndThreadCount) {
    std::mt19937 rng(6);
    for (int width = 1; width <= 40; ++width) {
        const Bitmap o = RandomPicture(width, 2, rng()), h = RandomPicture(width, 2, rng());
        const Bitmap r = BlendImages(o, h, 3);
        for (int y = 0; y < 2; ++y)
            for (int i = 0; i < 3 * width; ++i)
                ASSERT_EQ(r.ScanLine(y)[i], BlendRef(h.ScanLine(y)[i], o.ScanLine(y)[i], 3))
                    << "width " << width;
    }
    // Above the threshold: 1, 2 and 3 bands give the same bytes.
    const Bitmap o = RandomPicture(1100, 700, 7), h = RandomPicture(1100, 700, 8);
    const Bitmap one = WithThreads(1, [&] { return BlendImages(o, h, 7); });
    EXPECT_EQ(WithThreads(2, [&] { return BlendImages(o, h, 7); }), one);
    EXPECT_EQ(WithThreads(3, [&] { return BlendImages(o, h, 7); }), one);
    EXPECT_EQ(one.ScanLine(350)[0], BlendRef(h.ScanLine(350)[0], o.ScanLine(350)[0], 7));
}

TEST(ImageBlend, PicturesWiderThan32768AreBlendedWhole) {
    const Bitmap o = RandomPicture(40000, 1, 9), h = RandomPicture(40000, 1, 10);
    const Bitmap r = BlendImages(o, h, 2);
    for (int x : {32767, 32768, 39999})
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(r.ScanLine(0)[3 * x + c],
                      BlendRef(h.ScanLine(0)[3 * x + c], o.ScanLine(0)[3 * x + c], 2));
}

} // namespace
} // namespace pictor
