// Copy and move into folders: within and across file systems, conflicts, refusals, failures.
#include "shell/FileTransfer.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

struct FileTransferTest : testing::Test {
    TempDir Dir{"pictor-transfer"};
    fs::path Src = Dir.path / "src", Dst = Dir.path / "dst";
    FileTransferTest() {
        fs::create_directories(Src);
        fs::create_directories(Dst);
    }
    static std::vector<std::string> Listing(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            names.push_back(e.path().lexically_relative(dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A folder with a file, a subfolder, a symbolic link and a read-only file.
    void MakeTree(const fs::path& root) {
        fs::create_directories(root / "sub");
        WriteFile(root / "a.txt", "alpha");
        WriteFile(root / "sub/b.txt", "beta");
        fs::create_symlink("a.txt", root / "link");
        fs::permissions(root / "sub/b.txt", fs::perms::owner_read);
    }
};

// A second file system for cross-volume moves: /dev/shm when it is one.
std::optional<fs::path> OtherVolume(const fs::path& here) {
    struct stat a, b;
    if (::stat(here.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        return std::nullopt;
    char tmpl[] = "/dev/shm/pictor-xfer-XXXXXX";
    if (!::mkdtemp(tmpl)) return std::nullopt;
    return fs::path(tmpl);
}

TConflictAnswer Always(TConflictAnswer a, int* asked) {
    ++*asked;
    return a;
}

} // namespace

TEST_F(FileTransferTest, MoveAndCopyWithinAndAcrossVolumes) {
    auto other = OtherVolume(Dir.path);
    struct Case {
        bool move, across;
    } cases[] = {{true, false}, {false, false}, {true, true}, {false, true}};
    int n = 0;
    for (const Case& c : cases) {
        if (c.across && !other) continue; // no second file system here
        SCOPED_TRACE(testing::Message() << "move " << c.move << " across " << c.across);
        const fs::path tree = Src / ("t" + std::to_string(n));
        const fs::path file = Src / ("f" + std::to_string(n) + ".bin");
        MakeTree(tree);
        WriteFile(file, "data");
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(50));
        const auto stamp = fs::last_write_time(file);
        const fs::path target = c.across ? *other / std::to_string(n) : Dst / std::to_string(n);
        fs::create_directories(target);
        ++n;
        auto r = TransferFiles({{tree.string(), file.string()}, target.string(), c.move}, {});
        EXPECT_EQ(r.Done, 2);
        EXPECT_EQ(r.Failed, 0) << (r.Errors.empty() ? "" : r.Errors[0]);
        EXPECT_EQ(fs::exists(tree), !c.move);
        EXPECT_EQ(fs::exists(file), !c.move);
        const fs::path t = target / tree.filename();
        EXPECT_EQ(Listing(t), (std::vector<std::string>{"a.txt", "link", "sub", "sub/b.txt"}));
        EXPECT_EQ(ReadFile(t / "sub/b.txt"), "beta");
        EXPECT_TRUE(fs::is_symlink(t / "link"));
        EXPECT_EQ(fs::read_symlink(t / "link"), "a.txt");
        EXPECT_EQ(fs::status(t / "sub/b.txt").permissions() & fs::perms::all,
                  fs::perms::owner_read);
        EXPECT_EQ(fs::last_write_time(target / file.filename()), stamp);
        // No leftovers of partial copies.
        EXPECT_EQ(Listing(target).size(), 6u);
    }
    std::error_code ec;
    if (other) fs::remove_all(*other, ec);
}

TEST_F(FileTransferTest, ConflictsAskAndObeyTheAnswer) {
    for (bool move : {true, false}) {
        SCOPED_TRACE(move ? "move" : "copy");
        for (auto& e : fs::directory_iterator(Dst))
            fs::remove_all(e.path());
        WriteFile(Src / "x.txt", "new");
        WriteFile(Src / "y.txt", "new y");
        WriteFile(Dst / "x.txt", "old");
        WriteFile(Dst / "keep.txt", "keep");
        fs::create_directories(Src / "d");
        WriteFile(Src / "d/in.txt", "new in");
        fs::create_directories(Dst / "d");
        WriteFile(Dst / "d/old.txt", "old in");
        const std::vector<std::string> sources{(Src / "x.txt").string(), (Src / "d").string(),
                                               (Src / "y.txt").string()};
        int asked = 0;
        // Skip: both untouched.
        auto r = TransferFiles({sources, Dst.string(), move},
                               [&](auto&, auto&) { return Always(TConflictAnswer::Skip, &asked); });
        EXPECT_EQ(asked, 2);
        EXPECT_EQ(r.Skipped, 2);
        EXPECT_EQ(r.Done, 1);
        EXPECT_EQ(ReadFile(Dst / "x.txt"), "old");
        EXPECT_EQ(ReadFile(Src / "x.txt"), "new");
        EXPECT_EQ(ReadFile(Dst / "y.txt"), "new y");
        if (move) WriteFile(Src / "y.txt", "new y");
        fs::remove(Dst / "y.txt");
        // Cancel at the first conflict: nothing after it happens.
        asked = 0;
        r = TransferFiles({sources, Dst.string(), move},
                          [&](auto&, auto&) { return Always(TConflictAnswer::Cancel, &asked); });
        EXPECT_TRUE(r.Cancelled);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(r.Done, 0);
        EXPECT_FALSE(fs::exists(Dst / "y.txt"));
        // Replace: the new content and nothing else, old folder contents gone.
        r = TransferFiles({sources, Dst.string(), move},
                          [&](auto&, auto&) { return Always(TConflictAnswer::Replace, &asked); });
        EXPECT_EQ(r.Done, 3);
        EXPECT_EQ(ReadFile(Dst / "x.txt"), "new");
        EXPECT_EQ(Listing(Dst),
                  (std::vector<std::string>{"d", "d/in.txt", "keep.txt", "x.txt", "y.txt"}));
        EXPECT_EQ(fs::exists(Src / "x.txt"), !move);
        EXPECT_EQ(ReadFile(Dst / "keep.txt"), "keep");
    }
}

TEST_F(FileTransferTest, RefusalsAndFreeNames) {
    MakeTree(Src / "tree");
    WriteFile(Src / "photo.jpg", "p");
    const auto before = Listing(Src);
    int asked = 0;
    auto ask = [&](auto&, auto&) { return Always(TConflictAnswer::Replace, &asked); };
    // A folder into itself or below itself: an error, nothing done.
    for (const fs::path& into : {Src / "tree", Src / "tree/sub"})
        for (bool move : {true, false}) {
            auto r = TransferFiles({{(Src / "tree").string()}, into.string(), move}, ask);
            EXPECT_EQ(r.Failed, 1);
            EXPECT_EQ(r.Errors.size(), 1u);
        }
    // Replacing the folder that holds the source is refused too.
    fs::create_directories(Src / "tree/sub/sub");
    auto r = TransferFiles({{(Src / "tree/sub/sub").string()}, (Src / "tree").string(), true}, ask);
    EXPECT_EQ(r.Failed, 1);
    EXPECT_EQ(asked, 1);
    asked = 0;
    fs::remove(Src / "tree/sub/sub");
    // Moving into its own folder: nothing to do.
    r = TransferFiles({{(Src / "photo.jpg").string()}, Src.string(), true}, ask);
    EXPECT_EQ(r.Skipped, 1);
    EXPECT_EQ(Listing(Src), before);
    EXPECT_EQ(asked, 0);
    // Copying there: free names.
    for (int i = 0; i < 2; ++i) {
        r = TransferFiles(
            {{(Src / "photo.jpg").string(), (Src / "tree").string()}, Src.string(), false}, ask);
        EXPECT_EQ(r.Done, 2);
    }
    for (const char* name : {"photo (2).jpg", "photo (3).jpg", "tree (2)/sub/b.txt", "tree (3)"})
        EXPECT_TRUE(fs::exists(Src / name)) << name;
    EXPECT_EQ(FreeCopyName(Src.string(), ".hidden"), ".hidden (2)");
    // Bad requests change nothing.
    r = TransferFiles({{"relative.txt", (Src / "missing").string()}, Dst.string(), true}, ask);
    EXPECT_EQ(r.Failed, 2);
    r = TransferFiles({{(Src / "photo.jpg").string()}, (Src / "photo.jpg").string(), true}, ask);
    EXPECT_EQ(r.Failed, 1);
    EXPECT_TRUE(fs::exists(Src / "photo.jpg"));
    EXPECT_TRUE(Listing(Dst).empty());
}

TEST_F(FileTransferTest, FailingCopyLeavesTheSource) {
    // A socket cannot be copied: the whole folder fails and its copy is removed.
    MakeTree(Src / "tree");
    const fs::path sock = Src / "tree/sub/s.sock";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    const auto before = Listing(Src);
    auto r = TransferFiles({{(Src / "tree").string()}, Dst.string(), false}, {});
    EXPECT_EQ(r.Failed, 1);
    ASSERT_EQ(r.Errors.size(), 1u);
    EXPECT_TRUE(Listing(Dst).empty());
    EXPECT_EQ(Listing(Src), before);
    if (auto other = OtherVolume(Dir.path)) {
        r = TransferFiles({{(Src / "tree").string()}, other->string(), true}, {});
        EXPECT_EQ(r.Failed, 1);
        EXPECT_TRUE(Listing(*other).empty());
        EXPECT_EQ(Listing(Src), before);
        fs::remove_all(*other);
    }
    if (::geteuid() != 0) {
        // Unreadable source file, read-only target folder.
        WriteFile(Src / "secret", "s");
        fs::permissions(Src / "secret", fs::perms::none);
        r = TransferFiles({{(Src / "secret").string()}, Dst.string(), false}, {});
        EXPECT_EQ(r.Failed, 1);
        EXPECT_TRUE(Listing(Dst).empty());
        fs::permissions(Dst, fs::perms::owner_read | fs::perms::owner_exec);
        for (bool move : {true, false}) {
            r = TransferFiles({{(Src / "tree").string()}, Dst.string(), move}, {});
            EXPECT_EQ(r.Failed, 1);
        }
        fs::permissions(Dst, fs::perms::owner_all);
        EXPECT_TRUE(Listing(Dst).empty());
        EXPECT_TRUE(fs::exists(Src / "tree/sub/b.txt"));
    }
}

TEST_F(FileTransferTest, DropEffects) {
    WriteFile(Src / "a", "a");
    fs::create_directories(Src / "d");
    const std::string a = (Src / "a").string(), d = (Src / "d").string();
    struct Case {
        std::vector<std::string> sources;
        std::string target;
        bool shift, ctrl;
        TDropEffect want;
    } cases[] = {
        {{a}, Dst.string(), false, false, TDropEffect::Move},
        {{a}, Dst.string(), false, true, TDropEffect::Copy},
        {{a}, Dst.string(), true, true, TDropEffect::Move},
        {{a, d}, Src.string(), false, false, TDropEffect::None}, // already there
        {{a, d}, Src.string(), false, true, TDropEffect::Copy},
        {{d}, d, false, true, TDropEffect::None},  // into itself
        {{a}, a, false, false, TDropEffect::None}, // not a folder
        {{}, Dst.string(), false, false, TDropEffect::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseDropEffect(c.sources, c.target, c.shift, c.ctrl), c.want);
    if (auto other = OtherVolume(Dir.path)) {
        EXPECT_EQ(ChooseDropEffect({a}, other->string(), false, false), TDropEffect::Copy);
        EXPECT_EQ(ChooseDropEffect({a}, other->string(), true, false), TDropEffect::Move);
        fs::remove_all(*other);
    }
}

// Progress counts the bytes that are really copied; a cancel mid-file leaves no partial copy
// and every source where it was.
TEST_F(FileTransferTest, ProgressAndCancel) {
    const std::string big(9u << 20, 'x'); // larger than one report step and one copy slice
    WriteFile(Src / "big.bin", big);
    MakeTree(Src / "tree");
    const std::vector<std::string> sources = {(Src / "big.bin").string(),
                                              (Src / "tree").string()};

    std::vector<TTransferProgress> seen;
    auto r = TransferFiles({sources, Dst.string(), false}, {}, [&](const TTransferProgress& p) {
        seen.push_back(p);
        return true;
    });
    EXPECT_EQ(r.Done, 2);
    ASSERT_GE(seen.size(), 3u); // each source starts, and the big file reports on the way
    EXPECT_EQ(seen.front().Current, sources[0]);
    EXPECT_EQ(seen.back().Current, sources[1]);
    const uint64_t total = big.size() + 5 + 4; // a.txt and sub/b.txt; the link counts nothing
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].TotalBytes, total);
        if (i > 0) {
            EXPECT_GE(seen[i].DoneBytes, seen[i - 1].DoneBytes);
        }
    }

    // A move within one file system renames: nothing to copy, nothing counted.
    seen.clear();
    fs::create_directories(Dst / "moved");
    r = TransferFiles({{(Dst / "big.bin").string()}, (Dst / "moved").string(), true}, {},
                      [&](const TTransferProgress& p) {
                          seen.push_back(p);
                          return true;
                      });
    EXPECT_EQ(r.Done, 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].TotalBytes, 0u);

