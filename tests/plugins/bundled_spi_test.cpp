// The bundled plug-ins (ifpng, iftiff, ifwebp) called the way the host does: texts, header
// tests, pixels against Qt (PngSuite) or pictures encoded here with libtiff / libwebp, file
// input at offsets 0 and 128 and memory input, bad data, caps, progress and cancel. Run it under
// valgrind too: blocks leaked on a failure path show only there.

#include "plugins/SPIs.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace pictor;
using namespace pictor_test;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

enum Kind { Png, Tiff, Webp };
const char* const kFiles[] = {"ifpng.spi", "iftiff.spi", "ifwebp.spi"};

// Top-down rows of tightly packed pixels: BGR for what the plug-ins give, BGRA (straight
// alpha) for what the test encodes.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
};

uint8_t OverWhite(int c, int a) {
    return uint8_t(std::lround((c * a + 255.0 * (255 - a)) / 255.0));
}

Picture Flatten(const Picture& bgra) {
    Picture out{bgra.width, bgra.height, {}};
    for (size_t i = 0; i < bgra.px.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            out.px.push_back(OverWhite(bgra.px[i + c], bgra.px[i + 3]));
    return out;
}

// A busy BGRA picture: gradients, a checker pattern and alpha from 0 to 255.
Picture Pattern(int w, int h, int seed, bool alpha, bool grey = false) {
    Picture p{w, h, std::vector<uint8_t>(size_t(w) * h * 4)};
    uint8_t* out = p.px.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, out += 4) {
            out[0] = uint8_t(x * 7 + seed * 40);
            out[1] = uint8_t(y * 5 + ((x ^ y) & 8) * 9);
            out[2] = uint8_t((x * y + seed * 13) * 3);
            if (grey) out[0] = out[2] = out[1];
            const int k = (x + y) % 5;
            out[3] = !alpha ? 255 : k == 0 ? 0 : k == 1 ? 255 : uint8_t(x * 11 + y * 3);
        }
    return p;
}

// ---- Encoders ----------------------------------------------------------------------------

struct TiffOptions {
    bool alpha = false;
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    bool grey = false;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint32_t rowsPerStrip = 5;
    uint32_t tile = 0; // tile side, 0 for strips
    bool big = false;
    uint16_t compression = COMPRESSION_NONE;
};

std::string WriteTiff(const fs::path& path, const std::vector<Picture>& pages,
                      const TiffOptions& o) {
    TIFF* tif = TIFFOpen(path.c_str(), o.big ? "w8" : "w");
    if (!tif) return {};
    const uint32_t spp = (o.grey ? 1 : 3) + (o.alpha ? 1 : 0);
    const bool mirror =
        o.orientation == ORIENTATION_TOPRIGHT || o.orientation == ORIENTATION_BOTRIGHT;
    const bool bottomUp =
        o.orientation == ORIENTATION_BOTLEFT || o.orientation == ORIENTATION_BOTRIGHT;
    for (const Picture& p : pages) {
        const uint32_t w = p.width, h = p.height;
        // The samples in file order (column c, row r of the stored page).
        std::vector<uint8_t> all;
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t c = 0; c < w; ++c) {
                const uint8_t* s =
                    &p.px[(size_t(bottomUp ? h - 1 - r : r) * w + (mirror ? w - 1 - c : c)) * 4];
                const bool assoc = o.alpha && o.extra == EXTRASAMPLE_ASSOCALPHA;
                for (int k : o.grey ? std::vector<int>{0} : std::vector<int>{2, 1, 0})
                    all.push_back(assoc ? uint8_t((s[k] * s[3] + 127) / 255) : s[k]);
                if (o.alpha) all.push_back(s[3]);
            }
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, o.grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, o.orientation);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, o.compression);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        if (o.alpha) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &o.extra);
        if (o.tile) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, o.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, o.tile);
            std::vector<uint8_t> buf(size_t(o.tile) * o.tile * spp);
            for (uint32_t ty = 0; ty < h; ty += o.tile)
                for (uint32_t tx = 0; tx < w; tx += o.tile) {
                    std::fill(buf.begin(), buf.end(), 0);
                    for (uint32_t r = ty; r < std::min(ty + o.tile, h); ++r)
                        std::copy_n(&all[(r * w + tx) * spp], (std::min(tx + o.tile, w) - tx) * spp,
                                    &buf[(r - ty) * o.tile * spp]);
                    TIFFWriteTile(tif, buf.data(), tx, ty, 0, 0);
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, o.rowsPerStrip);
            for (uint32_t r = 0; r < h; ++r)
                TIFFWriteScanline(tif, &all[r * w * spp], r, 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ReadFile(path);
}

