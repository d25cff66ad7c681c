// Extraction through the shared objects with the program's command lines, and the
// extraction-safety cases: nothing is ever written outside the destination folder.
#include "ArcTestSupport.h"
#include "Extractor.h"
#include "OutputText.h"

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <thread>
#include <unistd.h>

using namespace arctest;

namespace {

const TLib& Lib(int i) {
    static TLib* libs[4] = {};
    if (!libs[i]) libs[i] = new TLib(kLibs[i].File, kLibs[i].Prefix);
    return *libs[i];
}
enum { kLha, kZip, kCab, kTar };

// The line the program builds for an archive A, destination D and base name B (with the
// Windows '\' the program writes; the libraries accept it on Linux).
std::string SystemLine(int kind, const fs::path& a, const fs::path& d, const std::string& b) {
    const std::string A = a.string(), D = d.string();
    switch (kind) {
    case kLha:
        return "x -jf1 \"" + A + "\" \"" + D + "\\" + b + "\\\" *.* -w" + D;
    case kZip:
        return "-u \"" + A + "\" \"" + D + "\\" + b + "\\\" *.* -w" + D;
    case kCab:
        return "-x -n \"" + A + "\" \"" + D + "\\" + b + "\\\" *.* " + D;
    default:
        return "x -f \"" + A + "\" \"" + D + "\\" + b + "\\\" *.* " + D;
    }
}

struct TRun {
    int Code;
    std::string Log;
};

TRun Extract(int kind, const fs::path& archive, const fs::path& dest, const std::string& b = "B") {
    TRun r;
    r.Code = Lib(kind).Run(SystemLine(kind, archive, dest, b), &r.Log);
    return r;
}

int KindOfFolder(const std::string& folder) {
    return folder == "lzh" ? kLha : folder == "zip" ? kZip : folder == "cab" ? kCab : kTar;
}

// Nothing but what the test made and the destination exists in the test's folder.
void ExpectOnlyInside(const fs::path& top, const std::set<std::string>& allowedTop) {
    for (const auto& entry : fs::directory_iterator(top))
        EXPECT_TRUE(allowedTop.count(entry.path().filename().string()))
            << "written outside: " << entry.path();
}

bool HasTempFiles(const fs::path& root) {
    for (const auto& [rel, kind] : Tree(root))
        if (fs::path(rel).filename().string().rfind(".pictor-", 0) == 0) return true;
    return false;
}

} // namespace

