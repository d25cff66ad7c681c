#include "core/Bitmap.h"
#include "core/Exception.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace pictor;

namespace {

using PF = TPixelFormat;

const PF AllFormats[] = {PF::pfDevice, PF::pf1bit,  PF::pf4bit,  PF::pf8bit,  PF::pf15bit,
                         PF::pf16bit,  PF::pf24bit, PF::pf32bit, PF::pfCustom};

// Fills every pixel byte with a repeatable pattern; padding stays zero.
void FillPattern(Bitmap& b, unsigned seed) {
    const size_t rowBytes = (size_t(b.Width()) * size_t(b.BitsPerPixel()) + 7) / 8;
    for (int y = 0; y < b.Height(); ++y)
        for (size_t i = 0; i < rowBytes; ++i)
            b.ScanLine(y)[i] = uint8_t((y * 131 + int(i) * 29 + int(seed) * 7) ^ (i * i));
}

} // namespace

class BitmapFormat : public testing::TestWithParam<PF> {};

TEST_P(BitmapFormat, StrideBitsAndPaletteOfANewBitmap) {
    const int expectedBits[] = {32, 1, 4, 8, 16, 16, 24, 32, 32};
    const int bpp = expectedBits[int(GetParam())];
    for (int w : {1, 2, 3, 5, 8, 31, 33, 127}) {
        Bitmap b(w, 3, GetParam());
        EXPECT_EQ(b.BitsPerPixel(), bpp);
        EXPECT_EQ(b.Stride(), size_t((w * bpp + 31) / 32 * 4)) << "width " << w;
        EXPECT_EQ(b.Stride() % 4, 0u);
        EXPECT_EQ(b.ScanLine(2) - b.ScanLine(0), ptrdiff_t(2 * b.Stride()));
        for (int y = 0; y < 3; ++y)
            for (size_t i = 0; i < b.Stride(); ++i)
                ASSERT_EQ(b.ScanLine(y)[i], 0);
    }
    Bitmap b(4, 4, GetParam());
    const size_t palette = bpp <= 8 ? size_t(1) << bpp : 0;
    ASSERT_EQ(b.Palette().size(), palette);
    if (palette) {
        EXPECT_EQ(b.Palette().front(), (TRGBQuad{0, 0, 0, 0}));
        EXPECT_EQ(b.Palette().back(), (TRGBQuad{255, 255, 255, 0}));
    }
    EXPECT_THROW(b.ScanLine(4), EInvalidGraphic);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
    EXPECT_THROW(b.PixelColor(4, 0), EInvalidGraphic);
}

TEST_P(BitmapFormat, ConversionsAgreeWithPixelColor) {
    Bitmap b(13, 5, GetParam());
    if (GetParam() == PF::pfCustom) b = Bitmap::Custom(13, 5, 16, {0x3000, 0x0FC0, 0x0007, 0x8000});
    if (!b.Palette().empty()) b.Palette().resize(b.Palette().size() / 2 + 1); // some out of range
    for (size_t i = 0; i < b.Palette().size(); ++i)
        b.Palette()[i] = {uint8_t(i * 3), uint8_t(200 - i), uint8_t(i * 7), 0};
    FillPattern(b, unsigned(GetParam()));

    const Bitmap b24 = b.ConvertTo24();
    ASSERT_EQ(b24.PixelFormat(), PF::pf24bit);
    const QImage q = b.ToQImage();
    const QImage::Format expected = GetParam() == PF::pf1bit     ? QImage::Format_Mono
                                    : b.BitsPerPixel() <= 8      ? QImage::Format_Indexed8
                                    : GetParam() == PF::pfCustom ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32;
    EXPECT_EQ(q.format(), expected);
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            const TRGBQuad c = b.PixelColor(x, y);
            const TRGBQuad c24 = b24.PixelColor(x, y);
            EXPECT_EQ((TRGBQuad{c.blue, c.green, c.red, 0}), c24) << x << "," << y;
            const QRgb p = q.pixel(x, y);
            EXPECT_EQ(qRgba(c.red, c.green, c.blue, b.HasAlpha() ? c.reserved : 255), p);
        }
    }
    // Through QImage and back keeps every colour.
    const Bitmap back = Bitmap::FromQImage(q);
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            TRGBQuad c = b.PixelColor(x, y);
            EXPECT_EQ(back.PixelColor(x, y), c);
        }
    const Bitmap copy = b.Copy();
    EXPECT_TRUE(copy == b);
    EXPECT_NE(copy.ScanLine(0), b.ScanLine(0));
}

