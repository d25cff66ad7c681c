#include "core/Exception.h"
#include "shell/FileProperties.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace pictor;
using pictor_test::TempDir;
using pictor_test::WriteFile;

namespace {

TFileFacts One(const fs::path& p, const TWalkBound& bound = {}) {
    TFileProperties props = TFileProperties::Gather({p.string()}, bound);
    EXPECT_EQ(props.Items.size(), 1u);
    return props.Items.at(0);
}

} // namespace

TEST(FileProperties, PlainFile) {
    TempDir dir;
    const fs::path file = dir.path / "note.txt";
    WriteFile(file, std::string(1500, 'a'));
    ::chmod(file.c_str(), 0640);
    const TFileFacts f = One(file);
    EXPECT_EQ(f.Kind, TFileKind::File);
    EXPECT_EQ(f.Name, "note.txt");
    EXPECT_EQ(f.Location, dir.path.string());
    EXPECT_EQ(f.Size, 1500u);
    EXPECT_GE(f.DiskSize, 1500u);
    EXPECT_EQ(f.MimeName, "text/plain");
    EXPECT_EQ(f.Uid, ::getuid());
    EXPECT_FALSE(f.Owner.empty());
    EXPECT_EQ(f.Mode & 07777, 0640u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(f.Modified, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
    EXPECT_TRUE(f.LinkTarget.empty());
}

TEST(FileProperties, FolderTreeCountsAndSizes) {
    TempDir dir;
    const fs::path root = dir.path / "tree";
    fs::create_directories(root / "a" / "b");
    fs::create_directories(root / "empty");
    WriteFile(root / "one", std::string(10, 'x'));
    WriteFile(root / "a" / "two", std::string(200, 'x'));
    WriteFile(root / "a" / "b" / "three", std::string(3000, 'x'));
    // A hard link is one file's data: counted as an entry, its size once.
    fs::create_hard_link(root / "one", root / "a" / "one-again");
    // A link to a big outside folder must not be walked into.
    fs::create_directories(dir.path / "outside");
    WriteFile(dir.path / "outside" / "big", std::string(100000, 'y'));
    fs::create_directory_symlink(dir.path / "outside", root / "a" / "jump");

    const TFileFacts f = One(root);
    EXPECT_EQ(f.Kind, TFileKind::Folder);
    EXPECT_EQ(f.MimeName, "inode/directory");
    EXPECT_EQ(f.Folders, 3u); // a, a/b, empty
    EXPECT_EQ(f.Files, 5u);   // one, two, three, one-again, jump
    const std::uint64_t linkSize = (dir.path / "outside").string().size();
    EXPECT_EQ(f.Size, 10u + 200u + 3000u + linkSize); // not the 100000 behind the link
    EXPECT_FALSE(f.Cut);
}

TEST(FileProperties, SymlinkIsDescribedNotFollowed) {
    TempDir dir;
    WriteFile(dir.path / "target.txt", std::string(5000, 'z'));
    fs::create_symlink("target.txt", dir.path / "good");
    fs::create_symlink("nowhere", dir.path / "broken");
    struct Case {
        const char* name;
        const char* target;
        bool broken;
    } cases[] = {{"good", "target.txt", false}, {"broken", "nowhere", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TFileFacts f = One(dir.path / c.name);
        EXPECT_EQ(f.Kind, TFileKind::Symlink);
        EXPECT_EQ(f.LinkTarget, c.target);
        EXPECT_EQ(f.LinkBroken, c.broken);
        EXPECT_EQ(f.Size, std::string(c.target).size()); // the link's own size
        EXPECT_EQ(f.MimeName, "inode/symlink");
    }
}

TEST(FileProperties, FifoIsNotOpened) {
    TempDir dir;
    const fs::path fifo = dir.path / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening a FIFO without a writer would block; this returns at once.
    const TFileFacts f = One(fifo);
    EXPECT_EQ(f.Kind, TFileKind::Fifo);
    EXPECT_EQ(f.MimeName, "inode/fifo");
    EXPECT_EQ(f.Size, 0u);
}

TEST(FileProperties, SeveralPathsAreSummed) {
    TempDir dir;
    WriteFile(dir.path / "a", std::string(100, 'a'));
    WriteFile(dir.path / "b", std::string(23, 'b'));
    fs::create_directories(dir.path / "sub" / "deeper");
    WriteFile(dir.path / "sub" / "c", std::string(1000, 'c'));
    const TFileProperties p = TFileProperties::Gather(
        {(dir.path / "a").string(), (dir.path / "b").string(), (dir.path / "sub").string()});
    ASSERT_EQ(p.Items.size(), 3u);
    EXPECT_EQ(p.TotalSize, 1123u);
    EXPECT_EQ(p.TotalFiles, 3u);   // a, b, sub/c
    EXPECT_EQ(p.TotalFolders, 2u); // sub, sub/deeper
    EXPECT_FALSE(p.Cut);
}

TEST(FileProperties, HugeFolderIsCutAtTheBound) {
    TempDir dir;
    for (int i = 0; i < 30; ++i)
        WriteFile(dir.path / ("f" + std::to_string(i)), "12345");
    struct Case {
        std::uint64_t bound;
        bool cut;
        std::uint64_t files;
    } cases[] = {{10, true, 10}, {29, true, 29}, {30, false, 30}, {1000, false, 30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bound);
        TWalkBound bound;
        bound.MaxEntries = c.bound;
        bound.MaxTime = std::chrono::hours(1);
        const TFileFacts f = One(dir.path, bound);
        EXPECT_EQ(f.Cut, c.cut);
        EXPECT_EQ(f.Files, c.files);
        EXPECT_EQ(f.Size, c.files * 5);
    }
}

TEST(FileProperties, BadInputIsRefused) {
    TempDir dir;
    try {
        TFileProperties::Gather({(dir.path / "missing").string()});
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "'" + (dir.path / "missing").string() + "' が見つかりません");
    }
    EXPECT_THROW(TFileProperties::Gather({}), Exception);
    EXPECT_THROW(TFileProperties::Gather({""}), Exception);
}

TEST(FileProperties, Texts) {
    struct {
        std::uint32_t mode;
        const char* text;
        const char* octal;
    } modes[] = {{0755, "rwxr-xr-x", "0755"},          {0640, "rw-r-----", "0640"},
                 {04755, "rwsr-xr-x", "4755"},         {02644, "rw-r-Sr--", "2644"},
                 {01777, "rwxrwxrwt", "1777"},         {01776, "rwxrwxrwT", "1776"},
                 {S_IFDIR | 0700, "rwx------", "0700"}};
    for (const auto& m : modes) {
        EXPECT_EQ(PermissionText(m.mode), m.text);
        EXPECT_EQ(OctalModeText(m.mode), m.octal);
    }
    struct {
        std::uint64_t bytes;
        const char* text;
    } sizes[] = {{0, "0 バイト"},
                 {1023, "1,023 バイト"},
                 {1024, "1 KB (1,024 バイト)"},
                 {1572864, "1.5 MB (1,572,864 バイト)"},
                 {20 * 1024 + 512, "20.5 KB (20,992 バイト)"},
                 {500ull << 30, "500 GB (536,870,912,000 バイト)"}};
    for (const auto& s : sizes)
        EXPECT_EQ(SizeText(s.bytes).toStdString(), s.text);
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 7, 2));
    EXPECT_EQ(DateTimeText(when.toMSecsSinceEpoch() * 1000000).toStdString(), "2024/03/05 9:07:02");
}
