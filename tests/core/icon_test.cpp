#include "core/IconReader.h"
#include "core/PictureFormats.h"
#include "support/TempDir.h"

#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <set>

using namespace pictor;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string Root = std::string(PICTOR_TESTDATA) + "/ico/";

Bytes File(const std::string& path) {
    const std::string s = pictor_test::ReadFile(path);
    EXPECT_FALSE(s.empty()) << path;
    return {s.begin(), s.end()};
}

// Compared premultiplied: Qt's icon reader gives premultiplied pixels, and a fully transparent
// pixel's colour means nothing.
void ExpectPixels(const Bitmap& composite, const QImage& reference) {
    const auto pm = QImage::Format_ARGB32_Premultiplied;
    const QImage ours = composite.ToQImage().convertToFormat(pm);
    const QImage ref = reference.convertToFormat(pm);
    ASSERT_EQ(ours.size(), ref.size());
    int wrong = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x)
            wrong += ours.pixel(x, y) != ref.pixel(x, y);
    EXPECT_EQ(wrong, 0);
}

void ExpectRefused(const std::function<void()>& read, const std::string& part = "") {
    try {
        read();
        ADD_FAILURE() << "accepted";
    } catch (const EIconError& e) {
        const std::string m = e.what();
        EXPECT_EQ(m.rfind("Icon image is not valid: ", 0), 0u) << m;
        EXPECT_NE(m.find(part), std::string::npos) << m << " lacks: " << part;
    }
}

// Each good file with its images as "<w>x<h>x<bits>" ("p" for PNG data) and the reference for
// its pixels: "" = Qt's own icon reader, image by image; otherwise a PNG of the first image
// (Qt's reader ignores the mask of 24-bpp entries and misplaces V5 header bits).
struct GoodCase {
    const char* file;
    const char* images;
    const char* ref = "";
};
void PrintTo(const GoodCase& c, std::ostream* os) {
    *os << c.file;
}
const GoodCase GoodCases[] = {
    {"image-rs/bmp-24bpp-mask.ico", "32x32x24", "image-rs/reference/bmp-24bpp-mask.ico.png"},
    {"image-rs/bmp-32bpp-alpha.ico", "32x32x32"},
    {"image-rs/bmp-32bpp-conflicting-and-mask.ico", "16x16x32"},
    {"image-rs/bmp_v5_with_icc.ico", "127x64x24", "../bmp/bmpsuite-2.8/html/rgb24.png"},
    {"image-rs/lenient-bpp.ico", "256x256x1p"},
    {"image-rs/multiple_entries_with_different_bit_depth.ico",
     "32x32x4 16x16x4 48x48x8 32x32x8 16x16x8 48x48x32 32x32x32 24x24x32 16x16x32"},
    {"image-rs/png-32bpp-alpha.ico", "32x32x32p"},
    {"image-rs/png_l8.ico", "32x32x8p"},
    {"image-rs/png_rgb8.ico", "32x32x24p"},
    {"image-rs/smile.ico", "32x32x4 16x16x4"},
    {"image-rs/truncated_mask_32bpp.ico", "64x64x32"},
    {"image-rs/two-entry-order-test.ico", "48x48x8 48x48x8"},
    {"pillow/black_and_white.ico", "16x16x1"},
    {"pillow/deerstalker.cur", "32x32x32"},
    {"pillow/hopper.ico", "16x16x8"},
    {"pillow/hopper_256x256.ico", "256x256x24"},
    {"pillow/hopper_draw.ico", "16x16x32p"},
    {"pillow/hopper_mask.ico", "16x16x1"},
    // The directory says 16x32; the bitmap's own header wins (Qt refuses the file).
    {"pillow/hopper_unexpected.ico", "16x16x8", "-"},
    {"pillow/pillow.ico", "256x256x32p 48x48x32 32x32x32 24x24x32 16x16x32"},
    {"pillow/python.ico", "16x16x32 32x32x32 48x48x32"},
};
// Refused: lying sizes (the two cursors' directories give 8 bytes for 70-byte entries), data
// past the end, absurd picture sizes, no images.
const char* const BadFiles[] = {
    "image-rs/Bad_smile-incorrect-image-length.ico",
    "image-rs/crash-981fee302fe0fc543ee48292cc3d6ace7e97e633.ico",
    "image-rs/oom-0d0085eb7f66ea55d9119206235cd29e089b9140.ico",
    "image-rs/oom-ff076e7064c13ec1f8e2c5bbbfb7a77a08db2361.ico",
    "pillow/decompression_bomb.ico",
    "pillow/mask_1.cur",
    "pillow/mask_L.cur",
    "pillow/no_cursors.cur",
};

} // namespace

