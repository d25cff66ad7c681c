// Decoding through picture plug-ins: DIB checks, the BMP image written from it, reader and
// offset order, streams, previews and progress. The container fixtures (dibx, dibx_preview,
// jpegx, tstx in test_plugin.c) return whatever DIB blocks the test puts into the data.

#include "SpiTestSupport.h"

#include "core/BmpCodec.h"
#include "plugins/SPIBmp.h"

#include <climits>

using namespace pictor;
using namespace pictor_test;

namespace {

std::string Le(uint32_t v, int n = 4) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char(v >> (8 * i));
    return s;
}
std::span<const uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string Pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char(i * 37 + size_t(seed));
    return s;
}

// An info block of exactly infoLen bytes: header, masks for BI_BITFIELDS, then table bytes.
std::string InfoBlock(int32_t w, int32_t h, uint16_t bpp, uint32_t comp, uint32_t clrUsed,
                      size_t infoLen, uint32_t biSize = 40, uint16_t planes = 1) {
    std::string s = Le(biSize) + Le(w) + Le(h) + Le(planes, 2) + Le(bpp, 2) + Le(comp) + Le(0) +
                    Le(2835) + Le(2835) + Le(clrUsed) + Le(0);
    if (comp == 3)
        s +=
            bpp == 16 ? Le(0xF800) + Le(0x07E0) + Le(0x001F) : Le(0xFF0000) + Le(0xFF00) + Le(0xFF);
    s += Pattern(infoLen > s.size() ? infoLen - s.size() : 0, 5);
    s.resize(infoLen);
    return s;
}

// Data for a container fixture: magic, mode, progress pairs, the two blocks.
std::string Container(const std::string& magic, const std::string& info, const std::string& pixels,
                      uint8_t mode = 0,
                      const std::vector<std::pair<int32_t, int32_t>>& progress = {}) {
    std::string s =
        magic + char(mode) + char(progress.size()) + Le(0, 2) + Le(info.size()) + Le(pixels.size());
    for (auto [num, denom] : progress)
        s += Le(num) + Le(denom);
    return s + info + pixels;
}

const std::string Dibx = "DIBX", Jpegx = "\xFF\xD8\xFF\xE0",
                  NoDecode = "Susie Plugins could not decode";

// A small 24-bit picture in both forms: container blocks and the bitmap they stand for.
const std::string PicInfo = InfoBlock(3, 2, 24, 0, 0, 40), PicPixels = Pattern(24, 1);
const std::string Pic = Container(Dibx, PicInfo, PicPixels);
Bitmap Picture() {
    return ReadDib(Span(PicInfo + PicPixels));
}
// What in_good returns for any memory data starting with "TST".
Bitmap InGoodPicture() {
    const std::string row("\x10\x20\x30\x40\x50\x60\0\0", 8);
    return ReadDib(Span(InfoBlock(2, 2, 24, 0, 0, 40) + row + row));
}
std::string InGoodBmp() {
    const std::vector<uint8_t> v = WriteBmp(InGoodPicture());
    return {v.begin(), v.end()};
}

struct TReport {
    const TProgressSender* sender;
    TProgressStage stage;
    int percent;
    bool redraw;
    TProgressRect rect;
    std::string message;
};

