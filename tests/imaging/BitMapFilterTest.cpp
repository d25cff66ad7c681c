#include "imaging/BitMapFilter.h"

#include "core/BmpCodec.h"
#include "core/ClampByte.h"
#include "core/JpegCodec.h"
#include "imaging/RowBands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace pictor {
namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb At(const Bitmap& b, int x, int y) {
    const TRGBQuad q = b.PixelColor(x, y);
    return {q.red, q.green, q.blue};
}

void Put(Bitmap& b, int x, int y, Rgb c) {
    uint8_t* p = b.ScanLine(y) + 3 * x;
    p[0] = uint8_t(c.b);
    p[1] = uint8_t(c.g);
    p[2] = uint8_t(c.r);
}

Bitmap Uniform(int w, int h, Rgb c) {
    Bitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(b, x, y, c);
    return b;
}

// Random bytes, with every padding byte after the last pixel set to 0xA5: a filter that
// reads past a row's pixels gives a different result than the reference.
Bitmap Noise(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Bitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (size_t i = 0; i < b.Stride(); ++i)
            row[i] = i < size_t(3 * w) ? uint8_t(rng() >> 24) : 0xA5;
    }
    return b;
}

struct TFilter {
    const char* Name;
    std::function<Bitmap(const Bitmap&)> Run;
};

const std::vector<TFilter>& Filters() {
    static const std::vector<TFilter> filters = {
        {"gray", EffectGray},
        {"sepia", EffectSepia},
        {"negative", EffectNegative},
        {"soft", EffectSoft},
        {"sharp", EffectSharp},
        {"emboss", [](const Bitmap& b) { return EffectEmboss(b, emEmboss); }},
        {"relief", [](const Bitmap& b) { return EffectEmboss(b, emRelief); }},
        {"sketch", [](const Bitmap& b) { return EffectEmboss(b, emSketch); }},
        {"color emboss", [](const Bitmap& b) { return EffectEmboss(b, emColorEmboss); }},
        {"mode 0 (emboss)", [](const Bitmap& b) { return EffectEmboss(b, 0); }},
    };
    return filters;
}

// ---- reference: slow, per pixel, literally as the filters are defined

int Rounded(long double v) {
    return static_cast<int>(std::nearbyint(v));
}

// The neighbourhood read from the source through PixelColor, rows clamped.
struct TRefPicture {
    const Bitmap& B;
    Rgb operator()(int x, int y) const { return At(B, x, std::clamp(y, 0, B.Height() - 1)); }
};

Rgb RefPixel(const std::string& name, const Bitmap& src, int x, int y) {
    const TRefPicture p{src};
    const int w = src.Width();
    const Rgb c = p(x, y);
    if (name == "gray") {
        const long double v = 0.298912L * c.r + 0.586611L * c.g + 0.114478L * c.b;
        const int g = ClampByte(Rounded(v));
        return {g, g, g};
    }
    if (name == "sepia") {
        const int level = int(unsigned(77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8);
        auto curve = [&](long double e) {
            return ClampByte(Rounded(255 * std::pow(level / 255.0L, e)));
        };
        return {curve(0.75L), level, curve(1.33L)};
    }
    if (name == "negative") return {255 - c.r, 255 - c.g, 255 - c.b};
    if (name == "soft" || name == "sharp") {
        // Edge columns: all three column taps on the pixel's own column.
        const bool edge = x == 0 || x == w - 1;
        int sum[3] = {0, 0, 0};
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const Rgb n = p(edge ? x : x + dx, y + dy);
                const int weight = name == "soft" ? 1 : (dx == 0 && dy == 0 ? 14 : -1);
                sum[0] += weight * n.r;
                sum[1] += weight * n.g;
                sum[2] += weight * n.b;
            }
        Rgb out;
        int* outs[3] = {&out.r, &out.g, &out.b};
        for (int k = 0; k < 3; ++k)
            *outs[k] = name == "soft" ? Rounded(sum[k] / 9.0L) : ClampByte(Rounded(sum[k] / 6.0L));
        return out;
    }
    // Emboss family: taps clamped one by one.
    const Rgb a = p(std::max(x - 1, 0), y - 1);
    const Rgb d = p(std::min(x + 1, w - 1), y + 1);
    if (name == "color emboss")
        return {ClampByte(d.r - a.r + c.r), ClampByte(d.g - a.g + c.g), ClampByte(d.b - a.b + c.b)};
    int v;
    if (name == "sketch") {
        v = 255 - (std::abs(d.r - a.r) + std::abs(d.g - a.g) + std::abs(d.b - a.b)) / 3;
    } else {
        v = (d.r + d.g + d.b) / 3 - (a.r + a.g + a.b) / 3 + 128;
        if (name == "relief") {
            if (v > 158)
                v -= 128;
            else if (v > 120)
                v = 255;
        }
    }
    v = ClampByte(v);
    return {v, v, v};
}

