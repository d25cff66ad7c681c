#include "core/BmpCodec.h"
#include "core/PictureFormats.h"
#include "support/TempDir.h"

#include <QImage>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

using namespace pictor;
namespace fs = std::filesystem;
using PF = TPixelFormat;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string Root = std::string(PICTOR_TESTDATA) + "/bmp/", Suite = Root + "bmpsuite-2.8/";

Bytes File(const std::string& path) {
    const std::string s = pictor_test::ReadFile(path);
    EXPECT_FALSE(s.empty()) << path;
    return {s.begin(), s.end()};
}

QImage QtRead(const Bytes& d, const char* format = "BMP") {
    return QImage::fromData(d.data(), int(d.size()), format).convertToFormat(QImage::Format_ARGB32);
}

// Every pixel against an independent rendering; where the reference is fully transparent ours
// must be too. `shift` drops low bits (for readers that widen 5/6-bit channels by shifting).
void ExpectPixels(const Bitmap& b, const QImage& ref, int tolerance = 0, int shift = 0) {
    const QImage ours = b.ToQImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(ours.size(), ref.size());
    auto near = [&](int o, int r) { return std::abs((o >> shift) - (r >> shift)) <= tolerance; };
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const QRgb o = ours.pixel(x, y), r = ref.pixel(x, y);
            ASSERT_TRUE(qAlpha(o) == qAlpha(r) &&
                        (!qAlpha(r) || (near(qRed(o), qRed(r)) && near(qGreen(o), qGreen(r)) &&
                                        near(qBlue(o), qBlue(r)))))
                << "pixel " << x << "," << y << std::hex << ": ours " << o << " reference " << r;
        }
}

void Put(Bytes& d, size_t at, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i)
        d[at + size_t(i)] = uint8_t(v >> (8 * i));
}
Bytes Patch(Bytes d, size_t at, uint32_t v, int n = 4) {
    Put(d, at, v, n);
    return d;
}

// A BMP file with a 40-byte header; `between` (masks, palette) goes between header and bits.
Bytes MakeBmp(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, uint32_t clrUsed,
              const Bytes& between, const Bytes& bits) {
    Bytes d = {'B', 'M'};
    d.resize(54);
    // The 4-byte fields from offset 10: bits offset, header size, width, height, planes and
    // bit count, compression, image size, densities, colours used.
    size_t at = 10;
    for (uint32_t v : {uint32_t(54 + between.size()), 40u, uint32_t(w), uint32_t(h),
                       1u | bpp << 16u, compression, 0u, 0u, 0u, clrUsed}) {
        Put(d, at, v);
        at += 4;
    }
    d.insert(d.end(), between.begin(), between.end());
    d.insert(d.end(), bits.begin(), bits.end());
    Put(d, 2, uint32_t(d.size()));
    return d;
}

const Bytes Masks565 = {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0};
const Bytes Grey4 = {0, 0, 0, 0, 50, 50, 50, 0, 100, 100, 100, 0, 150, 150, 150, 0};
// 4x2, 8 bpp, 4 palette entries, no row padding.
const Bytes Base8 = MakeBmp(4, 2, 8, 0, 4, Grey4, {0, 1, 2, 3, 3, 2, 1, 0});
Bytes Rle(const Bytes& stream, int32_t h = 2, bool rle4 = false) {
    return MakeBmp(4, h, rle4 ? 4 : 8, rle4 ? 2 : 1, 4, Grey4, stream);
}

// Refused with the reader's own error.
void ExpectRefused(std::span<const uint8_t> d, bool dib = false) {
    try {
        dib ? ReadDib(d) : ReadBmp(d);
        ADD_FAILURE() << "accepted";
    } catch (const EBmpError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Bitmap image is not valid: ", 0), 0u) << e.what();
    }
}

std::vector<int> Indices(const Bitmap& b) {
    std::vector<int> v;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            v.push_back(b.BitsPerPixel() == 8 ? b.ScanLine(y)[x]
                                              : (b.ScanLine(y)[x / 2] >> ((x & 1) ? 0 : 4)) & 15);
    return v;
}

std::set<std::string> ListDir(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) names.insert(e.path().filename().string());
    return names;
}