// Extracted bytes agree with bsdtar's for the corpus (same libarchive underneath, but our
// own writing, paths and links).
TEST(ArchiverExtract, CorpusMatchesBsdtar) {
    if (std::system("command -v bsdtar > /dev/null") != 0) GTEST_SKIP() << "bsdtar missing";
    const std::vector<std::string> files = {
        "lzh/libarchive/test_read_format_lha_header0.lzh",
        "lzh/libarchive/test_read_format_lha_header1.lzh",
        "lzh/libarchive/test_read_format_lha_header2.lzh",
        "lzh/libarchive/test_read_format_lha_header3.lzh",
        "lzh/libarchive/test_read_format_lha_lh6.lzh",
        "lzh/libarchive/test_read_format_lha_lh7.lzh",
        "lzh/libarchive/test_read_format_lha_bugfix_0.lzh",
        "lzh/libarchive/test_read_format_lha_withjunk.lzh",
        "lzh/lhasa/explzh_723__h0_lh7.lzh",
        "lzh/lhasa/explzh_723__h1_lh6.lzh",
        "lzh/lhasa/explzh_723__h2_lh5.lzh",
        "lzh/lhasa/explzh_723__h2_subdir.lzh",
        "lzh/lhasa/lha213__lh5.lzh",
        "lzh/lhasa/lha255e__lh5.lzh",
        "lzh/lhasa/lha_unix114i__h2_lh7.lzh",
        "lzh/lhasa/lha_unix114i__lh7_long.lzh",
        "lzh/lhasa/lha_unix114i__h2_subdir.lzh",
        "lzh/lhasa/lha_x68k_213__h1_lh5.lzh",
        "lzh/lhasa/lharc113__subdir.lzh",
        "lzh/lhasa/maclha_224__l2_nm_lh5.lzh",
        "lzh/lhasa/regression__multiple.lzh",
        "zip/libarchive/test_compat_zip_1.zip",
        "zip/libarchive/test_compat_zip_2.zip",
        "zip/libarchive/test_compat_zip_3.zip",
        "zip/libarchive/test_compat_zip_4.zip",
        "zip/libarchive/test_compat_zip_5.zip",
        "zip/libarchive/test_compat_zip_6.zip",
        "zip/libarchive/test_compat_zip_8.zip",
        "zip/libarchive/test_read_format_zip_high_compression.zip",
        "zip/libarchive/test_read_format_zip_length_at_end.zip",
        "zip/libarchive/test_read_format_zip_msdos.zip",
        "zip/libarchive/test_read_format_zip_nested.zip",
        "zip/libarchive/test_read_format_zip_ux.zip",
        "zip/libarchive/test_read_format_zip_zip64a.zip",
        "zip/libarchive/test_read_format_zip_bzip2.zipx",
        "zip/libarchive/test_read_format_zip_lzma.zipx",
        "zip/libarchive/test_read_format_zip_xz_multi.zipx",
        "zip/libarchive/test_read_format_zip_ppmd8.zipx",
        "zip/libarchive/test_read_format_zip_sfx",
        "zip/libarchive/test_read_format_zip_comment_stored_2.zip",
        "zip/libarchive/test_read_format_zip_symlink.zip",
        "cab/libarchive/test_read_format_cab_1.cab",
        "cab/libarchive/test_read_format_cab_2.cab",
        "cab/libarchive/test_read_format_cab_3.cab",
        "cab/libarchive/test_fuzz.cab",
        "cab/libarchive/test_read_format_cab_lzx_e8.cab",
        "tar/libarchive/test_compat_gzip_1.tgz",
        "tar/libarchive/test_compat_gzip_2.tgz",
        "tar/libarchive/test_compat_bzip2_1.tbz",
        "tar/libarchive/test_compat_bzip2_2.tbz",
        "tar/libarchive/test_compat_gtar_1.tar",
        "tar/libarchive/test_compat_gtar_2.tar",
        "tar/libarchive/test_compat_perl_archive_tar.tar",
        "tar/libarchive/test_compat_plexus_archiver_tar.tar",
        "tar/libarchive/test_compat_tar_directory_1.tar",
        "tar/libarchive/test_compat_tar_hardlink_1.tar",
        "tar/libarchive/test_read_format_tar_concatenated.tar",
        "tar/libarchive/test_read_format_gtar_sparse_reuse.tar",
        "tar/libarchive/test_write_disk_mac_metadata.tar.gz",
        "tar/libarchive/test_compat_solaris_tar_acl.tar",
    };
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        TempDir tmp("arc-corpus");
        const fs::path archive = kTestData + "/" + f;
        const TRun run = Extract(KindOfFolder(f.substr(0, 3)), archive, tmp.path / "ours", "B");
        EXPECT_EQ(run.Code, 0) << run.Log;
        fs::create_directories(tmp.path / "ref");
        const std::string cmd = "cd '" + (tmp.path / "ref").string() +
                                "' && LC_ALL=C.UTF-8 bsdtar -xf '" + archive.string() +
                                "' 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const auto ours = Tree(tmp.path / "ours" / "B"), ref = Tree(tmp.path / "ref");
        EXPECT_FALSE(ours.empty());
        for (const auto& [rel, kind] : ref) {
            auto it = ours.find(rel);
            ASSERT_NE(it, ours.end()) << rel << " missing";
            EXPECT_EQ(it->second, kind) << rel;
            if (kind == "file") {
                EXPECT_EQ(ReadFile(tmp.path / "ours" / "B" / rel), ReadFile(tmp.path / "ref" / rel))
                    << rel;
            }
        }
        EXPECT_EQ(ours.size(), ref.size());
        EXPECT_FALSE(HasTempFiles(tmp.path / "ours"));
    }
}

