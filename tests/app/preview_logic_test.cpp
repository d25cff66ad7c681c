// The preview panel's decisions: dispatch, box sizes, GIF header, text loading.
#include "app/PreviewLogic.h"

#include "app/Settings.h"
#include "core/Exception.h"
#include "core/PathRules.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <sys/stat.h>

using namespace pictor;
using pictor_test::TempDir;
using pictor_test::WriteFile;

namespace {

std::array<bool, 23> Only(std::initializer_list<const char*> keys) {
    std::array<bool, 23> s{};
    for (const char* k : keys)
        s[size_t(FileKindIndex(k))] = true;
    return s;
}
std::array<bool, 23> All() {
    std::array<bool, 23> s;
    s.fill(true);
    return s;
}
std::array<bool, 23> AllBut(const char* key) {
    auto s = All();
    s[size_t(FileKindIndex(key))] = false;
    return s;
}

} // namespace

TEST(PreviewDispatch, EveryRowFollowsItsOwnSwitch) {
    // Written out independently of the table under test.
    using K = TPreviewKind;
    using L = TArchiveLib;
    struct Row {
        const char* ext;
        const char* key;
        TPreviewKind kind;
        TArchiveLib lib;
    } rows[] = {
        {".dwg", "dwg", K::Dwg, L::Lha},      {".jpg", "jpg", K::Jpeg, L::Lha},
        {".jpeg", "jpeg", K::Jpeg, L::Lha},   {".bmp", "bmp", K::Bitmap, L::Lha},
        {".dib", "dib", K::Bitmap, L::Lha},   {".ico", "ico", K::Icon, L::Lha},
        {".wmf", "wmf", K::Metafile, L::Lha}, {".emf", "emf", K::Metafile, L::Lha},
        {".txt", "txt", K::Text, L::Lha},     {".log", "log", K::Text, L::Lha},
        {".ini", "ini", K::Text, L::Lha},     {".htm", "htm", K::Html, L::Lha},
        {".html", "html", K::Html, L::Lha},   {".gif", "gif", K::Gif, L::Lha},
        {".lzh", "lzh", K::Archive, L::Lha},  {".zip", "zip", K::Archive, L::Zip},
        {".cab", "cab", K::Archive, L::Cab},  {".tar", "tar", K::Archive, L::Tar},
        {".tbz", "tar", K::Archive, L::Tar},  {".tgz", "tar", K::Archive, L::Tar},
        {".avi", "avi", K::Media, L::Lha},    {".mpg", "mpg", K::Media, L::Lha},
        {".mpeg", "mpg", K::Media, L::Lha},   {".wav", "wav", K::Media, L::Lha},
        {".mid", "mid", K::Media, L::Lha},    {".mp3", "mp3", K::Media, L::Lha},
    };
    ASSERT_EQ(std::size(rows), FileKindTable.size());
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const std::string path = std::string("/pics/Name") + r.ext;
        const TPreviewChoice on = ChoosePreview(path, Only({r.key}), {});
        EXPECT_EQ(on, (TPreviewChoice{r.kind, r.lib, r.ext, int(i)})) << r.ext;
        // Upper case in the name, the same row.
        EXPECT_EQ(ChoosePreview(AsciiUpper(path), Only({r.key}), {}).Row, int(i)) << r.ext;
        // Every other switch on is not enough.
        EXPECT_EQ(ChoosePreview(path, AllBut(r.key), {}).Kind, TPreviewKind::None) << r.ext;
        // With the switch off, a plug-in claiming the extension shows it.
        EXPECT_EQ(ChoosePreview(path, AllBut(r.key), {AsciiUpper(r.ext)}).Kind,
                  TPreviewKind::Plugin)
            << r.ext;
    }
}