// Each suite file (without ".bmp") and the html/<ref>.png it must match; no ref: the file's own
// name, "": refused, "-": decoded without a reference. The "-0" renderings show pixels the RLE
// data leaves undefined as palette entry 0. Bad files are refused except lying sizes/densities
// and the two with a defined result (index beyond the palette: black; zero mask: channel 0).
struct SuiteCase {
    const char* file;
    const char* ref = nullptr;
    int tolerance = 0;
};
void PrintTo(const SuiteCase& c, std::ostream* os) {
    *os << c.file;
}
// clang-format off
const SuiteCase SuiteCases[] = {
    {"g/pal1"}, {"g/pal1bg"}, {"g/pal1wb", "pal1"}, {"g/pal4"}, {"g/pal4gs"}, {"g/pal4rle", "pal4"},
    {"g/pal8-0", "pal8"}, {"g/pal8"}, {"g/pal8gs"}, {"g/pal8nonsquare", "pal8nonsquare-e"},
    {"g/pal8os2", "pal8"}, {"g/pal8rle", "pal8"}, {"g/pal8topdown", "pal8"}, {"g/pal8v4", "pal8"},
    {"g/pal8v5", "pal8"}, {"g/pal8w124"}, {"g/pal8w125"}, {"g/pal8w126"}, {"g/rgb16-565"},
    {"g/rgb16-565pal", "rgb16-565"}, {"g/rgb16"}, {"g/rgb16bfdef", "rgb16"}, {"g/rgb24"},
    {"g/rgb24pal", "rgb24"}, {"g/rgb32", "rgb24"}, {"g/rgb32bf", "rgb24"},
    {"g/rgb32bfdef", "rgb24"}, {"q/pal1huffmsb", ""}, {"q/pal1p1"}, {"q/pal2"}, {"q/pal2color"},
    {"q/pal4rlecut", "pal4rlecut-0"}, {"q/pal4rletrns", "pal4rletrns-0"}, {"q/pal8offs", "pal8"},
    {"q/pal8os2-hs", "pal8"}, {"q/pal8os2-sz", "pal8"}, {"q/pal8os2sp", "pal8"},
    {"q/pal8os2v2-16", "pal8"}, {"q/pal8os2v2-40sz", "pal8"}, {"q/pal8os2v2-sz", "pal8"},
    {"q/pal8os2v2", "pal8"}, {"q/pal8oversizepal", "pal8"}, {"q/pal8rlecut", "pal8rlecut-0"},
    {"q/pal8rletrns", "pal8rletrns-0"}, {"q/rgb16-231"}, {"q/rgb16-3103"},
    {"q/rgb16faketrns", "rgb16"}, {"q/rgb24jpeg", ""}, {"q/rgb24largepal", "rgb24"},
    {"q/rgb24lprof", "rgb24"}, {"q/rgb24png", ""}, {"q/rgb24prof", "rgb24"}, {"q/rgb24prof2", "-"},
    {"q/rgb24rle24", ""}, {"q/rgb32-111110", "rgb24", 1}, {"q/rgb32-7187"},
    {"q/rgb32-xbgr", "rgb24"}, {"q/rgb32fakealpha", "rgb24"}, {"q/rgb32h52", "rgb24"},
    {"q/rgba16-1924"}, {"q/rgba16-4444"}, {"q/rgba16-5551"}, {"q/rgba32-1", "rgba32"},
    {"q/rgba32-1010102"}, {"q/rgba32-2", "rgba32"}, {"q/rgba32-61754"}, {"q/rgba32-81284"},
    {"q/rgba32abf", "rgba32"}, {"q/rgba32h56", "rgba32"}, {"q/rgba64", ""}, {"b/badbitcount", ""},
    {"b/badbitssize", "pal1"}, {"b/baddens1", "pal1"}, {"b/baddens2", "pal1"},
    {"b/badfilesize", "pal1"}, {"b/badheadersize", ""}, {"b/badpalettesize", ""},
    {"b/badplanes", ""}, {"b/badrle", ""}, {"b/badrle4", ""}, {"b/badrle4bis", ""},
    {"b/badrle4ter", ""}, {"b/badrlebis", ""}, {"b/badrleter", ""}, {"b/badwidth", ""},
    {"b/pal8badindex", "-"}, {"b/reallybig", ""}, {"b/rgb16-880"}, {"b/rletopdown", ""},
    {"b/shortfile", ""}, {"x/ba-bm", ""},
};
// clang-format on

} // namespace