// libwebp: lossless (BGRA, or BGR when !alpha) or lossy at quality 80 (BGRA).
std::string EncodeWebp(const Picture& p, bool lossless, bool alpha = true) {
    std::vector<uint8_t> bgr;
    for (size_t i = 0; i < p.px.size(); i += 4)
        bgr.insert(bgr.end(), &p.px[i], &p.px[i + 3]);
    uint8_t* out = nullptr;
    const int w = p.width, h = p.height;
    const size_t n = !lossless ? WebPEncodeBGRA(p.px.data(), w, h, w * 4, 80, &out)
                     : alpha   ? WebPEncodeLosslessBGRA(p.px.data(), w, h, w * 4, &out)
                               : WebPEncodeLosslessBGR(bgr.data(), w, h, w * 3, &out);
    std::string s(reinterpret_cast<const char*>(out), n);
    WebPFree(out);
    return s;
}

// What libwebp's simple decoder makes of lossy data, as straight BGRA.
Picture WebpReference(const std::string& data) {
    int w = 0, h = 0;
    uint8_t* px =
        WebPDecodeBGRA(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &w, &h);
    Picture p{w, h, std::vector<uint8_t>(px, px + size_t(w) * h * 4)};
    WebPFree(px);
    return p;
}

std::string WebpAnimation(const std::vector<Picture>& frames) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* enc = WebPAnimEncoderNew(frames[0].width, frames[0].height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    int timestamp = 0;
    for (const Picture& f : frames) {
        WebPPicture pic;
        WebPPictureInit(&pic);
        pic.use_argb = 1;
        pic.width = f.width;
        pic.height = f.height;
        WebPPictureImportBGRA(&pic, f.px.data(), f.width * 4);
        WebPAnimEncoderAdd(enc, &pic, timestamp, &config);
        WebPPictureFree(&pic);
        timestamp += 100;
    }
    WebPAnimEncoderAdd(enc, nullptr, timestamp, nullptr);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(enc, &data);
    std::string s(reinterpret_cast<const char*>(data.bytes), data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(enc);
    return s;
}

std::string QtPng(const Picture& p) {
    const QImage image(p.px.data(), p.width, p.height, p.width * 4, QImage::Format_ARGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// ---- Calling the plug-ins ----------------------------------------------------------------

struct Decoded {
    int32_t result = -99;
    Picture picture; // BGR
    int32_t xppm = 0, yppm = 0;
};

// GetPicture, with the blocks checked against the ABI (40-byte header, 24 bits, size filled
// in, 4-byte rows with zero padding, bottom-up) and freed; on failure both must be NULL.
Decoded Call(const TInSPI& spi, const char* buf, intptr_t len, uint32_t flag,
             PictorSpiProgressCallback progress = nullptr, intptr_t lData = 0) {
    void* info = &info;
    void* bits = &bits;
    Decoded d;
    d.result = spi.GetPicture()(buf, len, flag, &info, &bits, progress, lData);
    if (d.result != 0) {
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(bits, nullptr);
        return d;
    }
    const auto* h = static_cast<const PictorBitmapInfoHeader*>(info);
    const size_t stride = (size_t(h->biWidth) * 3 + 3) & ~size_t(3);
    EXPECT_EQ(std::tuple(h->biSize, h->biPlanes, h->biBitCount, h->biCompression, h->biClrUsed),
              std::tuple(40u, 1, 24, 0u, 0u));
    EXPECT_TRUE(h->biWidth > 0 && h->biHeight > 0);
    EXPECT_EQ(h->biSizeImage, stride * h->biHeight);
    d.picture = {h->biWidth, h->biHeight, {}};
    d.xppm = h->biXPelsPerMeter;
    d.yppm = h->biYPelsPerMeter;
    for (int y = h->biHeight - 1; y >= 0; --y) {
        const uint8_t* row = static_cast<const uint8_t*>(bits) + y * stride;
        d.picture.px.insert(d.picture.px.end(), row, row + h->biWidth * 3);
        for (size_t i = h->biWidth * 3; i < stride; ++i)
            EXPECT_EQ(row[i], 0) << "padding of row " << y;
    }
    std::free(info);
    std::free(bits);
    return d;
}

Decoded FromMemory(const TInSPI& spi, const std::string& bytes,
                   PictorSpiProgressCallback progress = nullptr, intptr_t lData = 0) {
    return Call(spi, bytes.data(), intptr_t(bytes.size()), PICTOR_SPI_INPUT_MEMORY, progress,
                lData);
}

// The reference picture for a PngSuite file: Qt's reader, composed onto white. Qt leaves bits
// it does not write uninitialised (interlaced 1-bit, palette indices beyond the palette), so it
// reads into a zeroed picture of the right size and format, which keeps valgrind quiet.
Picture FromQt(const QString& path) {
    const QImage probe(path);
    QImage decoded(probe.size(), probe.format());
    decoded.fill(0);
    QImageReader(path).read(&decoded);
    const QImage image = decoded.convertToFormat(QImage::Format_ARGB32);
    Picture p{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            p.px.insert(p.px.end(),
                        {OverWhite(qBlue(c), qAlpha(c)), OverWhite(qGreen(c), qAlpha(c)),
                         OverWhite(qRed(c), qAlpha(c))});
        }
    return p;
}

// Largest difference of two same-sized pictures; 256 when the sizes differ.
int MaxDifference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.px.size() != b.px.size()) return 256;
    int most = 0;
    for (size_t i = 0; i < a.px.size(); ++i)
        most = std::max(most, std::abs(int(a.px[i]) - int(b.px[i])));
    return most;
}

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string Be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
    return Be32(uint32_t(data.size())) + type + data + Be32(Crc32(type + data));
}