class SpiBmpTest : public SpiTest {
protected:
    SpiBmpTest() {
        FSpis.SearchOptions = {};
        FSpis.AppDir = FSpis.SystemDir = FSpis.WindowsDir = "";
    }
    void TearDown() override {
        DoneSPIGraphics();
        SpiTest::TearDown();
    }
    // Registers fixture variants under the given names, in this order.
    void Register(std::initializer_list<std::pair<const char*, const char*>> plugins) {
        const std::string dir = Folder("spi");
        for (auto [variant, name] : plugins)
            FSpis.Search(Put(dir, variant, name));
        ASSERT_EQ(FSpis.Count(), int(plugins.size()));
    }
    std::string File(const std::string& name, const std::string& bytes) {
        return Write(Folder("data") + "/" + name, bytes);
    }
    TProgressSender::TProgressEvent Recorder() {
        FReports.clear();
        return [this](TProgressSender& sender, TProgressStage stage, uint8_t percent, bool redraw,
                      const TProgressRect& rect, const std::string& message) {
            FReports.push_back({&sender, stage, percent, redraw, rect, message});
        };
    }
    // The plug-in names of the "Loading by [...]" reports, in order.
    NameList Attempts() const {
        NameList names;
        for (const TReport& r : FReports)
            if (r.message.starts_with("Loading by ["))
                names.push_back(r.message.substr(12, r.message.size() - 13));
        return names;
    }

    TSPIs FSpis;
    std::vector<TReport> FReports;
};

// ---- the DIB a plug-in returns ---------------------------------------------------------------

struct DibCase {
    const char* name;
    int32_t w, h;
    uint16_t bpp;
    uint32_t comp, clrUsed;
    size_t infoLen, pixelLen;
    size_t infoSize, imageSize; // expected; infoSize 0: the blocks are refused
    uint32_t colors;
    const char* error = ""; // part of the refusal message
    uint32_t biSize = 40;
    uint16_t planes = 1;
    uint8_t mode = 0; // fixture misbehaviour (0: none)
};

class SpiBmpDibTest : public SpiBmpTest, public ::testing::WithParamInterface<DibCase> {};

