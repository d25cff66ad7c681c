#include "core/Metafile.h"
#include "core/PictureFormats.h"
#include "support/TempDir.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

using namespace pictor;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string Data = std::string(PICTOR_TESTDATA) + "/";

Bytes File(const std::string& path) {
    const std::string s = pictor_test::ReadFile(path);
    EXPECT_FALSE(s.empty()) << path;
    return {s.begin(), s.end()};
}

// Text needs fonts, and fonts need a GUI application (offscreen, kept for the process).
void NeedFonts() {
    if (QCoreApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "metafile_test", *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

QImage Render(const TMetafile& m, int w, int h) {
    return m.ToBitmap(w, h).ToQImage().convertToFormat(QImage::Format_RGB32);
}

bool Near(QRgb a, QRgb b, int tol) {
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

int Count(const QImage& img, QRgb c, int tol = 40) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += Near(img.pixel(x, y), c, tol);
    return n;
}

// Fraction of non-white pixels.
double Ink(const QImage& img) {
    return 1 - double(Count(img, qRgb(255, 255, 255), 0)) / (int64_t(img.width()) * img.height());
}

void Put(Bytes& d, size_t at, uint32_t v, int n = 4) {
    d.resize(std::max(d.size(), at + size_t(n)));
    for (int i = 0; i < n; ++i)
        d[at + size_t(i)] = uint8_t(v >> (8 * i));
}

template <class T> auto operator<<(std::ostream& os, const T& c) -> decltype(os << c.name) {
    return os << c.name;
}
const auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// ---- builders for hand-made files ----------------------------------------------------------

constexpr uint16_t wSaveDC = 0x001E, wRestoreDC = 0x0127, wSelect = 0x012D, wDelete = 0x01F0,
                   wWindowOrg = 0x020B, wWindowExt = 0x020C, wCreatePen = 0x02FA,
                   wCreateBrush = 0x02FC, wPolygon = 0x0324, wIntersectClip = 0x0416,
                   wRectangle = 0x041B, wPolyPolygon = 0x0538, wEscape = 0x0626,
                   wExtTextOut = 0x0A32, wStretchDib = 0x0F43;
constexpr uint32_t eMapMode = 17, eMoveTo = 27, eWorldTransform = 35, eSelect = 37,
                   eCreateBrush = 39, eDelete = 40, eRectangle = 43, eLineTo = 54, eBeginPath = 59,
                   eEndPath = 60, eCloseFigure = 61, eSelectClipPath = 67, eComment = 70,
                   eBitBlt = 76, eStretchDIBits = 81, eCreateFont = 82, eTextA = 83, eTextW = 84,
                   ePolyline16 = 87, ePolyPolygon16 = 91;
constexpr uint32_t Red = 0x0000FF,
                   Blue = 0xFF0000; // as COLORREF; in WMF words: 0xFF, 0 and 0, 0xFF

// A WMF: placeable header (box, units per inch) unless inch is 0, META_HEADER, records.
struct TWmf {
    Bytes d;
    explicit TWmf(int16_t w = 100, int16_t h = 100, uint16_t inch = 96, uint16_t objects = 4) {
        if (inch) {
            d.resize(22);
            Put(d, 0, 0x9AC6CDD7);
            Put(d, 10, uint16_t(w), 2);
            Put(d, 12, uint16_t(h), 2);
            Put(d, 14, inch, 2);
            uint16_t sum = 0;
            for (size_t i = 0; i < 20; i += 2)
                sum ^= uint16_t(d[i] | d[i + 1] << 8);
            Put(d, 20, sum, 2);
        }
        const size_t at = d.size();
        d.resize(at + 18);
        Put(d, at, 0x00090001);
        Put(d, at + 4, 0x300, 2);
        Put(d, at + 10, objects, 2);
    }
    // Each record: its function number, then its words.
    Bytes Done(std::initializer_list<std::vector<int>> records) {
        for (const std::vector<int>& r : records) {
            const size_t at = d.size();
            d.resize(at + 4 + 2 * r.size());
            Put(d, at, uint32_t(2 + r.size()));
            for (size_t i = 0; i < r.size(); ++i)
                Put(d, at + 4 + 2 * i, uint16_t(r[i]), 2);
        }
        d.insert(d.end(), {3, 0, 0, 0, 0, 0});
        return d;
    }
};
template <class... T> std::vector<int> WRec(T... words) {
    return {int(words)...};
}
template <class... R> Bytes Wmf(const R&... records) {
    return TWmf().Done({records...});
}

// An EMF: 108-byte header (bounds and frame of a 100 x 100 picture at 96 DPI), records, EOF.
struct TEmf {
    Bytes d = Bytes(108);
    TEmf() {
        const uint32_t f[] = {1,    108,        0,       0,   99, 99, 0, 0,      2645,
                              2645, 0x464D4520, 0x10000, 0,   0,  8,  0, 0,      0,
                              1920, 1080,       508,     286, 0,  0,  0, 508000, 285750};
        for (size_t i = 0; i < std::size(f); ++i)
            Put(d, 4 * i, f[i]);
    }
    TEmf& Rec(const std::vector<uint32_t>& r) { // type, then its fields
        const size_t at = d.size();
        d.resize(at + 4 + 4 * r.size());
        Put(d, at, r[0]);
        Put(d, at + 4, uint32_t(4 + 4 * r.size()));
        for (size_t i = 1; i < r.size(); ++i)
            Put(d, at + 4 + 4 * i, r[i]);
        return *this;
    }
    Bytes Done(bool eof = true) {
        if (eof) Rec({14, 0, 16, 20}); // EOF
        Put(d, 48, uint32_t(d.size()));
        return d;
    }
};
template <class... T> std::vector<uint32_t> ERec(T... fields) {
    return {uint32_t(fields)...};
}
template <class... R> Bytes Emf(const R&... records) {
    TEmf f;
    (f.Rec(records), ...);
    return f.Done();
}

// ---- the shared test files -----------------------------------------------------------------

struct TCorpusCase {
    const char* name;
    double width, height; // from the folder's README (box / units per inch, frame in 0.01 mm)
    QRgb colour;          // a colour the records set, as independent renderers show it
    double minInk;        // fraction of non-white pixels at least
};

constexpr double Px(double units, double perInch) {
    return units / perInch * 96;
}
constexpr double Mm(double hundredths) {
    return hundredths / 2540 * 96;
}
constexpr QRgb Black = 0xFF000000;

const TCorpusCase Corpus[] = {
    {"wmf/libwmf/2doorvan.wmf", Px(1905, 575), Px(692, 575), qRgb(0xD8, 0x18, 0x38), 0.3},
    {"wmf/libwmf/Eg.wmf", Px(9000, 1440), Px(4493, 1440), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"wmf/libwmf/anim0002.wmf", Px(2491, 606), Px(2299, 606), qRgb(0xF8, 0xC8, 0x08), 0.3},
    {"wmf/libwmf/ant.wmf", Px(3277, 1489), Px(2130, 1489), qRgb(0xF8, 0x08, 0x08), 0.1},
    {"wmf/libwmf/arrow01.wmf", Px(1764, 1000), Px(1647, 1000), qRgb(0xF8, 0x98, 0x98), 0.3},
    {"wmf/libwmf/cell.wmf", Px(9947, 905), Px(7706, 905), qRgb(0x88, 0x88, 0x88), 0.01},
    {"wmf/libwmf/fjftest.wmf", Px(8268, 1000), Px(11693, 1000), qRgb(0x08, 0x88, 0xF8), 0.3},
    {"wmf/libwmf/formula1.wmf", 222, 41, Black, 0.05},
    {"wmf/libwmf/formula2.wmf", 175, 61, Black, 0.05},
    {"wmf/libwmf/formula3.wmf", 656, 58, Black, 0.05},
    {"wmf/libwmf/formula4.wmf", 245, 70, Black, 0.05},
    {"wmf/libwmf/fulltest.wmf", Px(27940, 2540), Px(21590, 2540), qRgb(0xF8, 0xF8, 0x08), 0.05},
    {"wmf/libwmf/p0000001.wmf", 4800, 1792, Black, 0.02}, // no placeable header: window extent
    {"wmf/libwmf/p0000016.wmf", 8192, 608, Black, 0.02},
    {"wmf/libwmf/sample.wmf", Px(3151, 1000), Px(2828, 1000), qRgb(0x08, 0xE8, 0xF8), 0.1},
    {"wmf/libwmf/sample2.wmf", Px(3121, 1000), Px(1345, 1000), Black, 0.2},
    {"wmf/libuemf/test_libuemf_ref.wmf", Px(14031, 1200), Px(9921, 1200), qRgb(0x38, 0x78, 0xF8),
     0.5},
    {"wmf/pillow/drawing.wmf", Px(1369, 1200), Px(1369, 1200), qRgb(0xF8, 0x08, 0x08), 0.3},
    {"emf/libemf2svg/test-014.emf", Mm(14649), Mm(17550), Black, 0.005},
    {"emf/libemf2svg/test-023.emf", Mm(6064), Mm(3569), qRgb(0xF8, 0xC8, 0x68), 0.2},
    {"emf/libemf2svg/test-065.emf", Mm(2539), Mm(2539), Black, 0.001},
    {"emf/libemf2svg/test-068.emf", Mm(20569), Mm(14629), Black, 0.03},
    {"emf/libemf2svg/test-100.emf", Mm(16494), Mm(12363), qRgb(0x68, 0x68, 0xF8), 0.1},
    {"emf/libemf2svg/test-120.emf", Mm(12750), Mm(6330), qRgb(0x48, 0x88, 0xB8), 0.1},
    {"emf/libemf2svg/test-125.emf", Mm(25275), Mm(18210), qRgb(0x88, 0x08, 0x88), 0.005},
    {"emf/libemf2svg/test-152.emf", Mm(7875), Mm(6125), qRgb(0x78, 0x78, 0x78), 0.03},
    {"emf/libemf2svg/test-154.emf", Mm(7875), Mm(4531), qRgb(0x78, 0x78, 0x78), 0.02},
    {"emf/libemf2svg/test-157.emf", Mm(318750), Mm(412500), qRgb(0x08, 0x08, 0xF8), 0.03},
    {"emf/libemf2svg/test-165.emf", Mm(25033), Mm(17375), qRgb(0x08, 0xF8, 0x08), 0.02},
    {"emf/libemf2svg/test-168.emf", Mm(25033), Mm(17335), qRgb(0x88, 0x88, 0x08), 0.01},
    {"emf/libemf2svg/test-182.emf", Mm(841), Mm(232), qRgb(0x48, 0x48, 0x48), 0.3},
    {"emf/libemf2svg/test-184.emf", Mm(25413), Mm(19049), Black, 0.002},
    {"emf/libemf2svg/test-186.emf", Mm(3961), Mm(1346), qRgb(0x08, 0x08, 0xF8), 0.3},
    {"emf/libuemf/test_libuemf_ref.emf", Mm(29699), Mm(20999), qRgb(0x38, 0x78, 0xF8), 0.5},
    {"emf/libuemf/test_mm_anisotropic_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_hienglish_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_himetric_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_isotropic_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_loenglish_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_lometric_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_text_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/libuemf/test_mm_twips_ref.emf", Mm(29699), Mm(20999), qRgb(0xF8, 0x08, 0x08), 0.5},
    {"emf/pillow/drawing.emf", Mm(2899), Mm(2899), qRgb(0xF8, 0x08, 0x08), 0.3},
    // These draw nothing a GDI player shows: only stock-object selections, or EMF+ records alone.
    {"emf/libemf2svg/test-030.emf", Mm(16799), Mm(20160), 0, 0},
    {"emf/libuemf/test_libuemf_p_ref.emf", Mm(29699), Mm(20999), 0, 0},
};

class MetafileCorpus : public testing::TestWithParam<TCorpusCase> {};

TEST_P(MetafileCorpus, ReadsWithItsSizeAndDrawsItsColours) {
    NeedFonts();
    const TCorpusCase& c = GetParam();
    const TMetafile m = TMetafile::Read(File(Data + c.name));
    EXPECT_EQ(m.Enhanced(), std::string(c.name).ends_with(".emf"));
    if (c.width * c.height <= double(TMetafile::MaxPixels)) {
        EXPECT_NEAR(m.Width(), c.width, 1);
        EXPECT_NEAR(m.Height(), c.height, 1);
    } else { // scaled down to the pixel cap, keeping the shape
        EXPECT_LE(int64_t(m.Width()) * m.Height(), TMetafile::MaxPixels);
        EXPECT_GT(int64_t(m.Width()) * m.Height(), TMetafile::MaxPixels * 99 / 100);
        EXPECT_NEAR(double(m.Width()) / m.Height(), c.width / c.height, 0.002);
    }
    const double k = std::min(1.0, 1000.0 / std::max(m.Width(), m.Height()));
    const QImage img = Render(m, std::max(1, int(m.Width() * k)), std::max(1, int(m.Height() * k)));
    if (c.minInk == 0) {
        EXPECT_EQ(Ink(img), 0);
        return;
    }
    EXPECT_GE(Ink(img), c.minInk);
    EXPECT_GE(Count(img, c.colour), 10) << std::hex << c.colour;
}

INSTANTIATE_TEST_SUITE_P(Files, MetafileCorpus, testing::ValuesIn(Corpus));

// text.wmf has neither box nor window: its extent is measured from the drawing (17 lines of
// text 20 units apart, one unit a pixel).
TEST(MetafileCorpus, SizeOfAFileWithoutBoxOrWindowComesFromTheDrawing) {
    const TMetafile m = TMetafile::Read(File(Data + "wmf/libwmf/text.wmf"));
    EXPECT_NEAR(m.Height(), 17 * 20, 20);
    EXPECT_GT(m.Width(), 150);
    EXPECT_LT(m.Width(), 500);
}

// The corrupted files either fail cleanly or draw; those whose framing is broken must fail.
TEST(MetafileCorpus, CorruptedFilesFailCleanlyOrDraw) {
    const std::set<std::string> broken = {
        "bad_corrupted_2014-12-02-215338.emf", // header size beyond the file
        "bad_corrupted_2014-12-02-215425.emf", // POLYLINE16 count beyond its record
        "bad_corrupted_2014-12-02-215428.emf", // no signature
        "bad_corrupted_2014-12-13-132605.emf", // record size 39
        "bad_corrupted_2016-02-02-220639.emf", // garbage record sizes
        "bad_corrupted_2016-02-02-225639.emf", "bad_corrupted_2017-02-11-230400.emf",
        "bad_corrupted_2017-05-12-074000.emf", // a 12-byte record retyped as EXTTEXTOUTW
    };
    int files = 0;
    for (const auto& e : fs::directory_iterator(Data + "emf/libemf2svg-corrupted")) {
        ++files;
        const std::string name = e.path().filename().string();
        try {
            const TMetafile m = TMetafile::Read(File(e.path()));
            EXPECT_FALSE(broken.count(name)) << name << " was accepted";
            Render(m, 64, 64);
        } catch (const EMetafileError& error) {
            EXPECT_TRUE(broken.count(name)) << name << ": " << error.what();
            EXPECT_TRUE(std::string(error.what()).starts_with("Metafile is not valid: "));
        }
    }
    EXPECT_EQ(files, 11);
}

// Pillow's reference: drawing.emf rendered at 72 x 144 DPI is a red disc with a black outline
// covering the picture.
TEST(MetafileCorpus, AgreesWithPillowReferences) {
    const QImage ref =
        QImage(QString::fromStdString(Data + "emf/pillow/drawing_emf_ref_72_144.png"))
            .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(ref.size(), QSize(82, 164));
    const QImage ours = Render(TMetafile::Read(File(Data + "emf/pillow/drawing.emf")), 82, 164);
    int differ = 0;
    for (int y = 0; y < 164; ++y)
        for (int x = 0; x < 82; ++x)
            differ += !Near(ours.pixel(x, y), ref.pixel(x, y), 64);
    EXPECT_LT(differ, 82 * 164 / 20);
}

// ---- writing -------------------------------------------------------------------------------

struct TWriteCase {
    const char* name;
    int width, height;
    TPixelFormat format;
};

// Distinct colours everywhere, blue over red, so orientation and channel order show.
Bitmap Picture(const TWriteCase& c) {
    Bitmap b(c.width, c.height, c.format);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            uint8_t* row = b.ScanLine(y);
            const bool top = y < (c.height + 1) / 2;
            if (b.BitsPerPixel() == 1) {
                row[x / 8] |= uint8_t(top ? 0 : 0x80 >> (x % 8));
            } else if (b.BitsPerPixel() == 8) {
                row[x] = uint8_t(top ? 10 + x % 7 : 200 + y % 50);
            } else {
                uint8_t* p = row + x * b.BitsPerPixel() / 8;
                p[0] = top ? 255 : uint8_t(x * 5);
                p[1] = uint8_t(y * 9 + x);
                p[2] = top ? uint8_t(x * 3) : 255;
            }
        }
    return b;
}

void ExpectSamePixels(const Bitmap& source, const QImage& img, const char* who) {
    ASSERT_EQ(img.size(), QSize(source.Width(), source.Height())) << who;
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            const TRGBQuad c = source.PixelColor(x, y);
            ASSERT_TRUE(Near(img.pixel(x, y), qRgb(c.red, c.green, c.blue), 1))
                << who << " pixel " << x << "," << y << std::hex << " " << img.pixel(x, y);
        }
}

