#include "imaging/RotationBitmap.h"

#include "imaging/RowBands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace pictor {
namespace {

const char* const Modes[] = {"90", "270", "ud", "rl"};

struct TFormatCase {
    const char* name;
    std::function<Bitmap(int, int)> make;
};

const std::vector<TFormatCase>& Formats() {
    static const std::vector<TFormatCase> formats = {
        {"1bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf1bit); }},
        {"4bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf4bit); }},
        {"8bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf8bit); }},
        {"15bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf15bit); }},
        {"16bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf16bit); }},
        {"24bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf24bit); }},
        {"32bit", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pf32bit); }},
        {"device", [](int w, int h) { return Bitmap(w, h, TPixelFormat::pfDevice); }},
        {"custom16argb4444",
         [](int w, int h) {
             return Bitmap::Custom(w, h, 16, {0x0F00, 0x00F0, 0x000F, 0xF000});
         }},
        {"custom32bgra",
         [](int w, int h) {
             return Bitmap::Custom(w, h, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
         }},
        {"custom32rgb10",
         [](int w, int h) {
             return Bitmap::Custom(w, h, 32, {0x3FF00000, 0x000FFC00, 0x000003FF, 0});
         }},
    };
    return formats;
}

// The result of a size in the format RotateBitmap gives for `source`.
Bitmap ExpectedBlank(const Bitmap& source, int w, int h) {
    Bitmap b = source.PixelFormat() == TPixelFormat::pfCustom
                   ? Bitmap::Custom(w, h, source.BitsPerPixel(), source.ColorMasks())
               : source.PixelFormat() == TPixelFormat::pfDevice
                   ? Bitmap(w, h, TPixelFormat::pf32bit)
                   : Bitmap(w, h, source.PixelFormat());
    b.Palette() = source.Palette();
    return b;
}

// Plain per-pixel access to the stored unit, as the layout of the rows defines it.
uint32_t GetRaw(const uint8_t* row, int bits, int x) {
    switch (bits) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
    case 8:
        return row[x];
    case 16:
        return row[2 * x] | row[2 * x + 1] << 8;
    case 24:
        return row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
    default:
        return row[4 * x] | row[4 * x + 1] << 8 | row[4 * x + 2] << 16 |
               uint32_t(row[4 * x + 3]) << 24;
    }
}

void SetRaw(uint8_t* row, int bits, int x, uint32_t v) {
    if (bits == 1) {
        const uint8_t m = uint8_t(0x80 >> x % 8);
        row[x / 8] = uint8_t(v & 1 ? row[x / 8] | m : row[x / 8] & ~m);
    } else if (bits == 4) {
        const int s = x % 2 ? 0 : 4;
        row[x / 2] = uint8_t((row[x / 2] & ~(15 << s)) | (v & 15) << s);
    } else {
        for (int i = 0; i < bits / 8; ++i)
            row[bits / 8 * x + i] = uint8_t(v >> 8 * i);
    }
}

uint32_t GetRaw(const Bitmap& b, int x, int y) {
    return GetRaw(b.ScanLine(y), b.BitsPerPixel(), x);
}
void SetRaw(Bitmap& b, int x, int y, uint32_t v) {
    SetRaw(b.ScanLine(y), b.BitsPerPixel(), x, v);
}

uint32_t UnitMask(const Bitmap& b) {
    return b.BitsPerPixel() == 32 ? 0xFFFFFFFFu : (1u << b.BitsPerPixel()) - 1;
}

// Random pixel bytes; the bits after the last pixel of a row stay zero.
Bitmap RandomPicture(const TFormatCase& f, int w, int h, std::mt19937& rng) {
    Bitmap b = f.make(w, h);
    const int usedBits = w * b.BitsPerPixel();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < (usedBits + 7) / 8; ++i)
            row[i] = uint8_t(rng());
        if (usedBits % 8) row[usedBits / 8] &= uint8_t(0xFF00 >> usedBits % 8);
    }
    return b;
}

// The table of destinations, pixel by pixel.
Bitmap ReferenceRotate(const Bitmap& s, const std::string& mode) {
    const int w = s.Width(), h = s.Height(), bits = s.BitsPerPixel();
    const bool turn = mode == "90" || mode == "270";
    Bitmap d = ExpectedBlank(s, turn ? h : w, turn ? w : h);
    for (int r = 0; r < h; ++r) {
        const uint8_t* row = s.ScanLine(r);
        for (int c = 0; c < w; ++c) {
            const uint32_t v = GetRaw(row, bits, c);
            if (mode == "90") SetRaw(d.ScanLine(w - 1 - c), bits, r, v);
            if (mode == "270") SetRaw(d.ScanLine(c), bits, h - 1 - r, v);
            if (mode == "ud") SetRaw(d.ScanLine(h - 1 - r), bits, c, v);
            if (mode == "rl") SetRaw(d.ScanLine(r), bits, w - 1 - c, v);
        }
    }
    return d;
}

TEST(RotateBitmap, ThreeByTwoPixelsLandWhereTheModeSays) {
    // Source rows {1 2 3} {4 5 6} (scaled into each unit); 1 bpp takes one lit pixel at a time.
    const std::vector<std::vector<int>> expected[] = {
        {{3, 6}, {2, 5}, {1, 4}}, // "90": top-right becomes top-left, top-left bottom-left
        {{4, 1}, {5, 2}, {6, 3}}, // "270"
        {{4, 5, 6}, {1, 2, 3}},   // "ud"
        {{3, 2, 1}, {6, 5, 4}},   // "rl"
    };
    for (const TFormatCase& f : Formats()) {
        const Bitmap probe = f.make(1, 1);
        const uint32_t mask = UnitMask(probe);
        const int lit = probe.BitsPerPixel() == 1 ? 6 : 1;
        for (int one = 1; one <= lit; ++one) {
            auto value = [&](int n) -> uint32_t {
                if (lit > 1) return n == one ? 1 : 0;
                return uint32_t(n * 0x11111111u) & mask;
            };
            Bitmap s = f.make(3, 2);
            for (int n = 1; n <= 6; ++n)
                SetRaw(s, (n - 1) % 3, (n - 1) / 3, value(n));
            for (int m = 0; m < 4; ++m) {
                SCOPED_TRACE(std::string(f.name) + " " + Modes[m] + " lit " + std::to_string(one));
                const Bitmap d = RotateBitmap(s, Modes[m]);
                const auto& rows = expected[m];
                ASSERT_EQ(d.Height(), int(rows.size()));
                ASSERT_EQ(d.Width(), int(rows[0].size()));
                for (int y = 0; y < d.Height(); ++y)
                    for (int x = 0; x < d.Width(); ++x)
                        EXPECT_EQ(GetRaw(d, x, y), value(rows[y][x])) << x << "," << y;
            }
        }
    }
}

TEST(RotateBitmap, OppositeTurnsAndDoubleMirrorsGiveTheStartBack) {
    std::mt19937 rng(7);
    for (const TFormatCase& f : Formats()) {
        SCOPED_TRACE(f.name);
        const Bitmap s = RandomPicture(f, 29, 13, rng);
        // Bytes compared: a pfDevice source comes back as pf32bit.
        EXPECT_EQ(RotateBitmap(RotateBitmap(s, "270"), "90").Bits(), s.Bits());
        EXPECT_EQ(RotateBitmap(RotateBitmap(s, "90"), "270").Bits(), s.Bits());
        EXPECT_EQ(RotateBitmap(RotateBitmap(s, "ud"), "ud").Bits(), s.Bits());
        EXPECT_EQ(RotateBitmap(RotateBitmap(s, "rl"), "rl").Bits(), s.Bits());
        Bitmap round = RotateBitmap(s, "90");
        for (int i = 0; i < 3; ++i)
            round = RotateBitmap(round, "90");
        EXPECT_EQ(round.Bits(), s.Bits());
    }
}

TEST(RotateBitmap, OneBitMirrorOfWidthTenKeepsThePaddingClear) {
    Bitmap s(10, 2, TPixelFormat::pf1bit);
    SetRaw(s, 0, 0, 1); // pixel 0 of row 0
    SetRaw(s, 9, 1, 1); // pixel 9 of row 1
    // Garbage after pixel 9 and in the row padding of the source must not come through.
    for (int y = 0; y < 2; ++y) {
        s.ScanLine(y)[1] |= 0x3F;
        s.ScanLine(y)[2] = 0xFF;
        s.ScanLine(y)[3] = 0xA5;
    }
    const Bitmap d = RotateBitmap(s, "rl");
    const uint8_t row0[4] = {0x00, 0x40, 0, 0}; // pixel 9 = bit 6 of byte 1
    const uint8_t row1[4] = {0x80, 0x00, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(d.ScanLine(0), d.ScanLine(0) + 4),
              std::vector<uint8_t>(row0, row0 + 4));
    EXPECT_EQ(std::vector<uint8_t>(d.ScanLine(1), d.ScanLine(1) + 4),
              std::vector<uint8_t>(row1, row1 + 4));
}

TEST(RotateBitmap, SourcePaddingNeverReachesTheResult) {
    std::mt19937 rng(11);
    for (const TFormatCase& f : Formats()) {
        for (int w : {1, 3, 9, 10, 13, 17}) {
            const Bitmap clean = RandomPicture(f, w, 11, rng);
            Bitmap dirty = clean.Copy();
            // Set every bit that is not a pixel: the rest of the last byte and the row padding.
            const int usedBits = w * dirty.BitsPerPixel();
            for (int y = 0; y < 11; ++y)
                for (int bit = usedBits; bit < int(dirty.Stride()) * 8; ++bit)
                    dirty.ScanLine(y)[bit / 8] |= uint8_t(0x80 >> bit % 8);
            for (const char* mode : Modes) {
                SCOPED_TRACE(std::string(f.name) + " w " + std::to_string(w) + " " + mode);
                EXPECT_TRUE(RotateBitmap(dirty, mode) == RotateBitmap(clean, mode));
            }
        }
    }
}

TEST(RotateBitmap, NibblesMoveBetweenHighAndLowHalves) {
    Bitmap s(3, 2, TPixelFormat::pf4bit);
    s.ScanLine(0)[0] = 0x12; // row 0: 1 2 3
    s.ScanLine(0)[1] = 0x30;
    s.ScanLine(1)[0] = 0x45; // row 1: 4 5 6
    s.ScanLine(1)[1] = 0x60;
    const Bitmap rl = RotateBitmap(s, "rl"); // 3 2 1 / 6 5 4
    EXPECT_EQ(rl.ScanLine(0)[0], 0x32);
    EXPECT_EQ(rl.ScanLine(0)[1], 0x10);
    EXPECT_EQ(rl.ScanLine(1)[0], 0x65);
    EXPECT_EQ(rl.ScanLine(1)[1], 0x40);
    const Bitmap left = RotateBitmap(s, "90"); // 3 6 / 2 5 / 1 4
    EXPECT_EQ(left.ScanLine(0)[0], 0x36);      // 3 was a high nibble, 6 too; 6 moves to low
    EXPECT_EQ(left.ScanLine(1)[0], 0x25);      // 2 and 5 were low nibbles; 2 moves to high
    EXPECT_EQ(left.ScanLine(2)[0], 0x14);
    const Bitmap even = RotateBitmap(RotateBitmap(s, "270"), "rl"); // width 2: swap in place
    EXPECT_EQ(even.ScanLine(0)[0], 0x14);
    EXPECT_EQ(even.ScanLine(2)[0], 0x36);
}

TEST(RotateBitmap, OneByOneComesBackUnchanged) {
    for (const TFormatCase& f : Formats()) {
        Bitmap s = f.make(1, 1);
        SetRaw(s, 0, 0, 0xA5C3E1F7u & UnitMask(s));
        for (const char* mode : Modes) {
            const Bitmap d = RotateBitmap(s, mode);
            EXPECT_EQ(d.Bits(), s.Bits()) << f.name << " " << mode;
        }
    }
}

TEST(RotateBitmap, EmptyPictureIsRefused) {
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 4}, std::pair{4, 0}}) {
        const Bitmap s(w, h, TPixelFormat::pf24bit);
        try {
            (void)RotateBitmap(s, "90");
            ADD_FAILURE() << "no error for " << w << "x" << h;
        } catch (const ERotateError& e) {
            EXPECT_STREQ(e.what(), "Bitmap Size Error");
        }
    }
    EXPECT_THROW((void)RotateBitmap(Bitmap(), "ud"), Exception);
}

