#include "core/SafeRename.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace pictor;
using pictor_test::ReadFile;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

// A TempDir on a chosen file system (TempDir follows $TMPDIR); nothing when it cannot be made.
std::unique_ptr<TempDir> TempDirUnder(const std::string& base) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", base.c_str(), 1);
    std::unique_ptr<TempDir> dir;
    try {
        dir = std::make_unique<TempDir>("pictor-rename");
    } catch (const std::exception&) {
    }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    return dir;
}

// The build tree is on a disk even where /tmp is tmpfs.
const std::string BuildTree = fs::path(PICTOR_BIN_DIR).parent_path().string();

std::string FsName(const fs::path& p) {
    struct statfs st {};
    ::statfs(p.c_str(), &st);
    return st.f_type == 0x01021994 ? "tmpfs" : "fs " + std::to_string(st.f_type);
}

struct TMethod {
    const char* Name;
    int (*Move)(const std::string&, const std::string&);
};
const TMethod Methods[] = {{"renameat2", RenameNoReplace}, {"fallback", RenameNoReplaceFallback}};

} // namespace

TEST(SafeRename, NeverReplacesAndMovesOtherwiseOnEachFileSystem) {
    int covered = 0;
    for (const auto& base :
         {fs::temp_directory_path().string(), std::string("/dev/shm"), BuildTree}) {
        auto dir = TempDirUnder(base);
        if (!dir) continue;
        ++covered;
        for (const auto& m : Methods) {
            SCOPED_TRACE(base + " (" + FsName(dir->path) + "), " + m.Name);
            const fs::path d = dir->path / m.Name;
            fs::create_directories(d / "srcdir");
            fs::create_directories(d / "dstdir");
            WriteFile(d / "srcdir" / "inner", "inner");
            WriteFile(d / "a", "A");
            WriteFile(d / "b", "B");
            fs::create_symlink("missing", d / "dangling");
            auto move = [&](const char* from, const char* to) {
                return m.Move((d / from).string(), (d / to).string());
            };
            // An existing target of any kind stays, and so does the source.
            EXPECT_EQ(move("a", "b"), EEXIST);
            EXPECT_EQ(move("a", "dstdir"), EEXIST);
            EXPECT_EQ(move("a", "dangling"), EEXIST);
            EXPECT_EQ(move("srcdir", "dstdir"), EEXIST); // plain rename would replace it
            EXPECT_EQ(move("srcdir", "b"), EEXIST);
            EXPECT_EQ(move("a", "a"), EEXIST);
            EXPECT_EQ(ReadFile(d / "a"), "A");
            EXPECT_EQ(ReadFile(d / "b"), "B");
            EXPECT_EQ(ReadFile(d / "srcdir" / "inner"), "inner");
            EXPECT_TRUE(fs::is_directory(d / "dstdir"));
            EXPECT_TRUE(fs::is_symlink(d / "dangling"));
            // Missing source or target folder.
            EXPECT_EQ(move("none", "c"), ENOENT);
            EXPECT_EQ(move("a", "nodir/c"), ENOENT);
            EXPECT_EQ(move("srcdir", "srcdir/sub"), EINVAL);
            // Moves: the file keeps its inode and ends with one name.
            struct stat before {};
            struct stat after {};
            ::lstat((d / "a").c_str(), &before);
            EXPECT_EQ(move("a", "c"), 0);
            ::lstat((d / "c").c_str(), &after);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_nlink, 1u);
            EXPECT_FALSE(fs::exists(d / "a"));
            EXPECT_EQ(move("srcdir", "dstdir/moved"), 0);
            EXPECT_EQ(ReadFile(d / "dstdir" / "moved" / "inner"), "inner");
            EXPECT_EQ(move("dangling", "link2"), 0);
            EXPECT_EQ(fs::read_symlink(d / "link2").string(), "missing");
        }
    }
    EXPECT_GE(covered, 2);
}

TEST(SafeRename, AcrossFileSystemsReportsExdevAndKeepsBoth) {
    auto shm = TempDirUnder("/dev/shm");
    auto disk = TempDirUnder(BuildTree);
    if (!shm || !disk) GTEST_SKIP() << "needs /dev/shm and a writable build folder";
    struct stat a {};
    struct stat b {};
    ::stat(shm->path.c_str(), &a);
    ::stat(disk->path.c_str(), &b);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the build folder's file system";
    WriteFile(shm->path / "f", "data");
    for (const auto& m : Methods) {
        EXPECT_EQ(m.Move((shm->path / "f").string(), (disk->path / "f").string()), EXDEV) << m.Name;
        EXPECT_EQ(ReadFile(shm->path / "f"), "data");
        EXPECT_FALSE(fs::exists(disk->path / "f"));
    }
}

TEST(SafeRename, ErrnoTextIsShortAndDistinct) {
    EXPECT_EQ(ErrnoText(EEXIST), "File exists");
    EXPECT_NE(ErrnoText(ENOENT), ErrnoText(EXDEV));
    EXPECT_FALSE(ErrnoText(987654).empty());
}