// Runs a converter when it is installed; returns false (test skipped) otherwise.
bool Tool(const QString& program, const QStringList& args) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return false;
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << p.readAllStandardError().toStdString();
    return true;
}

uint32_t U32(const Bytes& d, size_t at) {
    return uint32_t(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24);
}

class MetafileWriter : public testing::TestWithParam<TWriteCase> {};

TEST_P(MetafileWriter, OwnReaderGivesBackTheBitmap) {
    const Bitmap source = Picture(GetParam());
    for (const bool enhanced : {false, true}) {
        const Bytes file = enhanced ? WriteEmf(source) : WriteWmf(source);
        const TMetafile m = TMetafile::Read(file);
        const Bitmap back = m.ToBitmap(); // at the natural size, which must be the bitmap's
        EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
        ExpectSamePixels(source, back.ToQImage(), enhanced ? "EMF" : "WMF");
        if (enhanced) { // nBytes, record count, EOF last with its size repeated
            EXPECT_EQ(U32(file, 48), file.size());
            EXPECT_EQ(U32(file, 52), 4u);
            EXPECT_EQ(U32(file, file.size() - 20), 14u);
            EXPECT_EQ(U32(file, file.size() - 4), 20u);
        } else { // checksum, size in words, EOF last
            uint16_t sum = 0;
            for (size_t i = 0; i < 22; i += 2)
                sum ^= uint16_t(file[i] | file[i + 1] << 8);
            EXPECT_EQ(sum, 0);
            EXPECT_EQ(U32(file, 22 + 6) * 2, file.size() - 22);
            EXPECT_EQ(Bytes(file.end() - 6, file.end()), (Bytes{3, 0, 0, 0, 0, 0}));
        }
    }
}