// Each DIB goes through the conversion directly and through a plug-in (tstx) whose refusal
// must hand the data on to the next plug-in (in_good).
TEST_P(SpiBmpDibTest, BlocksAreCheckedAndWrittenAsTheyCame) {
    const DibCase& c = GetParam();
    const std::string info =
        InfoBlock(c.w, c.h, c.bpp, c.comp, c.clrUsed, c.infoLen, c.biSize, c.planes);
    const std::string pixels = Pattern(c.pixelLen, 3);
    const bool valid = c.infoSize != 0;
    if (c.mode == 0 && !valid) {
        const std::string error =
            ErrorOf<EInvalidGraphic>([&] { SPIDibToBitmap(Span(info), Span(pixels)); });
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    // The oracle: the core DIB reader on the part of the blocks the header describes.
    const std::string used = info.substr(0, c.infoSize) + pixels.substr(0, c.imageSize);

    Register({{"tstx", "a.spi"}, {"in_good", "b.spi"}});
    FSpis.MacBinary = false;
    const std::string data = Container("TST", info, pixels, c.mode);
    TMemoryStream stream(Span(data));
    TSPIGraphic g;
    g.OnProgress = Recorder();
    g.LoadFromStream(stream);
    EXPECT_EQ(Attempts(), valid ? NameList{"a.spi"} : (NameList{"a.spi", "b.spi"}));
    if (!valid) {
        EXPECT_EQ(g.ToBitmap(), InGoodPicture());
        return;
    }
    EXPECT_EQ(SPIDibToBitmap(Span(info), Span(pixels)), ReadDib(Span(used)));
    EXPECT_EQ(g.InfoSize(), c.infoSize);
    EXPECT_EQ(g.ImageSize(), c.imageSize);
    EXPECT_EQ(g.ColorCount(), c.colors);
    const TLogPalette* palette = g.Palette();
    ASSERT_EQ(palette != nullptr, c.colors > 0);
    if (palette) {
        ASSERT_EQ(palette->Entries.size(), c.colors);
        const size_t t = c.comp == 3 ? 52 : 40;
        for (size_t i = 0; i < c.colors; ++i)
            EXPECT_EQ(palette->Entries[i], (TLogPalette::TEntry{uint8_t(info[t + 4 * i + 2]),
                                                                uint8_t(info[t + 4 * i + 1]),
                                                                uint8_t(info[t + 4 * i]), 0}));
    }
    TMemoryStream saved;
    g.SaveToStream(saved);
    EXPECT_EQ(std::string(saved.Data().begin(), saved.Data().end()),
              "BM" + Le(14 + used.size()) + Le(0) + Le(14 + c.infoSize) + used);
    EXPECT_EQ(g.ToBitmap(true), ReadDib(Span(used)));
    EXPECT_TRUE(g.Empty());
}

const DibCase DibCases[] = {
    // Valid: the info size counts the colour table (and BI_BITFIELDS masks), rows are padded.
    {"OneBitOddWidth", 3, 2, 1, 0, 0, 48, 8, 48, 8, 2},
    {"FourBitThreeColours", 5, 1, 4, 0, 3, 52, 4, 52, 4, 3},
    {"EightBitFullTable", 2, 2, 8, 0, 0, 1064, 8, 1064, 8, 256},
    {"TwentyFourBitPaddedRows", 3, 2, 24, 0, 0, 40, 24, 40, 24, 0},
    {"TwentyFourBitTopDown", 2, -2, 24, 0, 0, 40, 16, 40, 16, 0},
    {"TwentyFourBitWithTable", 1, 1, 24, 0, 2, 48, 4, 48, 4, 2},
    {"ThirtyTwoBit", 2, 2, 32, 0, 0, 40, 16, 40, 16, 0},
    {"SixteenBit555", 3, 1, 16, 0, 0, 40, 8, 40, 8, 0},
    {"SixteenBitBitfields", 2, 2, 16, 3, 0, 52, 8, 52, 8, 0},
    {"ThirtyTwoBitBitfields", 1, 1, 32, 3, 0, 52, 4, 52, 4, 0},
    {"BlocksLargerThanNeeded", 2, 2, 24, 0, 0, 100, 100, 40, 16, 0},
    // Refused.
    {"InfoBlockShort", 1, 1, 24, 0, 0, 20, 4, 0, 0, 0, "too few for a 40-byte header"},
    {"HeaderSize108", 1, 1, 24, 0, 0, 108, 4, 0, 0, 0, "header size is 108", 108},
    {"NoPlanes", 1, 1, 24, 0, 0, 40, 4, 0, 0, 0, "plane count is 0", 40, 0},
    {"WidthZero", 0, 1, 24, 0, 0, 40, 4, 0, 0, 0, "invalid width 0"},
    {"WidthNegative", -1, 1, 24, 0, 0, 40, 4, 0, 0, 0, "invalid width -1"},
    {"HeightZero", 1, 0, 24, 0, 0, 40, 4, 0, 0, 0, "invalid height 0"},
    {"HeightMin", 1, INT32_MIN, 24, 0, 0, 40, 4, 0, 0, 0, "invalid height"},
    {"ZeroBits", 1, 1, 0, 0, 0, 40, 4, 0, 0, 0, "bit count 0"},
    {"TwoBits", 1, 1, 2, 0, 0, 56, 4, 0, 0, 0, "bit count 2"},
    {"ThreeBits", 1, 1, 3, 0, 0, 72, 4, 0, 0, 0, "bit count 3"},
    {"SixtyFourBits", 1, 1, 64, 0, 0, 40, 8, 0, 0, 0, "bit count 64"},
    {"Rle8", 1, 1, 8, 1, 0, 1064, 4, 0, 0, 0, "compression type 1"},
    {"BitfieldsAt24", 1, 1, 24, 3, 0, 52, 4, 0, 0, 0, "compression type 3"},
    {"TooManyColours", 1, 1, 8, 0, 257, 1068, 4, 0, 0, 0, "257 colours"},
    {"TableBeyondBlock", 2, 2, 8, 0, 0, 1000, 8, 0, 0, 0, "the header needs 1064"},
    {"PixelBlockShort", 64, 64, 24, 0, 0, 40, 6000, 0, 0, 0, "the header needs 12288"},
    {"BeyondPixelCap", 1 << 17, 1 << 17, 1, 0, 0, 48, 64, 0, 0, 0, "supported limit"},
    {"StrideOverflow", INT32_MAX, 1, 32, 0, 0, 40, 64, 0, 0, 0, "supported limit"},
    // The plug-in breaks the memory contract; its blocks are freed once (valgrind, ASan).
    {"SuccessWithoutInfo", 3, 2, 24, 0, 0, 40, 24, 0, 0, 0, "", 40, 1, 1},
    {"SuccessWithoutPixels", 3, 2, 24, 0, 0, 40, 24, 0, 0, 0, "", 40, 1, 2},
    {"FailureWithBlocks", 3, 2, 24, 0, 0, 40, 24, 0, 0, 0, "", 40, 1, 3},
    {"OneBlockTwice", 3, 2, 24, 0, 0, 40, 24, 0, 0, 0, "", 40, 1, 4},
};
INSTANTIATE_TEST_SUITE_P(Dib, SpiBmpDibTest, ::testing::ValuesIn(DibCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- which reader, which plug-in, which offset -----------------------------------------------

TEST_F(SpiBmpTest, BmpNamesTryThePlainReaderFirstOtherNamesThePlugInsFirst) {
    Register({{"dibx", "dibx.spi"}, {"jpegx", "jpegx.spi"}});
    const std::string bmp = InGoodBmp(), jpeg = Container(Jpegx, PicInfo, PicPixels);
    struct Row {
        const char* name;
        const std::string* bytes; // null: not a picture
        bool plain;               // read by the BMP reader (else by a plug-in)
        NameList attempts;
    } rows[] = {
        {"a.bmp", &bmp, true, {}},
        {"b.BmP", &Pic, false, {"dibx.spi"}},
        {"c.bmp", &jpeg, false, {"dibx.spi", "jpegx.spi"}},
        {"d.dbx", &bmp, true, {"dibx.spi", "jpegx.spi"}},
        {"e.jpeg", &jpeg, false, {"jpegx.spi"}},
        {"f.dbx", nullptr, false, {"dibx.spi", "jpegx.spi"}},
    };
    FSpis.MacBinary = false;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = File(row.name, row.bytes ? *row.bytes : "not a picture");
        TSPIBitmap b;
        b.Assign(InGoodPicture()); // a failed load keeps what was there
        b.OnProgress = Recorder();
        EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { b.LoadFromFile(path); }),
                  row.bytes ? "" : NoDecode);
        EXPECT_EQ(b.GetBitmap(), row.plain || !row.bytes ? InGoodPicture() : Picture());
        EXPECT_EQ(Attempts(), row.attempts);
        // Reports of the plug-in reader are relayed without its ending; ours ends every load.
        ASSERT_FALSE(FReports.empty());
        for (size_t i = 0; i + 1 < FReports.size(); ++i)
            EXPECT_TRUE(FReports[i].sender == &b && FReports[i].stage != TProgressStage::psEnding);
        const TReport& last = FReports.back();
        EXPECT_TRUE(last.stage == TProgressStage::psEnding && last.percent == 100 && last.redraw);
        EXPECT_EQ(last.rect, (TProgressRect{0, 0, b.GetBitmap().Width(), b.GetBitmap().Height()}));
        EXPECT_EQ(last.message, "Loaded Graphic");
        if (!row.attempts.empty()) {
            EXPECT_EQ(FReports[0].message, "Loading Graphic by Susie Plugin");
            EXPECT_EQ(FReports[0].stage, TProgressStage::psStarting);
            EXPECT_EQ(FReports[1].message, "Seeking enabled Susie Plugins");
        }
    }
}

