// The drawing reader: version labels, the DIB and PNG previews, and refusal of lying drawings.
#include "app/DwgPreview.h"

#include "core/BmpCodec.h"
#include "core/ByteOrder.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QImage>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

using namespace pictor;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string ReadErrorText = "ストリームからの読み込みエラー";

void Add32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A bare DIB: 40-byte header, colour table (0x00RRGGBB values), one row of pixel bytes per
// entry of rows (top row first; stored bottom-up).
Bytes MakeDib(int width, int bits, uint32_t colorsUsed, const std::vector<uint32_t>& palette,
              const std::vector<Bytes>& rows, uint32_t compression = 0) {
    Bytes b;
    Add32(b, 40);
    Add32(b, uint32_t(width));
    Add32(b, uint32_t(rows.size()));
    b.insert(b.end(), {1, 0, uint8_t(bits), 0});
    Add32(b, compression);
    for (int i = 0; i < 3; ++i)
        Add32(b, 0);
    Add32(b, colorsUsed);
    Add32(b, 0);
    for (uint32_t c : palette)
        Add32(b, c);
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        Bytes row = *r;
        row.resize((row.size() + 3) / 4 * 4);
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes MakePng(const std::vector<uint32_t>& colours) {
    QImage image(int(colours.size()), 1, QImage::Format_RGB32);
    for (size_t x = 0; x < colours.size(); ++x)
        image.setPixel(int(x), 0, colours[x]);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(out.begin(), out.end());
}

// A synthetic drawing: 25-byte header, image area right after it (entries: header data, the
// image, a metafile), then the entry data.
struct TDrawing {
    std::string digits = "1014";
    Bytes image = {};
    uint8_t code = 2;
    int count = 2;
    std::optional<uint32_t> seeker = {}, start = {}, size = {};
    bool sentinel = true;
};

Bytes Build(const TDrawing& d) {
    Bytes b = {'A', 'C'};
    b.insert(b.end(), d.digits.begin(), d.digits.end());
    b.resize(13, 0);
    const uint32_t s = 25;
    Add32(b, d.seeker.value_or(s));
    b.resize(s, 0);
    const uint8_t sentinel[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                  0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
    for (uint8_t c : sentinel)
        b.push_back(d.sentinel ? c : 0);
    const uint32_t data = s + 21 + 9 * uint32_t(d.count);
    Add32(b, data + 80 + uint32_t(d.image.size()) - s - 20);
    b.push_back(uint8_t(d.count));
    const uint32_t imageAt = data + 80;
    const uint32_t starts[3] = {data, d.start.value_or(imageAt), imageAt};
    const uint32_t sizes[3] = {80, d.size.value_or(uint32_t(d.image.size())),
                               uint32_t(d.image.size())};
    const uint8_t codes[3] = {1, d.code, 3};
    for (int i = 0; i < d.count && i < 3; ++i) {
        b.push_back(codes[i]);
        Add32(b, starts[i]);
        Add32(b, sizes[i]);
    }
    b.resize(imageAt, 0);
    b.insert(b.end(), d.image.begin(), d.image.end());
    return b;
}

// What a drawing gives: a picture (BMP or PNG road), none (old release, entry count, metafile),
// or one of the errors.
enum TOutcome { Bmp, Png, None, Wmf, ReadError, GraphicError };

struct TRow {
    const char* name;
    TDrawing drawing;
    TOutcome outcome;
    std::vector<uint32_t> topRow = {}; // expected 0xRRGGBB colours of a 1-row picture
};

// Black and white change places; 0x01FFFFFF and 0xFF000000 (reserved byte set) do not.
const Bytes Dib8 = MakeDib(5, 8, 5, {0x00FFFFFF, 0x00000000, 0x01FFFFFF, 0x00123456, 0xFF000000},
                           {{0, 1, 2, 3, 4}});
const std::vector<uint32_t> Dib8Shown = {0x000000, 0xFFFFFF, 0xFFFFFF, 0x123456, 0x000000};

std::vector<TRow> Rows() {
    Bytes masked = MakeDib(1, 32, 0, {}, {{0x12, 0x34, 0x56, 0x78}}, 3);
    masked.insert(masked.begin() + 40, {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0});
    const Bytes png = MakePng({0xFFFFFFFF, 0xFF000000, 0xFF123456});
    const Bytes tooManyColours = MakeDib(1, 8, 1000, {0}, {{0}});
    const Bytes implied256 = MakeDib(1, 8, 0, {0}, {{0}});
    return {
        {"R14 8-bit", {.image = Dib8}, Bmp, Dib8Shown},
        {"R13 8-bit", {.digits = "1012", .image = Dib8}, Bmp, Dib8Shown},
        {"2004 is read too", {.digits = "1018", .image = Dib8}, Bmp, Dib8Shown},
        {"sentinel unchecked", {.image = Dib8, .sentinel = false}, Bmp, Dib8Shown},
        {"1-bit, 2 implied",
         {.image = MakeDib(2, 1, 0, {0xFFFFFF, 0}, {{0x80}})},
         Bmp,
         {0xFFFFFF, 0x000000}},
        {"24-bit, offset 54",
         {.image = MakeDib(2, 24, 0, {}, {{255, 255, 255, 0, 0, 0}})},
         Bmp,
         {0xFFFFFF, 0x000000}},
        {"32-bit, offset 54",
         {.image = MakeDib(1, 32, 0, {}, {{0x56, 0x34, 0x12, 0}})},
         Bmp,
         {0x123456}},
        {"32-bit, masks", {.image = masked}, Bmp, {0x563412}},
        {"8-bit, 2 used",
         {.image = MakeDib(2, 8, 2, {0, 0xABCDEF}, {{0, 1}})},
         Bmp,
         {0xFFFFFF, 0xABCDEF}},
        {"2013 PNG unswapped",
         {.digits = "1027", .image = png, .code = 6},
         Png,
         {0xFFFFFF, 0x000000, 0x123456}},
        {"R12", {.digits = "1009", .image = Dib8}, None},
        {"three entries", {.digits = "1015", .image = Dib8, .count = 3}, None},
        {"header entry only", {.image = Dib8, .count = 1}, None},
        {"no entries", {.image = Dib8, .count = 0}, None},
        {"metafile entry", {.image = Dib8, .code = 3}, Wmf},
        {"seeker past the end", {.image = Dib8, .seeker = 5000}, ReadError},
        {"seeker near 4 GiB", {.image = Dib8, .seeker = 0xFFFFFFF0}, ReadError},
        {"start past the end", {.image = Dib8, .start = 100000}, ReadError},
        {"size past the end", {.image = Dib8, .size = 100000}, ReadError},
        {"start+size wraps", {.image = Dib8, .start = 0xFFFFFFF0, .size = 0x20}, ReadError},
        {"metafile past the end", {.image = Dib8, .code = 3, .size = 100000}, ReadError},
        {"entry < info header", {.image = Dib8, .size = 39}, ReadError},
        {"colours used > entry", {.image = tooManyColours}, ReadError},
        {"implied 256 > entry", {.image = implied256}, ReadError},
        {"bit count 7", {.image = MakeDib(1, 7, 1, {0}, {{0}})}, GraphicError},
        {"PNG entry holding a DIB", {.digits = "1032", .image = Dib8, .code = 6}, GraphicError},
    };
}

void Check(const TRow& row, const Bytes& file) {
    SCOPED_TRACE(row.name);
    std::string label = "(not called)";
    const TDwgVersionSink sink = [&](const std::string& t) { label = t; };
    try {
        const TDwgPreview p = ReadDwgPreview(file, sink);
        const TOutcome kinds[] = {None, Bmp, Png, Wmf}; // in TDwgPreviewKind's order
        EXPECT_EQ(kinds[int(p.Kind)], row.outcome);
        EXPECT_EQ(p.VersionText, label);
        ASSERT_EQ(p.Picture.Width(), int(row.topRow.size()));
        for (int x = 0; x < p.Picture.Width(); ++x) {
            const TRGBQuad c = p.Picture.PixelColor(x, 0);
            EXPECT_EQ(uint32_t(c.red << 16 | c.green << 8 | c.blue), row.topRow[size_t(x)]) << x;
        }
    } catch (const EDwgReadError& e) {
        EXPECT_EQ(row.outcome, ReadError);
        EXPECT_EQ(e.what(), ReadErrorText);
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(row.outcome, GraphicError) << e.what();
    }
    // Reported before anything can fail.
    EXPECT_EQ(label, DwgVersionText(row.drawing.digits));
}

std::filesystem::path RealDrawing(const std::string& name) {
    return std::filesystem::path(PICTOR_TESTDATA) / "dwg" / "libredwg" / name;
}

Bytes ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(DwgPreview, VersionTextsCompareTheStoredCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"1004", "ACAD EX-II"},
        {"1005", "ACAD GX-III"},
        {"1006", "ACAD GX-5"},
        {"1009", "ACAD R12"},
        {"1012", "ACAD R13,LT95"},
        {"1014", "ACAD R14,LT97,LT98"},
        {"1015", "ACAD R2000,LT2000"},
        {"1018", "unknon"},
        {"1032", "unknon"},
        {"1.40", "unknon"},
        {" 1014", "unknon"},
        {"101", "unknon"},
        {"+1014", "unknon"},
        {"", "unknon"},
    };
    for (const auto& [digits, text] : cases)
        EXPECT_EQ(DwgVersionText(digits), text) << digits;
}