TEST(ArchiverExtract, JapaneseNamesLandAsUtf8) {
    struct Case {
        int Kind;
        std::string File;
        std::vector<std::string> Files;
    };
    const Case cases[] = {
        {kLha, "lzh/libarchive/test_read_format_lha_filename_cp932.lzh", {"漢字.txt", "表.txt"}},
        {kZip,
         "zip/libarchive/test_read_format_zip_filename_cp932.zip",
         {"表だよ/一覧表.txt", "表だよ/漢字.txt"}},
        {kCab,
         "cab/libarchive/test_read_format_cab_filename_cp932.cab",
         {"表だよ/漢字.txt", "表だよ/一覧表.txt"}},
    };
    for (const Case& c : cases) {
        TempDir tmp("arc-jp");
        const TRun run = Extract(c.Kind, kTestData + "/" + c.File, tmp.path, "名前");
        EXPECT_EQ(run.Code, 0) << run.Log;
        for (const std::string& f : c.Files)
            EXPECT_TRUE(fs::is_regular_file(tmp.path / "名前" / f)) << f;
    }
    // Hand-made LHA names: a CP932 character whose second byte is '\' (0x5C) is no folder; an
    // archive mixing UTF-8 and CP932 names; bytes that are neither.
    TempDir tmp("arc-jp2");
    const std::string hyou = "\x95\x5C"; // 表
    WriteFile(tmp.path / "a.lzh",
              LhaArchive({LhaLevel0(hyou + "b.txt", "1"),
                          LhaLevel2("\x83\x74\x83\x48\x83\x8B\x83\x5F", "c.txt", "2")}));
    EXPECT_EQ(Extract(kLha, tmp.path / "a.lzh", tmp.path, "a").Code, 0);
    EXPECT_EQ(ReadFile(tmp.path / "a/表b.txt"), "1");
    EXPECT_EQ(ReadFile(tmp.path / "a/フォルダ/c.txt"), "2");
    WriteFile(tmp.path / "m.lzh",
              LhaArchive({LhaLevel0("テスト\\a.txt", "3"), LhaLevel0(hyou + "\\b.txt", "4"),
                          LhaLevel0("\xFF\xFE.txt", "5")}));
    const TRun mixed = Extract(kLha, tmp.path / "m.lzh", tmp.path, "m");
    EXPECT_EQ(mixed.Code, 0) << mixed.Log;
    EXPECT_EQ(ReadFile(tmp.path / "m/テスト/a.txt"), "3");
    EXPECT_EQ(ReadFile(tmp.path / "m/表/b.txt"), "4");
    EXPECT_EQ(ReadFile(tmp.path / "m/\xEF\xBF\xBD\xEF\xBF\xBD.txt"), "5");
}