// Compares a result with the reference pixel by pixel; also checks that nothing was written
// after the last pixel of a row (a new bitmap's padding is zero).
void ExpectReference(const TFilter& f, const Bitmap& src, const std::string& what) {
    SCOPED_TRACE(what + ", " + f.Name);
    const Bitmap result = f.Run(src);
    ASSERT_EQ(result.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(result.Width(), src.Width());
    ASSERT_EQ(result.Height(), src.Height());
    int bad = 0;
    for (int y = 0; y < src.Height() && bad < 5; ++y) {
        for (int x = 0; x < src.Width() && bad < 5; ++x) {
            const Rgb want = RefPixel(f.Name, src, x, y), got = At(result, x, y);
            if (!(want == got)) {
                ++bad;
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << got << " instead of "
                              << want;
            }
        }
        const uint8_t* row = result.ScanLine(y);
        for (size_t i = size_t(3 * src.Width()); i < result.Stride(); ++i)
            ASSERT_EQ(row[i], 0) << "padding written in row " << y;
    }
}

// ---- frame: size check, formats, ownership

TEST(BitMapFilter, EmptyPictureRaisesInvalidBitmapSize) {
    const Bitmap pictures[] = {Bitmap(), Bitmap(0, 5, TPixelFormat::pf24bit),
                               Bitmap(5, 0, TPixelFormat::pf24bit),
                               Bitmap(0, 3, TPixelFormat::pf8bit)};
    for (const TFilter& f : Filters())
        for (const Bitmap& b : pictures) {
            try {
                f.Run(b);
                ADD_FAILURE() << f.Name << " accepted " << b.Width() << " x " << b.Height();
            } catch (const EEffectError& e) {
                EXPECT_STREQ(e.what(), "Invalid Bitmap Size") << f.Name;
                EXPECT_NE(dynamic_cast<const Exception*>(&e), nullptr);
            }
        }
}

// Palette, 16-bit, 32-bit and masked inputs: a 24-bit result from the converted colours, the
// input untouched.
TEST(BitMapFilter, OtherFormatsGive24BitAndLeaveTheInputAlone) {
    std::vector<Bitmap> inputs;
    Bitmap pal(9, 6, TPixelFormat::pf8bit);
    for (int i = 0; i < 256; ++i)
        pal.Palette()[size_t(i)] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 11), 0};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            pal.ScanLine(y)[x] = uint8_t(x * 29 + y * 41);
    inputs.push_back(std::move(pal));
    Bitmap b32(7, 5, TPixelFormat::pf32bit);
    for (int y = 0; y < 5; ++y)
        for (size_t i = 0; i < b32.Stride(); ++i)
            b32.ScanLine(y)[i] = uint8_t(i * 37 + y * 13); // fourth bytes hold garbage
    inputs.push_back(std::move(b32));
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf16bit}) {
        Bitmap b(6, 4, f);
        for (int y = 0; y < 4; ++y)
            for (size_t i = 0; i < b.Stride(); ++i)
                b.ScanLine(y)[i] = uint8_t(i * 71 + y * 5);
        inputs.push_back(std::move(b));
    }
    Bitmap alpha = Bitmap::Custom(5, 3, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
    for (int y = 0; y < 3; ++y)
        for (size_t i = 0; i < alpha.Stride(); ++i)
            alpha.ScanLine(y)[i] = uint8_t(i * 53 + y);
    inputs.push_back(std::move(alpha));
    inputs.push_back(LoadBmpFile(PICTOR_TESTDATA "/bmp/bmpsuite-2.8/g/pal8.bmp"));
    inputs.push_back(LoadBmpFile(PICTOR_TESTDATA "/bmp/bmpsuite-2.8/g/rgb32.bmp"));
    inputs.push_back(LoadBmpFile(PICTOR_TESTDATA "/bmp/bmpsuite-2.8/g/rgb16-565.bmp"));
    for (const Bitmap& input : inputs) {
        const Bitmap before = input.Copy();
        const Bitmap as24 = input.ConvertTo24();
        for (const TFilter& f : Filters()) {
            SCOPED_TRACE(f.Name);
            const Bitmap result = f.Run(input);
            EXPECT_EQ(result.PixelFormat(), TPixelFormat::pf24bit);
            EXPECT_TRUE(result == f.Run(as24));
            EXPECT_TRUE(input == before);
            // The reference reads the input through PixelColor, not through the conversion.
            ExpectReference(f, input, "converted input");
        }
    }
}