    // Cancel while the big file is being copied, for a copy and for a move across volumes.
    auto other = OtherVolume(Dir.path);
    for (bool move : {false, true}) {
        if (move && !other) continue;
        SCOPED_TRACE(move ? "move across" : "copy");
        const fs::path into = move ? *other : Dst / "again";
        fs::create_directories(into);
        int calls = 0;
        r = TransferFiles({sources, into.string(), move}, {}, [&](const TTransferProgress& p) {
            return ++calls < 2 || p.DoneBytes == 0; // stop at the first report inside the file
        });
        EXPECT_TRUE(r.Cancelled);
        EXPECT_EQ(r.Done, 0);
        EXPECT_EQ(r.Failed, 0);
        EXPECT_TRUE(Listing(into).empty()) << "a partial copy was left";
        EXPECT_EQ(ReadFile(Src / "big.bin"), big);
        EXPECT_TRUE(fs::exists(Src / "tree/sub/b.txt"));
    }
    if (other) fs::remove_all(*other);

    // Cancel before the second source: the first is done, the second untouched.
    r = TransferFiles({sources, (Dst / "again").string(), false}, {},
                      [&](const TTransferProgress& p) { return p.Current != sources[1]; });
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Done, 1);
    EXPECT_TRUE(fs::exists(Dst / "again/big.bin"));
    EXPECT_FALSE(fs::exists(Dst / "again/tree"));
}