TEST(RotateBitmap, FormatPaletteAndMasksAreKept) {
    Bitmap s(5, 3, TPixelFormat::pf8bit);
    s.Palette() = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}; // shorter than 256 entries
    SetRaw(s, 4, 2, 2);
    for (const char* mode : Modes) {
        const Bitmap d = RotateBitmap(s, mode);
        EXPECT_EQ(d.PixelFormat(), TPixelFormat::pf8bit);
        EXPECT_EQ(d.Palette(), s.Palette()) << mode;
    }
    // A picture with alpha keeps its masks and its alpha values (nothing is converted).
    Bitmap a = Formats()[9].make(2, 1);
    SetRaw(a, 0, 0, 0x80102030);
    SetRaw(a, 1, 0, 0x00FFFFFF);
    const Bitmap turned = RotateBitmap(a, "270");
    EXPECT_EQ(turned.PixelFormat(), TPixelFormat::pfCustom);
    EXPECT_EQ(turned.ColorMasks(), a.ColorMasks());
    EXPECT_EQ(turned.PixelColor(0, 0).reserved, 0x80);
    EXPECT_EQ(turned.PixelColor(0, 1).reserved, 0x00);
    // The device form comes back as an ordinary 32-bit bitmap with the same bytes.
    Bitmap dev(3, 2, TPixelFormat::pfDevice);
    SetRaw(dev, 2, 1, 0xDEADBEEF);
    const Bitmap flipped = RotateBitmap(dev, "ud");
    EXPECT_EQ(flipped.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(GetRaw(flipped, 2, 0), 0xDEADBEEFu);
}