TEST(PreviewDispatch, PathsAndPlugins) {
    const auto defaults = TSettings::DefaultFileKinds();
    struct Case {
        const char* path;
        std::array<bool, 23> switches;
        std::vector<std::string> plugins;
        TPreviewKind kind;
        const char* ext;
    } cases[] = {
        {"/p/PHOTO.JPG", Only({"jpg"}), {}, TPreviewKind::Jpeg, ".jpg"},
        {"/p/photo.jpeg", Only({"jpg"}), {}, TPreviewKind::None, ".jpeg"},
        {"/p/a.log", Only({"log"}), {}, TPreviewKind::Text, ".log"},
        {"/p/a.log", Only({"txt"}), {}, TPreviewKind::None, ".log"},
        {"/p/a.tar.gz", All(), {}, TPreviewKind::None, ".gz"},
        {"/p/a.tar.gz", All(), {".GZ"}, TPreviewKind::Plugin, ".gz"},
        {"/p/anim.gif", defaults, {}, TPreviewKind::None, ".gif"},
        {"/p/anim.gif", defaults, {".png", ".Gif"}, TPreviewKind::Plugin, ".gif"},
        {"/p/x.png", All(), {".png"}, TPreviewKind::Plugin, ".png"},
        {"/p/x.jpe", All(), {}, TPreviewKind::None, ".jpe"},
        {"/p/folder", All(), {""}, TPreviewKind::None, ""}, // no extension, no plug-in road
        {"/p/my.dir/file", All(), {".dir/file"}, TPreviewKind::None, ""},
        {"C:\\a.jpg\\file", All(), {}, TPreviewKind::None, ""},
        {"/p/a.jpg:stream", All(), {}, TPreviewKind::None, ""},
        {"/p/dir.d", All(), {".d"}, TPreviewKind::Plugin, ".d"}, // a folder with a dot
        {"/p/.jpg", All(), {}, TPreviewKind::Jpeg, ".jpg"},
        {"/p/a.", All(), {"."}, TPreviewKind::Plugin, "."},
        {"/p/a.ÄBC", All(), {".äbc"}, TPreviewKind::None, ".Äbc"}, // lower case is ASCII only
    };
    for (const Case& c : cases) {
        const TPreviewChoice got = ChoosePreview(c.path, c.switches, c.plugins);
        EXPECT_EQ(got.Kind, c.kind) << c.path;
        EXPECT_EQ(got.Ext, c.ext) << c.path;
        if (got.Kind == TPreviewKind::Plugin || got.Kind == TPreviewKind::None) {
            EXPECT_EQ(got.Row, -1) << c.path;
        }
    }
}

TEST(PreviewGeometry, PictureBoxAndTexts) {
    struct Case {
        int w, h;
        TBoxSize box;
    } cases[] = {
        {200, 150, {200, 150}},
        {201, 150, {200, 149}},
        {100, 400, {200, 800}},
        {200, 151, {200, 151}},
        {1, 1, {1, 1}},
        {640, 480, {200, 150}},
        {201, 1, {200, 0}},
        {0, 10, {0, 0}},
        {10, -5, {0, 0}},
        {1, INT_MAX, {200, INT_MAX}},
        {INT_MAX, INT_MAX, {200, 200}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PictureBoxSize(c.w, c.h), c.box) << c.w << "x" << c.h;
    }
    EXPECT_EQ(DimensionText(640, 480), "W 640 × H 480 pixel");
    EXPECT_EQ(DimensionText(32, 32), "W 32 × H 32 pixel");
    EXPECT_EQ(DimensionText(65535, 1), "W 65535 × H 1 pixel");
}