INSTANTIATE_TEST_SUITE_P(All, BitmapFormat, testing::ValuesIn(AllFormats));

TEST(Bitmap, RefusesImpossibleSizes) {
    struct {
        int w, h;
    } bad[] = {{-1, 1},
               {1, -1},
               {Bitmap::MaxSide + 1, 1},
               {1, Bitmap::MaxSide + 1},
               {Bitmap::MaxSide, Bitmap::MaxSide},
               {16385, 16384},
               {INT32_MAX, INT32_MAX}};
    for (auto s : bad)
        for (PF f : {PF::pf1bit, PF::pf32bit})
            EXPECT_THROW(Bitmap(s.w, s.h, f), EInvalidGraphic) << s.w << "x" << s.h;
    EXPECT_THROW(Bitmap::Custom(4, 4, 24, {}), EInvalidGraphic);
    // The limits themselves are allowed.
    EXPECT_EQ(Bitmap(16384, 16384, PF::pf1bit).Stride(), 2048u);
    EXPECT_EQ(Bitmap(Bitmap::MaxSide, 1, PF::pf8bit).Width(), Bitmap::MaxSide);
    EXPECT_TRUE(Bitmap(0, 0, PF::pf24bit).Empty());
}

TEST(Bitmap, PixelLayoutAndChannelScaling) {
    Bitmap mono(10, 1, PF::pf1bit); // leftmost pixel in the most significant bit
    mono.ScanLine(0)[0] = 0x80;
    mono.ScanLine(0)[1] = 0x40;
    EXPECT_EQ(mono.PixelColor(0, 0).red, 255);
    EXPECT_EQ(mono.PixelColor(1, 0).red, 0);
    EXPECT_EQ(mono.PixelColor(9, 0).red, 255);

    Bitmap nib(3, 1, PF::pf4bit);
    nib.ScanLine(0)[0] = 0x1F;
    nib.Palette()[1] = {1, 2, 3, 0};
    EXPECT_EQ(nib.PixelColor(0, 0), (TRGBQuad{1, 2, 3, 0}));
    EXPECT_EQ(nib.PixelColor(1, 0).red, 255);

    Bitmap pal(3, 1, PF::pf8bit);
    pal.Palette().resize(2); // indices 2.. are beyond the palette: black
    pal.Palette()[1] = {10, 20, 30, 99};
    pal.ScanLine(0)[0] = 1;
    pal.ScanLine(0)[1] = 2;
    pal.ScanLine(0)[2] = 255;
    EXPECT_EQ(pal.PixelColor(0, 0), (TRGBQuad{10, 20, 30, 0}));
    EXPECT_EQ(pal.PixelColor(1, 0), (TRGBQuad{0, 0, 0, 0}));
    EXPECT_EQ(pal.ToQImage().pixel(2, 0), qRgb(0, 0, 0));

    struct {
        PF format;
        std::array<uint32_t, 4> masks;
        uint32_t pixel;
        TRGBQuad expected;
    } cases[] = {
        {PF::pf15bit, {}, 0x7FFF, {255, 255, 255, 0}},
        {PF::pf15bit, {}, 0xFC00, {0, 0, 255, 0}}, // top bit ignored
        {PF::pf15bit, {}, 0x0003, {25, 0, 0, 0}},  // 3 * 255 / 31 = 24.7
        {PF::pf16bit, {}, 0xFFFF, {255, 255, 255, 0}},
        {PF::pf16bit, {}, 0x0020, {0, 4, 0, 0}},
        {PF::pf24bit, {}, 0x123456, {0x56, 0x34, 0x12, 0}},
        {PF::pf32bit, {}, 0xAB123456, {0x56, 0x34, 0x12, 0}}, // fourth byte is not alpha
        {PF::pfDevice, {}, 0xAB123456, {0x56, 0x34, 0x12, 0}},
        {PF::pfCustom, {0x30, 0x0E, 0x01, 0}, 0x2F, {255, 255, 170, 0}}, // 2-3-1
        {PF::pfCustom, {0, 0, 0, 0}, 0xFFFFFFFF, {0, 0, 0, 0}},          // no mask: 0
        {PF::pfCustom, {0xFFFFFFFF, 0, 0, 0}, 0x80000000, {0, 0, 128, 0}},
        {PF::pfCustom,
         {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
         0xFFFFFFFF,
         {255, 255, 255, 255}},
        {PF::pfCustom, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, 0x7FF003FF, {255, 0, 255, 85}},
        {PF::pfCustom, {0xA0, 0x50, 0x0F, 0}, 0x80, {0, 0, 204, 0}}, // gap: 4 of 5
    };
    for (const auto& c : cases) {
        Bitmap b =
            c.format == PF::pfCustom ? Bitmap::Custom(1, 1, 32, c.masks) : Bitmap(1, 1, c.format);
        for (int i = 0; i < b.BitsPerPixel() / 8; ++i)
            b.ScanLine(0)[i] = uint8_t(c.pixel >> (8 * i));
        EXPECT_EQ(b.PixelColor(0, 0), c.expected) << "pixel " << std::hex << c.pixel;
        EXPECT_EQ(b.ConvertTo24().PixelColor(0, 0),
                  (TRGBQuad{c.expected.blue, c.expected.green, c.expected.red, 0}));
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
    EXPECT_EQ(b.PixelColor(8, 1), (TRGBQuad{255, 0, 0, 0}));
    EXPECT_EQ(b.PixelColor(7, 1), (TRGBQuad{0, 0, 255, 0}));

    QImage idx(3, 1, QImage::Format_Indexed8);
    idx.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)});
    idx.setPixel(0, 0, 2);
    idx.setPixel(1, 0, 0);
    idx.setPixel(2, 0, 1);
    b = Bitmap::FromQImage(idx);
    ASSERT_EQ(b.PixelFormat(), PF::pf8bit);
    EXPECT_EQ(b.Palette().size(), 3u);
    EXPECT_EQ(b.ScanLine(0)[0], 2);
    EXPECT_EQ(b.PixelColor(0, 0), (TRGBQuad{9, 8, 7, 0}));

    idx.setColor(1, qRgba(4, 5, 6, 128)); // alpha in the colour table: becomes 32 bpp
    b = Bitmap::FromQImage(idx);
    EXPECT_TRUE(b.HasAlpha());
    EXPECT_EQ(b.BitsPerPixel(), 32);
    EXPECT_EQ(b.PixelColor(2, 0), (TRGBQuad{6, 5, 4, 128}));

    QImage rgb(2, 1, QImage::Format_RGB888);
    rgb.setPixel(1, 0, qRgb(10, 20, 30));
    b = Bitmap::FromQImage(rgb);
    EXPECT_EQ(b.PixelFormat(), PF::pf24bit);
    EXPECT_EQ(b.PixelColor(1, 0), (TRGBQuad{30, 20, 10, 0}));

    QImage argb(1, 1, QImage::Format_ARGB32_Premultiplied);
    argb.setPixel(0, 0, qRgba(100, 50, 0, 255));
    b = Bitmap::FromQImage(argb);
    EXPECT_TRUE(b.HasAlpha());
    EXPECT_EQ(b.PixelColor(0, 0), (TRGBQuad{0, 50, 100, 255}));

    EXPECT_TRUE(Bitmap::FromQImage(QImage()).Empty());
    EXPECT_TRUE(Bitmap().ToQImage().isNull());
}

TEST(Bitmap, MovedFromBitmapIsEmpty) {
    Bitmap a(5, 5, PF::pf8bit);
    Bitmap b = std::move(a);
    EXPECT_TRUE(a.Empty()); // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(a.Stride(), 0u);
    EXPECT_THROW(a.ScanLine(0), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 5);
    a = std::move(b);
    EXPECT_EQ(a.Palette().size(), 256u);
    EXPECT_TRUE(b.Empty());
}
