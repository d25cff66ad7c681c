// Whole archives: header bytes, names, and members read back byte for byte by libarchive,
// bsdtar, jlha (jlha-utils) and lhasa.
#include "LhaTestSupport.h"
#include "support/TempDir.h"

#include "lha/LhaHeader.h"
#include "lha/LhaWriter.h"
#include "lha/MemberWriter.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>

using namespace pictor::lha;
using namespace lha_test;
using pictor_test::ReadFile;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string Build(const std::vector<TMemoryMember>& members, const TBuildOptions& o = {}) {
    const std::vector<uint8_t> a = BuildArchive(members, o);
    return {a.begin(), a.end()};
}

std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// The header's extension of the given type, or nothing.
std::optional<std::string> Extension(const std::string& archive, uint8_t type) {
    size_t at = 24;
    for (;;) {
        const unsigned size = uint8_t(archive[at]) | uint8_t(archive[at + 1]) << 8;
        if (size == 0) return std::nullopt;
        if (uint8_t(archive[at + 2]) == type) return archive.substr(at + 3, size - 3);
        at += size;
    }
}

} // namespace

TEST(LhaHeader, SmallStoredMemberByteForByte) {
    const std::string archive = Build({{"a.txt", Bytes("abc"), false, 0x5F5E1000u, 0}});
    std::string h = Le16(51) + "-lh0-" + Le32(3) + Le32(3) + Le32(0x5F5E1000u) + "\x20\x02" +
                    Le16(PlainCrc16("abc")) + "U" +
                    Le16(5) + '\0' + Le16(0) +                       // header CRC, filled below
                    Le16(8) + '\x01' + "a.txt" +                     // name
                    Le16(5) + "\x50" + Le16(0100644) +               // Unix mode
                    Le16(7) + "\x54" + Le32(0x5F5E1000u) +           // Unix mtime
                    Le16(0);                                         // end of the chain
    ASSERT_EQ(h.size(), 51u);
    const std::string crc = Le16(PlainCrc16(h));
    h.replace(27, 2, crc);
    EXPECT_EQ(archive, h + "abc" + '\0');
}

TEST(LhaHeader, SizeEndingInZeroGetsOnePaddingByte) {
    // 46 bytes of header around a 210-byte name would make the size 0x100.
    const std::string name(210, 'n');
    const std::string archive = Build({{name, Bytes("hello hello hello"), false, 1, 0}});
    EXPECT_EQ(uint8_t(archive[0]), 0x01);
    EXPECT_EQ(uint8_t(archive[1]), 0x01);
    EXPECT_EQ(archive[256], '\0'); // the padding byte, counted in the size
    const auto entries = ReadWithLibarchive(archive);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, name);
    EXPECT_EQ(ScanBytes(archive).at(0).HeaderSize, 257u);
}

TEST(LhaHeader, NamesAreCp932WhenTheyConvertBackElseUtf8) {
    struct Case {
        std::string stored, dirExt, nameExt;
        std::optional<uint32_t> codePage;
    };
    const std::vector<Case> cases = {
        {"plain/name.txt", "plain\xFF", "name.txt", std::nullopt},
        {"フォルダ/写真一覧.txt", "\x83\x74\x83\x48\x83\x8B\x83\x5F\xFF",
         "\x8E\xCA\x90\x5E\x88\xEA\x97\x97.txt", 932u}, // 真 ends in 0x5C-free 0x5E; fine
        {"表.txt", "", "\x95\x5C.txt", 932u},                  // a '\' trail byte
        {"emoji😀.txt", "", "emoji😀.txt", 65001u},
        {"wave〜dash.txt", "", "wave〜dash.txt", 65001u},        // CP932 would bring back ～
    };
    for (const Case& c : cases) {
        const std::string archive = Build({{c.stored, Bytes("x"), false, 0, 0}});
        EXPECT_EQ(Extension(archive, 0x01), c.nameExt) << c.stored;
        EXPECT_EQ(Extension(archive, 0x02).value_or(""), c.dirExt) << c.stored;
        const auto cp = Extension(archive, 0x46);
        EXPECT_EQ(cp.has_value(), c.codePage.has_value()) << c.stored;
        if (cp && c.codePage) {
            EXPECT_EQ(*cp, Le32(*c.codePage)) << c.stored;
        }
        // Both libarchive and our own scan give the name back exactly.
        EXPECT_EQ(ReadWithLibarchive(archive).at(0).path, c.stored);
        EXPECT_EQ(ScanBytes(archive).at(0).Path, c.stored);
    }
}

TEST(LhaHeader, NamesThatCannotBeStoredAreRefused) {
    for (const std::string& bad : std::vector<std::string>{"", "/etc/passwd", "a/../b", "./a", "a//b", "a\\b", "x\xFF.txt",
                                  std::string("nul\0x", 5)})
        EXPECT_THROW(MakeNameFields(bad, false), ELhaError) << bad;
    EXPECT_THROW(MakeNameFields(std::string(70000, 'x'), false), ELhaError);
    EXPECT_EQ(MakeNameFields("dir/", true).Directory, "dir");
}

