#include "core/JpegCodec.h"
#include "core/PictureFormats.h"
#include "support/TempDir.h"

#include <QImage>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>

#include <jpeglib.h>

using namespace pictor;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// Smooth gradients with a little noise, like a photo.
Bitmap Photo(int w, int h, unsigned seed = 1) {
    Bitmap b(w, h, TPixelFormat::pf24bit);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            const int n = int(rng() % 9) - 4;
            p[0] = uint8_t(std::clamp(40 + 180 * x / w + n, 0, 255));
            p[1] = uint8_t(std::clamp(200 - 150 * y / h + n, 0, 255));
            p[2] = uint8_t(std::clamp(60 + 90 * (x + y) / (w + h) + n, 0, 255));
        }
    return b;
}

struct TEncode {
    int components = 3;
    J_COLOR_SPACE in = JCS_RGB;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool adobe = true;
    bool progressive = false;
    bool arithmetic = false;
    int restartRows = 0;
};

// Files of kinds WriteJpeg does not make, straight from libjpeg. `samples` is packed rows.
Bytes Encode(const Bytes& samples, int w, int h, const TEncode& o, int quality = 95) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = o.components;
    c.in_color_space = o.in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, o.stored);
    c.write_Adobe_marker = o.adobe;
    jpeg_set_quality(&c, quality, TRUE);
    if (o.progressive) jpeg_simple_progression(&c);
    c.arith_code = o.arithmetic;
    c.restart_in_rows = o.restartRows;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&samples[size_t(c.next_scanline) * w * o.components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes file(out, out + size);
    std::free(out);
    return file;
}

// Mean absolute difference per channel against an expected RGB picture.
double MeanError(const Bitmap& b, const std::function<TRGBQuad(int, int)>& expected) {
    double sum = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const TRGBQuad a = b.PixelColor(x, y), e = expected(x, y);
            sum += std::abs(a.red - e.red) + std::abs(a.green - e.green) +
                   std::abs(a.blue - e.blue);
        }
    return sum / (3.0 * b.Width() * b.Height());
}

int MaxDiffToQt(const Bitmap& b, const Bytes& file) {
    const QImage q = QImage::fromData(file.data(), int(file.size()), "JPG");
    EXPECT_EQ(q.width(), b.Width());
    EXPECT_EQ(q.height(), b.Height());
    int worst = 0;
    for (int y = 0; y < std::min(q.height(), b.Height()); ++y)
        for (int x = 0; x < std::min(q.width(), b.Width()); ++x) {
            const TRGBQuad a = b.PixelColor(x, y);
            const QRgb r = q.pixel(x, y);
            worst = std::max({worst, std::abs(a.red - qRed(r)), std::abs(a.green - qGreen(r)),
                              std::abs(a.blue - qBlue(r))});
        }
    return worst;
}

} // namespace

TEST(Jpeg, RoundTripErrorShrinksWithQuality) {
    const Bitmap photo = Photo(400, 300); // big enough for the encoder to grow its buffer
    double previous = 1e9;
    for (int q : {1, 50, 90, 100}) {
        const Bytes file = WriteJpeg(photo, q);
        const Bitmap back = ReadJpeg(file);
        ASSERT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
        ASSERT_EQ(back.Width(), 400);
        ASSERT_EQ(back.Height(), 300);
        const double e = MeanError(back, [&](int x, int y) { return photo.PixelColor(x, y); });
        EXPECT_LT(e, previous) << "quality " << q;
        if (q >= 90) {
            EXPECT_LT(e, 3.0) << "quality " << q;
        }
        previous = e;
    }
    // Other pixel formats are encoded as their 24-bit form (32 bpp straight, with any junk in
    // the fourth byte ignored).
    Bitmap b32(33, 17, TPixelFormat::pf32bit), b8(33, 17, TPixelFormat::pf8bit);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x) {
            uint8_t* p = b32.ScanLine(y) + 4 * x;
            p[0] = uint8_t(7 * x), p[1] = uint8_t(11 * y), p[2] = uint8_t(x * y), p[3] = 0xA5;
            b8.ScanLine(y)[x] = uint8_t(x * y + x);
        }
    EXPECT_EQ(WriteJpeg(b32, 80), WriteJpeg(b32.ConvertTo24(), 80));
    EXPECT_EQ(WriteJpeg(b8, 80), WriteJpeg(b8.ConvertTo24(), 80));

    for (int q : {0, 101, -5})
        EXPECT_THROW(WriteJpeg(photo, q), EInvalidGraphic) << q;
    EXPECT_THROW(WriteJpeg(Bitmap(), 90), EInvalidGraphic);
}