// An 8-bit RGB PNG whose IHDR claims width x height, with the given zlib stream as IDAT.
std::string CraftedPng(uint32_t width, uint32_t height, const std::string& zlib) {
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           Chunk("IHDR", Be32(width) + Be32(height) + std::string("\x08\x02\0\0\0", 5)) +
           Chunk("IDAT", zlib) + Chunk("IEND", "");
}

class BundledSpiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* file : kFiles)
            FPlugins.push_back(
                TSPI::Load<TInSPI>(std::string(PICTOR_BUNDLED_SPI_DIR) + "/" + file));
    }
    static void TearDownTestSuite() { FPlugins.clear(); }

    static const TInSPI& Spi(Kind k) { return *FPlugins[k]; }

    // Writes bytes to a file behind `offset` bytes of something else and decodes it from there.
    Decoded FromFile(Kind k, const std::string& bytes, intptr_t offset) {
        const fs::path path = FTemp.path / ("input" + std::to_string(FCount++));
        WriteFile(path, std::string(size_t(offset), 'M') + bytes);
        return Call(Spi(k), path.c_str(), offset, PICTOR_SPI_INPUT_FILE);
    }

    // GetPictureInfo from memory, which must succeed.
    static PictorPictureInfo Info(Kind k, const std::string& bytes) {
        PictorPictureInfo info{};
        EXPECT_EQ(Spi(k).GetPictureInfo()(bytes.data(), intptr_t(bytes.size()),
                                          PICTOR_SPI_INPUT_MEMORY, &info),
                  0);
        return info;
    }

    static inline std::vector<std::unique_ptr<TInSPI>> FPlugins;
    TempDir FTemp{"pictor-bundled-spi"};
    int FCount = 0;
};

