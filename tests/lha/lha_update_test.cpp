// Creating and updating archives on disk: the "u" rules (add missing, replace older, keep
// the rest byte for byte), and that a failure never damages an existing archive.
#include "LhaTestSupport.h"
#include "support/TempDir.h"

#include "lha/LhaHeader.h"
#include "lha/LhaWriter.h"

#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pictor::lha;
using namespace lha_test;
using pictor_test::ReadFile;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

void SetMTime(const fs::path& p, time_t t) {
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

// Files other than the ones given: temporary leftovers.
std::vector<std::string> Others(const fs::path& dir, std::initializer_list<std::string> known) {
    std::vector<std::string> extra;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (std::find(known.begin(), known.end(), n) == known.end()) extra.push_back(n);
    }
    return extra;
}

TLhaReport Pack(const fs::path& archive, const std::vector<std::pair<fs::path, std::string>>& files) {
    TLhaWriter w(archive.string());
    for (const auto& [path, name] : files) w.AddFile(path.string(), name);
    return w.Finish();
}

} // namespace

TEST(LhaUpdate, AddsMissingReplacesOlderKeepsTheRestInPlace) {
    TempDir dir("lha-update");
    const fs::path a = dir.path / "a.txt", b = dir.path / "b.txt", c = dir.path / "c.txt";
    const fs::path archive = dir.path / "x.lzh";
    WriteFile(a, std::string(5000, 'a') + "first");
    WriteFile(b, "old b, old b, old b");
    SetMTime(a, 1600000000);
    SetMTime(b, 1600000000);
    auto r = Pack(archive, {{a, "a.txt"}, {b, "b.txt"}});
    ASSERT_TRUE(r.ArchiveWritten);
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    const std::string before = ReadFile(archive);
    const auto oldMembers = ScanBytes(before);

    // Nothing newer: nothing happens, not even a rewrite.
    r = Pack(archive, {{a, "a.txt"}, {b, "b.txt"}});
    EXPECT_FALSE(r.ArchiveWritten);
    EXPECT_EQ(r.Entries[0].Result, TEntryResult::Kept);
    EXPECT_EQ(r.Entries[1].Result, TEntryResult::Kept);
    struct stat st2 {};
    ASSERT_EQ(::stat(archive.c_str(), &st2), 0);
    EXPECT_EQ(st2.st_ino, st.st_ino);

    // b newer, c new: b replaced where it was, c appended, a copied unchanged.
    ::chmod(archive.c_str(), 0640);
    WriteFile(b, "new b");
    SetMTime(b, 1600000100);
    WriteFile(c, "c");
    r = Pack(archive, {{c, "c.txt"}, {b, "b.txt"}, {a, "a.txt"}});
    ASSERT_TRUE(r.ArchiveWritten);
    EXPECT_EQ(r.Entries[0].Result, TEntryResult::Added);
    EXPECT_EQ(r.Entries[1].Result, TEntryResult::Replaced);
    EXPECT_EQ(r.Entries[2].Result, TEntryResult::Kept);
    const std::string after = ReadFile(archive);
    const auto members = ScanBytes(after);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].Path, "a.txt");
    EXPECT_EQ(members[1].Path, "b.txt");
    EXPECT_EQ(members[2].Path, "c.txt");
    EXPECT_EQ(after.substr(0, size_t(members[0].End())), before.substr(0, size_t(oldMembers[0].End())));
    const auto entries = ReadWithLibarchive(after);
    EXPECT_EQ(entries[1].data, "new b");
    EXPECT_EQ(entries[1].mtime, 1600000100);
    EXPECT_EQ(entries[2].data, "c");
    ASSERT_EQ(::stat(archive.c_str(), &st2), 0);
    EXPECT_EQ(st2.st_mode & 0777, 0640u); // the old archive's permissions are kept
    EXPECT_TRUE(Others(dir.path, {"a.txt", "b.txt", "c.txt", "x.lzh"}).empty());
}

TEST(LhaUpdate, UnreadableSourcesAreReportedAndLeftOut) {
    TempDir dir("lha-update");
    const fs::path archive = dir.path / "x.lzh";
    WriteFile(dir.path / "good.txt", "good");
    fs::create_directories(dir.path / "folder");
    TLhaWriter w(archive.string());
    w.AddFile((dir.path / "missing.txt").string(), "missing.txt");
    w.AddFile((dir.path / "folder").string(), "folder");         // not a regular file
    w.AddDirectory((dir.path / "good.txt").string(), "notdir");  // not a folder
    w.AddFile((dir.path / "good.txt").string(), "good.txt");
    EXPECT_THROW(w.AddFile((dir.path / "good.txt").string(), "good.txt"), ELhaError); // twice
    EXPECT_THROW(w.AddFile((dir.path / "good.txt").string(), "../good.txt"), ELhaError);
    const TLhaReport r = w.Finish();
    ASSERT_TRUE(r.ArchiveWritten);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r.Entries[size_t(i)].Result, TEntryResult::Failed);
        EXPECT_FALSE(r.Entries[size_t(i)].Error.empty());
    }
    EXPECT_EQ(r.Entries[3].Result, TEntryResult::Added);
    const auto entries = ReadWithLibarchive(ReadFile(archive));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, "good.txt");
    EXPECT_THROW(w.Finish(), ELhaError); // once only

    // Nothing readable at all: no archive is made.
    const fs::path none = dir.path / "none.lzh";
    EXPECT_FALSE(Pack(none, {{dir.path / "missing.txt", "m"}}).ArchiveWritten);
    EXPECT_FALSE(fs::exists(none));
}