TEST(BitMapFilter, ResultIsANewBitmapOwnedByTheCaller) {
    const Bitmap src = Noise(5, 4, 7);
    const Bitmap before = src.Copy();
    for (const TFilter& f : Filters()) {
        Bitmap result = f.Run(src);
        EXPECT_NE(result.Bits().data(), src.Bits().data());
        std::fill(result.ScanLine(0), result.ScanLine(0) + 15, uint8_t(1));
        result = Bitmap();
        EXPECT_TRUE(src == before) << f.Name;
    }
}

// ---- point filters

TEST(BitMapFilter, GrayRoundsTheExtendedSum) {
    struct Case {
        Rgb in;
        int out;
    } cases[] = {
        {{200, 100, 50}, 124}, {{255, 255, 255}, 255}, {{0, 0, 0}, 0}, {{1, 0, 0}, 0},
        {{2, 0, 0}, 1},        {{14, 146, 67}, 98}, // exactly 97.5: to the even 98
        {{50, 88, 244}, 94},                        // exactly 94.5: to the even 94
        {{67, 96, 80}, 85},   // 85.5 in decimals, just below it in extended precision
        {{188, 96, 96}, 123}, // likewise 123.5
    };
    for (const Case& c : cases)
        EXPECT_EQ(At(EffectGray(Uniform(1, 1, c.in)), 0, 0), (Rgb{c.out, c.out, c.out})) << c.in;
}

// Every one of the 2^24 colours against the extended-precision formula.
TEST(BitMapFilter, GrayMatchesTheFormulaForEveryColour) {
    Bitmap all(4096, 4096, TPixelFormat::pf24bit);
    for (int y = 0; y < 4096; ++y)
        for (int x = 0; x < 4096; ++x)
            Put(all, x, y, {y >> 4, (y & 15) << 4 | x >> 8, x & 255});
    const Bitmap gray = EffectGray(all);
    int bad = 0;
    for (int y = 0; y < 4096; ++y) {
        const uint8_t* in = all.ScanLine(y);
        const uint8_t* out = gray.ScanLine(y);
        for (int x = 0; x < 4096 && bad < 5; ++x) {
            const long double v =
                0.298912L * in[3 * x + 2] + 0.586611L * in[3 * x + 1] + 0.114478L * in[3 * x];
            const int want = ClampByte(Rounded(v));
            if (out[3 * x] != want || out[3 * x + 1] != want || out[3 * x + 2] != want) {
                ++bad;
                ADD_FAILURE() << Rgb{in[3 * x + 2], in[3 * x + 1], in[3 * x]} << " gave "
                              << int(out[3 * x]) << " not " << want;
            }
        }
    }
}

TEST(BitMapFilter, SepiaCurvesAndExample) {
    EXPECT_EQ(At(EffectSepia(Uniform(1, 1, {200, 100, 50})), 0, 0), (Rgb{148, 124, 98}));
    // A grey pixel keeps its level, so it shows the curves: (W[v], v, C[v]).
    const std::pair<int, Rgb> samples[] = {{0, {0, 0, 0}},
                                           {64, {90, 64, 41}},
                                           {128, {152, 128, 102}},
                                           {200, {213, 200, 185}},
                                           {255, {255, 255, 255}}};
    for (const auto& [v, want] : samples)
        EXPECT_EQ(At(EffectSepia(Uniform(2, 2, {v, v, v})), 1, 1), want) << v;
}

TEST(BitMapFilter, NegativeInvertsEveryByteAndUndoesItself) {
    EXPECT_EQ(At(EffectNegative(Uniform(1, 1, {200, 100, 50})), 0, 0), (Rgb{55, 155, 205}));
    const Bitmap src = Noise(33, 9, 3);
    const Bitmap twice = EffectNegative(EffectNegative(src));
    for (int y = 0; y < 9; ++y)
        EXPECT_TRUE(std::equal(src.ScanLine(y), src.ScanLine(y) + 99, twice.ScanLine(y)));
}

// ---- neighbourhood filters

