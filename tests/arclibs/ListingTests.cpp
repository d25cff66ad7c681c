// Listing through the shared objects, as the program does it: CheckArchive(path, 2), then
// OpenArchive / FindFirst("*.*") / FindNext, reading names and sizes from the member record.
#include "ArcTestSupport.h"

#include <fstream>
#include <regex>

using namespace arctest;

namespace {

const TLib& Lib(int i) {
    static TLib* libs[4] = {};
    if (!libs[i]) libs[i] = new TLib(kLibs[i].File, kLibs[i].Prefix);
    return *libs[i];
}
const TLib& Lha() {
    return Lib(0);
}
const TLib& Zip() {
    return Lib(1);
}
const TLib& Cab() {
    return Lib(2);
}
const TLib& Tar() {
    return Lib(3);
}

const TLib& LibForFolder(const std::string& folder) {
    return folder == "lzh" ? Lha() : folder == "zip" ? Zip() : folder == "cab" ? Cab() : Tar();
}

struct TVerdict {
    std::string Folder, File; // "lzh", "libarchive/x.lzh"
    bool BsdtarOk;
};

// The corpus README's "bsdtar ok / FAIL" column: what the linked libarchive makes of each file.
std::vector<TVerdict> ReadmeVerdicts() {
    std::ifstream in(kTestData + "/README.md");
    std::vector<TVerdict> out;
    std::string line, folder, sub;
    const std::regex section(R"(^### `archives/(\w+)/(\w+)/`)");
    const std::regex row(R"(^\| `([^`]+)` \|.*\| ([^|]*) \|\s*$)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, section)) {
            folder = m[1];
            sub = m[2];
        } else if (!folder.empty() && std::regex_search(line, m, row)) {
            const std::string verdict = m[2];
            if (verdict.find("bsdtar ok") != std::string::npos)
                out.push_back({folder, sub + "/" + std::string(m[1]), true});
            else if (verdict.find("bsdtar FAIL") != std::string::npos)
                out.push_back({folder, sub + "/" + std::string(m[1]), false});
        }
    }
    return out;
}

std::vector<std::string> Names(const std::vector<TLib::TListed>& list) {
    std::vector<std::string> out;
    for (const auto& m : list)
        out.push_back(m.Name);
    return out;
}

} // namespace

TEST(ArchiverListing, LibrariesLoadAndExportTheirTables) {
    // The entry points each library's table holds, under the prefix; the command function
    // under the bare prefix.
    const std::vector<std::string> common = {"",
                                             "CheckArchive",
                                             "OpenArchive",
                                             "CloseArchive",
                                             "FindFirst",
                                             "FindNext",
                                             "GetVersion",
                                             "GetRunning",
                                             "GetBackGroundMode",
                                             "SetBackGroundMode",
                                             "GetCursorMode",
                                             "SetCursorMode",
                                             "GetCursorInterval",
                                             "SetCursorInterval",
                                             "GetFileCount",
                                             "ConfigDialog",
                                             "QueryFunctionList",
                                             "ClearOwnerWindow",
                                             "SetOwnerWindow",
                                             "GetArcFileName",
                                             "GetArcFileSize",
                                             "GetArcOriginalSize",
                                             "GetArcCompressedSize",
                                             "GetArcRatio",
                                             "GetArcDate",
                                             "GetArcTime",
                                             "GetArcOSType",
                                             "IsSFXFile",
                                             "GetFileName",
                                             "GetOriginalSize",
                                             "GetCompressedSize",
                                             "GetRatio",
                                             "GetDate",
                                             "GetTime",
                                             "GetCRC",
                                             "GetAttribute",
                                             "GetOSType"};
    const std::vector<std::string> notTar = {"GetMethod", "GetWriteTime", "GetAccessTime",
                                             "GetCreateTime"};
    const std::vector<std::string> lhaOnly = {
        "KillOwnerWindowEx",  "SetOwnerWindowEx",   "GetArcWriteTimeEx",
        "GetArcCreateTimeEx", "GetArcAccessTimeEx", "GetWriteTimeEx",
        "GetCreateTimeEx",    "GetAccessTimeEx",    "GetSubVersion"};
    EXPECT_EQ(common.size(), 37u);
    for (int i = 0; i < 4; ++i) {
        const TLib& lib = Lib(i);
        ASSERT_TRUE(lib.Handle) << kLibs[i].File << ": " << dlerror();
        std::vector<std::string> names = common;
        if (i != 3) names.insert(names.end(), notTar.begin(), notTar.end());
        if (i == 0) names.insert(names.end(), lhaOnly.begin(), lhaOnly.end());
        EXPECT_EQ(names.size(), i == 0 ? 50u : i == 3 ? 37u : 41u);
        for (const std::string& n : names)
            EXPECT_TRUE(lib.Sym(n)) << lib.Prefix << n;
        // Only the API is exported: no C++ symbol of the shared code.
        EXPECT_FALSE(dlsym(lib.Handle, "_ZN7pictor3arc11ArcPrefixENS0_8TArcKindE"));
        auto query = lib.Fn<ARC_BOOL (*)(int)>("QueryFunctionList");
        EXPECT_TRUE(query(25) && query(26) && query(0));
        EXPECT_FALSE(query(9999));
    }
}