TEST_F(SpiBmpTest, MacBinaryTriesEachPlugInAtBothOffsetsBeforeTheNext) {
    Register({{"jpegx", "a.spi"}, {"dibx", "b.spi"}});
    const std::string data = Pattern(128, 9) + Pic, path = File("m.dat", data);
    for (const bool fromFile : {true, false})
        for (const bool macBinary : {true, false}) {
            SCOPED_TRACE(std::string(fromFile ? "file" : "stream") + (macBinary ? " on" : " off"));
            FSpis.MacBinary = macBinary;
            TSPIGraphic g;
            g.OnProgress = Recorder();
            TMemoryStream stream(Span(data));
            EXPECT_EQ(ErrorOf<EInvalidGraphic>(
                          [&] { fromFile ? g.LoadFromFile(path) : g.LoadFromStream(stream); }),
                      macBinary ? "" : NoDecode);
            EXPECT_TRUE(macBinary ? g.ToBitmap() == Picture() : g.Empty());
            EXPECT_EQ(Attempts(), (macBinary ? NameList{"a.spi", "a.spi", "b.spi", "b.spi"}
                                             : NameList{"a.spi", "b.spi"}));
        }
    // Data shorter than the MacBinary header: the plug-in is never handed a bad address.
    TMemoryStream tiny(Span(std::string("DIBX")));
    TSPIGraphic g;
    FSpis.MacBinary = true;
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { g.LoadFromStream(tiny); }), NoDecode);
}