TEST(BitMapFilter, SinglePixelAndUniformPictures) {
    const Rgb grey128{128, 128, 128}, white{255, 255, 255};
    for (auto [w, h] : {std::pair{1, 1}, {6, 5}, {1, 4}, {4, 1}}) {
        for (Rgb c : {Rgb{10, 200, 77}, Rgb{255, 255, 255}, Rgb{0, 0, 0}}) {
            SCOPED_TRACE(::testing::Message() << w << " x " << h << " of " << c);
            const Bitmap src = Uniform(w, h, c);
            const std::pair<Bitmap, Rgb> expected[] = {{EffectSoft(src), c},
                                                       {EffectSharp(src), c},
                                                       {EffectEmboss(src, emEmboss), grey128},
                                                       {EffectEmboss(src, emRelief), white},
                                                       {EffectEmboss(src, emSketch), white},
                                                       {EffectEmboss(src, emColorEmboss), c}};
            for (const auto& [result, want] : expected)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        EXPECT_EQ(At(result, x, y), want);
        }
    }
}

// Mean and sharpen take the whole neighbourhood from the pixel's own column at the left and
// right edges; the emboss family clamps each tap on its own.
TEST(BitMapFilter, EdgeColumnRules) {
    Bitmap row(3, 1, TPixelFormat::pf24bit);
    Put(row, 0, 0, {0, 0, 0});
    Put(row, 1, 0, {30, 30, 30});
    Put(row, 2, 0, {90, 90, 90});
    const Bitmap soft = EffectSoft(row), emboss = EffectEmboss(row, emEmboss);
    EXPECT_EQ(At(soft, 0, 0).r, 0); // not (0 + 0 + 30) / 3
    EXPECT_EQ(At(soft, 1, 0).r, 40);
    EXPECT_EQ(At(soft, 2, 0).r, 90); // not (30 + 90 + 90) / 3
    EXPECT_EQ(At(emboss, 0, 0).r, 30 - 0 + 128);
    EXPECT_EQ(At(emboss, 1, 0).r, 90 - 0 + 128);
    EXPECT_EQ(At(emboss, 2, 0).r, 90 - 30 + 128);
}

// Weighted sums on exact halves go to the even neighbour.
TEST(BitMapFilter, SharpenRoundsHalvesToEven) {
    // One column: the kernel is 12 centre - 3 above - 3 below.
    auto column = [](int above, int centre, int below) {
        Bitmap b(1, 3, TPixelFormat::pf24bit);
        Put(b, 0, 0, {above, above, above});
        Put(b, 0, 1, {centre, centre, centre});
        Put(b, 0, 2, {below, below, below});
        return At(EffectSharp(b), 0, 1).r;
    };
    EXPECT_EQ(column(1, 1, 0), 2); // 9 / 6 = 1.5
    EXPECT_EQ(column(3, 2, 0), 2); // 15 / 6 = 2.5
    EXPECT_EQ(column(1, 2, 6), 0); // 3 / 6 = 0.5
    EXPECT_EQ(column(0, 1, 0), 2); // 12 / 6
    EXPECT_EQ(column(0, 255, 0), 255);
    EXPECT_EQ(column(255, 0, 255), 0);
    // Inside: 14 centre minus the eight around it.
    auto inside = [](int ones, int centre) {
        Bitmap b(3, 3, TPixelFormat::pf24bit);
        for (int i = 0; i < ones; ++i)
            Put(b, (i + (i >= 4)) % 3, (i + (i >= 4)) / 3, {1, 1, 1});
        Put(b, 1, 1, {centre, centre, centre});
        return At(EffectSharp(b), 1, 1).r;
    };
    EXPECT_EQ(inside(5, 1), 2); // 9
    EXPECT_EQ(inside(7, 2), 4); // 21 / 6 = 3.5
    EXPECT_EQ(inside(8, 1), 1); // 6
}

// The pixel in the middle of a 3 x 3 picture, whose A and D are the corners.
Rgb EmbossMiddle(Rgb a, Rgb d, int mode, Rgb self = {0, 0, 0}) {
    Bitmap b(3, 3, TPixelFormat::pf24bit);
    Put(b, 0, 0, a);
    Put(b, 1, 1, self);
    Put(b, 2, 2, d);
    return At(EffectEmboss(b, mode), 1, 1);
}