TEST(ArchiverListing, CheckArchiveAgreesWithTheCorpusNotes) {
    const std::vector<TVerdict> verdicts = ReadmeVerdicts();
    ASSERT_GT(verdicts.size(), 140u);
    for (const TVerdict& v : verdicts) {
        const std::string path = kTestData + "/" + v.Folder + "/" + v.File;
        const TLib& lib = LibForFolder(v.Folder);
        // bsdtar fails these on header warnings (a name it cannot convert or would not write,
        // an ignored pax record); the data reads without a fault, so they are archives here.
        static const std::set<std::string> headerWarningsOnly = {
            "lhasa/lha_unix114i__h0_subdir.lzh", "libarchive/test_pax_filename_encoding.tar",
            "libarchive/test_read_format_tar_empty_filename.tar",
            "libarchive/test_read_pax_empty_val_no_nl.tar"};
        const bool expected = v.BsdtarOk || headerWarningsOnly.count(v.File);
        EXPECT_EQ(lib.CheckArchive(path.c_str(), 2) != 0, expected) << v.File;
        // Listing never fails harder than the check: a file that checks has a member list.
        if (v.BsdtarOk) {
            int r = 0;
            lib.List(path, "*.*", &r);
            EXPECT_EQ(r, -1) << v.File;
        }
    }
}