// One generated input and the picture it must decode to.
struct Case {
    std::string name;
    Kind kind;
    std::string bytes;
    Picture expected; // BGR
};

std::vector<Case> GeneratedCases(const fs::path& dir) {
    const Picture rgb = Pattern(37, 23, 1, false), rgba = Pattern(37, 23, 2, true),
                  grey = Pattern(30, 21, 3, true, true), tall = Pattern(20, 45, 4, false);
    auto tiff = [&](const std::string& name, const std::vector<Picture>& pages, TiffOptions o) {
        return Case{name, Tiff, WriteTiff(dir / (name + ".tif"), pages, o), Flatten(pages[0])};
    };
    const std::string lossy = EncodeWebp(rgb, false), lossyAlpha = EncodeWebp(rgba, false);
    return {
        {"png alpha (Qt)", Png, QtPng(rgba), Flatten(rgba)},
        tiff("tiff rgb, odd width, 5-row strips", {rgb}, {}),
        tiff("tiff rgb, lzw, 1-row strips", {tall},
             {.rowsPerStrip = 1, .compression = COMPRESSION_LZW}),
        tiff("tiff unassociated alpha", {rgba}, {.alpha = true}),
        tiff("tiff associated alpha", {rgba}, {.alpha = true, .extra = EXTRASAMPLE_ASSOCALPHA}),
        tiff("tiff grey, unassociated alpha", {grey}, {.alpha = true, .grey = true}),
        tiff("tiff grey, associated alpha", {grey},
             {.alpha = true, .extra = EXTRASAMPLE_ASSOCALPHA, .grey = true}),
        tiff("tiff bottom-left rows", {tall},
             {.orientation = ORIENTATION_BOTLEFT, .rowsPerStrip = 4}),
        tiff("tiff bottom-right rows", {tall}, {.orientation = ORIENTATION_BOTRIGHT}),
        tiff("tiff top-right rows", {tall}, {.orientation = ORIENTATION_TOPRIGHT}),
        tiff("tiff tiled", {Pattern(40, 35, 5, true)}, {.alpha = true, .tile = 16}),
        tiff("tiff two pages: the first", {rgb, tall}, {}),
        tiff("bigtiff", {rgb}, {.big = true}),
        tiff("tiff 1x1", {Pattern(1, 1, 6, false)}, {}),
        {"webp lossless", Webp, EncodeWebp(rgb, true, false), Flatten(rgb)},
        {"webp lossless alpha", Webp, EncodeWebp(rgba, true), Flatten(rgba)},
        {"webp lossless 1x1", Webp, EncodeWebp(Pattern(1, 1, 7, false), true, false),
         Flatten(Pattern(1, 1, 7, false))},
        {"webp lossy", Webp, lossy, Flatten(WebpReference(lossy))},
        {"webp lossy alpha", Webp, lossyAlpha, Flatten(WebpReference(lossyAlpha))},
        {"webp animation: the first frame", Webp, WebpAnimation({rgba, Pattern(37, 23, 8, true)}),
         Flatten(rgba)},
    };
}