TEST(PreviewGeometry, GifWebAndMedia) {
    struct Gif {
        int w, h, cw;
        TBoxSize shown;
    } gifs[] = {
        {640, 480, 200, {200, 150}},
        {120, 90, 200, {120, 90}},
        {150, 300, 200, {100, 200}}, // r = 1.5
        {200, 200, 100, {200, 200}}, // neither side beyond 200
        {250, 100, 300, {250, 100}}, // beyond 200 but within the view
        {65535, 65535, 200, {200, 200}},
        {300, 10, 0, {1, 0}},       // a view of no width counts as one pixel
        {-5, 300, 200, {0, 200}},   // a negative side counts as 0
        {218, 100, 200, {199, 91}}, // 218 / (218 / 200) falls just short of 200 in doubles
    };
    for (const Gif& g : gifs)
        EXPECT_EQ(GifDisplaySize(g.w, g.h, g.cw), g.shown) << g.w << "x" << g.h << " in " << g.cw;

    struct Web {
        int sw, sh;
        TBoxSize capture;
    } webs[] = {
        {300, 2000, {600, 600}},  {800, 2000, {900, 900}},          {2000, 800, {2100, 900}},
        {500, 500, {600, 600}},   {499, 5000, {600, 600}},          {5000, 499, {600, 600}},
        {5000, 600, {4096, 700}}, {INT_MAX, INT_MAX, {4096, 4096}},
    };
    for (const Web& w : webs)
        EXPECT_EQ(WebCaptureSize(w.sw, w.sh), w.capture) << w.sw << "x" << w.sh;

    struct Media {
        const char* path;
        bool button;
    } media[] = {{"/m/a.wav", false}, {"/m/a.mid", false}, {"/m/a.mp3", false}, {"/m/a.avi", true},
                 {"/m/A.AVI", true},  {"/m/a.mpg", true},  {"/m/a.MPEG", true}, {"/m/avi", false}};
    for (const Media& m : media)
        EXPECT_EQ(MediaControlsFor(m.path), (TMediaControls{true, true, m.button})) << m.path;
}