class IconFiles : public testing::TestWithParam<GoodCase> {};

TEST_P(IconFiles, ImagesAndPixelsAsExpected) {
    const GoodCase& c = GetParam();
    const Bytes data = File(Root + c.file);
    const std::vector<TIconImage> images = ReadIconImages(data);
    std::string listed;
    for (const TIconImage& im : images) {
        listed += (listed.empty() ? "" : " ") + std::to_string(im.Width) + "x" +
                  std::to_string(im.Height) + "x" + std::to_string(im.BitCount) +
                  (im.Png ? "p" : "");
        EXPECT_EQ(im.Picture.Width(), im.Width);
        EXPECT_EQ(im.Picture.Height(), im.Height);
    }
    EXPECT_EQ(listed, c.images);

    // Loading as an icon gives the first image, and only that.
    const TIconImage first = LoadIcon(data);
    EXPECT_TRUE(first.Picture == images[0].Picture && first.Mask == images[0].Mask);

    if (std::string(c.ref) == "-") return;
    if (*c.ref)
        return ExpectPixels(images[0].Composite(), QImage(QString::fromStdString(Root + c.ref)));
    QImageReader qt(QString::fromStdString(Root + c.file), "ico");
    ASSERT_EQ(qt.imageCount(), int(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        ASSERT_TRUE(qt.jumpToImage(int(i)));
        SCOPED_TRACE("image " + std::to_string(i + 1));
        ExpectPixels(images[i].Composite(), qt.read());
    }
}

INSTANTIATE_TEST_SUITE_P(Good, IconFiles, testing::ValuesIn(GoodCases));

TEST(IconFiles, BadFilesAreRefusedAndEveryFileIsListed) {
    std::set<std::string> listed;
    for (const GoodCase& c : GoodCases)
        listed.insert(c.file);
    for (const char* f : BadFiles) {
        listed.insert(f);
        const Bytes data = File(Root + f);
        ExpectRefused([&] { ReadIconImages(data); });
        ExpectRefused([&] { LoadIcon(data); });
    }
    for (const auto& e : fs::recursive_directory_iterator(Root)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".ico" || ext == ".cur") {
            EXPECT_TRUE(listed.count(fs::relative(e.path(), Root).string())) << e.path();
        }
    }
}

namespace {

void Put(Bytes& d, size_t at, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i)
        d[at + size_t(i)] = uint8_t(v >> (8 * i));
}
Bytes Patch(Bytes d, size_t at, uint32_t v, int n = 4) {
    Put(d, at, v, n);
    return d;
}

// A DIB entry with a 40-byte header (height field = 2 x h) followed by `rest` (masks,
// palette, colour rows, mask rows).
Bytes Dib(int32_t w, int32_t h, uint16_t bpp, uint32_t clrUsed, const Bytes& rest,
          uint32_t compression = 0) {
    Bytes d(40 + rest.size(), 0);
    size_t at = 0;
    for (uint32_t v : {40u, uint32_t(w), uint32_t(2 * h), 1u | uint32_t(bpp) << 16, compression})
        Put(d, (at += 4) - 4, v);
    Put(d, 32, clrUsed);
    std::copy(rest.begin(), rest.end(), d.begin() + 40);
    return d;
}

// An icon file with the entries one after the other behind the directory.
Bytes Icon(const std::vector<Bytes>& entries) {
    size_t at = 6 + 16 * entries.size();
    Bytes d(at, 0);
    for (const Bytes& e : entries)
        d.resize(d.size() + e.size());
    Put(d, 2, 1, 2);
    Put(d, 4, uint32_t(entries.size()), 2);
    for (size_t i = 0; i < entries.size(); ++i) {
        Put(d, 6 + 16 * i + 8, uint32_t(entries[i].size()));
        Put(d, 6 + 16 * i + 12, uint32_t(at));
        at = size_t(std::copy(entries[i].begin(), entries[i].end(), d.begin() + ptrdiff_t(at)) -
                    d.begin());
    }
    return d;
}

// 2 x 2 at 8 bpp, two palette entries; colour rows and mask rows 4 bytes each. The entry
// starts at 22: header fields at 22 + their offset, palette at 62, colour rows at 70.
const Bytes Base = Icon({Dib(
    2, 2, 8, 2, {1, 2, 3, 0, 4, 5, 6, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0x40, 0, 0, 0, 0x80, 0, 0, 0})});