// Independent readers: wmf2svg writes the embedded bitmap as a PNG beside the SVG, and
// emf2svg-conv inlines it; both must show our pixels the right way up at the right size.
TEST_P(MetafileWriter, IndependentReadersAcceptIt) {
    const Bitmap source = Picture(GetParam());
    pictor_test::TempDir dir("metafile");
    const QString base = QString::fromStdString((dir.path / "pic").string());
    const Bytes wmf = WriteWmf(source), emf = WriteEmf(source);
    pictor_test::WriteFile(dir.path / "pic.wmf", std::string(wmf.begin(), wmf.end()));
    pictor_test::WriteFile(dir.path / "pic.emf", std::string(emf.begin(), emf.end()));
    bool ran = false;
    if (Tool("wmf2svg", {"-o", base + "-w.svg", base + ".wmf"})) {
        ran = true;
        const std::string svg = pictor_test::ReadFile(dir.path / "pic-w.svg");
        EXPECT_NE(svg.find("width=\"" + std::to_string(source.Width()) + "\""), std::string::npos)
            << svg;
        const auto png =
            QRegularExpression("href=\"([^\"]+\\.png)\"").match(QString::fromStdString(svg));
        ASSERT_TRUE(png.hasMatch()) << svg;
        const QString f = png.captured(1);
        const QImage img(
            QFileInfo(f).isAbsolute() ? f : QString::fromStdString(dir.path.string()) + "/" + f);
        ExpectSamePixels(source, img.convertToFormat(QImage::Format_RGB32), "wmf2svg");
    }
    if (Tool("emf2svg-conv", {"-i", base + ".emf", "-o", base + "-e.svg"})) {
        ran = true;
        const QString svg = QString::fromStdString(pictor_test::ReadFile(dir.path / "pic-e.svg"));
        const auto match = QRegularExpression("base64,([A-Za-z0-9+/=]+)").match(svg);
        ASSERT_TRUE(match.hasMatch()) << svg.toStdString();
        const QImage png = QImage::fromData(QByteArray::fromBase64(match.captured(1).toLatin1()));
        ExpectSamePixels(source, png.convertToFormat(QImage::Format_RGB32), "emf2svg-conv");
    }
    if (!ran)
        GTEST_SKIP() << "neither wmf2svg (libwmf-bin) nor emf2svg-conv (emf2svg) is installed";
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, MetafileWriter,
                         testing::Values(TWriteCase{"OnePixel", 1, 1, TPixelFormat::pf24bit},
                                         TWriteCase{"OddWidth", 37, 20, TPixelFormat::pf24bit},
                                         TWriteCase{"Palette8", 13, 7, TPixelFormat::pf8bit},
                                         TWriteCase{"Mono", 9, 5, TPixelFormat::pf1bit},
                                         TWriteCase{"Device32", 6, 3, TPixelFormat::pfDevice}),
                         CaseName);