// Reduced decodes have libjpeg's own output size (sides rounded up).
TEST(Jpeg, ScaledDecodeSizes) {
    const std::pair<int, int> sizes[] = {{3000, 2000}, {1001, 333}, {17, 9}, {1, 1}};
    for (auto [w, h] : sizes) {
        const Bytes file = WriteJpeg(Bitmap(w, h, TPixelFormat::pf24bit), 50);
        int fw = 0, fh = 0;
        ASSERT_TRUE(ReadJpegHeaderSize(file, fw, fh));
        EXPECT_EQ(fw, w);
        EXPECT_EQ(fh, h);
        for (int denom : {1, 2, 4, 8}) {
            jpeg_decompress_struct d{};
            jpeg_error_mgr err{};
            d.err = jpeg_std_error(&err);
            jpeg_create_decompress(&d);
            jpeg_mem_src(&d, file.data(), file.size());
            jpeg_read_header(&d, TRUE);
            d.scale_num = 1;
            d.scale_denom = unsigned(denom);
            jpeg_calc_output_dimensions(&d);
            jpeg_destroy_decompress(&d);
            const Bitmap b = ReadJpeg(file, denom);
            int sw, sh;
            JpegScaledSize(w, h, denom, sw, sh);
            const std::pair<int, int> got{b.Width(), b.Height()};
            EXPECT_EQ(got, std::make_pair(int(d.output_width), int(d.output_height)))
                << w << "x" << h << " 1/" << denom;
            EXPECT_EQ(got, std::make_pair(sw, sh));
        }
    }
    const Bitmap eighth = ReadJpeg(WriteJpeg(Bitmap(3000, 2000, TPixelFormat::pf24bit), 50), 8);
    EXPECT_EQ(std::make_pair(eighth.Width(), eighth.Height()), std::make_pair(375, 250));
    for (int bad : {0, 3, 16})
        EXPECT_THROW(ReadJpeg(WriteJpeg(Photo(8, 8), 90), bad), EInvalidGraphic) << bad;
}

// Grey, RGB, CMYK and YCCK files give the expected colours, as Qt's reader shows them.
TEST(Jpeg, ColourSpaces) {
    const int w = 48, h = 32;
    const Bitmap photo = Photo(w, h, 7);
    auto rgb = [&](int x, int y) { return photo.PixelColor(x, y); };
    auto grey = [&](int x, int y) {
        const uint8_t v = uint8_t(x * 4 + y * 2);
        return TRGBQuad{v, v, v, 0};
    };
    // Top half colour with no black, bottom half black ink only, giving grey().
    auto cmykExpected = [&](int x, int y) { return y < h / 2 ? rgb(x, y) : grey(x, y); };
    auto cmykSamples = [&](bool inverted) {
        Bytes s;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TRGBQuad c = cmykExpected(x, y);
                const uint8_t ink[4] = {uint8_t(255 - c.red), uint8_t(255 - c.green),
                                        uint8_t(255 - c.blue), 0};
                const uint8_t k[4] = {0, 0, 0, uint8_t(255 - c.red)};
                for (uint8_t v : y < h / 2 ? ink : k)
                    s.push_back(inverted ? uint8_t(255 - v) : v);
            }
        return s;
    };
    Bytes rgbSamples, greySamples;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TRGBQuad c = rgb(x, y);
            rgbSamples.insert(rgbSamples.end(), {c.red, c.green, c.blue});
            greySamples.push_back(grey(x, y).red);
        }
    struct Case {
        const char* name;
        Bytes file;
        std::function<TRGBQuad(int, int)> expected;
        bool qtAgrees; // Qt takes all CMYK as Adobe-inverted
    } const cases[] = {
        {"YCbCr", WriteJpeg(photo, 95), rgb, true},
        {"RGB", Encode(rgbSamples, w, h, {3, JCS_RGB, JCS_RGB}), rgb, true},
        {"grey", Encode(greySamples, w, h, {1, JCS_GRAYSCALE, JCS_GRAYSCALE}), grey, true},
        {"CMYK Adobe", Encode(cmykSamples(true), w, h, {4, JCS_CMYK, JCS_CMYK}), cmykExpected,
         true},
        {"YCCK Adobe", Encode(cmykSamples(true), w, h, {4, JCS_CMYK, JCS_YCCK}), cmykExpected,
         true},
        {"CMYK plain", Encode(cmykSamples(false), w, h, {4, JCS_CMYK, JCS_CMYK, false}),
         cmykExpected, false},
        {"arithmetic progressive",
         Encode(rgbSamples, w, h, {3, JCS_RGB, JCS_YCbCr, true, true, true}), rgb, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bitmap b = ReadJpeg(c.file);
        ASSERT_EQ(b.Width(), w);
        ASSERT_EQ(b.Height(), h);
        EXPECT_LT(MeanError(b, c.expected), 3.0);
        if (c.qtAgrees) {
            EXPECT_LE(MaxDiffToQt(b, c.file), 1);
        }
        const Bitmap half = ReadJpeg(c.file, 2);
        EXPECT_LT(MeanError(half, [&](int x, int y) { return c.expected(2 * x, 2 * y); }), 8.0);
    }
    const Bytes odd = WriteJpeg(Photo(301, 199), 90);
    EXPECT_LE(MaxDiffToQt(ReadJpeg(odd), odd), 1);
}

