#include "imaging/ColorCorrection.h"

#include "core/Exception.h"
#include "imaging/RowBands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace pictor {
namespace {

template <class F> auto WithThreads(int n, F make) {
    TRowBandThreads setting(n);
    return make();
}

int Clamp(long long v) {
    return v < 0 ? 0 : v > 255 ? 255 : int(v);
}

int RoundHalfEven(double x) {
    const double f = std::floor(x);
    const double rest = x - f;
    if (rest != 0.5) return int(rest < 0.5 ? f : f + 1);
    return std::fmod(f, 2.0) == 0 ? int(f) : int(f + 1);
}

// The tables written out plainly. Gamma goes the long way, through the stored value
// position / 100 * 2.2 divided by 2.2 again, which must not change any entry.
int ContrastRef(int position, int v) {
    const double c = position / 255.0;
    return Clamp((long long)std::trunc((v - 127.5) * c + v));
}
int GammaRef(int position, int v) {
    const double stored = position / 100.0 * 2.2;
    const double gamma = stored / 2.2;
    return Clamp(RoundHalfEven(255 * std::pow(v / 255.0, 1 / gamma)));
}

// One channel of the pass written out: offset and clamp, contrast, gamma.
int PixelRef(int value, int offset, const TColorSettings& s) {
    return GammaRef(s.Gamma, ContrastRef(s.Contrast, Clamp(value + offset + s.Lightness)));
}

Bitmap RandomPicture(int width, int height, unsigned seed) {
    Bitmap b(width, height, TPixelFormat::pf24bit);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < width * 3; ++i)
            row[i] = uint8_t(rng());
    }
    return b;
}

TColorSettings RandomSettings(std::mt19937& rng) {
    std::uniform_int_distribution<int> offset(-255, 255), gamma(10, 500);
    return {offset(rng), offset(rng), offset(rng), offset(rng), offset(rng), gamma(rng)};
}

TEST(ColorCorrection, ContrastTableMatchesFormulaAtEveryPosition) {
    for (int p = -255; p <= 255; ++p) {
        const TByteTable t = MakeContrastTable(p);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(t[size_t(v)], ContrastRef(p, v)) << "position " << p << " v " << v;
    }
    const TByteTable flat = MakeContrastTable(-255), same = MakeContrastTable(0),
                     steep = MakeContrastTable(255);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(flat[size_t(v)], 127) << v;
        EXPECT_EQ(same[size_t(v)], v);
        EXPECT_EQ(steep[size_t(v)], Clamp((long long)std::trunc(2 * v - 127.5))) << v;
    }
    // 2v - 127.5 truncates toward zero: -0.5 and 0.5 both give 0, 128.5 gives 128.
    EXPECT_EQ(steep[63], 0);
    EXPECT_EQ(steep[64], 0);
    EXPECT_EQ(steep[128], 128);
    EXPECT_EQ(steep[191], 254);
    EXPECT_EQ(steep[192], 255);
    // On an exact integer in double: (153 - 127.5) * (10 / 255) + 153 = 154.
    EXPECT_EQ(MakeContrastTable(10)[153], 154);
}

TEST(ColorCorrection, GammaTableMatchesFormulaAndListedValues) {
    for (int q = 10; q <= 500; ++q) {
        const TByteTable t = MakeGammaTable(q);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(t[size_t(v)], GammaRef(q, v)) << "position " << q << " v " << v;
        EXPECT_EQ(t[0], 0);
        EXPECT_EQ(t[255], 255);
    }
    auto map = [](int q) {
        const TByteTable t = MakeGammaTable(q);
        return std::vector<int>{t[64], t[128], t[200], t[254]};
    };
    EXPECT_EQ(map(10), (std::vector<int>{0, 0, 22, 245}));
    EXPECT_EQ(map(200), (std::vector<int>{128, 181, 226, 254}));
    EXPECT_EQ(map(500), (std::vector<int>{193, 222, 243, 255}));
    const TByteTable identity = MakeGammaTable(100);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(identity[size_t(v)], v);
}

