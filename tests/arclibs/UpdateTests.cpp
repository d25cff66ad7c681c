// The LHA library's "u" command with the program's compress line, and the report the program
// makes from it (CheckArchive, then the sizes through FindFirst/FindNext).
#include "ArcTestSupport.h"

#include <cstdlib>

using namespace arctest;

namespace {

const TLib& Lha() {
    static TLib lib("UNLHA32.so", "Unlha");
    return lib;
}

// The program's literal compress line: u, a quoted blank, the switches, ... , the names each
// followed by CR LF inside one quoted argument.
std::string CompressLine(const fs::path& archive, const fs::path& base,
                         const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& n : names)
        list += n + "\r\n";
    return "u\" \"-a1 -r2 -x1 -l1 -jp1 -o2\"\" \"" + archive.string() + "\" \"" + base.string() +
           "\\\" \"" + list + "\"";
}

int Compress(const fs::path& archive, const fs::path& base, const std::vector<std::string>& names,
             std::string* log = nullptr) {
    std::vector<char> buf(1025, '\0'); // the program's buffer
    const std::string line = CompressLine(archive, base, names);
    const int r = Lha().Command(nullptr, line.c_str(), buf.data(), ARC_DWORD(buf.size()));
    if (log) *log = buf.data();
    return r;
}

std::string Pattern(size_t n, unsigned seed) {
    std::string s;
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s += char('a' + (x >> 16) % 6); // compressible, not trivial
    }
    return s;
}

bool ToolOk(const std::string& cmd) {
    return std::system((cmd + " > /dev/null 2>&1").c_str()) == 0;
}

} // namespace

TEST(ArchiverUpdate, CompressLineMakesAnArchiveTheReportCanRead) {
    TempDir tmp("arc-u");
    const fs::path pics = tmp.path / "pics";
    fs::create_directories(pics);
    fs::create_directories(tmp.path / "x");
    const std::string a = Pattern(50000, 1), b = Pattern(3000, 2), jp = "日本語の内容";
    WriteFile(pics / "a.bmp", a);
    WriteFile(pics / "b b.bmp", b);
    WriteFile(pics / "写真.bmp", jp);
    const fs::path archive = tmp.path / "x" / "NewFile.LZH";
    std::string log;
    ASSERT_EQ(Compress(archive, pics, {"a.bmp", "b b.bmp", "写真.bmp"}, &log), 0) << log;

    // The report: check, open, then sum the record's sizes.
    ASSERT_TRUE(Lha().CheckArchive(archive.c_str(), 2));
    const auto list = Lha().List(archive.string());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Name, "a.bmp");
    EXPECT_EQ(list[1].Name, "b b.bmp");
    EXPECT_EQ(list[2].Name, "写真.bmp");
    EXPECT_EQ(list[0].Size, a.size());
    EXPECT_EQ(list[1].Size, b.size());
    EXPECT_EQ(list[0].Method, "-lh5-");
    uint64_t packed = 0;
    for (const auto& m : list)
        packed += m.Packed;
    EXPECT_LT(packed, a.size() / 2);
    // Header sizes plus data plus the end mark: the packed sizes are the data sizes.
    EXPECT_LT(packed, fs::file_size(archive));

    // Other readers agree.
    if (ToolOk("command -v bsdtar")) {
        EXPECT_TRUE(ToolOk("bsdtar -xOf '" + archive.string() + "' a.bmp | cmp -s - '" +
                           (pics / "a.bmp").string() + "'"));
    }
    if (ToolOk("command -v lhasa")) {
        EXPECT_TRUE(ToolOk("lhasa t '" + archive.string() + "'"));
    }
    // Our own extraction gives the files back.
    ASSERT_EQ(Lha().Run("x \"" + archive.string() + "\" \"" + (tmp.path / "back").string() + "/\""),
              0);
    EXPECT_EQ(ReadFile(tmp.path / "back/a.bmp"), a);
    EXPECT_EQ(ReadFile(tmp.path / "back/写真.bmp"), jp);
}