TEST(PreviewGeometry, TrackBarJump) {
    // Channel 8..192, thumb 11 wide at 50..61: room 192 - 5 - 8 = 179, range 0..179.
    const TTrackBarGeometry bar{50, 61, 8, 192, 11, 0, 179};
    // Five steps over a ten-pixel room: exact halves go to the even neighbour.
    const TTrackBarGeometry halves{100, 101, 0, 10, 0, 0, 5};
    // 199 × 84499 / 200 is 84076.505; in single precision it comes out as 84076.5 and goes
    // to the even 84076 (doubles would give 84077).
    const TTrackBarGeometry single{300, 301, 0, 200, 0, 0, 84499};
    const TTrackBarGeometry flat{0, 1, 10, 14, 8, 0, 100}; // no room: 14 - 4 - 10 = 0
    struct Case {
        const TTrackBarGeometry* bar;
        int x;
        std::optional<int> pos;
    } cases[] = {
        {&bar, 55, std::nullopt}, {&bar, 51, std::nullopt},  {&bar, 50, 42},
        {&bar, 61, 53},           {&bar, 100, 92},           {&bar, 0, 0},
        {&bar, 300, 179},         {&halves, 1, 0},           {&halves, 3, 2},
        {&halves, 5, 2},          {&halves, 7, 4},           {&halves, 9, 4},
        {&single, 199, 84076},    {&flat, 12, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrackBarJumpPosition(*c.bar, c.x), c.pos) << c.x;
    // A bar whose minimum is not 0 still clamps into its range.
    EXPECT_EQ(TrackBarJumpPosition({0, 1, 0, 100, 0, 50, 60}, 0), 50);
}

TEST(GifHeader, LogicalScreen) {
    using namespace std::string_literals;
    using Size = std::optional<std::pair<int, int>>;
    struct Case {
        std::string bytes;
        Size size;
    } cases[] = {
        {"GIF89a\x80\x02\xE0\x01"s, std::pair{640, 480}},
        {"GIF87a\x01\x00\x01\x00\x00\x00"s, std::pair{1, 1}},
        {"GIF89a\xFF\xFF\xFF\xFF"s, std::pair{65535, 65535}},
        {"GIF89a\xFF\xD8\xFF\xE0"s, std::pair{0xD8FF, 0xE0FF}}, // signature first, then JPEG
        {"GIF89a\x80\x02\xE0"s, std::nullopt},                  // height cut
        {"GIF89a"s, std::nullopt},
        {""s, std::nullopt},
        {"GIF88a\x80\x02\xE0\x01"s, std::nullopt},
        {"gif89a\x80\x02\xE0\x01"s, std::nullopt},
        {"\xFF\xD8\xFF\xE0GIF89a\x01\x00"s, std::nullopt},
        {"GIF89a\x00\x00\x20\x00"s, std::nullopt}, // zero width
        {"GIF89a\x20\x00\x00\x00"s, std::nullopt}, // zero height
    };
    for (const Case& c : cases)
        EXPECT_EQ(GifLogicalScreenSize(c.bytes), c.size) << c.bytes;

    struct File {
        const char* name;
        Size size;
    } files[] = {{"pillow/hopper.gif", std::pair{128, 128}},
                 {"pillow/chi.gif", std::pair{320, 240}},
                 {"pillow/no_palette.gif", std::pair{1, 1}},
                 {"image-rs/issue_1455_oversized.gif", std::pair{10, 10}},
                 {"pillow/zero_width.gif", std::nullopt}};
    for (const File& f : files)
        EXPECT_EQ(ReadGifLogicalScreenSize(std::string(PICTOR_TESTDATA "/gif/") + f.name), f.size)
            << f.name;

    TempDir dir;
    WriteFile(dir.path / "short.gif", "GIF8");
    EXPECT_EQ(ReadGifLogicalScreenSize((dir.path / "short.gif").string()), std::nullopt);
    EXPECT_THROW(ReadGifLogicalScreenSize((dir.path / "missing.gif").string()), EInOutError);
    EXPECT_THROW(ReadGifLogicalScreenSize(dir.path.string()), EInOutError);
}

TEST(TextPreview, Decoding) {
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        bool truncated;
        TTextEncoding enc;
        const char* text; // UTF-8
        std::uint64_t shown;
    } cases[] = {
        {"日本語のテキスト\r\n二行目\n"s, false, TTextEncoding::Utf8, "日本語のテキスト\n二行目\n",
         36},
        {"plain ascii"s, false, TTextEncoding::Utf8, "plain ascii", 11},
        // Code page 932: 日本語, ソ and 表示 (trail byte 5C), ① (NEC row), ～, half-width ｱ.
        {"\x93\xFA\x96\x7B\x8C\xEA\x83\x5C\x95\x5C\x8E\xA6\x87\x40\x81\x60\xB1\r\n"s, false,
         TTextEncoding::ShiftJis, "日本語ソ表示①～ｱ\n", 19},
        {"\x85\x40 unassigned"s, false, TTextEncoding::Latin1, "\xC2\x85@ unassigned", 13},
        {"caf\xE9 au lait"s, false, TTextEncoding::Latin1, "café au lait", 12},
        {"\xEF\xBB\xBFwith BOM"s, false, TTextEncoding::Utf8, "with BOM", 11},
        {"\xFF\xFE\x41\x00\xE5\x65"s, false, TTextEncoding::Utf16LE, "A日", 6},
        {"\xFE\xFF\x00\x41\x65\xE5"s, false, TTextEncoding::Utf16BE, "A日", 6},
        {"a\0b\x01"s, false, TTextEncoding::Utf8,
         "a\xEF\xBF\xBD"
         "b\x01",
         4},
        {"a\r\nb\rc\n\r"s, false, TTextEncoding::Utf8, "a\nb\nc\n\n", 8},
        {"\xED\xA0\x80"s, false, TTextEncoding::Latin1, "\xC3\xAD\xC2\xA0\xC2\x80", 3},
        {"\xC0\xAF"s, false, TTextEncoding::ShiftJis, "ﾀｯ", 2}, // overlong "/" is not UTF-8
        // A character cut by the limit is dropped; a file that really ends so is not UTF-8.
        {"日本"s.substr(0, 4), true, TTextEncoding::Utf8, "日", 3},
        {"日本"s.substr(0, 4), false, TTextEncoding::Latin1, "\xC3\xA6\xC2\x97\xC2\xA5\xC3\xA6", 4},
        {"\x93\xFA\x96"s, true, TTextEncoding::ShiftJis, "日", 2},
        {"\xFF\xFE\x41\x00\x3D\xD8\x00"s, true, TTextEncoding::Utf16LE, "A", 4},
    };
    for (const Case& c : cases) {
        const TTextPreview p = DecodeTextPreview(c.bytes, c.truncated);
        EXPECT_EQ(p.Encoding, c.enc) << c.bytes;
        EXPECT_EQ(p.Text, QString::fromUtf8(c.text)) << c.bytes;
        EXPECT_EQ(p.ShownBytes, c.shown) << c.bytes;
        EXPECT_TRUE(p.Note.isEmpty());
    }
}