TEST(ArchiverListing, NamesAndSizesOfTheCorpus) {
    struct Case {
        int Lib;
        std::string File;
        std::vector<std::string> Names;
        std::vector<uint32_t> Sizes;
    };
    const std::vector<std::string> lhaSet = {"dir/",          "dir2/", "dir2/symlink1",
                                             "dir2/symlink2", "file1", "file2"};
    const std::vector<uint32_t> lhaSizes = {0, 0, 0, 0, 60, 78};
    const std::vector<std::string> gz = {"f1", "f2", "f3", "d1/f1", "d1/f2", "d1/f3"};
    const std::vector<Case> cases = {
        {0, "lzh/libarchive/test_read_format_lha_header0.lzh", lhaSet, lhaSizes},
        {0, "lzh/libarchive/test_read_format_lha_header1.lzh", lhaSet, lhaSizes},
        {0, "lzh/libarchive/test_read_format_lha_header2.lzh", lhaSet, lhaSizes},
        {0, "lzh/libarchive/test_read_format_lha_lh6.lzh", lhaSet, lhaSizes},
        {0, "lzh/libarchive/test_read_format_lha_lh7.lzh", lhaSet, lhaSizes},
        {0,
         "lzh/libarchive/test_read_format_lha_header3.lzh",
         {"dir/", "dir2/", "file1", "file2"},
         {0, 0, 60, 78}},
        {0,
         "lzh/libarchive/test_read_format_lha_filename_cp932.lzh",
         {"漢字.txt", "表.txt"},
         {8, 4}},
        {0,
         "lzh/libarchive/test_read_format_lha_filename_utf16.lzh",
         {"ÜÖÄüöä/äöüÄÖÜ.txt", "ÜÖÄüöä/", "ÜÖÄüöä/テスト.txt", "テスト/äöüÄÖÜ.txt", "テスト/",
          "äöüÄÖÜ.txt"},
         {12, 0, 25, 12, 0, 12}},
        {0, "lzh/lhasa/lha213__lh5.lzh", {"GPL-2"}, {18092}},
        {1,
         "zip/libarchive/test_read_format_zip_filename_cp932.zip",
         {"表だよ/一覧表.txt", "表だよ/漢字.txt"},
         {5, 5}},
        {1,
         "zip/libarchive/test_read_format_zip_filename_utf8_jp.zip",
         {"表だよ/", "表だよ/一覧表.txt", "表だよ/漢字.txt"},
         {0, 5, 5}},
        {1, "zip/libarchive/test_compat_zip_8.zip", {"arc/test"}, {14}},
        {2,
         "cab/libarchive/test_read_format_cab_filename_cp932.cab",
         {"表だよ/漢字.txt", "表だよ/一覧表.txt"},
         {5, 5}},
        {2,
         "cab/libarchive/test_read_format_cab_1.cab",
         {"empty", "dir1/file1", "dir2/file2"},
         {0, 60, 78}},
        {2,
         "cab/libarchive/test_read_format_cab_3.cab",
         {"empty", "zero", "dir1/file1", "dir2/file2"},
         {0, 33000, 60, 78}},
        {3, "tar/libarchive/test_compat_gzip_1.tgz", gz, {3, 3, 3, 3, 3, 3}},
        {3, "tar/libarchive/test_compat_bzip2_1.tbz", gz, {3, 3, 3, 3, 3, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string path = kTestData + "/" + c.File;
        ASSERT_TRUE(Lib(c.Lib).CheckArchive(path.c_str(), 2));
        const auto list = Lib(c.Lib).List(path);
        EXPECT_EQ(Names(list), c.Names);
        std::vector<uint32_t> sizes;
        for (const auto& m : list)
            sizes.push_back(m.Size);
        EXPECT_EQ(sizes, c.Sizes);
        // The other libraries do not take this file.
        for (int other = 0; other < 4; ++other)
            if (other != c.Lib) {
                EXPECT_FALSE(Lib(other).CheckArchive(path.c_str(), 0)) << other;
            }
    }
    // Packed sizes, CRCs and methods as lhasa and unzip report them.
    const auto h2 = Lha().List(kTestData + "/lzh/libarchive/test_read_format_lha_header0.lzh");
    ASSERT_EQ(h2.size(), 6u);
    EXPECT_EQ(h2[4].Packed, 34u);
    EXPECT_EQ(h2[4].Crc, 0xE7A4u);
    EXPECT_EQ(h2[5].Crc, 0x15D5u);
    EXPECT_EQ(h2[4].Method, "-lh5-");
    const auto streamed =
        Zip().List(kTestData + "/zip/libarchive/test_read_format_zip_length_at_end.zip");
    ASSERT_EQ(streamed.size(), 1u);
    EXPECT_EQ(streamed[0].Packed, 8u);
    EXPECT_EQ(streamed[0].Crc, 0x363A3020u);
    EXPECT_EQ(streamed[0].Method, "deflate");
}

TEST(ArchiverListing, DamagedAndForeignFilesListNothing) {
    TempDir dir("arc-damaged");
    const std::string good =
        ReadFile(kTestData + "/lzh/libarchive/test_read_format_lha_header2.lzh");
    const std::string zip =
        ReadFile(kTestData + "/zip/libarchive/test_read_format_zip_filename_utf8_jp.zip");
    struct Case {
        const TLib* Lib;
        std::string Bytes;
    };
    std::string flipped = good;
    flipped[320] ^= 0x55; // inside file1's -lh5- data: only the full check sees it
    std::string flippedZip = zip;
    flippedZip[zip.size() / 3] ^= 0x55;
    const std::vector<Case> cases = {
        {&Lha(), good.substr(0, good.size() / 2)},
        {&Lha(), flipped},
        {&Lha(), ""},
        {&Lha(), std::string(4096, '\0')},
        {&Zip(), zip.substr(0, 150)},
        {&Zip(), flippedZip},
        {&Zip(), "PK\x03\x04 not really"},
        {&Cab(), "MSCF" + std::string(100, '\xFF')},
        {&Tar(), std::string(700, 'x')},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const fs::path p = dir.path / ("case" + std::to_string(i));
        WriteFile(p, cases[i].Bytes);
        EXPECT_FALSE(cases[i].Lib->CheckArchive(p.c_str(), 2)) << i;
    }
    EXPECT_TRUE(Lha().CheckArchive((dir.path / "case1").c_str(), 0)); // headers are fine
    // Not a file at all: a folder, a FIFO (must not hang), a missing path.
    const fs::path fifo = dir.path / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& p : {dir.path, fifo, dir.path / "missing"}) {
        EXPECT_FALSE(Lha().CheckArchive(p.c_str(), 2)) << p;
        EXPECT_EQ(Lha().OpenArchive(nullptr, p.c_str(), 0), nullptr) << p;
    }
}

TEST(ArchiverListing, ManyMembersLongNamesAndBigSizes) {
    TempDir dir("arc-many");
    // X12: 100,000 members list completely, in order.
    std::vector<TEntry> many;
    for (int i = 0; i < 100000; ++i)
        many.push_back(File("d" + std::to_string(i / 1000) + "/f" + std::to_string(i), ""));
    WriteArchive(dir.path / "many.tar", ARCHIVE_FORMAT_TAR_USTAR, many);
    const auto list = Tar().List((dir.path / "many.tar").string());
    ASSERT_EQ(list.size(), 100000u);
    EXPECT_EQ(list[99999].Name, "d99/f99999");
    auto count = Tar().Fn<int (*)(const char*)>("GetFileCount");
    EXPECT_EQ(count((dir.path / "many.tar").c_str()), 100000);

    // A name longer than the record's 512 bytes is cut there, on a character boundary.
    std::string longName;
    while (longName.size() < 600)
        longName += "あ";
    WriteArchive(dir.path / "long.tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, {File(longName, "x")});
    const auto cut = Tar().List((dir.path / "long.tar").string());
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].Name, longName.substr(0, 510)); // 170 characters of 3 bytes
    // A member over 4 GiB (sparse, so the fixture is small): 32-bit fields clamp, the 64-bit
    // getter has the size.
    archive* a = archive_write_new();
    archive_write_set_format_pax(a);
    archive_write_open_filename(a, (dir.path / "big.tar").c_str());
    archive_entry* e = archive_entry_new();
    archive_entry_copy_pathname(e, "big.bin");
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_size(e, int64_t(5) << 30);
    archive_entry_sparse_add_entry(e, 0, 4);
    archive_write_header(a, e);
    archive_write_data(a, "data", 4);
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
    HARC h = Tar().OpenArchive(nullptr, (dir.path / "big.tar").c_str(), 0);
    ASSERT_TRUE(h);
    INDIVIDUALINFO info;
    ASSERT_EQ(Tar().FindFirst(h, "*.*", &info), 0);
    EXPECT_EQ(info.dwOriginalSize, 0xFFFFFFFFu);
    uint64_t size = 0;
    EXPECT_TRUE(Tar().Fn<ARC_BOOL (*)(HARC, uint64_t*)>("GetOriginalSizeEx")(h, &size));
    EXPECT_EQ(size, uint64_t(5) << 30);
    Tar().CloseArchive(h);
}