// Cut and damaged files either raise EJpegError or give a picture of the frame's size.
TEST(Jpeg, TruncatedAndCorruptFilesNeverCrash) {
    Bytes grey(64 * 48);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = uint8_t(i * 7 ^ i >> 5);
    const Bytes files[] = {
        WriteJpeg(Photo(64, 48, 3), 75),
        Encode(grey, 64, 48, {1, JCS_GRAYSCALE, JCS_GRAYSCALE, true, true}),
        Encode(grey, 64, 48, {1, JCS_GRAYSCALE, JCS_GRAYSCALE, true, false, false, 1}),
        Encode(Bytes(64 * 48 * 4, 99), 64, 48, {4, JCS_CMYK, JCS_YCCK, true, true}),
    };
    std::mt19937 rng(42);
    for (const Bytes& file : files) {
        int pictures = 0, errors = 0;
        auto attempt = [&](const Bytes& d) {
            for (int denom : {1, 8}) {
                try {
                    const Bitmap b = ReadJpeg(d, denom);
                    int fw, fh, sw, sh;
                    ASSERT_TRUE(ReadJpegHeaderSize(d, fw, fh));
                    JpegScaledSize(fw, fh, denom, sw, sh);
                    EXPECT_EQ(b.Width(), sw);
                    EXPECT_EQ(b.Height(), sh);
                    ++pictures;
                } catch (const EJpegError& e) {
                    EXPECT_EQ(std::string(e.what()).rfind("JPEG image is not valid: ", 0), 0u);
                    ++errors;
                }
            }
        };
        for (size_t cut = 0; cut < file.size(); cut += 1 + file.size() / 97)
            attempt(Bytes(file.begin(), file.begin() + ptrdiff_t(cut)));
        EXPECT_GT(pictures, 0) << "cuts in the entropy data still give a picture";
        EXPECT_GT(errors, 0) << "cuts in the headers are refused";
        for (int i = 0; i < 150; ++i) {
            Bytes d = file;
            for (int n = 0; n <= i % 3; ++n)
                d[rng() % d.size()] = uint8_t(rng());
            attempt(d);
        }
    }
}