class BmpSuite : public testing::TestWithParam<SuiteCase> {};

TEST_P(BmpSuite, DecodesLikeTheReferenceOrIsRefused) {
    const SuiteCase& c = GetParam();
    const std::string file = Suite + c.file + ".bmp";
    const std::string ref = c.ref ? c.ref : fs::path(c.file).filename().string();
    if (ref.empty()) return ExpectRefused(File(file));
    const Bytes data = File(file);
    const Bitmap b = ReadBmp(data);
    if (ref != "-")
        ExpectPixels(b, QtRead(File(Suite + "html/" + ref + ".png"), "PNG"), c.tolerance);
    // Qt's reader as a second opinion on the good files; it widens 5/6-bit channels by
    // shifting, so 16-bpp pictures agree in the top bits only.
    if (c.file[0] == 'g') ExpectPixels(b, QtRead(data), 0, b.BitsPerPixel() == 16 ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(Files, BmpSuite, testing::ValuesIn(SuiteCases));

TEST(BmpSuiteFiles, NaturalPixelFormatsAndIndicesBeyondThePalette) {
    const std::pair<const char*, PF> formats[] = {
        {"g/pal1", PF::pf1bit},        {"g/pal4rle", PF::pf4bit},
        {"q/pal2", PF::pf4bit},        {"g/pal8os2", PF::pf8bit},
        {"g/rgb16", PF::pf15bit},      {"g/rgb16bfdef", PF::pf15bit},
        {"g/rgb16-565", PF::pf16bit},  {"q/rgb16-231", PF::pfCustom},
        {"g/rgb24", PF::pf24bit},      {"g/rgb32", PF::pf32bit},
        {"g/rgb32bfdef", PF::pf32bit}, {"g/rgb32bf", PF::pfCustom},
        {"q/rgba32-1", PF::pfCustom},  {"q/rgb32fakealpha", PF::pf32bit}};
    for (auto [file, format] : formats)
        EXPECT_EQ(ReadBmp(File(Suite + file + ".bmp")).PixelFormat(), format) << file;

    // Indices beyond the palette show black; the others their entry.
    const Bitmap bad = ReadBmp(File(Suite + "b/pal8badindex.bmp"));
    int beyond = 0;
    for (int y = 0; y < bad.Height(); ++y)
        for (int x = 0; x < bad.Width(); ++x)
            if (bad.ScanLine(y)[x] >= bad.Palette().size()) {
                ++beyond;
                EXPECT_EQ(bad.PixelColor(x, y), TRGBQuad{}) << x << "," << y;
            }
    EXPECT_GT(beyond, 0);
}

class ImageRs : public testing::TestWithParam<std::string> {};

TEST_P(ImageRs, DecodesLikeItsReferenceOrIsRefused) {
    const std::string& name = GetParam();
    const Bytes data = File(Root + "image-rs/" + name);
    // Bad_*: broken headers. The two RLE files have runs crossing the row end, which is
    // refused here (image-rs is lenient with them).
    if (name.rfind("Bad_", 0) == 0 || name == "lenient_rle_overflow.bmp" ||
        name == "imagemagick_invalid_run_length_issue_2321.bmp")
        return ExpectRefused(data);
    const Bitmap b = ReadBmp(data);
    const std::string ref = Root + "image-rs/reference/" + name + ".png";
    if (!fs::exists(ref)) return ExpectPixels(b, QtRead(data));
    // A 32-bpp BI_RGB file's fourth byte is not alpha here (image-rs reads it as alpha).
    const QImage q = QtRead(File(ref), "PNG");
    ExpectPixels(
        b, b.HasAlpha()
               ? q
               : q.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32));
    if (const size_t twin = name.find("_Top_Down"); twin != std::string::npos) { // bottom-up twin
        EXPECT_TRUE(b == ReadBmp(File(Root + "image-rs/" + name.substr(0, twin) + ".bmp")));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ImageRs, testing::ValuesIn(ListDir(Root + "image-rs")));

TEST(BmpPillow, DibRlePhotosAndBrokenFiles) {
    // The clipboard DIB has no file header; Qt reads it once one is put in front.
    const Bytes dib = File(Root + "pillow/clipboard.dib");
    Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 12, 0, 0, 0};
    file.insert(file.end(), dib.begin(), dib.end());
    const Bitmap clip = ReadDib(dib);
    ExpectPixels(clip, QtRead(file));
    EXPECT_TRUE(ReadBmp(file) == clip);
    for (const char* name : {"hopper.bmp", "hopper_rle8.bmp", "hopper_rle8_grayscale.bmp",
                             "rgb32bf-abgr.bmp", "rgb32bf-rgba.bmp"})
        ExpectPixels(ReadBmp(File(Root + "pillow/" + name)), QtRead(File(Root + "pillow/" + name)));
    for (const char* name : {"hopper_rle8_row_overflow.bmp", "l2rgb_read.bmp", "mmap_error.bmp"})
        ExpectRefused(File(Root + "pillow/" + name));
}

struct RoundTripCase {
    const char* name;
    PF format;
    int customBits = 0; // pfCustom only
    std::array<uint32_t, 4> masks = {};
};
// clang-format off
const RoundTripCase RoundTrips[] = {
    {"pf1bit", PF::pf1bit}, {"pf4bit", PF::pf4bit}, {"pf8bit", PF::pf8bit},
    {"pf15bit", PF::pf15bit}, {"pf16bit", PF::pf16bit}, {"pf24bit", PF::pf24bit},
    {"pf32bit", PF::pf32bit}, {"pfDevice", PF::pfDevice},
    {"custom16", PF::pfCustom, 16, {0xF00, 0xF0, 0xF, 0}},
    {"custom16alpha", PF::pfCustom, 16, {0x3000, 0x0FC0, 0x7, 0x8000}},
    {"custom32swapped", PF::pfCustom, 32, {0xFF, 0xFF00, 0xFF0000, 0}},
    {"custom32alpha", PF::pfCustom, 32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
};
// clang-format on

class BmpRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(BmpRoundTrip, WriteThenReadGivesTheSamePixels) {
    const RoundTripCase& c = GetParam();
    for (int w : {1, 2, 3, 5, 7, 13, 33}) {
        SCOPED_TRACE(w);
        Bitmap b =
            c.customBits ? Bitmap::Custom(w, 3, c.customBits, c.masks) : Bitmap(w, 3, c.format);
        const int bpp = b.BitsPerPixel();
        const size_t rowBytes = (size_t(w) * size_t(bpp) + 7) / 8;
        for (int y = 0; y < 3; ++y) {
            for (size_t i = 0; i < rowBytes; ++i)
                b.ScanLine(y)[i] = uint8_t(y * 97 + i * 31 + w);
            if (w * bpp % 8) b.ScanLine(y)[rowBytes - 1] &= uint8_t(0xFF00 >> (w * bpp % 8));
        }
        for (size_t i = 0; i < b.Palette().size(); ++i)
            b.Palette()[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 5), 0};
        const Bytes file = WriteBmp(b), dib = WriteDib(b);
        ASSERT_TRUE(std::equal(dib.begin(), dib.end(), file.begin() + 14));
        EXPECT_EQ(file[14], b.HasAlpha() ? 108 : 40); // header size
        EXPECT_EQ(file[2] | file[3] << 8 | file[4] << 16, int(file.size()));
        EXPECT_EQ(file[22] | file[23] << 8, 3) << "bottom-up";
        for (const Bitmap& r : {ReadBmp(file), ReadDib(dib)}) {
            ASSERT_EQ(r.PixelFormat(), c.format == PF::pfDevice ? PF::pf32bit : c.format);
            EXPECT_TRUE(c.format == PF::pfDevice || r == b); // palette, masks and bits too
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < w; ++x)
                    EXPECT_EQ(r.PixelColor(x, y), b.PixelColor(x, y));
        }
        // An independent reader agrees on the plain formats.
        if (c.format != PF::pfCustom) ExpectPixels(b, QtRead(file), 0, bpp == 16 ? 3 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, BmpRoundTrip, testing::ValuesIn(RoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BmpWrite, PaletteEdgeCasesAndEmptyBitmap) {
    Bitmap b(3, 1, PF::pf8bit);
    b.Palette().clear(); // no palette: every index shows black, before and after
    b.ScanLine(0)[1] = 7;
    const Bitmap r = ReadBmp(WriteBmp(b));
    EXPECT_EQ(r.PixelColor(1, 0), TRGBQuad{});
    EXPECT_EQ(r.ScanLine(0)[1], 7);
    Bitmap mono(3, 1, PF::pf1bit);
    mono.Palette().resize(200, {1, 2, 3, 0}); // more entries than 1 bpp can use
    EXPECT_EQ(ReadBmp(WriteBmp(mono)).Palette().size(), 2u);
    EXPECT_THROW(WriteBmp(Bitmap()), EInvalidGraphic);
}

TEST(BmpCrafted, MalformedHeadersAndDataAreRefusedCleanly) {
    // A file header fault leaves the DIB behind it valid.
    auto check = [](const std::string& name, const Bytes& d, bool ok, bool dibToo = true) {
        SCOPED_TRACE(name);
        if (ok) {
            EXPECT_NO_THROW(ReadBmp(d));
        } else {
            ExpectRefused(d);
            if (dibToo) ExpectRefused(std::span(d).subspan(14), true);
        }
    };
    // One field of Base8 set to each of the values.
    auto field = [&](const char* name, size_t at, int n, std::initializer_list<uint32_t> values,
                     bool ok = false) {
        for (uint32_t v : values)
            check(name + (" " + std::to_string(v)), Patch(Base8, at, v, n), ok, at >= 14);
    };
    const uint32_t size = uint32_t(Base8.size());
    field("bfSize", 2, 4, {0, 0xFFFFFFFF}, true);
    field("biSizeImage", 34, 4, {0xFFFFFFF0}, true);
    field("clrUsed (rest black)", 46, 4, {2}, true);
    field("signature", 0, 2, {'B' | 'A' << 8});
    // in the file header, the info header, the stated palette; past and at the end
    field("offset", 10, 4, {0, 13, 14 + 39, 14 + 40 + 4, size + 1, size});
    field("biSize", 14, 4, {0, 11, 41, 66, 124 /* past the end */, 0xFFFFFFFF});
    field("width", 18, 4, {0, uint32_t(-4), Bitmap::MaxSide + 1});
    field("height", 22, 4, {0, 0x80000000u, 0x7FFFFFFF});
    field("planes", 26, 2, {0, 2});
    field("bitcount", 28, 2, {0, 3, 64, 65535});
    // RLE4 and bitfields on 8 bpp, JPEG, PNG, 7, CMYK
    field("compression", 30, 4, {2, 3, 4, 5, 7, 11});
    field("clrUsed", 46, 4, {0xFFFFFFFF, 5 /* past the bits */});
    check("width x height overflow", Patch(Patch(Base8, 18, 65536), 22, 65536), false);
    check("rle8 width x height overflow", Patch(Patch(Rle({0, 1}), 18, 65536), 22, 65536), false);
    check("last padding missing", MakeBmp(3, 2, 8, 0, 4, Grey4, {1, 2, 3, 0, 3, 2, 1}), true);
    const Bytes zeroMasks = MakeBmp(1, 1, 16, 3, 0, Bytes(12), {0xFF, 0xFF, 0, 0});
    const Bytes allOnes = MakeBmp(1, 1, 32, 3, 0, Bytes(12, 0xFF), {1, 2, 3, 4});
    check("bitfields on 24 bpp", MakeBmp(1, 1, 24, 3, 0, Masks565, {1, 2, 3, 0}), false);
    check("masks cut", MakeBmp(1, 1, 16, 3, 0, {}, {}), false);
    check("zero masks", zeroMasks, true);
    check("all-ones masks", allOnes, true);
    check("masks wider than 16 bits", MakeBmp(1, 1, 16, 3, 0, Bytes(12, 0xF0), {1, 2, 0, 0}), true);

    const Bytes rle8 = {2, 1, 0, 2, 1, 0, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1};
    const Bytes rle4 = {4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    check("rle8", Rle(rle8), true);
    check("rle8 top-down", Rle(rle8, -2), false);
    check("rle8 run past row end", Rle({5, 1, 0, 1}), false);
    check("rle8 absolute past row end", Rle({0, 5, 1, 2, 3, 1, 2, 0, 0, 1}), false);
    check("rle8 run after the last row", Rle({0, 0, 0, 0, 1, 1, 0, 1}), false);
    check("rle8 end of line past the last row", Rle({0, 0, 0, 0, 0, 0, 0, 1}), false);
    check("rle8 delta to the row end", Rle({0, 2, 4, 0, 0, 1}), true);
    check("rle8 delta past the row end", Rle({0, 2, 5, 0, 0, 1}), false);
    check("rle8 delta below the picture", Rle({0, 2, 0, 3, 0, 1}), false);
    check("rle8 delta cut", Rle({0, 2, 1}), false);
    check("rle8 absolute cut", Rle({0, 4, 1, 2}), false);
    check("rle8 absolute padding cut", Rle({0, 3, 1, 2, 3}), false);
    check("rle8 no end mark", Rle({4, 1, 0, 0, 4, 2}), false);
    check("rle8 empty", Rle({}), false);
    check("rle8 odd byte", Rle({4}), false);
    check("rle4", Rle(rle4, 2, true), true);
    check("rle4 run past row end", Rle({5, 0x12, 0, 1}, 2, true), false);
    check("rle4 absolute past row end", Rle({0, 5, 0x12, 0x34, 0x50, 0, 0, 1}, 2, true), false);

    // What the accepted odd ones decode to; pixels RLE data leaves undefined are entry 0.
    EXPECT_EQ(Indices(ReadBmp(Rle(rle8))), (std::vector<int>{1, 2, 3, 0, 1, 1, 0, 0}));
    EXPECT_EQ(Indices(ReadBmp(Rle(rle4, 2, true))), (std::vector<int>{3, 4, 5, 0, 1, 2, 1, 2}));
    EXPECT_EQ(Indices(ReadBmp(Rle({0, 2, 1, 1, 0, 1}))), std::vector<int>(8, 0));
    const Bitmap shortPal = ReadBmp(Patch(Base8, 46, 2));
    EXPECT_EQ(shortPal.Palette().size(), 2u);
    EXPECT_EQ(shortPal.PixelColor(1, 0), TRGBQuad{}); // top row is 3 2 1 0
    EXPECT_EQ(shortPal.PixelColor(2, 0), (TRGBQuad{50, 50, 50, 0}));
    // 0x04030201 of 2^32 - 1 is 3.9 of 255; a zero mask gives 0.
    EXPECT_EQ(ReadBmp(allOnes).PixelColor(0, 0), (TRGBQuad{4, 4, 4, 0}));
    EXPECT_EQ(ReadBmp(zeroMasks).PixelColor(0, 0), TRGBQuad{});
}

TEST(BmpCrafted, EveryTruncationOfAValidFileIsRefused) {
    // OS/2 1.x: 12-byte header, 3-byte palette entries; 32x1 at 1 bpp.
    const Bytes core = {'B', 'M', 0,  0, 0, 0,   0,   0,   0,    0, 14 + 12 + 6, 0,
                        0,   0,   12, 0, 0, 0,   32,  0,   1,    0, 1,           0,
                        1,   0,   0,  0, 0, 255, 255, 255, 0xF0, 0, 0,           0x0F};
    // Widths chosen so that no row has padding: every byte of these files is needed.
    for (const Bytes& file :
         {Base8, core, Rle({2, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}),
          Rle({4, 0x12, 0, 0, 0, 3, 0x25, 0x10, 0, 1}, 2, true),
          MakeBmp(2, 2, 16, 3, 0, Masks565, {1, 2, 3, 4, 5, 6, 7, 8}),
          WriteBmp(Bitmap::Custom(1, 2, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}))}) {
        EXPECT_NO_THROW(ReadBmp(file));
        for (size_t n = 0; n < file.size(); ++n) {
            SCOPED_TRACE(n);
            ExpectRefused(std::span(file).first(n));
            if (n >= 14) ExpectRefused(std::span(file).subspan(14, n - 14), true);
        }
    }
}

struct BmpFiles : testing::Test {
    pictor_test::TempDir FTemp{"pictor-bmp"};
    const fs::path FDir = FTemp.path;
};

TEST_F(BmpFiles, SaveReplacesAtomicallyAndFailuresLeaveTheTargetAlone) {
    const std::string target = (FDir / "a.bmp").string();
    Bitmap small(2, 2, PF::pf24bit), big(300, 300, PF::pf24bit);
    small.ScanLine(1)[0] = 200;
    SaveBmpFile(small, target);
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(target, perms);
    EXPECT_TRUE(LoadBmpFile(target) == small);
    SaveBmpFile(big, target);
    EXPECT_EQ(LoadBmpFile(target).Width(), 300);
    EXPECT_EQ(fs::status(target).permissions(), perms); // the replaced file's stay
    SaveBmpFile(small, target);

    // A write that fails half-way (file size limit, as a full disk would): old file intact.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_THROW(SaveBmpFile(big, target), EInOutError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(LoadBmpFile(target) == small);
    EXPECT_EQ(ListDir(FDir), std::set<std::string>{"a.bmp"});

    // Missing folder, and a target that is a folder: error naming the path, nothing left over.
    const std::string missing = (FDir / "no" / "b.bmp").string();
    try {
        SaveBmpFile(small, missing);
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    fs::create_directory(FDir / "d.bmp");
    EXPECT_THROW(SaveBmpFile(small, (FDir / "d.bmp").string()), EInOutError);
    EXPECT_EQ(ListDir(FDir), std::set<std::string>{"a.bmp"});

    if (::geteuid() != 0) { // a read-only folder (root may write anyway)
        fs::permissions(FDir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(SaveBmpFile(big, target), EInOutError);
        fs::permissions(FDir, fs::perms::owner_all);
        EXPECT_TRUE(LoadBmpFile(target) == small);
    }

    // Through a symbolic link: the file it names is replaced, the link stays.
    fs::create_symlink("a.bmp", FDir / "link.bmp");
    SaveBmpFile(big, (FDir / "link.bmp").string());
    EXPECT_TRUE(fs::is_symlink(FDir / "link.bmp"));
    EXPECT_EQ(LoadBmpFile(target).Width(), 300);
    EXPECT_EQ(ListDir(FDir), (std::set<std::string>{"a.bmp", "link.bmp"}));
}

TEST_F(BmpFiles, LoadErrorsAndTheFormatRegistry) {
    EXPECT_THROW(LoadBmpFile((FDir / "none.bmp").string()), EInOutError);
    EXPECT_THROW(LoadBmpFile(FDir.string()), EInOutError);
    const fs::path huge = FDir / "huge.bmp"; // sparse: no disk space used
    pictor_test::WriteFile(huge, std::string(Base8.begin(), Base8.end()));
    fs::resize_file(huge, MaxBmpFileSize + 1);
    EXPECT_THROW(LoadBmpFile(huge.string()), EBmpError);

    RegisterBmpFormats();
    const TPictureFormat* bmp = TPictureFormats::Instance().Find("BMP");
    const TPictureFormat* dib = TPictureFormats::Instance().Find("dib");
    ASSERT_TRUE(bmp && dib);
    EXPECT_EQ(bmp->GraphicClass, dib->GraphicClass);
    const Bitmap expected = ReadBmp(Base8);
    EXPECT_TRUE(bmp->GraphicClass->LoadFromMemory(Base8, "") == expected);
    EXPECT_TRUE(bmp->GraphicClass->LoadFromMemory(std::span(Base8).subspan(14), "x.dib") ==
                expected);
    const std::string path = (FDir / "pic.DIB").string();
    SaveBmpFile(expected, path);
    EXPECT_TRUE(TPictureFormats::Instance().LoadPicture(path) == expected);
}