TEST_F(BundledSpiTest, InformationTextsAndHeaderTests) {
    const std::string pattern[] = {"*.png", "*.tif;*.tiff", "*.webp"},
                      description[] = {"PNG Image", "TIFF Image", "WebP Image"};
    // A header and the Kind that owns it, or -1.
    const std::pair<std::string, int> headers[] = {{"\x89PNG\r\n\x1a\n"s, Png},
                                                   {"II*\0"s, Tiff},
                                                   {"MM\0*"s, Tiff},
                                                   {"II+\0"s, Tiff},
                                                   {"MM\0+"s, Tiff},
                                                   {"RIFF\x10\0\0\0WEBPVP8L"s, Webp},
                                                   {"RIFF\x10\0\0\0WAVEfmt "s, -1},
                                                   {"\x89PNG\r\n\x1a"s, -1},
                                                   {"II*\x01"s, -1},
                                                   {""s, -1}};
    for (Kind k : {Png, Tiff, Webp}) {
        const TInSPI& spi = Spi(k);
        SCOPED_TRACE(kFiles[k]);
        EXPECT_TRUE(spi.About().starts_with("Pictor ")) << spi.About();
        EXPECT_EQ(spi.Extensions(), std::vector<std::string>{pattern[k]});
        EXPECT_EQ(spi.Descriptions(), std::vector<std::string>{description[k]});
        EXPECT_EQ(spi.GetPreview(), nullptr);
        // Cut to the buffer, always terminated, the copied length returned.
        char buf[8] = "xxxxxxx";
        EXPECT_EQ(spi.GetPluginInfo()(3, buf, 4), 3);
        EXPECT_EQ(std::string(buf), description[k].substr(0, 3));
        EXPECT_EQ(spi.GetPluginInfo()(0, buf, 0), 0);
        EXPECT_LE(spi.GetPluginInfo()(4, buf, sizeof buf), 0);
        for (auto [header, owner] : headers) {
            header.resize(2048, '\0');
            EXPECT_EQ(spi.IsSupported()("any.name", header.data()) != 0, owner == k) << header;
        }
    }
}

TEST_F(BundledSpiTest, PngSuiteMatchesQtAndCorruptFilesAreRefused) {
    int valid = 0, corrupt = 0;
    for (const auto& entry : fs::directory_iterator(PICTOR_TESTDATA "/png/pngsuite")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png") continue;
        SCOPED_TRACE(name);
        const Decoded d = FromMemory(Spi(Png), ReadFile(entry.path()));
        if (name[0] == 'x') {
            ++corrupt;
            EXPECT_NE(d.result, 0);
            continue;
        }
        ++valid;
        ASSERT_EQ(d.result, 0);
        // 16-bit samples: libpng and Qt round the reduction to 8 bits slightly differently.
        const bool deep = name.ends_with("16.png");
        // Qt misplaces the pixels of 16-bit RGB with a tRNS colour; these two show the same
        // picture as the 8-bit tbrn2c08, which it reads right.
        const fs::path reference = name == "tbbn2c16.png" || name == "tbgn2c16.png"
                                       ? entry.path().parent_path() / "tbrn2c08.png"
                                       : entry.path();
        EXPECT_LE(MaxDifference(d.picture, FromQt(QString::fromStdString(reference.string()))),
                  deep ? 1 : 0);
    }
    EXPECT_EQ(valid, 162);
    EXPECT_EQ(corrupt, 14);
}

TEST_F(BundledSpiTest, GeneratedPicturesDecodeAlikeFromMemoryAndFromFileAtBothOffsets) {
    for (const Case& c : GeneratedCases(FTemp.path)) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        for (intptr_t offset : {-1, 0, 128}) { // -1: memory
            const Decoded d =
                offset < 0 ? FromMemory(Spi(c.kind), c.bytes) : FromFile(c.kind, c.bytes, offset);
            ASSERT_EQ(d.result, 0) << "offset " << offset;
            EXPECT_EQ(MaxDifference(d.picture, c.expected), 0) << "offset " << offset;
        }
        const PictorPictureInfo info = Info(c.kind, c.bytes);
        EXPECT_EQ(std::tuple(info.width, info.height, info.info_text),
                  std::tuple(c.expected.width, c.expected.height, nullptr));
    }
}