TEST(ArchiverUpdate, UpdateReplacesOnlyNewerFiles) {
    TempDir tmp("arc-u2");
    const fs::path pics = tmp.path / "pics";
    fs::create_directories(pics);
    WriteFile(pics / "a.bmp", "first a");
    WriteFile(pics / "b.bmp", "first b");
    SetMTime(pics / "a.bmp", 1600000000);
    SetMTime(pics / "b.bmp", 1600000000);
    const fs::path archive = tmp.path / "p.lzh";
    ASSERT_EQ(Compress(archive, pics, {"a.bmp", "b.bmp"}), 0);
    WriteFile(pics / "a.bmp", "second a, longer");
    SetMTime(pics / "a.bmp", 1700000000);
    WriteFile(pics / "b.bmp", "second b"); // same time as stored: not newer
    SetMTime(pics / "b.bmp", 1600000000);
    WriteFile(pics / "c.bmp", "c");
    std::string log;
    ASSERT_EQ(Compress(archive, pics, {"a.bmp", "b.bmp", "c.bmp"}, &log), 0) << log;
    EXPECT_NE(log.find("replaced: a.bmp"), std::string::npos) << log;
    EXPECT_NE(log.find("kept: b.bmp"), std::string::npos) << log;
    EXPECT_NE(log.find("added: c.bmp"), std::string::npos) << log;
    ASSERT_EQ(Lha().Run("x \"" + archive.string() + "\" \"" + (tmp.path / "out").string() + "/\""),
              0);
    EXPECT_EQ(ReadFile(tmp.path / "out/a.bmp"), "second a, longer");
    EXPECT_EQ(ReadFile(tmp.path / "out/b.bmp"), "first b");
    EXPECT_EQ(ReadFile(tmp.path / "out/c.bmp"), "c");
}

TEST(ArchiverUpdate, FailuresNeverDamageTheArchive) {
    TempDir tmp("arc-u3");
    const fs::path pics = tmp.path / "pics";
    fs::create_directories(pics / "sub");
    WriteFile(pics / "a.bmp", "a");
    WriteFile(pics / "sub/c.bmp", "c");
    // Something that is not an LHA archive where the archive should go: left as it was.
    WriteFile(tmp.path / "junk.lzh", "this is not an archive at all, keep it");
    std::string log;
    EXPECT_EQ(Compress(tmp.path / "junk.lzh", pics, {"a.bmp"}, &log), ARC_ERROR_CANNOT_WRITE)
        << log;
    EXPECT_EQ(ReadFile(tmp.path / "junk.lzh"), "this is not an archive at all, keep it");
    // A listed file that is missing: reported, the rest is written.
    const fs::path archive = tmp.path / "p.lzh";
    EXPECT_EQ(Compress(archive, pics, {"a.bmp", "missing.bmp"}, &log), ARC_ERROR_CANNOT_READ);
    EXPECT_NE(log.find("missing.bmp"), std::string::npos) << log;
    const std::string written = ReadFile(archive);
    EXPECT_EQ(Lha().List(archive.string()).size(), 1u);
    // Nothing to add: an error, the archive untouched; a name leaving the base folder refused.
    EXPECT_EQ(Compress(archive, pics, {"missing.bmp"}), ARC_ERROR_CANNOT_READ);
    EXPECT_EQ(Compress(archive, pics, {}), ARC_ERROR_COMMAND_NAME);
    EXPECT_EQ(Compress(archive, pics, {"../p.lzh"}), ARC_ERROR_CANNOT_READ);
    EXPECT_EQ(ReadFile(archive), written);
    EXPECT_FALSE(fs::exists(tmp.path / "none.lzh"));
    EXPECT_NE(Compress(tmp.path / "none.lzh", pics, {"missing.bmp"}), 0);
    EXPECT_FALSE(fs::exists(tmp.path / "none.lzh"));
    // A folder in the list: with -r2 (the program's switches) its files go in with their
    // folder; without -r it is skipped.
    ASSERT_EQ(Compress(tmp.path / "r.lzh", pics, {"sub"}), 0);
    const auto list = Lha().List((tmp.path / "r.lzh").string());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Name, "sub/");
    EXPECT_EQ(list[1].Name, "sub/c.bmp");
    EXPECT_EQ(
        Lha().Run("u \"" + (tmp.path / "n.lzh").string() + "\" \"" + pics.string() + "/\" sub"),
        ARC_ERROR_COMMAND_NAME);
    EXPECT_FALSE(fs::exists(tmp.path / "n.lzh"));
}