// X1-X4, X7: "..", absolute paths, backslashes and drive letters in every format.
TEST(ArchiverExtract, TraversalNamesAreRefusedAndTheRestExtracted) {
    TempDir tmp("arc-x1");
    const fs::path abs = tmp.path / "ABS_x";
    const std::vector<std::string> bad = {"../evil1",  "a/../../evil2",  abs.string(),
                                          "..\\evil3", "C:\\evil4",      "C:../evil5",
                                          "c:evil6",   "\\\\host\\evil7"};
    std::vector<TEntry> entries = {File("ok.txt", "fine")};
    for (const std::string& n : bad)
        entries.push_back(File(n, "bad"));
    WriteArchive(tmp.path / "t.tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, entries);
    WriteArchive(tmp.path / "z.zip", ARCHIVE_FORMAT_ZIP, entries);
    std::vector<std::string> lha = {LhaLevel0("ok.txt", "fine")};
    for (const std::string& n : bad)
        lha.push_back(LhaLevel0(n, "bad"));
    lha.push_back(LhaLevel2("..\xFF..", "evil8", "bad")); // folder part of a level-2 header
    WriteFile(tmp.path / "l.lzh", LhaArchive(lha));
    // X7: CAB names carry no checksum; "aa\evil" becomes "..\evil".
    bool haveCab = std::system("command -v gcab > /dev/null") == 0;
    if (haveCab) {
        fs::create_directories(tmp.path / "src/aa");
        WriteFile(tmp.path / "src/aa/evil.txt", "bad");
        WriteFile(tmp.path / "src/ok.txt", "fine");
        ASSERT_EQ(std::system(("cd '" + (tmp.path / "src").string() +
                               "' && gcab -c ../c.cab aa/evil.txt ok.txt")
                                  .c_str()),
                  0);
        std::string cab = ReadFile(tmp.path / "c.cab");
        const size_t at = cab.find("aa\\evil");
        ASSERT_NE(at, std::string::npos);
        cab.replace(at, 2, "..");
        WriteFile(tmp.path / "c.cab", cab);
        fs::remove_all(tmp.path / "src");
    }
    const std::pair<int, std::string> archives[] = {
        {kTar, "t.tar"}, {kZip, "z.zip"}, {kLha, "l.lzh"}, {kCab, "c.cab"}};
    for (const auto& [kind, name] : archives) {
        if (kind == kCab && !haveCab) continue;
        SCOPED_TRACE(name);
        const TRun run = Extract(kind, tmp.path / name, tmp.path / "out", name);
        EXPECT_EQ(run.Code, ARC_ERROR_CANNOT_WRITE) << run.Log;
        EXPECT_EQ(ReadFile(tmp.path / "out" / name / "ok.txt"), "fine");
        for (const auto& [rel, kind2] : Tree(tmp.path / "out" / name))
            EXPECT_TRUE(rel == "ok.txt" || rel == "a") << rel; // no "C:" folder, no evil file
        EXPECT_NE(run.Log.find("refused"), std::string::npos);
    }
    ExpectOnlyInside(tmp.path, {"t.tar", "z.zip", "l.lzh", "c.cab", "out"});
}

// X5, X6: links. A link may point only below the destination; nothing is ever written
// through a link, whether an earlier member planted it or it was there before.
TEST(ArchiverExtract, LinksNeverLeadOut) {
    TempDir tmp("arc-x5");
    const fs::path outside = tmp.path / "outside";
    fs::create_directories(outside);
    WriteFile(tmp.path / "secret.txt", "keep");
    const std::vector<TEntry> entries = {
        File("real.txt", "real"),
        Symlink("abs", outside.string()),   // absolute
        File("abs/through.txt", "x"),       // would write through the refused link
        Symlink("up", "../outside"),        // one level above the destination
        Symlink("a/b/c/s", "../.."),        // allowed: stays in the destination
        Symlink("a/b/c/t", "s/../../.."),   // the chain that would escape through s
        Symlink("d", "a"),                  // allowed, inside
        File("d/planted.txt", "x"),         // must not go through d into a/
        Symlink("dir2/rel", "../real.txt"), // allowed
        Hardlink("h1", "real.txt"),         // allowed
        Hardlink("h2", (tmp.path / "secret.txt").string()),
        Hardlink("h3", "../secret.txt"),
        Hardlink("h4", "dir2/rel"), // a link to a link: refused
        Hardlink("h5", "missing.txt"),
    };
    WriteArchive(tmp.path / "l.tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, entries);
    // A link the user had in the destination before.
    fs::create_directories(tmp.path / "out/l");
    fs::create_symlink(outside, tmp.path / "out/l/pre");
    WriteArchive(tmp.path / "pre.tar", ARCHIVE_FORMAT_TAR_USTAR, {File("pre/f.txt", "x")});

    const TRun run = Extract(kTar, tmp.path / "l.tar", tmp.path / "out", "l");
    EXPECT_EQ(run.Code, ARC_ERROR_CANNOT_WRITE) << run.Log;
    const fs::path root = tmp.path / "out/l";
    const auto tree = Tree(root);
    EXPECT_EQ(tree.count("abs") ? tree.at("abs") : "",
              "dir"); // a real folder, made for abs/through.txt
    EXPECT_FALSE(tree.count("up"));
    EXPECT_EQ(tree.at("a/b/c/s"), "link:../..");
    EXPECT_FALSE(tree.count("a/b/c/t"));
    EXPECT_EQ(tree.at("d"), "link:a");
    EXPECT_FALSE(fs::exists(root / "a/planted.txt"));
    EXPECT_EQ(tree.at("dir2/rel"), "link:../real.txt");
    struct stat a, b;
    ASSERT_EQ(stat((root / "real.txt").c_str(), &a), 0);
    ASSERT_EQ(stat((root / "h1").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    for (const char* refused : {"h2", "h3", "h4", "h5"})
        EXPECT_FALSE(tree.count(refused)) << refused;
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(ReadFile(tmp.path / "secret.txt"), "keep");

    // The user's own link is not passed through either (nor is one left by an earlier archive).
    const TRun pre = Extract(kTar, tmp.path / "pre.tar", tmp.path / "out", "l");
    EXPECT_EQ(pre.Code, ARC_ERROR_CANNOT_WRITE) << pre.Log;
    EXPECT_TRUE(fs::is_empty(outside));
    // The libarchive corpus's own link attacks.
    for (const char* f :
         {"regression__symlink1.lzh", "regression__symlink2.lzh", "regression__symlink3.lzh"}) {
        Extract(kLha, kTestData + "/lzh/lhasa/" + f, tmp.path / "lz", f);
        EXPECT_FALSE(fs::is_symlink(tmp.path / "lz" / f / "etc")) << f;
    }
    EXPECT_EQ(ReadFile(tmp.path / "lz/regression__symlink1.lzh/foo.txt").empty(), false);
    ExpectOnlyInside(tmp.path, {"outside", "secret.txt", "l.tar", "pre.tar", "out", "lz"});
}

// X8, X9: existing files are replaced only by newer members (the default of every library),
// or always / never with the switches; duplicate names in one archive follow the same rule.
TEST(ArchiverExtract, UpdatePolicyForExistingFiles) {
    TempDir tmp("arc-x9");
    const int64_t old = 1500000000, mid = 1600000000, young = 1700000000;
    WriteArchive(tmp.path / "u.zip", ARCHIVE_FORMAT_ZIP,
                 {File("older.txt", "archive", old), File("newer.txt", "archive", young),
                  File("same.txt", "archive", mid), File("new.txt", "archive", mid),
                  File("dir", "x", young)});
    const fs::path root = tmp.path / "out/u";
    fs::create_directories(root / "dir");
    for (const char* f : {"older.txt", "newer.txt", "same.txt"})
        WriteFile(root / f, "user");
    SetMTime(root / "older.txt", young); // the user's copy is newer than the member
    SetMTime(root / "newer.txt", old);
    SetMTime(root / "same.txt", mid);
    const TRun run = Extract(kZip, tmp.path / "u.zip", tmp.path / "out", "u");
    EXPECT_EQ(run.Code, ARC_ERROR_CANNOT_WRITE) << run.Log; // a folder is where "dir" goes
    EXPECT_EQ(ReadFile(root / "older.txt"), "user");
    EXPECT_EQ(ReadFile(root / "newer.txt"), "archive");
    EXPECT_EQ(MTimeOf(root / "newer.txt"), young);
    EXPECT_EQ(ReadFile(root / "same.txt"), "user");
    EXPECT_EQ(ReadFile(root / "new.txt"), "archive");

    // -o always, -n never.
    WriteFile(root / "older.txt", "user");
    SetMTime(root / "older.txt", young);
    EXPECT_EQ(Lib(kZip).Run("-n \"" + (tmp.path / "u.zip").string() + "\" \"" + root.string() +
                            "/\" older.txt"),
              0);
    EXPECT_EQ(ReadFile(root / "older.txt"), "user");
    EXPECT_EQ(Lib(kZip).Run("-o \"" + (tmp.path / "u.zip").string() + "\" \"" + root.string() +
                            "/\" older.txt"),
              0);
    EXPECT_EQ(ReadFile(root / "older.txt"), "archive");

    // The same name twice in one tar: the later copy wins only when it is newer.
    WriteArchive(tmp.path / "d1.tar", ARCHIVE_FORMAT_TAR_USTAR,
                 {File("a.txt", "first", old), File("a.txt", "second", young)});
    WriteArchive(tmp.path / "d2.tar", ARCHIVE_FORMAT_TAR_USTAR,
                 {File("a.txt", "first", young), File("a.txt", "second", old)});
    const TRun d1 = Extract(kTar, tmp.path / "d1.tar", tmp.path / "out", "d1");
    EXPECT_EQ(d1.Code, 0);
    EXPECT_NE(d1.Log.find("duplicate name: a.txt"), std::string::npos) << d1.Log;
    EXPECT_EQ(ReadFile(tmp.path / "out/d1/a.txt"), "second");
    EXPECT_EQ(Extract(kTar, tmp.path / "d2.tar", tmp.path / "out", "d2").Code, 0);
    EXPECT_EQ(ReadFile(tmp.path / "out/d2/a.txt"), "first");
}

// "e" (LHA) and "-j" (ZIP) drop the stored folders; folder members make nothing.
TEST(ArchiverExtract, FlatExtractionDropsFolders) {
    TempDir tmp("arc-flat");
    WriteArchive(tmp.path / "f.zip", ARCHIVE_FORMAT_ZIP,
                 {Dir("a/"), File("a/b/c.txt", "c"), File("d/e.txt", "e")});
    std::string log;
    ASSERT_EQ(Lib(kZip).Run("-j \"" + (tmp.path / "f.zip").string() + "\" \"" +
                                (tmp.path / "out").string() + "/\"",
                            &log),
              0);
    EXPECT_EQ(Tree(tmp.path / "out"),
              (std::map<std::string, std::string>{{"c.txt", "file"}, {"e.txt", "file"}}));
    EXPECT_EQ(log.find("kept:"), std::string::npos) << log;
    WriteFile(tmp.path / "f.lzh", LhaArchive({LhaLevel0("x\\y\\z.txt", "z")}));
    ASSERT_EQ(Lib(kLha).Run("e \"" + (tmp.path / "f.lzh").string() + "\" \"" +
                            (tmp.path / "lzh").string() + "/\""),
              0);
    EXPECT_EQ(ReadFile(tmp.path / "lzh/z.txt"), "z");
}

// X10: a zip bomb stops at the ratio cap, leaving no partial file.
TEST(ArchiverExtract, BombsStopAtTheCaps) {
    TempDir tmp("arc-x10");
    TEntry bomb = File("zeros.bin", std::string(size_t(100) << 20, '\0'));
    WriteArchive(tmp.path / "bomb.zip", ARCHIVE_FORMAT_ZIP, {File("first.txt", "small"), bomb},
                 ARCHIVE_FILTER_NONE, "zip:compression-level=9");
    ASSERT_LT(fs::file_size(tmp.path / "bomb.zip"), 200000u);
    const TRun run = Extract(kZip, tmp.path / "bomb.zip", tmp.path / "out", "bomb");
    EXPECT_EQ(run.Code, ARC_ERROR_DISK_SPACE) << run.Log;
    EXPECT_EQ(ReadFile(tmp.path / "out/bomb/first.txt"), "small");
    EXPECT_FALSE(fs::exists(tmp.path / "out/bomb/zeros.bin"));
    EXPECT_FALSE(HasTempFiles(tmp.path / "out"));

    // The byte cap (free space minus a margin in use) counts what is written, not what the
    // headers say: the second file stops the run half-way and is not left behind.
    WriteArchive(tmp.path / "three.tar", ARCHIVE_FORMAT_TAR_USTAR,
                 {File("a.bin", std::string(60000, 'a')), File("b.bin", std::string(60000, 'b')),
                  File("c.bin", std::string(60000, 'c'))});
    pictor::arc::TExtractOptions opt;
    opt.Limits.MaxTotalBytes = 100000;
    pictor::arc::TOutputText log(1 << 16);
    const auto result =
        pictor::arc::ExtractArchive(pictor::arc::TArcKind::Tar, (tmp.path / "three.tar").string(),
                                    (tmp.path / "capped").string(), opt, log);
    EXPECT_EQ(result.Code, ARC_ERROR_DISK_SPACE) << log.Text();
    EXPECT_EQ(result.Extracted, 1);
    EXPECT_EQ(Tree(tmp.path / "capped"), (std::map<std::string, std::string>{{"a.bin", "file"}}));
}

// X11: a central directory that lists one local entry twice, with a size that lies.
TEST(ArchiverExtract, OverlappingZipEntriesStayBounded) {
    TempDir tmp("arc-x11");
    const std::string data(1000, 'z');
    std::string zip, cd;
    auto crc32 = [](const std::string& s) {
        uint32_t c = 0xFFFFFFFF;
        for (unsigned char b : s) {
            c ^= b;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        return ~c;
    };
    zip = "PK\x03\x04";
    Put16(zip, 10);
    Put16(zip, 0);
    Put16(zip, 0);
    Put32(zip, 0);
    Put32(zip, crc32(data));
    Put32(zip, uint32_t(data.size()));
    Put32(zip, uint32_t(data.size()));
    Put16(zip, 5);
    Put16(zip, 0);
    zip += "a.bin" + data;
    for (const char* name : {"a.bin", "b.bin"}) {
        cd += "PK\x01\x02";
        Put16(cd, 10);
        Put16(cd, 10);
        Put16(cd, 0);
        Put16(cd, 0);
        Put32(cd, 0);
        Put32(cd, crc32(data));
        Put32(cd, uint32_t(data.size()));
        Put32(cd, 0x7FFFFFFF); // uncompressed size lies
        Put16(cd, 5);
        Put16(cd, 0);
        Put16(cd, 0);
        Put16(cd, 0);
        Put16(cd, 0);
        Put32(cd, 0);
        Put32(cd, 0);
        cd += name;
    }
    const uint32_t cdAt = uint32_t(zip.size());
    zip += cd + "PK\x05\x06";
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 2);
    Put16(zip, 2);
    Put32(zip, uint32_t(cd.size()));
    Put32(zip, cdAt);
    Put16(zip, 0);
    WriteFile(tmp.path / "o.zip", zip);
    Lib(kZip).List((tmp.path / "o.zip").string()); // must not fail hard
    Extract(kZip, tmp.path / "o.zip", tmp.path / "out", "o");
    for (const auto& [rel, kind] : Tree(tmp.path / "out/o"))
        EXPECT_LE(fs::file_size(tmp.path / "out/o" / rel), 1000u) << rel;
    ExpectOnlyInside(tmp.path, {"o.zip", "out"});
}

// X12: 100,000 members; names too long for the file system are refused one by one. In memory
// (tmpfs) where there is one: creating 100,000 files on a busy disk takes seconds to minutes.
TEST(ArchiverExtract, ManyMembersAndLongNames) {
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    if (fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 1);
    TempDir tmp("arc-x12");
    if (oldTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    std::vector<TEntry> many;
    for (int i = 0; i < 100000; ++i)
        many.push_back(
            File("d" + std::to_string(i / 1000) + "/f" + std::to_string(i), i % 1000 ? "" : "x"));
    WriteArchive(tmp.path / "many.tar", ARCHIVE_FORMAT_TAR_USTAR, many);
    const TRun run = Extract(kTar, tmp.path / "many.tar", tmp.path / "out", "many");
    EXPECT_EQ(run.Code, 0);
    size_t files = 0;
    for (const auto& [rel, kind] : Tree(tmp.path / "out/many"))
        files += kind == "file";
    EXPECT_EQ(files, 100000u);

    std::string deep; // 4,000 bytes of path in 200-byte parts: fine with per-folder opening
    for (int i = 0; i < 19; ++i)
        deep += std::string(200, char('a' + i)) + "/";
    WriteArchive(tmp.path / "long.tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED,
                 {File(std::string(300, 'n'), "too long"), File(deep + "leaf.txt", "deep"),
                  File("ok.txt", "ok")});
    const TRun longRun = Extract(kTar, tmp.path / "long.tar", tmp.path / "out", "long");
    EXPECT_EQ(longRun.Code, ARC_ERROR_CANNOT_WRITE);
    EXPECT_NE(longRun.Log.find("name too long"), std::string::npos);
    EXPECT_EQ(ReadFile(tmp.path / "out/long" / deep / "leaf.txt"), "deep");
    EXPECT_EQ(ReadFile(tmp.path / "out/long/ok.txt"), "ok");

    // Deeper than PATH_MAX (folders are opened one by one, so the length does not matter).
    std::string deeper;
    for (int i = 0; i < 25; ++i)
        deeper += std::string(200, char('a' + i)) + "/";
    WriteArchive(tmp.path / "deeper.tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED,
                 {File(deeper + "leaf.txt", "deeper")});
    std::string log;
    EXPECT_EQ(Lib(kTar).Run("x \"" + (tmp.path / "deeper.tar").string() + "\" \"" +
                                (tmp.path / "out/deeper").string() + "/\"",
                            &log),
              0)
        << log;
    EXPECT_NE(log.find("1 extracted, 0 kept, 0 failed"), std::string::npos) << log;
}

// X14: no device nodes, FIFOs or set-id bits, even for root.
TEST(ArchiverExtract, SpecialFilesAndSetIdBits) {
    TempDir tmp("arc-x14");
    TEntry dev = File("dev", "");
    dev.Type = AE_IFCHR;
    TEntry fifo = File("fifo", "");
    fifo.Type = AE_IFIFO;
    TEntry suid = File("suid.sh", "#!/bin/sh\n");
    suid.Mode = 04755;
    TEntry sgid = Dir("sgid");
    sgid.Mode = 02775;
    WriteArchive(tmp.path / "s.tar", ARCHIVE_FORMAT_TAR_USTAR, {dev, fifo, suid, sgid});
    const TRun run = Extract(kTar, tmp.path / "s.tar", tmp.path / "out", "s");
    EXPECT_EQ(run.Code, ARC_ERROR_CANNOT_WRITE) << run.Log;
    const auto tree = Tree(tmp.path / "out/s");
    EXPECT_FALSE(tree.count("dev"));
    EXPECT_FALSE(tree.count("fifo"));
    struct stat st;
    ASSERT_EQ(stat((tmp.path / "out/s/suid.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07000, 0u);
    EXPECT_NE(st.st_mode & 0100, 0u); // the execute bit stays
    ASSERT_EQ(stat((tmp.path / "out/s/sgid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07000, 0u);
}

// X15: extracting into the archive's own folder, even when a member has the archive's name.
TEST(ArchiverExtract, IntoTheArchivesOwnFolder) {
    TempDir tmp("arc-x15");
    WriteArchive(tmp.path / "self.zip", ARCHIVE_FORMAT_ZIP,
                 {File("self.zip", "not the archive", 1900000000), File("other.txt", "o")});
    const std::string before = ReadFile(tmp.path / "self.zip");
    // The program's way: a folder named after the archive, beside it.
    EXPECT_EQ(Extract(kZip, tmp.path / "self.zip", tmp.path, "self").Code, 0);
    EXPECT_EQ(ReadFile(tmp.path / "self/self.zip"), "not the archive");
    // The folder itself as the target: the member that is the archive is refused.
    const int run = Lib(kZip).Run("-o \"" + (tmp.path / "self.zip").string() + "\" \"" +
                                  tmp.path.string() + "/\"");
    EXPECT_EQ(ReadFile(tmp.path / "self.zip"), before);
    EXPECT_EQ(ReadFile(tmp.path / "other.txt"), "o");
    EXPECT_EQ(run, ARC_ERROR_CANNOT_WRITE);
}

// A member whose data fails its check never appears under its name; nothing temporary stays.
TEST(ArchiverExtract, BrokenMemberLeavesNoFile) {
    TempDir tmp("arc-crc");
    std::string arc =
        LhaArchive({LhaLevel0("good.txt", "good data"), LhaLevel0("bad.txt", "bad data!")});
    arc[arc.size() - 3] ^= 0x20; // a byte of bad.txt's stored data: its CRC no longer fits
    WriteFile(tmp.path / "c.lzh", arc);
    EXPECT_FALSE(Lib(kLha).CheckArchive((tmp.path / "c.lzh").c_str(), 2));
    const TRun run = Extract(kLha, tmp.path / "c.lzh", tmp.path, "c");
    EXPECT_EQ(run.Code, ARC_ERROR_FILE_CRC) << run.Log;
    EXPECT_EQ(Tree(tmp.path / "c"), (std::map<std::string, std::string>{{"good.txt", "file"}}));
    // Not an archive: nothing is made at all.
    WriteFile(tmp.path / "no.lzh", "hello");
    EXPECT_EQ(Extract(kLha, tmp.path / "no.lzh", tmp.path, "no").Code, ARC_ERROR_NOT_ARC_FILE);
    EXPECT_FALSE(fs::exists(tmp.path / "no"));
    EXPECT_EQ(Extract(kLha, tmp.path / "missing.lzh", tmp.path, "m").Code, ARC_ERROR_ARC_FILE_OPEN);
}

// One call at a time per library; the progress callback sees each member and can cancel.
TEST(ArchiverExtract, BusyLibraryRefusesSecondCallAndCallbackCancels) {
    TempDir tmp("arc-busy");
    WriteArchive(tmp.path / "p.tar", ARCHIVE_FORMAT_TAR_USTAR,
                 {File("a.txt", "a"), File("b.txt", "b")});
    const TLib& tar = Lib(kTar);
    auto setProc = tar.Fn<ARC_BOOL (*)(ARC_HWND, TArcProgressProc)>("SetOwnerWindowEx");
    auto kill = tar.Fn<ARC_BOOL (*)(ARC_HWND)>("KillOwnerWindowEx");
    auto running = tar.Fn<ARC_BOOL (*)()>("GetRunning");

    static std::promise<void>* inside;
    static std::shared_future<void>* release;
    static std::vector<std::string>* seen;
    std::promise<void> insideP, releaseP;
    std::shared_future<void> releaseF = releaseP.get_future().share();
    std::vector<std::string> seenV;
    inside = &insideP;
    release = &releaseF;
    seen = &seenV;
    ASSERT_TRUE(setProc(nullptr, [](ARC_HWND, unsigned, unsigned state, void* p) -> ARC_BOOL {
        const auto* info = static_cast<TArcProgressInfo*>(p);
        seen->push_back(std::to_string(state) + ":" + info->szSourceFileName);
        if (seen->size() == 1) {
            inside->set_value();
            release->wait();
        }
        return 1;
    }));
    std::future<int> first = std::async(std::launch::async, [&] {
        return Extract(kTar, tmp.path / "p.tar", tmp.path / "out", "p").Code;
    });
    insideP.get_future().wait();
    EXPECT_TRUE(running());
    EXPECT_EQ(tar.Run("t \"" + (tmp.path / "p.tar").string() + "\""), ARC_ERROR_ALREADY_RUNNING);
    EXPECT_FALSE(tar.CheckArchive((tmp.path / "p.tar").c_str(), 0));
    EXPECT_EQ(tar.OpenArchive(nullptr, (tmp.path / "p.tar").c_str(), 0), nullptr);
    // Another library is not held up.
    EXPECT_FALSE(Lib(kZip).Fn<ARC_BOOL (*)()>("GetRunning")());
    EXPECT_TRUE(Lib(kLha).CheckArchive(
        (kTestData + "/lzh/libarchive/test_read_format_lha_header2.lzh").c_str(), 2));
    releaseP.set_value();
    EXPECT_EQ(first.get(), 0);
    EXPECT_FALSE(running());
    EXPECT_EQ(seenV, (std::vector<std::string>{"0:a.txt", "2:a.txt", "0:b.txt", "2:b.txt"}));

    // A callback answering 0 cancels: nothing after it is extracted.
    ASSERT_TRUE(setProc(nullptr, [](ARC_HWND, unsigned, unsigned state, void*) -> ARC_BOOL {
        return state == ARC_EXTRACT_END ? 0 : 1;
    }));
    EXPECT_EQ(Extract(kTar, tmp.path / "p.tar", tmp.path / "out", "q").Code, ARC_ERROR_USER_CANCEL);
    EXPECT_EQ(Tree(tmp.path / "out/q"), (std::map<std::string, std::string>{{"a.txt", "file"}}));
    kill(nullptr);
    // Bad arguments are answered, never crash.
    EXPECT_EQ(tar.Command(nullptr, nullptr, nullptr, 0), ARC_ERROR_COMMAND_NAME);
    EXPECT_FALSE(tar.CheckArchive(nullptr, 2));
    EXPECT_EQ(tar.OpenArchive(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(tar.FindFirst(nullptr, "*.*", nullptr), ARC_ERROR_HANDLE);
    EXPECT_EQ(tar.Run("x"), ARC_ERROR_COMMAND_NAME);
    EXPECT_EQ(tar.Run("c \"" + (tmp.path / "new.tar").string() + "\" a"), ARC_ERROR_NOT_SUPPORTED);
}