TEST(BitMapFilter, EmbossReliefAndSketchArithmetic) {
    struct Case {
        Rgb a, d;
        int emboss, relief;
    } cases[] = {
        {{0, 0, 0}, {31, 31, 31}, 159, 31},
        {{0, 0, 0}, {30, 30, 30}, 158, 255},
        {{7, 7, 7}, {0, 0, 0}, 121, 255},
        {{8, 8, 8}, {0, 0, 0}, 120, 120},
        {{30, 20, 10}, {60, 50, 40}, 158, 255},
        {{1, 1, 0}, {2, 1, 1}, 129, 255},       // 4/3 - 2/3, each truncated: 1 - 0
        {{0, 0, 0}, {255, 255, 255}, 255, 255}, // 383, clamped; relief 383 - 128
        {{255, 255, 255}, {0, 0, 0}, 0, 0},     // -127
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.a << " " << c.d);
        EXPECT_EQ(EmbossMiddle(c.a, c.d, emEmboss), (Rgb{c.emboss, c.emboss, c.emboss}));
        EXPECT_EQ(EmbossMiddle(c.a, c.d, emRelief), (Rgb{c.relief, c.relief, c.relief}));
        EXPECT_EQ(EmbossMiddle(c.a, c.d, 7), (Rgb{c.emboss, c.emboss, c.emboss}));
    }
    EXPECT_EQ(EmbossMiddle({0, 0, 0}, {1, 1, 0}, emSketch).r, 255); // 2 / 3 truncates to 0
    EXPECT_EQ(EmbossMiddle({0, 0, 0}, {3, 0, 0}, emSketch).r, 254);
    EXPECT_EQ(EmbossMiddle({9, 0, 200}, {0, 9, 100}, emSketch).r, 255 - 118 / 3);
    EXPECT_EQ(EmbossMiddle({255, 255, 255}, {0, 0, 0}, emSketch), (Rgb{0, 0, 0}));
    EXPECT_EQ(EmbossMiddle({50, 0, 200}, {0, 200, 250}, emColorEmboss, {100, 100, 100}),
              (Rgb{50, 255, 150}));
    EXPECT_EQ(EmbossMiddle({0, 0, 200}, {0, 0, 20}, emColorEmboss, {100, 100, 100}),
              (Rgb{100, 100, 0}));
}

// ---- every filter against the reference

TEST(BitMapFilter, NoiseOfManyShapesMatchesTheReference) {
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 2}, {2, 1}, {1, 7},   {7, 1}, {2, 2},
                                         {2, 5}, {3, 3}, {5, 2}, {31, 17}, {64, 3}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes) {
        const Bitmap src = Noise(w, h, seed++);
        for (const TFilter& f : Filters())
            ExpectReference(f, src, std::to_string(w) + " x " + std::to_string(h));
    }
}

TEST(BitMapFilter, PhotosMatchTheReference) {
    const std::pair<const char*, Bitmap> photos[] = {
        {"rgb24.jpg", LoadJpegFile(PICTOR_TESTDATA "/bmp/bmpsuite-2.8/html/rgb24.jpg")},
        {"hopper.bmp", LoadBmpFile(PICTOR_TESTDATA "/bmp/pillow/hopper.bmp")},
        {"V4_24_Bit.bmp", LoadBmpFile(PICTOR_TESTDATA "/bmp/image-rs/V4_24_Bit.bmp")},
        {"Core_8_Bit.bmp", LoadBmpFile(PICTOR_TESTDATA "/bmp/image-rs/Core_8_Bit.bmp")},
    };
    for (const auto& [name, photo] : photos)
        for (const TFilter& f : Filters())
            ExpectReference(f, photo, name);
}

// Above the parallel threshold: the same bytes with one, two or five threads, and the
// reference's.
TEST(BitMapFilter, ThreadsGiveTheSameBytes) {
    const int w = 1100, h = 700;
    ASSERT_GE(int64_t(h) * 3 * w, ParallelThreshold);
    const Bitmap photo = LoadBmpFile(PICTOR_TESTDATA "/bmp/image-rs/V4_24_Bit.bmp");
    Bitmap src = Noise(w, h, 99);
    for (int y = 0; y < h; ++y) // photo tiles with noisy bands between them
        for (int x = 0; x < w; ++x)
            if ((x / 32 + y / 32) % 3)
                Put(src, x, y, At(photo, x % photo.Width(), y % photo.Height()));
    for (const TFilter& f : Filters()) {
        Bitmap one;
        {
            TRowBandThreads t(1);
            one = f.Run(src);
        }
        for (int threads : {2, 5}) {
            TRowBandThreads t(threads);
            EXPECT_TRUE(f.Run(src) == one) << f.Name << " with " << threads << " threads";
        }
    }
    TRowBandThreads t(2);
    for (const TFilter& f : Filters())
        ExpectReference(f, src, "two threads");
}

} // namespace
} // namespace pictor