TEST_F(SpiBmpTest, HeaderBufferHolds2176BytesZeroFilled) {
    Register({{"dibx", "a.spi"}});
    // IsSupported logs how many of its 2048 header bytes are not zero, at offset 0 then 128;
    // a file that cannot be read (size 0) leaves the buffer zero.
    for (auto [size, at0, at128] :
         {std::tuple{30, 30, 0}, {200, 200, 72}, {3000, 2048, 2048}, {0, 0, 0}}) {
        SCOPED_TRACE(size);
        const std::string path =
            size ? File("h" + std::to_string(size), std::string(size, 'x')) : FRoot + "/missing";
        TSPIGraphic g;
        EXPECT_NE(ErrorOf<Exception>([&] { g.LoadFromFile(path); }), "");
        const int same = at0 == at128;
        EXPECT_EQ(LogCount("header dibx " + std::to_string(at0)), 1 + same);
        EXPECT_EQ(LogCount("header dibx " + std::to_string(at128)), 1 + same);
        ::unlink(FLog.c_str());
    }
}

TEST_F(SpiBmpTest, ForcedLoaderAloneIsAsked) {
    Register({{"dibx", "a.spi"}, {"jpegx", "b.spi"}});
    const std::string path = File("x.dbx", Pic);
    FSpis.MacBinary = false;
    for (const int forced : {1, 0}) {
        FSpis.GraphicForcedLoader = &static_cast<TInSPI&>(FSpis.Items(forced));
        TSPIBitmap b;
        b.OnProgress = Recorder();
        EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { b.LoadFromFile(path); }), forced ? NoDecode : "");
        EXPECT_EQ(b.GetBitmap(), forced ? Bitmap() : Picture());
        EXPECT_EQ(Attempts(), NameList{forced ? "b.spi" : "a.spi"});
    }
}

TEST_F(SpiBmpTest, PreviewIsAskedFirstWhenWantedAndMissingPreviewFallsBack) {
    const Bitmap preview = ReadDib(Span(InfoBlock(1, 1, 24, 0, 0, 40) + "\x01\x02\x03\0"));
    const std::string path = File("p.dbx", Pic);
    for (auto [variant, wanted, gotPreview] : {std::tuple{"dibx_preview", true, true},
                                               {"dibx_preview", false, false},
                                               {"dibx", true, false}}) {
        SCOPED_TRACE(std::string(variant) + (wanted ? " wanted" : ""));
        FSpis.Clear();
        ::unlink(FLog.c_str());
        Register({{variant, "a.spi"}});
        FSpis.GraphicPreview = wanted;
        TSPIGraphic g;
        g.LoadFromFile(path);
        EXPECT_EQ(g.ToBitmap(), gotPreview ? preview.Copy() : Picture());
        EXPECT_EQ(LogCount("preview " + std::string(variant)), int(gotPreview));
        EXPECT_EQ(LogCount("picture " + std::string(variant)), int(!gotPreview));
    }
}