TEST_F(BundledSpiTest, DepthAndDensityReachInfoAndHeader) {
    const std::string png = ReadFile(PICTOR_TESTDATA "/png/pngsuite/cdun2c08.png"); // 1000/m
    const std::string tiff =
        WriteTiff(FTemp.path / "d.tif", {Pattern(3, 3, 0, true)}, {.alpha = true});
    const std::string webp = EncodeWebp(Pattern(3, 3, 0, true), true);
    const struct {
        Kind kind;
        const std::string& bytes;
        int depth;
        uint16_t xdpi, ydpi;
        int32_t xppm, yppm;
    } cases[] = {{Png, png, 24, 25, 25, 1000, 1000},
                 {Tiff, tiff, 32, 300, 150, 11811, 5906}, // 300 and 150 per inch
                 {Webp, webp, 32, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(kFiles[c.kind]);
        const PictorPictureInfo info = Info(c.kind, c.bytes);
        const Decoded d = FromMemory(Spi(c.kind), c.bytes);
        EXPECT_EQ(std::tuple(info.colorDepth, info.x_density, info.y_density, d.xppm, d.yppm),
                  std::tuple(c.depth, c.xdpi, c.ydpi, c.xppm, c.yppm));
    }
}

TEST_F(BundledSpiTest, TruncatedCorruptAndMisdirectedInputsAreRefused) {
    std::vector<Case> inputs = GeneratedCases(FTemp.path);
    for (const char* name : {"basi6a08.png", "basn2c16.png", "s01n3p01.png"})
        inputs.push_back(
            {name, Png, ReadFile(std::string(PICTOR_TESTDATA "/png/pngsuite/") + name), {}});
    for (const Case& c : inputs) {
        if (c.name.starts_with("tiff two pages")) continue; // its first page comes whole first
        SCOPED_TRACE(c.name);
        const size_t n = c.bytes.size();
        for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(11), n / 4, n / 2, n * 3 / 4})
            EXPECT_NE(FromMemory(Spi(c.kind), c.bytes.substr(0, cut)).result, 0) << "cut " << cut;
        EXPECT_NE(FromFile(c.kind, c.bytes.substr(0, n / 2), 128).result, 0);
        // Another plug-in's format is not this one's.
        EXPECT_EQ(FromMemory(Spi(Kind((c.kind + 1) % 3)), c.bytes).result,
                  PICTOR_SPI_UNKNOWN_FORMAT);
    }
    const std::string sample = inputs[0].bytes;
    fs::create_directory(FTemp.path / "folder");
    const fs::path prefixed = FTemp.path / "prefixed";
    WriteFile(prefixed, std::string(128, 'M') + sample);
    for (Kind k : {Png, Tiff, Webp}) {
        SCOPED_TRACE(kFiles[k]);
        const TInSPI& spi = Spi(k);
        EXPECT_EQ(FromMemory(spi, "").result, PICTOR_SPI_UNKNOWN_FORMAT);
        EXPECT_EQ(FromMemory(spi, "plain text, not a picture").result, PICTOR_SPI_UNKNOWN_FORMAT);
        EXPECT_EQ(Call(spi, (FTemp.path / "missing").c_str(), 0, 0).result, PICTOR_SPI_READ_ERROR);
        EXPECT_EQ(Call(spi, (FTemp.path / "folder").c_str(), 0, 0).result, PICTOR_SPI_READ_ERROR);
        EXPECT_EQ(FromFile(k, sample, 128).result == 0, k == Png);
        // Read from the wrong offset, or from beyond the end.
        EXPECT_EQ(Call(spi, prefixed.c_str(), 0, 0).result, PICTOR_SPI_UNKNOWN_FORMAT);
        EXPECT_EQ(Call(spi, prefixed.c_str(), 100000, 0).result, PICTOR_SPI_UNKNOWN_FORMAT);
        EXPECT_NE(Call(spi, sample.data(), intptr_t(sample.size()), 2).result, 0);
        EXPECT_EQ(Call(spi, nullptr, 10, PICTOR_SPI_INPUT_MEMORY).result,
                  PICTOR_SPI_INTERNAL_ERROR);
        PictorPictureInfo info{};
        EXPECT_EQ(spi.GetPictureInfo()("", 0, PICTOR_SPI_INPUT_MEMORY, &info),
                  PICTOR_SPI_UNKNOWN_FORMAT);
    }
}