TEST(RotateBitmap, UnknownModeGivesABlankPictureOfTheSameSize) {
    std::mt19937 rng(3);
    const Bitmap s = RandomPicture(Formats()[1], 7, 5, rng);
    for (const char* mode : {"", "180", "UD", "Rl", "90 ", "lr"}) {
        const Bitmap d = RotateBitmap(s, mode);
        EXPECT_TRUE(d == ExpectedBlank(s, 7, 5)) << "'" << mode << "'";
    }
}

TEST(RotateBitmap, MatchesPixelByPixelReferenceOnRandomPictures) {
    std::mt19937 rng(2024);
    std::vector<std::pair<int, int>> sizes;
    for (int w = 1; w <= 37; ++w)
        for (int h : {1, 2, 7, 8, 9, 16, 23, 37})
            sizes.push_back({w, h});
    // Across the blocks and tiles of the quarter turns, with and without a partial last
    // byte, and rows that end exactly at their padded length (250 and 63 give 32-byte rows at
    // 1 and 4 bits per pixel) so that no read may pass the end of the pixels.
    for (auto wh : {std::pair{129, 67}, std::pair{67, 129}, std::pair{200, 131}, std::pair{257, 9},
                    std::pair{9, 263}, std::pair{250, 40}, std::pair{63, 250}, std::pair{256, 33}})
        sizes.push_back(wh);
    for (const TFormatCase& f : Formats())
        for (auto [w, h] : sizes) {
            const Bitmap s = RandomPicture(f, w, h, rng);
            const Bitmap before = s.Copy();
            for (const char* mode : Modes) {
                const Bitmap d = RotateBitmap(s, mode);
                ASSERT_TRUE(d == ReferenceRotate(s, mode))
                    << f.name << " " << w << "x" << h << " " << mode;
            }
            ASSERT_TRUE(s == before) << "source changed";
        }
}

TEST(RotateBitmap, ThreadsDoNotChangeTheBytes) {
    std::mt19937 rng(99);
    for (const TFormatCase& f : Formats()) {
        // Each pixel's bits are read and written once: half as much again as the amount of
        // work that stays on one thread. Odd sides.
        const int bits = f.make(1, 1).BitsPerPixel();
        const double pixels = 1.5 * double(ParallelThreshold) * 4 / bits;
        const int w = int(std::sqrt(pixels * 1.3)) | 1;
        const int h = int(pixels / w) | 1;
        const Bitmap s = RandomPicture(f, w, h, rng);
        for (const char* mode : Modes) {
            SCOPED_TRACE(std::string(f.name) + " " + mode);
            std::vector<Bitmap> results;
            for (int threads : {1, 2, 3}) {
                TRowBandThreads setting(threads);
                results.push_back(RotateBitmap(s, mode));
            }
            EXPECT_TRUE(results[0] == results[1]);
            EXPECT_TRUE(results[0] == results[2]);
            if (f.name == std::string("1bit") || f.name == std::string("24bit")) {
                EXPECT_TRUE(results[1] == ReferenceRotate(s, mode));
            }
        }
    }
}

} // namespace
} // namespace pictor