// A folder of files covering the cases that matter to a decoder, written by TLhaWriter.
class LhaToolsRoundTrip : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir("lha-tools");
        const fs::path src = dir->path / "src";
        fs::create_directories(src / "サブ");
        std::string text;
        std::mt19937 rng(4);
        const char* words[] = {"LHA ", "archive ", "picture ", "folder ", "\n", "の ", "写真 "};
        while (text.size() < 200000) text += words[rng() % 7];
        std::string all256;
        for (int i = 0; i < 256; ++i) all256.push_back(char(i));
        std::string large; // over 10 MiB: text, noise and runs
        while (large.size() < (11u << 20))
            large += text.substr(rng() % 1000, 50000) + RandomBytes(30000, rng()) +
                     std::string(rng() % 2000, 'z');
        files = {{"empty.bin", ""},
                 {"one.bin", "Q"},
                 {"random.bin", RandomBytes(3000, 1)},
                 {"repetitive.txt", std::string(100000, 'a') + text.substr(0, 300)},
                 {"over64k.txt", text},
                 {"all256.bin", all256 + all256 + all256},
                 {"large.bin", large},
                 {"写真一覧.txt", text.substr(5000, 9000)},
                 {"サブ/深い.txt", text.substr(0, 777)}};
        for (const auto& [name, data] : files) WriteFile(src / name, data);
        archive = (dir->path / "test.lzh").string();
        TLhaWriter w(archive);
        w.AddDirectory((src / "サブ").string(), "サブ");
        for (const auto& [name, data] : files) w.AddFile((src / name).string(), name);
        report = new TLhaReport(w.Finish());
    }
    static void TearDownTestSuite() {
        delete report;
        delete dir;
    }
    // Every file, read back from an extraction folder.
    static void ExpectExtracted(const fs::path& out) {
        for (const auto& [name, data] : files) {
            ASSERT_TRUE(fs::exists(out / name)) << name;
            EXPECT_TRUE(ReadFile(out / name) == data) << name;
        }
        EXPECT_TRUE(fs::is_directory(out / "サブ"));
    }
    static inline TempDir* dir = nullptr;
    static inline std::map<std::string, std::string> files;
    static inline std::string archive;
    static inline TLhaReport* report = nullptr;
};

TEST_F(LhaToolsRoundTrip, MethodsAndSizesInTheReport) {
    ASSERT_TRUE(report->ArchiveWritten);
    std::map<std::string, const TLhaEntryReport*> by;
    for (const auto& e : report->Entries) {
        EXPECT_EQ(e.Result, TEntryResult::Added) << e.StoredName << ": " << e.Error;
        by[e.StoredName] = &e;
    }
    EXPECT_EQ(by["サブ"]->Method, "-lhd-");
    EXPECT_EQ(by["empty.bin"]->Method, "-lh0-");
    EXPECT_EQ(by["one.bin"]->Method, "-lh0-");
    EXPECT_EQ(by["random.bin"]->Method, "-lh0-");
    EXPECT_EQ(by["random.bin"]->PackedSize, 3000u);
    EXPECT_EQ(by["repetitive.txt"]->Method, "-lh5-");
    EXPECT_LT(by["repetitive.txt"]->PackedSize, 1000u);
    EXPECT_EQ(by["large.bin"]->OriginalSize, files["large.bin"].size());
    // The scan of the written file agrees with the report.
    const std::string bytes = ReadFile(archive);
    const auto members = ScanBytes(bytes);
    ASSERT_EQ(members.size(), files.size() + 1);
    for (const TArchiveMember& m : members) EXPECT_EQ(m.PackedSize, by[m.Path]->PackedSize) << m.Path;
}

TEST_F(LhaToolsRoundTrip, Libarchive) {
    const auto entries = ReadWithLibarchive(ReadFile(archive));
    ASSERT_EQ(entries.size(), files.size() + 1);
    for (const ArEntry& e : entries) {
        struct stat st {};
        ASSERT_EQ(::stat((dir->path / "src" / e.path).c_str(), &st), 0) << e.path;
        EXPECT_EQ(e.mtime, st.st_mtim.tv_sec) << e.path;
        EXPECT_EQ(e.mode, int(st.st_mode & 0xFFFF)) << e.path;
        if (e.directory) {
            EXPECT_EQ(e.path, "サブ/");
            continue;
        }
        EXPECT_TRUE(e.data == files[e.path]) << e.path;
    }
}

TEST_F(LhaToolsRoundTrip, Bsdtar) {
    if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar missing (apt-get install libarchive-tools)";
    const fs::path out = dir->path / "bsdtar";
    fs::create_directories(out);
    std::string log;
    ASSERT_EQ(Shell("cd " + Quote(out) + " && LC_ALL=C.UTF-8 bsdtar -xf " + Quote(archive), &log), 0)
        << log;
    ExpectExtracted(out);
}