TEST(ColorCorrection, PositionsOutsideTheTrackbarsAreRefused) {
    EXPECT_THROW(MakeContrastTable(256), Exception);
    EXPECT_THROW(MakeContrastTable(-256), Exception);
    EXPECT_THROW(MakeGammaTable(9), Exception);
    EXPECT_THROW(MakeGammaTable(501), Exception);
    EXPECT_THROW(MakeGammaTable(0), Exception);
    for (TColorSettings s : {TColorSettings{256}, TColorSettings{0, -256},
                             TColorSettings{0, 0, 300}, TColorSettings{0, 0, 0, -999}}) {
        EXPECT_THROW(MakeColorTables(s), Exception);
    }
    // A refused setting leaves the picture as it was.
    Bitmap picture = RandomPicture(5, 5, 1);
    const Bitmap before = picture.Copy();
    EXPECT_THROW(CorrectColorsInRect(picture, {0, 0, 5, 5}, {0, 0, 0, 0, 0, 5}), Exception);
    EXPECT_EQ(picture, before);
}

TEST(ColorCorrection, PassAppliesOffsetThenContrastThenGamma) {
    std::mt19937 rng(7);
    const Bitmap source = RandomPicture(37, 11, 2);
    for (int round = 0; round < 40; ++round) {
        const TColorSettings s = RandomSettings(rng);
        const Bitmap target = CorrectColors(source, s);
        ASSERT_EQ(target.Width(), 37);
        ASSERT_EQ(target.Height(), 11);
        for (int y = 0; y < 11; ++y) {
            const uint8_t* in = source.ScanLine(y);
            const uint8_t* out = target.ScanLine(y);
            for (int x = 0; x < 37; ++x) {
                ASSERT_EQ(out[3 * x], PixelRef(in[3 * x], s.Blue, s));
                ASSERT_EQ(out[3 * x + 1], PixelRef(in[3 * x + 1], s.Green, s));
                ASSERT_EQ(out[3 * x + 2], PixelRef(in[3 * x + 2], s.Red, s));
            }
        }
    }
    // Worked by hand: red 100 + 50 + 20 = 170; contrast 255: 2 * 170 - 127.5 -> 212; gamma 2:
    // 255 * (212 / 255)^0.5 = 232.5... -> 233. Blue 10 - 30 + 20 = 0 stays 0 through all.
    Bitmap one(1, 1, TPixelFormat::pf24bit);
    one.ScanLine(0)[0] = 10;
    one.ScanLine(0)[2] = 100;
    const Bitmap r = CorrectColors(one, {50, 0, -30, 20, 255, 200});
    EXPECT_EQ(r.ScanLine(0)[2], 233);
    EXPECT_EQ(r.ScanLine(0)[0], 0);
    EXPECT_EQ(r.ScanLine(0)[1], 0); // 0 + 20 = 20 -> 2 * 20 - 127.5 < 0 -> 0
}

TEST(ColorCorrection, EdgeCasesOfTheDialog) {
    const Bitmap source = RandomPicture(64, 9, 3);
    EXPECT_EQ(CorrectColors(source, {}), source); // start values change nothing

    // Contrast -255: grey 127 whatever the offsets, before gamma.
    const Bitmap grey = CorrectColors(source, {200, -100, 17, 90, -255, 100});
    for (int y = 0; y < 9; ++y)
        for (int i = 0; i < 64 * 3; ++i)
            ASSERT_EQ(grey.ScanLine(y)[i], 127);
    const Bitmap greyGamma = CorrectColors(source, {0, 0, 0, 0, -255, 200});
    EXPECT_EQ(greyGamma.ScanLine(0)[0], MakeGammaTable(200)[127]);

    Bitmap black(2, 1, TPixelFormat::pf24bit);
    const Bitmap red = CorrectColors(black, {255});
    EXPECT_EQ(red.ScanLine(0)[2], 255);
    EXPECT_EQ(red.ScanLine(0)[1], 0);
    EXPECT_EQ(red.ScanLine(0)[0], 0);
    Bitmap white(2, 1, TPixelFormat::pf24bit);
    std::fill(white.ScanLine(0), white.ScanLine(0) + 6, uint8_t(255));
    const Bitmap cyan = CorrectColors(white, {-255});
    EXPECT_EQ(cyan.ScanLine(0)[5], 0);
    EXPECT_EQ(cyan.ScanLine(0)[4], 255);
    EXPECT_EQ(cyan.ScanLine(0)[3], 255);
}