TEST(MetafileWriter, RefusesWhatItCannotHold) {
    EXPECT_THROW(WriteWmf(Bitmap()), EInvalidGraphic);
    EXPECT_THROW(WriteEmf(Bitmap()), EInvalidGraphic);
    EXPECT_THROW(WriteWmf(Bitmap(32768, 1, TPixelFormat::pf1bit)), EInvalidGraphic);
    EXPECT_NO_THROW(WriteEmf(Bitmap(32768, 1, TPixelFormat::pf1bit)));
}

TEST(MetafileWriter, SaveReplacesTheFileAtomically) {
    pictor_test::TempDir dir("metafile");
    const Bitmap pic = Picture({"", 5, 4, TPixelFormat::pf24bit});
    const fs::path target = dir.path / "a.emf";
    pictor_test::WriteFile(target, "old");
    SaveMetafile(pic, target.string(), true);
    EXPECT_EQ(TMetafile::LoadFromFile(target.string()).Width(), 5);
    SaveMetafile(pic, (dir.path / "a.wmf").string(), false);
    EXPECT_FALSE(TMetafile::LoadFromFile((dir.path / "a.wmf").string()).Enhanced());

    // A folder in the way: the rename fails, the error names the path, nothing is left behind.
    fs::create_directories(dir.path / "busy.emf" / "x");
    try {
        SaveMetafile(pic, (dir.path / "busy.emf").string(), true);
        ADD_FAILURE() << "saving over a folder succeeded";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("busy.emf"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_directory(dir.path / "busy.emf" / "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 3);
    EXPECT_THROW(TMetafile::LoadFromFile((dir.path / "missing.wmf").string()), EInOutError);
}

TEST(MetafileFormats, RegistersWmfAndEmf) {
    RegisterMetafileFormats();
    const TPictureFormat* emf = TPictureFormats::Instance().Find("emf");
    ASSERT_TRUE(TPictureFormats::Instance().Find("WMF") && emf);
    const Bitmap b = TPictureFormats::Instance().LoadPicture(Data + "wmf/libwmf/formula1.wmf");
    EXPECT_EQ(b.Width(), 222);
    const Bytes emfFile = WriteEmf(Picture({"", 3, 2, TPixelFormat::pf24bit}));
    EXPECT_EQ(emf->GraphicClass->LoadFromMemory(emfFile, "x.emf").Height(), 2);
}

// ---- playback ------------------------------------------------------------------------------

const QRgb R = qRgb(255, 0, 0), B = qRgb(0, 0, 255), W = qRgb(255, 255, 255);

// The picture fills the target and nothing outside it; the painter is left as it was.
TEST(MetafilePlayback, FillsTheTargetOnlyAndKeepsThePainter) {
    // A red rectangle over the left half, and a blue one far beyond the box.
    const TMetafile m =
        TMetafile::Read(Wmf(WRec(wCreateBrush, 0, 0xFF, 0, 0), WRec(wSelect, 0),
                            WRec(wRectangle, 100, 50, 0, 0), WRec(wCreateBrush, 0, 0, 0xFF, 0),
                            WRec(wSelect, 1), WRec(wRectangle, 3000, 3000, -900, 50)));
    QImage img(60, 40, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.translate(5, 5);
    p.setClipRect(0, 0, 40, 40);
    m.Draw(p, QRectF(10, 5, 20, 20));
    EXPECT_EQ(p.transform(), QTransform::fromTranslate(5, 5));
    EXPECT_EQ(p.clipBoundingRect(), QRectF(0, 0, 40, 40));
    p.end();
    // Left and right half of the target; left of, right of and above it.
    EXPECT_TRUE(Near(img.pixel(17, 20), R, 8));
    EXPECT_TRUE(Near(img.pixel(33, 20), B, 8));
    for (const QPoint at : {QPoint(13, 20), QPoint(37, 20), QPoint(20, 8)})
        EXPECT_EQ(img.pixel(at), W) << at.x() << "," << at.y();
}

// Hand-made files, each checked at a few points of a 100 x 100 rendering.
struct TPlayCase {
    const char* name;
    Bytes file;
    std::vector<std::pair<QPoint, QRgb>> expect;
};

// STRETCHDIB of a 2 x 2 bottom-up DIB (red bottom row, blue top row) over the whole picture,
// from a source `rows` high starting at source row 0.
Bytes StretchDib(int rows) {
    return Wmf(WRec(wStretchDib, 0x20, 0xCC, 0, rows, 2, 0, 0, 100, 100, 0, 0, 40, 0, 2, 0, 2, 0, 1,
                    24, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00FF, 0xFF00, 0, 0x00FF, 0xFF00,
                    0, 0));
}

uint32_t F(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

const TPlayCase PlayCases[] = {
    // A window extent of -100 turns y upside down: the rectangle at logical y 0..50 ends up below.
    {"NegativeWindowExtentFlips",
     Wmf(WRec(wWindowOrg, 100, 0), WRec(wWindowExt, -100, 100), WRec(wCreateBrush, 0, 0xFF, 0, 0),
         WRec(wSelect, 0), WRec(wRectangle, 50, 100, 0, 0)),
     {{{50, 25}, W}, {{50, 75}, R}}},
    // A clip rectangle limits the fill; RESTOREDC lifts it and brings the old brush back.
    {"ClipAndSavedState",
     Wmf(WRec(wCreateBrush, 0, 0xFF, 0, 0), WRec(wCreateBrush, 0, 0, 0xFF, 0), WRec(wSelect, 0),
         WRec(wSaveDC), WRec(wSelect, 1), WRec(wIntersectClip, 50, 50, 0, 0),
         WRec(wRectangle, 100, 100, 0, 0), WRec(wRestoreDC, -1),
         WRec(wRectangle, 100, 100, 60, 60)),
     {{{25, 25}, B}, {{75, 25}, W}, {{25, 75}, W}, {{80, 80}, R}}},
    // A select of a deleted slot or of one beyond the table changes nothing.
    {"DeletedAndOutOfRangeObjectsAreIgnored",
     TWmf(100, 100, 96, 2)
         .Done({WRec(wCreateBrush, 0, 0xFF, 0, 0), WRec(wSelect, 0), WRec(wDelete, 0),
                WRec(wSelect, 0), WRec(wSelect, 7), WRec(wRectangle, 100, 100, 0, 0)}),
     {{{50, 50}, R}}},
    // POLYPOLYGON with the alternate rule leaves the inner square empty.
    {"PolyPolygonAlternate",
     Wmf(WRec(wCreateBrush, 0, 0xFF, 0, 0), WRec(wSelect, 0), WRec(wCreatePen, 5, 0, 0, 0, 0),
         WRec(wSelect, 1),
         WRec(wPolyPolygon, 2, 4, 4, 0, 0, 100, 0, 100, 100, 0, 100, 25, 25, 75, 25, 75, 75, 25,
              75)),
     {{{10, 10}, R}, {{50, 50}, W}}},
    {"StretchDibOrientation", StretchDib(2), {{{50, 20}, B}, {{50, 80}, R}}},
    // Its source rows count from the bottom: source row 0, one row high, is the red one.
    {"StretchDibSourceFromTheBottom", StretchDib(1), {{{50, 20}, R}, {{50, 80}, R}}},
    // MM_LOMETRIC: y grows upwards, so a rectangle at y -5..-10 mm lies inside a picture whose
    // window starts at the top (a 100 px picture is 26.46 mm).
    {"EmfLoMetric",
     Emf(ERec(eMapMode, 2), ERec(eCreateBrush, 1, 0, Red, 0), ERec(eSelect, 1),
         ERec(eRectangle, 0, -50, 2646, -100)),
     {{{50, 10}, W}, {{50, 28}, R}, {{50, 50}, W}}},
    // A closed path made the clip limits a later fill.
    {"EmfPathsAndClipPath",
     Emf(ERec(eCreateBrush, 1, 0, Blue, 0), ERec(eSelect, 1), ERec(eSelect, 0x80000008),
         ERec(eBeginPath), ERec(eMoveTo, 0, 0), ERec(eLineTo, 50, 0), ERec(eLineTo, 50, 50),
         ERec(eLineTo, 0, 50), ERec(eCloseFigure), ERec(eEndPath), ERec(eSelectClipPath, 5),
         ERec(eCreateBrush, 2, 0, Red, 0), ERec(eSelect, 2), ERec(eRectangle, 0, 0, 100, 100)),
     {{{25, 25}, R}, {{75, 25}, W}, {{75, 75}, W}}},
    // World transform: a rectangle scaled by 2 and moved by (50, 0).
    {"EmfWorldTransform",
     Emf(ERec(eWorldTransform, F(2), 0, 0, F(2), F(50), 0), ERec(eCreateBrush, 1, 0, Red, 0),
         ERec(eSelect, 1), ERec(eSelect, 0x80000008), ERec(eRectangle, 0, 0, 20, 20)),
     {{{40, 20}, W}, {{70, 20}, R}, {{70, 60}, W}}},
    // STRETCHDIBITS of a 1 x 1 DIB, and a BITBLT without bitmap filling with the brush.
    {"EmfBitmapsAndPatternBlt",
     Emf(ERec(eStretchDIBits, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 80, 40, 120, 4, 0, 0xCC0020, 50, 100,
              40, 1, 1, 0x180001, 0, 4, 0, 0, 0, 0, 0x00FF0000),
         ERec(eCreateBrush, 1, 0, Blue, 0), ERec(eSelect, 1),
         ERec(eBitBlt, 0, 0, 0, 0, 50, 0, 50, 100, 0xF00021, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0,
              0, 0, 0, 0, 0, 0, 0)),
     {{{25, 50}, R}, {{75, 50}, B}}},
};

class MetafilePlay : public testing::TestWithParam<TPlayCase> {};

TEST_P(MetafilePlay, DrawsWhereTheRecordsSay) {
    const TMetafile m = TMetafile::Read(GetParam().file);
    ASSERT_EQ(m.Width(), 100);
    const QImage img = Render(m, 100, 100);
    for (const auto& [at, colour] : GetParam().expect)
        EXPECT_TRUE(Near(img.pixel(at), colour, 8))
            << "at " << at.x() << "," << at.y() << std::hex << " " << img.pixel(at);
}

INSTANTIATE_TEST_SUITE_P(Records, MetafilePlay, testing::ValuesIn(PlayCases), CaseName);

// EXTTEXTOUTA in a Shift-JIS font and EXTTEXTOUTW with the same characters draw the same.
TEST(MetafilePlayback, ShiftJisTextMatchesUnicodeText) {
    NeedFonts();
    auto file = [](bool wide) {
        TEmf f;
        // EXTCREATEFONTINDIRECTW: height -40, weight 400, charset SHIFTJIS (128), no face name.
        f.Rec(ERec(eCreateFont, 1, uint32_t(-40), 0, 0, 0, 400, 128u << 24, 0, 0, 0, 0, 0, 0, 0, 0,
                   0, 0, 0, 0, 0, 0, 0, 0, 0));
        f.Rec(ERec(eSelect, 1));
        // bounds, mode, scales, reference (10, 30), count (characters of W, bytes of A), string
        // at 76, options, rect, no dx; then the string, padded
        const size_t at = f.d.size();
        f.Rec(ERec(wide ? eTextW : eTextA, 0, 0, 0, 0, 1, 0x3F800000, 0x3F800000, 10, 30,
                   wide ? 2 : 4, 76, 0, 0, 0, 0, 0, 0));
        const Bytes text = wide ? Bytes{0xE5, 0x65, 0x2C, 0x67} : Bytes{0x93, 0xFA, 0x96, 0x7B};
        f.d.insert(f.d.end(), text.begin(), text.end());
        Put(f.d, at + 4, uint32_t(f.d.size() - at));
        return f.Done();
    };
    const QImage a = Render(TMetafile::Read(file(false)), 100, 100);
    EXPECT_GT(Ink(a), 0.01);
    EXPECT_EQ(a, Render(TMetafile::Read(file(true)), 100, 100));
}

// ---- bad input -----------------------------------------------------------------------------

struct TBadCase {
    const char* name;
    Bytes file;
    bool readable; // tolerated (reads and draws) or refused with EMetafileError
};

Bytes Patched(Bytes d, size_t at, uint32_t v, int n = 4) {
    Put(d, at, v, n);
    return d;
}
const Bytes Rect = Wmf(WRec(wRectangle, 10, 10, 0, 0));
const Bytes EmfRect = Emf(ERec(eRectangle, 0, 0, 10, 10));
constexpr size_t WmfRec = 22 + 18, EmfRec = 108; // first record

const TBadCase BadCases[] = {
    {"WmfChecksumWrongIsTolerated", Patched(Rect, 20, 0x1234, 2), true},
    {"WmfUnitsPerInchZero", Patched(Rect, 14, 0, 2), true},
    {"WmfHeaderType3", Patched(Rect, 22, 3, 2), false},
    {"WmfHeaderSize8Words", Patched(Rect, 24, 8, 2), false},
    {"WmfFileSizeFieldLies", Patched(Rect, 28, 0xFFFFFFFF), true},
    {"WmfRecordSize0", Patched(Rect, WmfRec, 0), false},
    {"WmfRecordSize2", Patched(Rect, WmfRec, 2), false},
    {"WmfRecordPastEnd", Patched(Rect, WmfRec, 100), false},
    {"WmfRecordSizeOverflows", Patched(Rect, WmfRec, 0x80000003), false},
    {"WmfRecordShorterThanItsFields", Wmf(WRec(wRectangle, 10, 10)), false},
    {"WmfPolygonCountNegative", Wmf(WRec(wPolygon, -2, 0, 0, 5, 5)), false},
    {"WmfPolygonCountTooLarge", Wmf(WRec(wPolygon, 9, 0, 0, 5, 5)), false},
    {"WmfPolyPolygonCountsTooLarge", Wmf(WRec(wPolyPolygon, 2, 3, 300, 0, 0, 5, 5, 9, 9)), false},
    {"WmfTextCountBeyondRecord", Wmf(WRec(wExtTextOut, 0, 0, 50, 0, 0x4141)), false},
    {"WmfDibWithLyingSize",
     Wmf(WRec(wStretchDib, 0x20, 0xCC, 0, 1, 1, 0, 0, 10, 10, 0, 0, 40, 0, 0x7FFF, 0x7FFF, 0x7FFF,
              0x7FFF, 1, 24, 0, 0)),
     true},
    {"WmfNoEof", Bytes(Rect.begin(), Rect.end() - 6), true},
    {"WmfDataAfterEof", Patched(Rect, Rect.size() + 3, 0x07060504), true},
    {"WmfSetAbortProcEscape", Wmf(WRec(wEscape, 9, 4, 0x1111, 0x2222)), true},
    {"WmfWindowExtentZero", Wmf(WRec(wWindowExt, 0, 0), WRec(wRectangle, 10, 10, 0, 0)), true},
    {"WmfHugeBox", TWmf(32767, 32767, 1).Done({}), true},
    {"WmfNoSizeNoDrawing", TWmf(100, 100, 0).Done({}), false},
    {"EmfFirstRecordNotHeader", Patched(EmfRect, 0, 2), false},
    {"EmfHeaderSize84", Patched(EmfRect, 4, 84), false},
    {"EmfSignatureWrong", Patched(EmfRect, 40, 0x20202020), false},
    {"EmfRecordSizeNotMultipleOf4", Patched(EmfRect, EmfRec + 4, 26), false},
    {"EmfRecordSizeBelow8", Patched(EmfRect, EmfRec + 4, 4), false},
    {"EmfRecordPastEnd", Patched(EmfRect, EmfRec + 4, 0x7FFFFFFC), false},
    {"EmfCountsLie", Patched(Patched(EmfRect, 48, 7), 52, 99999), true},
    {"EmfDescriptionOutsideHeader", Patched(Patched(EmfRect, 60, 1000), 64, 0xFFFFFF00), true},
    {"EmfBoundsInvertedFrameFine", Patched(EmfRect, 8, 500), true},
    {"EmfNoSizeNoDrawing", Patched(Patched(Emf(), 32, 0), 16, -5), false},
    {"EmfBitmapOffsetOutsideRecord",
     Emf(ERec(eStretchDIBits, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 4000, 40, 120, 4, 0, 0xCC0020, 5, 5)),
     false},
    {"EmfBitmapSizeOverflows",
     Emf(ERec(eStretchDIBits, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 80, 0xFFFFFFF0, 120, 4, 0, 0xCC0020, 5,
              5)),
     false},
    {"EmfBitmapInfoSize0IsAPatternBlt",
     Emf(ERec(eStretchDIBits, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0xF00021, 5, 5)), true},
    {"EmfHandleBeyondTableAndUseAfterDelete",
     Emf(ERec(eCreateBrush, 60000, 0, Red, 0), ERec(eSelect, 60000),
         ERec(eCreateBrush, 1, 0, Red, 0), ERec(eDelete, 1), ERec(eSelect, 1),
         ERec(eRectangle, 0, 0, 10, 10)),
     true},
    // OR with "no clip" (everything) stays everything.
    {"EmfClipRegionOrWithoutClip", Emf(ERec(75, 48, 2, 32, 1, 1, 16, 0, 0, 10, 10, 0, 0, 10, 10)),
     true},
    {"EmfNoEof", TEmf().Rec(ERec(eRectangle, 0, 0, 10, 10)).Done(false), true},
    {"EmfPointCountOverflows", Emf(ERec(ePolyline16, 0, 0, 0, 0, 0x40000001, 0, 0)), false},
    {"EmfPolyPolygonCountsOverflow", Emf(ERec(ePolyPolygon16, 0, 0, 0, 0, 0x40000000, 4, 0, 0)),
     false},
    {"EmfTextOffsetOutsideRecord",
     Emf(ERec(eTextW, 0, 0, 0, 0, 1, 0, 0, 0, 0, 5, 0xFFFFFFF0, 0, 0, 0, 0, 0, 0)), false},
    // The string would be the record's type and size.
    {"EmfTextOffsetIntoItsOwnFields",
     Emf(ERec(eTextW, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0)), false},
    {"EmfPlusCommentIgnored",
     Emf(ERec(eComment, 12, 0x2B464D45, 0x00014001, 12), ERec(eRectangle, 0, 0, 10, 10)), true},
    {"EmfHugeFrame", Patched(Patched(EmfRect, 32, 0x7FFFFFFF), 36, 0x7FFFFFFF), true},
};

class MetafileBadInput : public testing::TestWithParam<TBadCase> {};

TEST_P(MetafileBadInput, IsRefusedCleanlyOrTolerated) {
    if (!GetParam().readable) {
        try {
            TMetafile::Read(GetParam().file);
            ADD_FAILURE() << "accepted";
        } catch (const EMetafileError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("Metafile is not valid: ")) << e.what();
        }
        return;
    }
    const TMetafile m = TMetafile::Read(GetParam().file);
    EXPECT_GE(m.Width(), 1);
    EXPECT_LE(m.Width(), TMetafile::MaxSide);
    EXPECT_LE(int64_t(m.Width()) * m.Height(), TMetafile::MaxPixels);
    Render(m, 32, 32);
}

INSTANTIATE_TEST_SUITE_P(Crafted, MetafileBadInput, testing::ValuesIn(BadCases), CaseName);

TEST(MetafileBadInput, EmptyAndForeignData) {
    EXPECT_THROW(TMetafile::Read({}), EMetafileError);
    EXPECT_THROW(TMetafile::Read(Patched(Bytes(20), 0, 0x4D42, 2)), EMetafileError); // "BM"...
    EXPECT_THROW(TMetafile().ToBitmap(), EInvalidGraphic);
    EXPECT_THROW(TMetafile::Read(Rect).ToBitmap(0, 5), EInvalidGraphic);
}

} // namespace