TEST(LhaUpdate, AnArchiveThatCannotBeReadIsLeftAlone) {
    TempDir dir("lha-update");
    WriteFile(dir.path / "new.txt", "new");
    const std::string good = [&] {
        Pack(dir.path / "good.lzh", {{dir.path / "new.txt", "old.txt"}});
        return ReadFile(dir.path / "good.lzh");
    }();
    std::string badCrc = good;
    badCrc[30] ^= 0x01; // inside the name: the header CRC no longer matches
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"png.lzh", "\x89PNG\r\n\x1a\n-not an archive-"},
        {"truncated.lzh", good.substr(0, good.size() - 3)},
        {"badcrc.lzh", badCrc},
        {"shortheader.lzh", good.substr(0, 10)}};
    for (const auto& [name, bytes] : cases) {
        const fs::path p = dir.path / name;
        WriteFile(p, bytes);
        TLhaWriter w(p.string());
        w.AddFile((dir.path / "new.txt").string(), "new.txt");
        EXPECT_THROW(w.Finish(), ELhaError) << name;
        EXPECT_EQ(ReadFile(p), bytes) << name;
    }
    EXPECT_EQ(Others(dir.path, {"new.txt", "good.lzh", "png.lzh", "truncated.lzh", "badcrc.lzh",
                                "shortheader.lzh"}),
              std::vector<std::string>{});
}

// The disk fills up (a file-size limit) while the updated archive is written: the old one is
// untouched and no temporary file stays behind. Runs in a child, the limit is per process.
TEST(LhaUpdate, DiskFullLeavesTheOldArchive) {
    TempDir dir("lha-update");
    const fs::path archive = dir.path / "x.lzh", big = dir.path / "big.bin";
    WriteFile(dir.path / "small.txt", "small");
    Pack(archive, {{dir.path / "small.txt", "small.txt"}});
    const std::string before = ReadFile(archive);
    WriteFile(big, RandomBytes(1 << 20, 3));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200000, 200000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            Pack(archive, {{big, "big.bin"}});
        } catch (const ELhaError&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no ELhaError in the child";
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_TRUE(Others(dir.path, {"x.lzh", "big.bin", "small.txt"}).empty());
}

TEST(LhaUpdate, ThroughASymbolicLink) {
    TempDir dir("lha-update");
    WriteFile(dir.path / "f.txt", "f");
    fs::create_directories(dir.path / "real");
    fs::create_symlink("real/x.lzh", dir.path / "link.lzh");
    Pack(dir.path / "link.lzh", {{dir.path / "f.txt", "f.txt"}});
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.lzh")) << "the link stays a link";
    Pack(dir.path / "link.lzh", {{dir.path / "f.txt", "g.txt"}});
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.lzh"));
    EXPECT_EQ(ReadWithLibarchive(ReadFile(dir.path / "real/x.lzh")).size(), 2u);
}

// Archives written by other programs, every header level and method: a new member is
// appended and every old member still reads back exactly as before. Where our scan refuses
// an archive, updating it fails and leaves it as it was.
TEST(LhaUpdate, ArchivesFromOtherProgramsKeepTheirMembers) {
    TempDir dir("lha-update");
    WriteFile(dir.path / "added.txt", "added by the update");
    int updated = 0;
    for (const auto& e : fs::recursive_directory_iterator(PICTOR_TESTDATA "/archives/lzh")) {
        if (!e.is_regular_file() || e.path().extension() == ".md") continue;
        const std::string name = e.path().filename().string();
        const std::string original = ReadFile(e.path());
        std::vector<ArEntry> before;
        bool readable = true;
        try {
            before = ReadWithLibarchive(original);
        } catch (const std::exception&) {
            readable = false;
        }
        bool scans = true;
        try {
            ScanBytes(original);
        } catch (const ELhaError&) {
            scans = false;
        }
        if (readable) {
            EXPECT_TRUE(scans) << name << ": libarchive reads it, our scan does not";
        }
        const fs::path copy = dir.path / "copy.lzh";
        WriteFile(copy, original);
        TLhaWriter w(copy.string());
        w.AddFile((dir.path / "added.txt").string(), "added-by-update.txt");
        if (!scans) {
            EXPECT_THROW(w.Finish(), ELhaError) << name;
            EXPECT_EQ(ReadFile(copy), original) << name;
            continue;
        }
        ASSERT_TRUE(w.Finish().ArchiveWritten) << name;
        if (!readable) continue;
        const auto after = ReadWithLibarchive(ReadFile(copy));
        ASSERT_EQ(after.size(), before.size() + 1) << name;
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(after[i].path, before[i].path) << name;
            EXPECT_TRUE(after[i].data == before[i].data) << name << ": " << before[i].path;
        }
        EXPECT_EQ(after.back().data, "added by the update") << name;
        ++updated;
    }
    EXPECT_GE(updated, 40);
}
