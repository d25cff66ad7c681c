#include "core/Bitmap.h"
#include "core/Exception.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>

using namespace pictor;
using PF = TPixelFormat;

class BitmapFormat : public testing::TestWithParam<PF> {};

TEST_P(BitmapFormat, NewBitmapIsZeroedWithRowsPaddedTo32Bits) {
    const int bpp = std::array{32, 1, 4, 8, 16, 16, 24, 32, 32}[size_t(GetParam())];
    for (int w : {1, 2, 3, 5, 8, 31, 33, 127}) {
        const Bitmap b(w, 3, GetParam());
        EXPECT_EQ(b.BitsPerPixel(), bpp);
        EXPECT_EQ(b.Stride(), size_t((w * bpp + 31) / 32 * 4)) << "width " << w;
        EXPECT_EQ(b.ScanLine(2) - b.ScanLine(0), ptrdiff_t(2 * b.Stride()));
        EXPECT_EQ(std::count(b.Bits().begin(), b.Bits().end(), 0), ptrdiff_t(3 * b.Stride()));
    }
    const Bitmap b(4, 4, GetParam());
    EXPECT_EQ(b.Palette().size(), bpp <= 8 ? size_t(1) << bpp : 0); // a ramp up to white
    EXPECT_TRUE(bpp > 8 || b.Palette().back() == (TRGBQuad{255, 255, 255, 0}));
    EXPECT_THROW(b.ScanLine(4), EInvalidGraphic);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
    EXPECT_THROW(b.PixelColor(4, 0), EInvalidGraphic);
}

TEST_P(BitmapFormat, ConversionsAndCopyKeepEveryColour) {
    Bitmap b = GetParam() == PF::pfCustom
                   ? Bitmap::Custom(13, 5, 16, {0x3000, 0x0FC0, 0x0007, 0x8000})
                   : Bitmap(13, 5, GetParam());
    if (!b.Palette().empty()) b.Palette().resize(b.Palette().size() / 2 + 1); // some out of range
    for (size_t i = 0; i < b.Palette().size(); ++i)
        b.Palette()[i] = {uint8_t(i * 3), uint8_t(200 - i), uint8_t(i * 7), 0};
    for (int y = 0; y < b.Height(); ++y)
        for (size_t i = 0; i < (size_t(b.Width()) * size_t(b.BitsPerPixel()) + 7) / 8; ++i)
            b.ScanLine(y)[i] = uint8_t((y * 131 + int(i) * 29 + int(GetParam()) * 7) ^ (i * i));

    const Bitmap b24 = b.ConvertTo24(), copy = b.Copy();
    const QImage q = b.ToQImage();
    const Bitmap back = Bitmap::FromQImage(q);
    ASSERT_EQ(b24.PixelFormat(), PF::pf24bit);
    EXPECT_EQ(q.format(), GetParam() == PF::pf1bit     ? QImage::Format_Mono
                          : b.BitsPerPixel() <= 8      ? QImage::Format_Indexed8
                          : GetParam() == PF::pfCustom ? QImage::Format_ARGB32
                                                       : QImage::Format_RGB32);
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const TRGBQuad c = b.PixelColor(x, y);
            EXPECT_EQ(b24.PixelColor(x, y), (TRGBQuad{c.blue, c.green, c.red, 0})) << x << "," << y;
            EXPECT_EQ(q.pixel(x, y),
                      qRgba(c.red, c.green, c.blue, b.HasAlpha() ? c.reserved : 255));
            EXPECT_EQ(back.PixelColor(x, y), c);
        }
    EXPECT_TRUE(copy == b);
    EXPECT_NE(copy.ScanLine(0), b.ScanLine(0));
}

INSTANTIATE_TEST_SUITE_P(All, BitmapFormat,
                         testing::Values(PF::pfDevice, PF::pf1bit, PF::pf4bit, PF::pf8bit,
                                         PF::pf15bit, PF::pf16bit, PF::pf24bit, PF::pf32bit,
                                         PF::pfCustom));

TEST(Bitmap, ImpossibleSizesAndMovedFromBitmaps) {
    const int max = Bitmap::MaxSide;
    const int sizes[][2] = {{-1, 1},    {1, -1},        {max + 1, 1},          {1, max + 1},
                            {max, max}, {16385, 16384}, {INT32_MAX, INT32_MAX}};
    for (auto [w, h] : sizes)
        for (PF f : {PF::pf1bit, PF::pf32bit})
            EXPECT_THROW(Bitmap(w, h, f), EInvalidGraphic) << w << "x" << h;
    EXPECT_THROW(Bitmap::Custom(4, 4, 24, {}), EInvalidGraphic);
    // The limits themselves are allowed.
    EXPECT_EQ(Bitmap(16384, 16384, PF::pf1bit).Stride(), 2048u);
    EXPECT_EQ(Bitmap(max, 1, PF::pf8bit).Width(), max);
    EXPECT_TRUE(Bitmap(0, 0, PF::pf24bit).Empty());

    Bitmap a(5, 5, PF::pf8bit), b = std::move(a);
    EXPECT_TRUE(a.Empty()); // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_THROW(a.ScanLine(0), EInvalidGraphic);
    a = std::move(b);
    EXPECT_EQ(a.Palette().size(), 256u);
    EXPECT_TRUE(b.Empty()); // NOLINT(bugprone-use-after-move)
}