TEST(ColorCorrection, RowsAndBitmapsOfOtherFormats) {
    // The dialog's way: target a copy of source, both rows prepared, then the row kernel.
    Bitmap source(3, 2, TPixelFormat::pf8bit);
    source.ScanLine(0)[0] = 200; // grey ramp palette: index = grey level
    source.ScanLine(1)[2] = 30;
    Bitmap target = source.Copy();
    const std::vector<uint8_t*> sourceRows = PrepareRows(source);
    const std::vector<uint8_t*> targetRows = PrepareRows(target);
    ASSERT_EQ(source.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(sourceRows.size(), 2u);
    EXPECT_EQ(sourceRows[1], source.ScanLine(1));
    const TColorSettings s{0, 0, 0, 40, 0, 100};
    CorrectRows(sourceRows.data(), targetRows.data(), 3, 2, MakeColorTables(s));
    EXPECT_EQ(target.ScanLine(0)[0], 240);
    EXPECT_EQ(target.ScanLine(0)[2], 240);
    EXPECT_EQ(target.ScanLine(1)[6], 70);
    EXPECT_EQ(target.ScanLine(1)[3], 40);
    EXPECT_EQ(source.ScanLine(0)[0], 200); // the source rows are only read

    Bitmap palettised(3, 2, TPixelFormat::pf8bit);
    palettised.ScanLine(0)[0] = 200;
    const Bitmap corrected = CorrectColors(palettised, s);
    EXPECT_EQ(corrected.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(corrected.ScanLine(0)[1], 240);
    EXPECT_EQ(palettised.PixelFormat(), TPixelFormat::pf8bit);
}

TEST(ColorCorrection, SelectionIsCorrectedOneToOneAndClipped) {
    const Bitmap original = RandomPicture(20, 15, 4);
    const TColorSettings s{30, -60, 90, 10, 40, 150};
    // Same as: copy of the area, corrected, put back 1:1.
    auto byHand = [&](int left, int top, int right, int bottom) {
        Bitmap expected = original.Copy();
        Bitmap area(right - left, bottom - top, TPixelFormat::pf24bit);
        for (int y = top; y < bottom; ++y)
            std::copy_n(original.ScanLine(y) + 3 * left, 3 * (right - left),
                        area.ScanLine(y - top));
        const Bitmap done = CorrectColors(area, s);
        for (int y = top; y < bottom; ++y)
            std::copy_n(done.ScanLine(y - top), 3 * (right - left),
                        expected.ScanLine(y) + 3 * left);
        return expected;
    };
    Bitmap picture = original.Copy();
    CorrectColorsInRect(picture, {3, 2, 11, 9}, s);
    EXPECT_EQ(picture, byHand(3, 2, 11, 9));

    picture = original.Copy(); // corners the other way round
    CorrectColorsInRect(picture, {11, 9, 3, 2}, s);
    EXPECT_EQ(picture, byHand(3, 2, 11, 9));

    picture = original.Copy(); // past the edges: only the part inside
    CorrectColorsInRect(picture, {-5, 10, 25, 40}, s);
    EXPECT_EQ(picture, byHand(0, 10, 20, 15));

    picture = original.Copy(); // empty or outside: nothing
    CorrectColorsInRect(picture, {4, 4, 4, 9}, s);
    CorrectColorsInRect(picture, {30, 0, 40, 5}, s);
    EXPECT_EQ(picture, original);

    Bitmap palettised(4, 4, TPixelFormat::pf8bit);
    CorrectColorsInRect(palettised, {1, 1, 2, 2}, {100});
    EXPECT_EQ(palettised.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(palettised.ScanLine(1)[5], 100);
    EXPECT_EQ(palettised.ScanLine(1)[8], 0);
    EXPECT_EQ(palettised.ScanLine(0)[5], 0);
}

TEST(ColorCorrection, ThreadsGiveTheSameBytes) {
    // 1100 x 700 x 3 bytes is above the threshold, so two and three bands really run.
    const Bitmap source = RandomPicture(1100, 700, 5);
    ASSERT_GT(int64_t(1100) * 3 * 700, ParallelThreshold);
    const TColorSettings s{-20, 35, 5, -12, 80, 230};
    const Bitmap one = WithThreads(1, [&] { return CorrectColors(source, s); });
    EXPECT_EQ(WithThreads(2, [&] { return CorrectColors(source, s); }), one);
    EXPECT_EQ(WithThreads(3, [&] { return CorrectColors(source, s); }), one);
    const Bitmap inRect = WithThreads(2, [&] {
        Bitmap picture = source.Copy();
        CorrectColorsInRect(picture, {0, 0, 1100, 700}, s);
        return picture;
    });
    EXPECT_EQ(inRect, one);
    const TColorTables tables = MakeColorTables(s);
    for (int y : {0, 349, 350, 699}) // band edges and ends
        EXPECT_EQ(inRect.ScanLine(y)[2], tables.Red[source.ScanLine(y)[2]]);
}

} // namespace
} // namespace pictor