TEST_F(LhaToolsRoundTrip, Jlha) {
    if (!HaveTool("jlha")) GTEST_SKIP() << "jlha missing (apt-get install jlha-utils)";
    const fs::path out = dir->path / "jlha";
    fs::create_directories(out);
    std::string log;
    // "y": names are Shift_JIS (CP932), which is how we stored these.
    ASSERT_EQ(Shell("cd " + Quote(out) + " && LC_ALL=C.UTF-8 jlha xqy " + Quote(archive), &log), 0)
        << log;
    ExpectExtracted(out);
    ASSERT_EQ(Shell("LC_ALL=C.UTF-8 jlha t " + Quote(archive), &log), 0) << log;
}

TEST_F(LhaToolsRoundTrip, Lhasa) {
    if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa missing (apt-get install lhasa)";
    std::string log;
    ASSERT_EQ(Shell("lhasa t " + Quote(archive), &log), 0) << log;
    // lhasa skips members it cannot read and still succeeds: count the tested ones.
    size_t tested = 0;
    for (size_t at = 0; (at = log.find("Tested", at)) != std::string::npos; ++at) ++tested;
    EXPECT_EQ(tested, files.size()) << log;
}

// The encoder's unusual corners, forced into -lh5- even where storing would be smaller:
// one-token blocks (one-symbol tables), greedy parsing, random data, a single byte.
TEST(LhaForcedLh5, EveryReaderDecodesTheCorners) {
    TempDir dir("lha-forced");
    const std::string random = RandomBytes(100000, 8), text = std::string(3000, 'k') + "end",
                      one = "1";
    for (int variant = 0; variant < 3; ++variant) {
        TBuildOptions o;
        o.AllowStored = false;
        if (variant == 1) o.Lh5.BlockTokens = 1;
        if (variant == 2) o.Lh5.Lazy = false, o.Lh5.BlockTokens = 2;
        const std::vector<TMemoryMember> members = {{"random.bin", Bytes(random)},
                                                    {"one.bin", Bytes(one)},
                                                    {"text.txt", Bytes(text)}};
        const std::string archive = Build(members, o);
        for (const TArchiveMember& m : ScanBytes(archive)) EXPECT_EQ(m.Method, "-lh5-");
        const auto entries = ReadWithLibarchive(archive);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_TRUE(entries[0].data == random);
        EXPECT_EQ(entries[1].data, "1");
        EXPECT_EQ(entries[2].data, text);
        const fs::path file = dir.path / ("v" + std::to_string(variant) + ".lzh");
        WriteFile(file, archive);
        std::string log;
        if (HaveTool("lhasa")) {
            EXPECT_EQ(Shell("lhasa t " + Quote(file), &log), 0) << log;
        }
        if (HaveTool("jlha")) {
            const fs::path out = dir.path / ("x" + std::to_string(variant));
            fs::create_directories(out);
            EXPECT_EQ(Shell("cd " + Quote(out) + " && jlha xq " + Quote(file), &log), 0) << log;
            EXPECT_TRUE(ReadFile(out / "random.bin") == random);
            EXPECT_EQ(ReadFile(out / "text.txt"), text);
        }
    }
}

// Short data and short blocks: libarchive 3.6 wants the last block to start at least 8 bytes
// before the end of the data, and rejects the one-symbol table forms and literal tables of
// fewer than 3 entries. Every such stream must still read back there.
TEST(LhaForcedLh5, ShortStreamsAndTinyBlocks) {
    const std::vector<std::string> inputs = {std::string(1, '\0'), "\x01", "a", std::string("\0\1", 2),
                                             "\x01\x00\x01\x02", "aaaaaaaaaa", "abcabcabc",
                                             std::string(40, '\0') + "z"};
    for (int blockTokens : {1, 2, 3, 8192})
        for (const std::string& in : inputs) {
            TBuildOptions o;
            o.AllowStored = false;
            o.Lh5.BlockTokens = blockTokens;
            const std::string archive = Build({{"t.bin", Bytes(in)}}, o);
            const TArchiveMember m = ScanBytes(archive).at(0);
            const std::string packed = archive.substr(size_t(m.Offset + m.HeaderSize), size_t(m.PackedSize));
            size_t used = 0, lastBlock = 0;
            EXPECT_EQ(PlainDecodeLh5(packed, in.size(), &used, &lastBlock), in);
            EXPECT_GE(packed.size() * 8 - lastBlock, 64u) << blockTokens << " " << in.size();
            std::vector<ArEntry> back;
            ASSERT_NO_THROW(back = ReadWithLibarchive(archive)) << blockTokens << " " << in.size();
            EXPECT_EQ(back.at(0).data, in);
        }
}