TEST(TextPreview, LoadingFiles) {
    TempDir dir;
    const auto path = [&](const char* n) { return (dir.path / n).string(); };
    WriteFile(dir.path / "sjis.txt", "\x93\xFA\x96\x7B\r\n");
    WriteFile(dir.path / "exact.txt", std::string(1024, 'x'));
    WriteFile(dir.path / "long.txt", std::string(3000, 'y'));

    struct Case {
        const char* name;
        std::size_t limit;
        bool truncated;
        std::uint64_t shown, size;
        const char* note;
    } cases[] = {
        {"sjis.txt", 1024, false, 6, 6, ""},
        {"exact.txt", 1024, false, 1024, 1024, ""},
        {"long.txt", 1024, true, 1024, 3000, "（全 3 KB のうち先頭 1 KB を表示）"},
        {"long.txt", 2999, true, 2999, 3000, "（全 3 KB のうち先頭 2 KB を表示）"},
        {"long.txt", 0, true, 0, 3000, "（全 3 KB のうち先頭 0 KB を表示）"},
    };
    for (const Case& c : cases) {
        const TTextPreview p = LoadTextPreview(path(c.name), c.limit);
        EXPECT_EQ(p.Truncated, c.truncated) << c.name << c.limit;
        EXPECT_EQ(p.ShownBytes, c.shown) << c.name << c.limit;
        EXPECT_EQ(p.FileSize, c.size) << c.name << c.limit;
        EXPECT_EQ(p.Note, QString::fromUtf8(c.note)) << c.name << c.limit;
        EXPECT_EQ(p.MemoText(), p.Note.isEmpty() ? p.Text : p.Note + "\n" + p.Text);
    }
    EXPECT_EQ(LoadTextPreview(path("sjis.txt"), 100).Text, QString::fromUtf8("日本\n"));

    // A gigabyte of holes: only the limit is read, the NULs show as replacement characters.
    const std::string huge = path("huge.log");
    WriteFile(huge, "");
    std::filesystem::resize_file(huge, 1ull << 30);
    const TTextPreview p = LoadTextPreview(huge, DefaultTextPreviewLimit);
    EXPECT_TRUE(p.Truncated);
    EXPECT_EQ(p.FileSize, 1ull << 30);
    EXPECT_EQ(p.ShownBytes, DefaultTextPreviewLimit);
    EXPECT_EQ(p.Text, QString(qsizetype(DefaultTextPreviewLimit), QChar::ReplacementCharacter));
    EXPECT_EQ(p.Note, QString::fromUtf8("（全 1,048,576 KB のうち先頭 256 KB を表示）"));

    // Nothing that is not a regular file is read, and a FIFO does not block.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    for (const char* bad : {"missing.txt", "fifo", ""}) {
        try {
            LoadTextPreview(bad[0] ? path(bad) : dir.path.string(), 1024);
            ADD_FAILURE() << bad;
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot read file \"", 0), 0u) << e.what();
        }
    }
}