TEST(DwgPreview, SyntheticDrawings) {
    for (const TRow& row : Rows())
        Check(row, Build(row.drawing));
}

TEST(DwgPreview, VersionThatIsNoIntegerIsReportedAfterTheLabel) {
    const std::pair<std::string, std::string> cases[] = {
        {"1.40", "'1.40' は整数ではありません"},
        {std::string("1\0\x01"
                     "4",
                     4),
         "'1\uFFFD\uFFFD4' は整数ではありません"},
    };
    for (const auto& [digits, message] : cases) {
        std::string label;
        try {
            ReadDwgPreview(Build({.digits = digits}), [&](const std::string& t) { label = t; });
            ADD_FAILURE() << message;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(label, "unknon");
    }
}

TEST(DwgPreview, EveryTruncationIsAReadError) {
    for (const TRow& row : Rows()) {
        if (row.outcome != Bmp && row.outcome != Png) continue;
        const Bytes full = Build(row.drawing);
        for (size_t n = 0; n < full.size(); ++n) {
            const Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
            EXPECT_THROW(ReadDwgPreview(cut), EDwgReadError) << row.name << " cut at " << n;
        }
    }
}

TEST(DwgPreview, OversizedEntryIsRefusedBeforeReading) {
    TDrawing d{.image = Bytes(MaxDwgPreviewBytes + 1, 0)};
    EXPECT_THROW(ReadDwgPreview(Build(d)), EInvalidGraphic);
}

TEST(DwgPreview, PathReadsLikeBytesAndUnopenableFilesAreSilent) {
    pictor_test::TempDir dir("dwg");
    const TDrawing drawings[] = {
        {.digits = "1015", .image = Dib8}, {.digits = "1009"}, {.digits = "1012", .image = Dib8}};
    std::string label;
    const TDwgVersionSink sink = [&](const std::string& t) { label = t; };
    // Thumbnails of a folder: the label ends with the last drawing read.
    for (size_t i = 0; i < std::size(drawings); ++i) {
        const Bytes file = Build(drawings[i]);
        const auto path = dir.path / ("d" + std::to_string(i) + ".dwg");
        pictor_test::WriteFile(path, std::string(file.begin(), file.end()));
        const TDwgPreview fromPath = ReadDwgPreview(path.string(), sink);
        const TDwgPreview fromBytes = ReadDwgPreview(file);
        EXPECT_EQ(fromPath.Kind, fromBytes.Kind);
        EXPECT_TRUE(fromPath.Picture == fromBytes.Picture);
    }
    EXPECT_EQ(label, "ACAD R13,LT95");

    std::filesystem::create_directory(dir.path / "folder.dwg");
    ASSERT_EQ(::mkfifo((dir.path / "fifo.dwg").c_str(), 0600), 0);
    for (const char* name : {"missing.dwg", "folder.dwg", "fifo.dwg"}) {
        label = "(not called)";
        const TDwgPreview p = ReadDwgPreview((dir.path / name).string(), sink);
        EXPECT_TRUE(p.Picture.Empty() && p.VersionText.empty() && p.Digits.empty()) << name;
        EXPECT_EQ(label, "(not called)") << name;
    }
}

TEST(DwgPreview, RealDrawings) {
    struct Case {
        const char* file;
        const char* digits;
        TDwgPreviewKind kind;
        int width, height;
    };
    using K = TDwgPreviewKind;
    const Case cases[] = {
        {"example_r13.dwg", "1012", K::Bmp, 216, 140},
        {"example_r14.dwg", "1014", K::Bmp, 216, 140},
        {"r14__v.dwg", "1014", K::Bmp, 180, 116},
        {"r14__Leader.dwg", "1014", K::Bmp, 184, 140},
        {"sample_2000.dwg", "1015", K::Bmp, 180, 88},
        {"2000__entities-2d.dwg", "1015", K::Bmp, 180, 92},
        {"2000__PolyLine2D.dwg", "1015", K::None, 0, 0},
        {"example_2004.dwg", "1018", K::Bmp, 216, 140},
        {"2004__HatchG.dwg", "1018", K::Bmp, 184, 113},
        {"2007__Arc.dwg", "1021", K::Bmp, 256, 102},
        {"2007__ATMOS-DC22S.dwg", "1021", K::None, 0, 0}, // three entries
        {"2010__gh209_1.dwg", "1024", K::Bmp, 224, 140},
        {"2010__Arc.dwg", "1024", K::Bmp, 256, 102},
        {"2013__Arc.dwg", "1027", K::Png, 256, 102},
        {"sample_2018.dwg", "1032", K::Png, 597, 448},
        {"2018__Arc.dwg", "1032", K::None, 0, 0},
        {"2018__Constraints.dwg", "1032", K::None, 0, 0},
        {"r11__entities-2d.dwg", "1009", K::None, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const TDwgPreview p = ReadDwgPreview(RealDrawing(c.file).string());
        EXPECT_EQ(p.Digits, c.digits);
        EXPECT_EQ(p.VersionText, DwgVersionText(c.digits));
        EXPECT_EQ(p.Kind, c.kind);
        EXPECT_EQ(p.Picture.Width(), c.width);
        EXPECT_EQ(p.Picture.Height(), c.height);
        if (c.kind != K::Bmp) continue;
        // Cut at the seeker, inside the sentinel, and inside the picture: a read error each.
        const Bytes full = ReadAll(RealDrawing(c.file));
        const size_t seeker = U32(full, 13), picture = U32(full, seeker + 31);
        for (size_t n : {seeker, seeker + 7, picture + 100}) {
            const Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
            EXPECT_THROW(ReadDwgPreview(cut), EDwgReadError) << "cut at " << n;
        }
    }
    for (const char* file : {"r2.10__block.dwg", "r1.4__entities.dwg"}) {
        std::string label;
        EXPECT_THROW(
            ReadDwgPreview(RealDrawing(file).string(), [&](const std::string& t) { label = t; }),
            EConvertError)
            << file;
        EXPECT_EQ(label, "unknon") << file;
    }
}