TEST_F(BundledSpiTest, PicturesBeyondTheCapsAreRefusedBeforeDecoding) {
    // zlib stream of one RGB row "filter 0, 10 20 30" (qCompress puts a 4-byte size first).
    const std::string zlib = qCompress(QByteArray("\0\x10\x20\x30", 4)).mid(4).toStdString();
    const Decoded control = FromMemory(Spi(Png), CraftedPng(1, 1, zlib));
    ASSERT_EQ(control.result, 0);
    EXPECT_EQ(control.picture.px, (std::vector<uint8_t>{0x30, 0x20, 0x10}));
    for (auto [w, h] : {std::pair{131073u, 1u}, {1u, 131073u}, {16385u, 16385u}, {70000u, 70000u}})
        EXPECT_EQ(FromMemory(Spi(Png), CraftedPng(w, h, zlib)).result, PICTOR_SPI_NO_MEMORY)
            << w << "x" << h;

    // A TIFF claiming 20000 x 20000 with one tiny strip.
    const fs::path path = FTemp.path / "huge.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 20000u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 20000u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 20000u);
    char strip[16] = {};
    TIFFWriteRawStrip(tif, 0, strip, sizeof strip);
    TIFFClose(tif);
    EXPECT_EQ(FromMemory(Spi(Tiff), ReadFile(path)).result, PICTOR_SPI_NO_MEMORY);
}

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    size_t stopAt = 0; // answer "stop" on this call (1-based), 0 never
};

int32_t LogProgress(int32_t num, int32_t denom, intptr_t data) {
    auto* log = reinterpret_cast<ProgressLog*>(data);
    log->calls.emplace_back(num, denom);
    return log->calls.size() == log->stopAt;
}

TEST_F(BundledSpiTest, ProgressRunsFromNothingToAllRowsAndStopsWhenAsked) {
    const Picture tall = Pattern(50, 300, 9, true);
    const struct {
        Kind kind;
        std::string bytes;
    } inputs[] = {{Png, QtPng(tall)},
                  {Tiff, WriteTiff(FTemp.path / "p.tif", {tall}, {.rowsPerStrip = 8})},
                  {Webp, EncodeWebp(tall, true)},
                  {Webp, EncodeWebp(tall, false)}};
    for (const auto& in : inputs) {
        SCOPED_TRACE(kFiles[in.kind]);
        ProgressLog log;
        ASSERT_EQ(FromMemory(Spi(in.kind), in.bytes, LogProgress, intptr_t(&log)).result, 0);
        ASSERT_GE(log.calls.size(), 3u);
        EXPECT_EQ(log.calls.front(), std::pair(0, 300));
        EXPECT_EQ(log.calls.back(), std::pair(300, 300));
        for (size_t i = 1; i + 1 < log.calls.size(); ++i) {
            EXPECT_EQ(log.calls[i].second, 300);
            EXPECT_GT(log.calls[i].first, log.calls[i - 1].first); // rows done grow
            EXPECT_LT(log.calls[i].first, 300);
        }
        // Stopping at the first, a middle and the last call: result 1, no blocks, no more calls.
        for (size_t stop : {size_t(1), log.calls.size() / 2, log.calls.size()}) {
            ProgressLog stopping{{}, stop};
            EXPECT_EQ(FromMemory(Spi(in.kind), in.bytes, LogProgress, intptr_t(&stopping)).result,
                      PICTOR_SPI_ABORTED);
            EXPECT_EQ(stopping.calls.size(), stop);
        }
    }
}

} // namespace