TEST(Bitmap, ChannelScaling) {
    Bitmap pal(1, 1, PF::pf8bit); // a palette's fourth byte is not alpha
    pal.Palette()[0] = {10, 20, 30, 99};
    EXPECT_EQ(pal.PixelColor(0, 0), (TRGBQuad{10, 20, 30, 0}));
    const struct {
        PF format;
        std::array<uint32_t, 4> masks;
        uint32_t pixel;
        TRGBQuad expected;
    } cases[] = {
        {PF::pf15bit, {}, 0xFC00, {0, 0, 255, 0}}, // top bit ignored
        {PF::pf15bit, {}, 0x0003, {25, 0, 0, 0}},  // 3 * 255 / 31 = 24.7
        {PF::pf16bit, {}, 0x0020, {0, 4, 0, 0}},
        {PF::pf24bit, {}, 0x123456, {0x56, 0x34, 0x12, 0}},
        {PF::pf32bit, {}, 0xAB123456, {0x56, 0x34, 0x12, 0}},            // fourth byte is not alpha
        {PF::pfCustom, {0x30, 0x0E, 0x01, 0}, 0x2F, {255, 255, 170, 0}}, // 2-3-1
        {PF::pfCustom, {0, 0, 0, 0}, 0xFFFFFFFF, {0, 0, 0, 0}},          // no mask: 0
        {PF::pfCustom, {0xFFFFFFFF, 0, 0, 0}, 0x80000000, {0, 0, 128, 0}},
        {PF::pfCustom, {~0u, ~0u, ~0u, ~0u}, 0xFFFFFFFF, {255, 255, 255, 255}},
        {PF::pfCustom, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, 0x7FF003FF, {255, 0, 255, 85}},
        {PF::pfCustom, {0xA0, 0x50, 0x0F, 0}, 0x80, {0, 0, 204, 0}}, // gap: 4 of 5
    };
    for (const auto& c : cases) {
        Bitmap b =
            c.format == PF::pfCustom ? Bitmap::Custom(1, 1, 32, c.masks) : Bitmap(1, 1, c.format);
        for (int i = 0; i < b.BitsPerPixel() / 8; ++i)
            b.ScanLine(0)[i] = uint8_t(c.pixel >> (8 * i));
        EXPECT_EQ(b.PixelColor(0, 0), c.expected) << "pixel " << std::hex << c.pixel;
    }
}

TEST(Bitmap, FromQImageKeepsIndexedPicturesAndAlpha) {
    QImage mono(9, 2, QImage::Format_MonoLSB); // bit order differs from ours
    mono.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    mono.fill(0);
    mono.setPixel(8, 1, 1);
    Bitmap b = Bitmap::FromQImage(mono);
    ASSERT_EQ(b.PixelFormat(), PF::pf1bit);
    EXPECT_EQ(b.ScanLine(1)[1], 0x80);
    EXPECT_EQ(b.PixelColor(7, 1), (TRGBQuad{0, 0, 255, 0}));

    QImage idx(3, 1, QImage::Format_Indexed8);
    idx.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)});
    for (int x : {0, 1, 2})
        idx.setPixel(x, 0, uint(2 - x));
    b = Bitmap::FromQImage(idx);
    ASSERT_EQ(b.PixelFormat(), PF::pf8bit);
    EXPECT_EQ(b.Palette().size(), 3u);
    EXPECT_EQ(b.ScanLine(0)[0], 2);
    EXPECT_EQ(b.PixelColor(0, 0), (TRGBQuad{9, 8, 7, 0}));
    idx.setColor(1, qRgba(4, 5, 6, 128)); // alpha in the colour table: becomes 32 bpp
    b = Bitmap::FromQImage(idx);
    EXPECT_TRUE(b.HasAlpha() && b.BitsPerPixel() == 32);
    EXPECT_EQ(b.PixelColor(1, 0), (TRGBQuad{6, 5, 4, 128}));

    QImage rgb(2, 1, QImage::Format_RGB888);
    rgb.setPixel(1, 0, qRgb(10, 20, 30));
    b = Bitmap::FromQImage(rgb);
    EXPECT_EQ(b.PixelFormat(), PF::pf24bit);
    EXPECT_EQ(b.PixelColor(1, 0), (TRGBQuad{30, 20, 10, 0}));
    QImage argb(1, 1, QImage::Format_ARGB32_Premultiplied);
    argb.setPixel(0, 0, qRgba(100, 50, 0, 255));
    EXPECT_EQ(Bitmap::FromQImage(argb).PixelColor(0, 0), (TRGBQuad{0, 50, 100, 255}));
    EXPECT_TRUE(Bitmap::FromQImage(QImage()).Empty());
    EXPECT_TRUE(Bitmap().ToQImage().isNull());
}

// Large pictures live in mapped memory: still zero when new, independent after Copy, and the
// memory is handed back and reused without old pixels showing through.
TEST(BitmapMemory, LargePicturesStartZeroAndCopyIndependently) {
    for (int round = 0; round < 3; ++round) {
        Bitmap b(2001, 1003, PF::pf24bit); // about 6 MB, beyond the small-block path
        ASSERT_EQ(b.Bits().size(), b.Stride() * 1003);
        EXPECT_EQ(std::count(b.Bits().begin(), b.Bits().end(), 0), ptrdiff_t(b.Bits().size()))
            << "round " << round;
        std::fill(b.ScanLine(0), b.ScanLine(0) + b.Stride() * 1003, uint8_t(0xA5));
        Bitmap c = b.Copy();
        b.ScanLine(1002)[6002] = 1;
        EXPECT_EQ(c.ScanLine(1002)[6002], 0xA5);
        EXPECT_FALSE(b == c);
        Bitmap moved = std::move(c);
        EXPECT_TRUE(c.Empty());
        EXPECT_EQ(moved.ScanLine(0)[0], 0xA5);
    }
}