TEST_F(SpiTest, NoRegistryOrNoPlugInCannotDecode) {
    const std::string path = Write(FRoot + "/x.dbx", Pic);
    TSPIGraphic g;
    ASSERT_EQ(TSPIs::Current(), nullptr);
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { g.LoadFromFile(path); }), NoDecode);
    TSPIs empty;
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { g.LoadFromFile(path); }), NoDecode);
    EXPECT_TRUE(g.Empty());
    EXPECT_EQ(g.Palette(), nullptr);
}

// Plug-ins read a stream from its first byte; a failed reader restores the position.
TEST_F(SpiBmpTest, StreamsDecodeFromTheFirstByteAndFailedReadersRestoreThePosition) {
    Register({{"dibx", "a.spi"}});
    const std::string bmp = "garbage" + InGoodBmp();
    struct Row {
        const std::string* bytes;
        int64_t position;
        const char* name;
        bool decodes, byPlugIn;
    } rows[] = {
        {&Pic, 10, "", true, true},
        {&bmp, 7, "x.dbx", true, false},  // plug-ins fail; the BMP reader reads from 7
        {&bmp, 7, "x.bmp", true, false},  // the BMP reader first
        {&bmp, 3, "x.dbx", false, false}, // nobody: position back to 3
    };
    for (const Row& row : rows)
        for (const bool memory : {true, false}) {
            SCOPED_TRACE(std::to_string(row.position) + row.name + (memory ? " memory" : " file"));
            TFileStream file(File("s", *row.bytes));
            TMemoryStream view(Span(*row.bytes));
            TStream& stream = memory ? static_cast<TStream&>(view) : file;
            stream.SetPosition(row.position);
            TSPIBitmap b;
            EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { b.LoadFromStreamWithName(stream, row.name); }),
                      row.decodes ? "" : NoDecode);
            if (!row.decodes)
                EXPECT_EQ(stream.Position(), row.position);
            else
                EXPECT_EQ(b.GetBitmap(), row.byPlugIn ? Picture() : InGoodPicture());
        }
}

// ---- progress --------------------------------------------------------------------------------

TEST(SpiProgressPercent, ThirtyTwoBitArithmeticPlusTwoModulo256) {
    // 30000000 / 30000000: 97 × num wraps to -1384967296; INT32_MIN / -1: the quotient wraps to
    // INT32_MIN; 300 / 100: 291 + 2 = 293, modulo 256.
    const int32_t rows[][3] = {{0, 2, 2},          {1, 2, 50},          {2, 2, 99},
                               {100, 100, 99},     {5, 0, 2},           {0, 0, 2},
                               {1, -2, 210},       {-2, 2, 161},        {30000000, 30000000, 212},
                               {INT32_MIN, -1, 2}, {INT32_MAX, 1, 161}, {300, 100, 37}};
    for (auto [num, denom, percent] : rows)
        EXPECT_EQ(SpiProgressPercent(num, denom), percent) << num << "/" << denom;
}

