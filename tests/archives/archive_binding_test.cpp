// Loading the archiver libraries: the not-available replacements and their exact messages,
// load failures with the loader's reason, a library missing an export, load/unload counting.
#include "archives/ArchiveTables.h"
#include "archives/Cab32.h"
#include "archives/Tar32.h"
#include "archives/UnLha32.h"
#include "archives/UnZip32.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

// Points the lookup at a folder for one test.
struct SearchIn {
    explicit SearchIn(const std::string& folder) { TArchiveLibrary::SetSearchFolder(folder); }
    ~SearchIn() { TArchiveLibrary::SetSearchFolder({}); }
};

template <typename E, typename F>
std::string MessageOf(F&& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(ArchiveBinding, EveryEntryRaisesBeforeALoad) {
    INDIVIDUALINFO info{};
    EXPECT_EQ(MessageOf<EUnlhaErr>([&] { UnLha32::Library().FindNext(nullptr, &info); }),
              "UNLHA32.DLLがないかまたは古いため\r\nUnlhaFindNext 関数が使えません。");
    // The command function has no name after the prefix.
    EXPECT_EQ(MessageOf<EUnZipErr>([&] { UnZip32::Library().Command(nullptr, "", nullptr, 0); }),
              "UnZip32.DLLがないかまたは古いため\r\nUnZip 関数が使えません。");
    EXPECT_EQ(MessageOf<ECabErr>([&] { Cab32::Library().CheckArchive("a.cab", 2); }),
              "Cab32.DLLがないかまたは古いため\r\nCabCheckArchive 関数が使えません。");
    EXPECT_EQ(MessageOf<ETarErr>([&] { Tar32::Library().OpenArchive(nullptr, "a.tar", 0); }),
              "Tar32.DLLがないかまたは古いため\r\nTarOpenArchive 関数が使えません。");
    EXPECT_EQ(MessageOf<ETarErr>([&] { Tar32::Library().Entry("GetFileCount"); }),
              "Tar32.DLLがないかまたは古いため\r\nTarGetFileCount 関数が使えません。");
    // Unloading what was never loaded only resets.
    UnLha32::UnloadArchiveLibrary();
    EXPECT_FALSE(UnLha32::Library().Loaded());
}

TEST(ArchiveBinding, TablesHoldTheirEntryPoints) {
    EXPECT_EQ(UnLha32::Library().EntryCount(), 50);
    EXPECT_EQ(UnZip32::Library().EntryCount(), 41);
    EXPECT_EQ(Cab32::Library().EntryCount(), 41);
    EXPECT_EQ(Tar32::Library().EntryCount(), 37);
    // Names belong to their libraries only.
    EXPECT_NO_THROW((void)UnLha32::Library().HasEntry("GetSubVersion"));
    EXPECT_THROW((void)UnZip32::Library().HasEntry("GetSubVersion"), std::out_of_range);
    EXPECT_THROW((void)Tar32::Library().HasEntry("GetMethod"), std::out_of_range);
    EXPECT_NO_THROW((void)Cab32::Library().HasEntry("GetMethod"));
    for (auto kind : {TArchiverKind::Lha, TArchiverKind::Zip, TArchiverKind::Cab,
                      TArchiverKind::Tar}) {
        const auto table = ArchiveEntryTable(kind);
        ASSERT_GE(table.size(), 6u);
        EXPECT_EQ(table[0], "");
        EXPECT_EQ(table[5], "FindNext");
        for (size_t i = 0; i < table.size(); ++i)
            for (size_t j = i + 1; j < table.size(); ++j) EXPECT_NE(table[i], table[j]);
    }
}

TEST(ArchiveBinding, LoadFailuresCarryTheReason) {
    pictor_test::TempDir dir("pictor-arcbind");
    SearchIn in(dir.path.string());
    const std::string missing =
        MessageOf<EUnZipErr>([] { UnZip32::LoadArchiveLibrary(); });
    EXPECT_EQ(missing.rfind("UnZip32.DLLをロードできません\r\n", 0), 0u) << missing;
    EXPECT_GT(missing.size(), std::string("UnZip32.DLLをロードできません\r\n").size());
    EXPECT_FALSE(UnZip32::Library().Loaded());

    // A file that is no shared object: the loader's own words follow.
    pictor_test::WriteFile(dir.path / "Cab32.so", "not a library");
    const std::string bad = MessageOf<ECabErr>([] { Cab32::LoadArchiveLibrary(); });
    EXPECT_EQ(bad.rfind("Cab32.DLLをロードできません\r\n", 0), 0u) << bad;
    EXPECT_NE(bad.find("Cab32.so"), std::string::npos) << bad;
    EXPECT_FALSE(Cab32::Library().Loaded());
    // Still raising the missing-or-too-old text afterwards.
    EXPECT_THROW(Cab32::Library().FindFirst(nullptr, "*.*", nullptr), ECabErr);
}

TEST(ArchiveBinding, LibraryWithoutFindNextListsOneMemberThenRaises) {
    SearchIn in(PICTOR_ARC_FIXTURES "/partial");
    const std::string file = PICTOR_ARC_FIXTURES "/partial/UNLHA32.so";
    UnLha32::LoadArchiveLibrary();
    UnLha32::LoadArchiveLibrary(); // loaded once: one unload releases it
    TArchiveLibrary& lha = UnLha32::Library();
    ASSERT_TRUE(lha.Loaded());
    char out[16];
    EXPECT_EQ(lha.Command(nullptr, "l archive.lzh and more", out, sizeof out), 0);
    EXPECT_STREQ(out, "l archive.lzh a");
    EXPECT_TRUE(lha.CheckArchive("a.lzh", 2));
    HARC arc = lha.OpenArchive(nullptr, "a.lzh", 0);
    ASSERT_NE(arc, nullptr);
    INDIVIDUALINFO info{};
    ASSERT_EQ(lha.FindFirst(arc, "*.*", &info), 0);
    EXPECT_STREQ(info.szFileName, "first.txt");
    EXPECT_EQ(info.dwOriginalSize, 5u);
    EXPECT_EQ(info.dwCompressedSize, 3u);
    EXPECT_STREQ(info.szMode, "-lh5-");
    EXPECT_EQ(MessageOf<EUnlhaErr>([&] { lha.FindNext(arc, &info); }),
              "UNLHA32.DLLがないかまたは古いため\r\nUnlhaFindNext 関数が使えません。");
    EXPECT_EQ(lha.CloseArchive(arc), 0);
    EXPECT_TRUE(lha.HasEntry("GetVersion"));
    EXPECT_FALSE(lha.HasEntry("GetSubVersion"));

    UnLha32::UnloadArchiveLibrary();
    EXPECT_FALSE(lha.Loaded());
    EXPECT_EQ(::dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "a second load was counted";
    EXPECT_THROW(lha.CheckArchive("a.lzh", 2), EUnlhaErr);
}

// The program's binding against the real libraries built beside the program: the entry
// points and the member record agree on both sides.
TEST(ArchiveBinding, RealLibrariesListThroughTheBinding) {
    SearchIn in(PICTOR_BIN_DIR);
    UnLha32::LoadArchiveLibrary();
    TArchiveLibrary& lha = UnLha32::Library();
    const std::string lzh =
        PICTOR_TESTDATA "/archives/lzh/libarchive/test_read_format_lha_filename_cp932.lzh";
    EXPECT_TRUE(lha.CheckArchive(lzh.c_str(), 2));
    HARC arc = lha.OpenArchive(nullptr, lzh.c_str(), 0);
    ASSERT_NE(arc, nullptr);
    std::vector<std::pair<std::string, uint32_t>> members;
    INDIVIDUALINFO info{};
    for (int r = lha.FindFirst(arc, "*.*", &info); r == 0; r = lha.FindNext(arc, &info))
        members.emplace_back(info.szFileName, info.dwOriginalSize);
    lha.CloseArchive(arc);
    const std::vector<std::pair<std::string, uint32_t>> expected = {{"漢字.txt", 8},
                                                                    {"表.txt", 4}};
    EXPECT_EQ(members, expected);
    UnLha32::UnloadArchiveLibrary();

    // Another kind's library refuses a file that is not its own.
    Tar32::LoadArchiveLibrary();
    EXPECT_FALSE(Tar32::Library().CheckArchive(lzh.c_str(), 2));
    Tar32::UnloadArchiveLibrary();
}