// A PNG signature and IHDR (its CRC not valid), then `more`.
Bytes Png(uint32_t w, uint32_t h, uint8_t colourType, const Bytes& more = {}) {
    Bytes d = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {w, h, uint32_t(8 << 24 | colourType << 16), 0u})
        for (int s = 24; s >= 0; s -= 8)
            d.push_back(uint8_t(v >> s));
    d.push_back(0); // the CRC's last byte
    d.insert(d.end(), more.begin(), more.end());
    return d;
}

struct BadCase {
    const char* name;
    Bytes data;
    const char* message;
};
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes Truncated(Bytes d, size_t by) {
    d.resize(d.size() - by);
    return Patch(d, 14, uint32_t(d.size() - 22));
}

const BadCase BadCases[] = {
    {"short header", {0, 0, 1, 0}, "header is truncated"},
    {"reserved set", Patch(Base, 0, 1, 2), "reserved header field is 1"},
    {"type 0", Patch(Base, 2, 0, 2), "type 0 is neither"},
    {"type 3", Patch(Base, 2, 3, 2), "type 3 is neither"},
    {"no images", {0, 0, 1, 0, 0, 0}, "holds no images"},
    {"65535 entries in 6 bytes", {0, 0, 1, 0, 0xFF, 0xFF}, "directory of 65535 entries is trunc"},
    {"entry size 0", Patch(Base, 14, 0), "size of 0 bytes"},
    {"entry in the directory", Patch(Base, 18, 6), "overlaps the directory"},
    {"entry past the end", Patch(Base, 14, 1000), "runs past the end of the file"},
    {"offset wraps", Patch(Base, 18, 0xFFFFFFF0), "runs past the end of the file"},
    {"core header", Patch(Base, 22, 12), "unsupported info header size 12"},
    {"width 0", Patch(Base, 26, 0), "invalid width 0"},
    {"height 0", Patch(Base, 30, 0), "height 0 leaves no picture rows"},
    {"height 1", Patch(Base, 30, 1), "height 1 leaves no picture rows"},
    {"height INT32_MIN", Patch(Base, 30, 0x80000000), "top-down"},
    {"bit count 2", Patch(Base, 36, 2, 2), "unsupported bit count 2"},
    {"bit count 7", Patch(Base, 36, 7, 2), "unsupported bit count 7"},
    {"RLE8", Patch(Base, 38, 1), "compression type 1"},
    {"bit fields at 8 bpp", Patch(Base, 38, 3), "compression type 3"},
    {"PNG inside the DIB", Patch(Base, 38, 5), "compression type 5"},
    {"257 colours", Patch(Base, 54, 257), "257 entries exceeds 256"},
    {"palette past the entry", Patch(Base, 54, 256), "colour table of 256 entries is trunc"},
    {"huge size, little data", Patch(Patch(Base, 26, 100000), 30, 200000), "exceeds the supp"},
    {"colour rows cut", Truncated(Base, 12), "pixel data is truncated (4 of 8 bytes)"},
    {"AND mask cut", Truncated(Base, 7), "AND mask is truncated (1 of 5 bytes)"},
    {"PNG header cut", Truncated(Icon({Png(1, 1, 6)}), 10), "PNG header is truncated"},
    {"PNG without IHDR", Icon({Patch(Png(1, 1, 6), 12, 0x54414449)}), "does not start"},
    {"PNG 0 wide", Icon({Png(0, 5, 6)}), "is empty"},
    {"PNG huge", Icon({Png(1 << 20, 1 << 20, 6)}), "exceeds the supported limit"},
    {"PNG colour type 5", Icon({Png(2, 2, 5)}), "colour type 5"},
    {"PNG without data", Icon({Png(2, 2, 6)}), "cannot be decoded"},
    // The PNG decoder would allocate a chunk's declared length up front.
    {"PNG chunk past the end",
     Icon({Png(2, 2, 6, {0x7F, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't', 0, 0, 0, 0})}),
     "chunk of 2147483647 bytes runs past the end"},
};

} // namespace

class IconBadInput : public testing::TestWithParam<BadCase> {};

TEST_P(IconBadInput, RefusedWithAClearMessage) {
    const BadCase& c = GetParam();
    ExpectRefused([&] { ReadIconImages(c.data); }, c.message);
    ExpectRefused([&] { LoadIcon(c.data); }, c.message);
}