TEST_F(SpiBmpTest, PlugInProgressIsRelayedAndHandlerErrorsStopThePlugIn) {
    Register({{"dibx", "a.spi"}, {"dibx_preview", "b.spi"}});
    FSpis.MacBinary = false;
    const std::string path =
        File("p.dat", Container(Dibx, PicInfo, PicPixels, 0, {{0, 2}, {1, 2}, {5, 0}, {2, 2}}));
    TSPIGraphic g;
    g.OnProgress = Recorder();
    g.LoadFromFile(path);
    std::vector<int> percents;
    for (const TReport& r : FReports)
        if (r.message.empty()) {
            EXPECT_TRUE(r.sender == &g && r.stage == TProgressStage::psRunning && !r.redraw);
            EXPECT_EQ(r.rect, TProgressRect{});
            percents.push_back(r.percent);
        }
    EXPECT_EQ(percents, (std::vector<int>{2, 50, 2, 99}));
    EXPECT_TRUE(FReports.back().stage == TProgressStage::psEnding && FReports.back().redraw);
    EXPECT_EQ(FReports.back().message, "Loaded Graphic by Susie Plugin");

    // EAbort stops the plug-in quietly (callback result 1) and the next one is tried; any
    // other error ends the load with that error.
    int calls = 0;
    g.OnProgress = [&](TProgressSender&, TProgressStage, uint8_t, bool, const TProgressRect&,
                       const std::string& message) {
        if (message.empty() && calls++ == 0) throw EAbort();
        if (message.empty() && calls > 100) throw Exception("handler failed");
    };
    g.LoadFromFile(path);
    EXPECT_EQ(LogCount("abort dibx"), 1);
    EXPECT_EQ(LogCount("abort dibx_preview"), 0);
    EXPECT_EQ(g.ToBitmap(), Picture());
    calls = 101;
    EXPECT_EQ(ErrorOf<Exception>([&] { g.LoadFromFile(path); }), "handler failed");
    EXPECT_TRUE(g.Empty());
    EXPECT_EQ(LogCount("abort dibx"), 2);
    EXPECT_EQ(LogCount("picture dibx_preview"), 1); // not asked again
}

// ---- registration and drawing ----------------------------------------------------------------

TEST_F(SpiBmpTest, RegisteredFormatsLoadThroughTheBitmapClassUntilDone) {
    InitSPIGraphics();
    EXPECT_EQ(DefaultSPIGraphicClass(), SPIBitmapGraphicClass());
    Register({{"dibx", "a.spi"}});
    auto& formats = TPictureFormats::Instance();
    ASSERT_NE(formats.Find("dbx"), nullptr);
    EXPECT_EQ(formats.Find("dbx")->GraphicClass, SPIBitmapGraphicClass());
    EXPECT_EQ(formats.LoadPicture(File("r.DBX", Pic)), Picture());
    EXPECT_EQ(SPIBitmapGraphicClass()->LoadFromMemory(Span(Pic), "r.dbx"), Picture());
    DoneSPIGraphics();
    EXPECT_EQ(formats.Find("dbx"), nullptr);
    EXPECT_EQ(DefaultSPIGraphicClass(), nullptr);
}

TEST_F(SpiBmpTest, DrawStretchesAndMirrorsOntoTheCanvas) {
    Register({{"dibx", "a.spi"}});
    TSPIGraphic g;
    g.LoadFromFile(File("d.dbx", Pic));
    const Bitmap pic = Picture(); // 3 x 2
    for (const bool mirrored : {false, true}) {
        Bitmap canvas(8, 5, TPixelFormat::pf24bit);
        // 6 x 4 at (1, 1): each source pixel becomes 2 x 2; mirrored by swapping left/right.
        g.Draw(canvas, mirrored ? TProgressRect{7, 1, 1, 5} : TProgressRect{1, 1, 7, 5});
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 8; ++x) {
                const int sx = (x - 1) / 2;
                const TRGBQuad want = x >= 1 && x < 7 && y >= 1
                                          ? pic.PixelColor(mirrored ? 2 - sx : sx, (y - 1) / 2)
                                          : TRGBQuad{};
                EXPECT_EQ(canvas.PixelColor(x, y), want) << x << "," << y << " " << mirrored;
            }
    }
    Bitmap indexed(2, 2, TPixelFormat::pf8bit);
    EXPECT_THROW(g.Draw(indexed, {0, 0, 2, 2}), EInvalidGraphic);
}

} // namespace