// Headers that would need huge memory or time, and kinds libjpeg cannot decode.
TEST(Jpeg, HostileHeadersAreRefused) {
    auto seg = [](Bytes& f, uint8_t marker, const Bytes& body) {
        f.insert(f.end(), {0xFF, marker, uint8_t((body.size() + 2) >> 8),
                           uint8_t(body.size() + 2)});
        f.insert(f.end(), body.begin(), body.end());
    };
    // A grey frame with one quantisation table and a DC table whose only code is "0".
    auto frame = [&](uint8_t sof, int w, int h, int comps) {
        Bytes f{0xFF, 0xD8};
        Bytes dqt(65, 1);
        dqt[0] = 0; // table 0, 8-bit
        seg(f, 0xDB, dqt);
        Bytes sofBody{8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), uint8_t(comps)};
        for (int c = 0; c < comps; ++c)
            for (uint8_t v : {uint8_t(c + 1), uint8_t(0x11), uint8_t(0)})
                sofBody.push_back(v);
        seg(f, sof, sofBody);
        seg(f, 0xC4, Bytes{0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        return f;
    };
    auto dcScan = [&](Bytes& f, int comps) {
        Bytes sos{uint8_t(comps)};
        for (int c = 0; c < comps; ++c)
            sos.insert(sos.end(), {uint8_t(c + 1), 0x00});
        sos.insert(sos.end(), {0, 0, 0});
        seg(f, 0xDA, sos);
        f.push_back(0x00);
    };
    Bytes huge = frame(0xC0, 60000, 60000, 1);
    dcScan(huge, 1);
    huge.resize(258, 0);
    Bytes bigProgressive = frame(0xC2, 16384, 16384, 3); // 1.5 GB of coefficients
    dcScan(bigProgressive, 3);
    Bytes manyScans = frame(0xC2, 8, 8, 1);
    for (int i = 0; i < 501; ++i)
        dcScan(manyScans, 1);
    Bytes fewScans = frame(0xC2, 8, 8, 1);
    for (int i = 0; i < 20; ++i)
        dcScan(fewScans, 1);
    Bytes twelveBit = WriteJpeg(Photo(8, 8), 90);
    for (size_t i = 0; i + 4 < twelveBit.size(); ++i)
        if (twelveBit[i] == 0xFF && twelveBit[i + 1] == 0xC0) twelveBit[i + 4] = 12;
    struct {
        const char* name;
        Bytes file;
        const char* message;
    } const cases[] = {
        {"empty", {}, "empty"},
        {"no SOI", Bytes{'G', 'I', 'F', '8', '9', 'a'}, "Not a JPEG file"},
        {"frame beyond the pixel cap", huge, "60000x60000 exceeds"},
        {"progressive frame beyond the memory cap", bigProgressive, "decoder memory"},
        {"501 scans", manyScans, "more than 500 scans"},
        {"12-bit samples", twelveBit, "precision 12"},
        {"two components", Encode(Bytes(64, 9), 4, 8, {2, JCS_UNKNOWN, JCS_UNKNOWN}),
         "2 components"},
    };
    for (const auto& c : cases) {
        try {
            ReadJpeg(c.file, 8);
            ADD_FAILURE() << c.name << " was decoded";
        } catch (const EJpegError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
    int w, h;
    EXPECT_TRUE(ReadJpegHeaderSize(huge, w, h) && w == 60000 && h == 60000);
    EXPECT_FALSE(ReadJpegHeaderSize(Bytes{0xFF, 0xD8, 0xFF}, w, h));
    EXPECT_EQ(ReadJpeg(fewScans).Width(), 8) << "20 scans are within the limit";
}

TEST(Jpeg, ReadIntoReusesTheBufferAndIsEmptiedOnFailure) {
    const Bytes a = WriteJpeg(Photo(120, 90, 1), 90), b = WriteJpeg(Photo(120, 90, 2), 90);
    Bitmap reuse;
    ReadJpegInto(a, reuse);
    const uint8_t* buffer = reuse.Bits().data();
    ReadJpegInto(b, reuse);
    EXPECT_EQ(reuse.Bits().data(), buffer);
    EXPECT_TRUE(reuse == ReadJpeg(b));
    ReadJpegInto(b, reuse, 4);
    EXPECT_EQ(reuse.Width(), 30);
    EXPECT_TRUE(reuse == ReadJpeg(b, 4));
    EXPECT_THROW(ReadJpegInto(Bytes(a.begin(), a.begin() + 30), reuse), EJpegError);
    EXPECT_TRUE(reuse.Empty());
}

TEST(Jpeg, FilesAndRegistration) {
    pictor_test::TempDir dir;
    const fs::path p = dir.path / "photo.JPE";
    const Bitmap photo = Photo(256, 256, 5);
    SaveJpegFile(photo, p.string(), 90);
    RegisterJpegFormats();
    for (const char* ext : {"jpg", "JPEG", "jpe"}) {
        const TPictureFormat* f = TPictureFormats::Instance().Find(ext);
        ASSERT_NE(f, nullptr) << ext;
        EXPECT_EQ(f->Description, "JPEG Image File");
    }
    EXPECT_TRUE(TPictureFormats::Instance().LoadPicture(p.string()) == LoadJpegFile(p.string()));
    EXPECT_EQ(LoadJpegFile(p.string(), 8).Width(), 32);
    try {
        LoadJpegFile((dir.path / "missing.jpg").string());
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.jpg"), std::string::npos);
    }
    EXPECT_THROW(SaveJpegFile(photo, (dir.path / "no/such/x.jpg").string(), 90), EInOutError);

    // A full disk (every write past 1 KiB fails) leaves the old file and no temporary file.
    const std::string old = pictor_test::ReadFile(p);
    const pid_t child = fork();
    if (child == 0) {
        struct rlimit lim {
            1024, 1024
        };
        signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(3);
        try {
            SaveJpegFile(Photo(256, 256, 6), p.string(), 100);
        } catch (const EInOutError& e) {
            _exit(std::string(e.what()).find(p.string()) != std::string::npos ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(pictor_test::ReadFile(p), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}