INSTANTIATE_TEST_SUITE_P(Crafted, IconBadInput, testing::ValuesIn(BadCases));

TEST(IconBadInput, LaterImagesAndTheWholeFilesPixelBudget) {
    // A broken second image spoils the list, not the icon, which is the first image alone.
    const Bytes good(Base.begin() + 22, Base.end());
    const Bytes two = Icon({good, Patch(good, 14, 3, 2)});
    ExpectRefused([&] { ReadIconImages(two); }, "image 2 of 2: unsupported bit count 3");
    EXPECT_EQ(LoadIcon(two).Width, 2);

    // Five entries share one 8192 x 8192 1-bpp bitmap: each fits, all five exceed the limit
    // on what one file may decode.
    const int side = 8192;
    const Bytes big = Dib(side, side, 1, 2, Bytes(8 + 2 * size_t(side) * side / 8, 0));
    Bytes d(86 + big.size(), 0);
    std::copy(big.begin(), big.end(), d.begin() + 86);
    Put(d, 2, 1, 2);
    Put(d, 4, 5, 2);
    for (size_t i = 0; i < 5; ++i) {
        Put(d, 6 + 16 * i + 8, uint32_t(big.size()));
        Put(d, 6 + 16 * i + 12, 86);
    }
    EXPECT_EQ(LoadIcon(d).Width, side);
    ExpectRefused([&] { ReadIconImages(d); }, "image 5 of 5: the picture size 8192x8192 exceeds");
}

TEST(IconCrafted, DepthsTheFilesLackFollowTheMask) {
    // 2 x 1, the mask hides the right pixel: 16 bpp (5-5-5) and 32 bpp whose alpha bytes are
    // all 0, which older writers leave so and which then carries no alpha.
    const std::pair<Bytes, TRGBQuad> cases[] = {
        {Dib(2, 1, 16, 0, {0x00, 0x7C, 0xFF, 0x7F, 0x40, 0, 0, 0}), {0, 0, 255, 255}},
        {Dib(2, 1, 32, 0, {1, 2, 3, 0, 4, 5, 6, 0, 0x40, 0, 0, 0}), {1, 2, 3, 255}},
    };
    for (const auto& [entry, left] : cases) {
        const TIconImage icon = LoadIcon(Icon({entry}));
        EXPECT_FALSE(icon.Picture.HasAlpha());
        const Bitmap c = icon.Composite();
        EXPECT_EQ(c.PixelColor(0, 0), left);
        EXPECT_EQ(c.PixelColor(1, 0), TRGBQuad{});
    }
}

TEST(IconFile, LoadsThroughTheRegistryAndRefusesWhatItCannotRead) {
    pictor_test::TempDir dir("icon");
    const std::string path = (dir.path / "a.ico").string();
    pictor_test::WriteFile(path, std::string(Base.begin(), Base.end()));
    RegisterIconFormats();
    const TPictureFormat* format = TPictureFormats::Instance().Find("ICO");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->Description, "Icon");
    const Bitmap b = TPictureFormats::Instance().LoadPicture(path);
    EXPECT_TRUE(b == LoadIconFile(path).Composite());
    EXPECT_TRUE(b == format->GraphicClass->LoadFromMemory(Base, "a.ico"));
    // Palette {1,2,3}, {4,5,6}; the top-left and bottom-right pixels are masked.
    EXPECT_EQ(b.PixelColor(0, 0), TRGBQuad{});
    EXPECT_EQ(b.PixelColor(0, 1), (TRGBQuad{1, 2, 3, 255}));
    EXPECT_EQ(b.PixelColor(1, 0), (TRGBQuad{1, 2, 3, 255}));

    EXPECT_THROW(LoadIconFile((dir.path / "none.ico").string()), EInOutError);
    EXPECT_THROW(LoadIconFile(dir.path.string()), EInOutError);
    const fs::path fifo = dir.path / "fifo.ico"; // refused, not waited on
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(LoadIconFile(fifo.string()), EInOutError);
    // Up to the size limit a file is read (trailing bytes after the images are allowed).
    fs::resize_file(path, MaxIconFileSize);
    EXPECT_TRUE(LoadIconFile(path).Picture == LoadIcon(Base).Picture);
    fs::resize_file(path, MaxIconFileSize + 1);
    ExpectRefused([&] { LoadIconFile(path); }, "larger than 16 MiB");
}