TEST(ArchiverListing, MemberGettersFollowTheFindPosition) {
    const std::string path = kTestData + "/lzh/libarchive/test_read_format_lha_header2.lzh";
    const TLib& lib = Lha();
    HARC h = lib.OpenArchive(nullptr, path.c_str(), 0);
    ASSERT_TRUE(h);
    auto name = lib.Fn<int (*)(HARC, char*, int)>("GetFileName");
    auto method = lib.Fn<int (*)(HARC, char*, int)>("GetMethod");
    auto orig = lib.Fn<ARC_DWORD (*)(HARC)>("GetOriginalSize");
    auto packed = lib.Fn<ARC_DWORD (*)(HARC)>("GetCompressedSize");
    auto crc = lib.Fn<ARC_DWORD (*)(HARC)>("GetCRC");
    auto arcOrig = lib.Fn<ARC_DWORD (*)(HARC)>("GetArcOriginalSize");
    auto arcPacked = lib.Fn<ARC_DWORD (*)(HARC)>("GetArcCompressedSize");
    auto arcName = lib.Fn<int (*)(HARC, char*, int)>("GetArcFileName");
    char buf[600];
    EXPECT_NE(name(h, buf, sizeof buf), 0); // no position before FindFirst
    INDIVIDUALINFO info;
    ASSERT_EQ(lib.FindFirst(h, "file*", &info), 0); // a pattern other than *.*
    EXPECT_STREQ(info.szFileName, "file1");
    ASSERT_EQ(name(h, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "file1");
    EXPECT_EQ(orig(h), 60u);
    EXPECT_EQ(packed(h), 34u);
    EXPECT_EQ(crc(h), 0xE7A4u);
    ASSERT_EQ(method(h, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "-lh5-");
    EXPECT_EQ(name(h, buf, 3), ARC_ERROR_MORE_HEAP_MEMORY); // cut, still terminated
    EXPECT_STREQ(buf, "fi");
    ASSERT_EQ(lib.FindNext(h, &info), 0);
    EXPECT_STREQ(info.szFileName, "file2");
    EXPECT_EQ(orig(h), 78u);
    EXPECT_EQ(lib.FindNext(h, &info), -1);
    EXPECT_EQ(lib.FindNext(h, &info), -1);
    EXPECT_EQ(arcOrig(h), 138u);
    EXPECT_EQ(arcPacked(h), 68u);
    ASSERT_EQ(arcName(h, buf, sizeof buf), 0);
    EXPECT_EQ(buf, path);
    EXPECT_EQ(lib.CloseArchive(h), 0);
    EXPECT_EQ(lib.CloseArchive(h), ARC_ERROR_HANDLE); // a closed handle is refused, not used
    EXPECT_EQ(lib.FindNext(h, &info), ARC_ERROR_HANDLE);
    EXPECT_EQ(orig(h), 0xFFFFFFFFu);
}

TEST(ArchiverListing, ListCommandFillsTheBufferSafely) {
    const std::string path =
        kTestData + "/zip/libarchive/test_read_format_zip_filename_utf8_jp.zip";
    std::string out;
    ASSERT_EQ(Zip().Run("-l \"" + path + "\"", &out), 0);
    EXPECT_NE(out.find("表だよ/一覧表.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("3 files"), std::string::npos) << out;
    // Every buffer size gets a terminated prefix of the same text, never a cut character.
    const std::string line = "-l \"" + path + "\"";
    for (ARC_DWORD size = 1; size < out.size() + 4; ++size) {
        std::vector<char> buf(size + 8, '#');
        ASSERT_EQ(Zip().Command(nullptr, line.c_str(), buf.data(), size), 0);
        const std::string got(buf.data());
        ASSERT_LT(got.size(), size);
        ASSERT_EQ(out.compare(0, got.size(), got), 0) << size;
        ASSERT_EQ(buf[size], '#') << size; // nothing past the given size
        if (got.size() < out.size()) {
            ASSERT_NE(static_cast<unsigned char>(out[got.size()]) & 0xC0, 0x80u) << size;
        }
    }
    EXPECT_EQ(Zip().Command(nullptr, line.c_str(), nullptr, 0), 0);
}

// Every command on every corpus file returns (the fuzz, oob and malformed files among them).
// Two of the CAB files crash libarchive 3.6.2 itself unless the library keeps it away from
// them: an LZX block claiming more than 32 KiB of output (heap overflow) and a skip after a
// failed block read (null pointer).
TEST(ArchiverListing, EveryCommandOnEveryCorpusFileReturns) {
    TempDir tmp("arc-all");
    int n = 0;
    for (const TVerdict& v : ReadmeVerdicts()) {
        const std::string path = kTestData + "/" + v.Folder + "/" + v.File;
        const TLib& lib = LibForFolder(v.Folder);
        const std::string quoted = "\"" + path + "\"";
        const std::string dest = "\"" + (tmp.path / std::to_string(n++)).string() + "/\"";
        if (v.Folder == "lzh") {
            lib.Run("t " + quoted);
            lib.Run("l " + quoted);
            lib.Run("x " + quoted + " " + dest);
        } else if (v.Folder == "tar") {
            lib.Run("t " + quoted);
            lib.Run("x " + quoted + " " + dest);
        } else {
            lib.Run("-t " + quoted);
            lib.Run("-l " + quoted);
            lib.Run("-x " + quoted + " " + dest);
        }
        lib.List(path);
    }
    const std::string oob = kTestData + "/cab/libarchive/test_read_format_cab_lzx_oob.cab";
    std::string log;
    EXPECT_EQ(Cab().Run("-t \"" + oob + "\"", &log), ARC_ERROR_NOT_ARC_FILE);
    EXPECT_NE(log.find("larger than 32 KiB"), std::string::npos) << log;
    // A 39-byte ZIP whose LZMA member asks for a 4 GiB dictionary is not decoded.
    const std::string lzma = kTestData + "/zip/libarchive/test_read_format_zip_zipx_lzma_oom.zipx";
    EXPECT_NE(Zip().Run("-t \"" + lzma + "\"", &log), 0);
    EXPECT_NE(log.find("LZMA dictionary too large"), std::string::npos) << log;
}

// A level-3 LHA header claiming 4 GiB in a small file is refused before libarchive reserves
// that much memory for it.
TEST(ArchiverListing, OversizedLhaHeaderIsRefusedEarly) {
    TempDir tmp("arc-l3");
    std::string l3;
    Put16(l3, 4); // word size of level 3
    l3 += "-lhd-";
    Put32(l3, 0); // packed
    Put32(l3, 0); // original
    Put32(l3, 0); // time
    l3 += '\x20';
    l3 += '\x03'; // level
    Put16(l3, 0); // CRC
    l3 += 'U';
    Put32(l3, 0xFFFFFE7C); // total header size
    l3 += std::string(40, '\0');
    ASSERT_EQ(l3[20], 3);
    WriteFile(tmp.path / "l3.lzh", LhaLevel0("first.txt", "1") + l3);
    std::string log;
    EXPECT_EQ(Lha().Run("t \"" + (tmp.path / "l3.lzh").string() + "\"", &log),
              ARC_ERROR_HEADER_CRC);
    EXPECT_NE(log.find("LHA header larger than the file"), std::string::npos) << log;
    EXPECT_FALSE(Lha().CheckArchive((tmp.path / "l3.lzh").c_str(), 1));
}
