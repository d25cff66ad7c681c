// Folder watchers: bursts, filters, path switching, overflow, stop and limits.
#include "shell/ShellNotify.h"

#include "ShellTestSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace pictor;
using pictor_test::PumpFor;
using pictor_test::PumpUntil;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

// The inotify watches of this process, one "inotify wd:" line each.
std::vector<std::string> WatchLines() {
    std::vector<std::string> lines;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/self/fdinfo", ec)) {
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("inotify wd:", 0) == 0) lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct TCounter {
    std::atomic<int> Count{0};
    std::string LastPath;
    TShFilesWatcher::THandler Handler() {
        return [this](TShFilesWatcher*, const std::string& path) {
            ++Count;
            LastPath = path;
        };
    }
};

void CreateFiles(const fs::path& dir, int n, const std::string& prefix = "f") {
    for (int i = 0; i < n; ++i) {
        const int fd = ::open((dir / (prefix + std::to_string(i))).c_str(),
                              O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
}

// Clears the read hook however the test ends.
struct THookGuard {
    ~THookGuard() { TShFilesWatcher::SetBeforeReadHook(nullptr); }
};

} // namespace

// Copying many files in gives one report once they have stopped (the real 2 s settle time).
TEST(FilesWatcher, BurstGivesOneReportAfterItEnds) {
    TempDir dir;
    TCounter reports;
    TShFilesWatcher w(dir.path.string(), 3, reports.Handler());
    ASSERT_TRUE(w.Watching());
    CreateFiles(dir.path, 500);
    ASSERT_TRUE(PumpUntil([&] { return reports.Count == 1; }));
    EXPECT_EQ(reports.LastPath, dir.path.string());
    PumpFor(2500);
    EXPECT_EQ(reports.Count, 1);
}

// Same path again: nothing (no new watch, no report); a missing path: not watching; switching
// folders many times leaves exactly the current watch, and none after the empty path.
TEST(FilesWatcher, PathSwitching) {
    TempDir a, b;
    TCounter reports;
    const auto baseline = WatchLines();
    TShFilesWatcher w("", 3, reports.Handler(), nullptr, 200);
    EXPECT_FALSE(w.Watching());
    w.SetPath((a.path / "missing").string());
    EXPECT_FALSE(w.Watching());
    EXPECT_EQ(w.Path(), "");
    EXPECT_EQ(w.LastError(), "");

    w.SetPath(a.path.string());
    ASSERT_TRUE(w.Watching());
    const auto armed = WatchLines();
    EXPECT_EQ(armed.size(), baseline.size() + 1);
    w.SetPath(a.path.string());
    EXPECT_EQ(WatchLines(), armed); // the same watch, not a new one
    PumpFor(600);
    EXPECT_EQ(reports.Count, 0);

    for (int i = 0; i < 100; ++i)
        w.SetPath((i % 2 ? a : b).path.string());
    EXPECT_EQ(w.Path(), a.path.string());
    EXPECT_EQ(WatchLines().size(), baseline.size() + 1);
    w.SetPath("");
    EXPECT_FALSE(w.Watching());
    EXPECT_EQ(WatchLines().size(), baseline.size());
    CreateFiles(a.path, 3);
    PumpFor(600);
    EXPECT_EQ(reports.Count, 0);
}

// Each change is reported by the watchers whose filter asks for it, and only by them.
TEST(FilesWatcher, FilterDecidesWhatCounts) {
    struct TCase {
        const char* name;
        std::function<void(const fs::path&)> act;
        unsigned yes, no;
    };
    const TCase cases[] = {
        {"append", [](const fs::path& d) { std::ofstream(d / "old", std::ios::app) << "more"; },
         0x1C, 3},
        {"mkdir", [](const fs::path& d) { fs::create_directory(d / "sub"); }, 2, 1},
        {"create", [](const fs::path& d) { WriteFile(d / "new", "x"); }, 1, 2},
        {"chmod", [](const fs::path& d) { ::chmod((d / "old").c_str(), 0600); }, 4, 0x18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir.path / "old", "data");
        TCounter yes, no;
        TShFilesWatcher wy(dir.path.string(), c.yes, yes.Handler(), nullptr, 200);
        TShFilesWatcher wn(dir.path.string(), c.no, no.Handler(), nullptr, 200);
        c.act(dir.path);
        EXPECT_TRUE(PumpUntil([&] { return yes.Count == 1; }, 5000));
        PumpFor(700);
        EXPECT_EQ(yes.Count, 1);
        EXPECT_EQ(no.Count, 0);
    }
}

// The watched folder deleted or renamed away: one report, then the watcher stops watching.
TEST(FilesWatcher, WatchedFolderGoes) {
    for (const bool rename : {false, true}) {
        SCOPED_TRACE(rename ? "renamed" : "deleted");
        TempDir dir;
        const fs::path sub = dir.path / "shown";
        fs::create_directory(sub);
        WriteFile(sub / "a", "x");
        TCounter reports;
        TShFilesWatcher w(sub.string(), 3, reports.Handler(), nullptr, 200);
        ASSERT_TRUE(w.Watching());
        if (rename)
            fs::rename(sub, dir.path / "elsewhere");
        else
            fs::remove_all(sub);
        ASSERT_TRUE(PumpUntil([&] { return reports.Count == 1; }, 5000));
        EXPECT_EQ(reports.LastPath, sub.string());
        EXPECT_TRUE(PumpUntil([&] { return !w.Watching() && w.Path().empty(); }, 5000));
    }
}

// Stop while a burst is being collected: the thread ends and the handler is never called.
TEST(FilesWatcher, StopDuringBurst) {
    THookGuard guard;
    std::atomic<bool> read{false};
    TShFilesWatcher::SetBeforeReadHook([&] { read = true; });
    TempDir dir;
    TCounter reports;
    TShFilesWatcher w(dir.path.string(), 3, reports.Handler());
    CreateFiles(dir.path, 50);
    for (int i = 0; i < 2000 && !read; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(read);
    w.Stop();
    EXPECT_TRUE(w.WaitForEnd(5000));
    PumpFor(300);
    EXPECT_EQ(reports.Count, 0);
}

// The queue overflows while the thread is held: the overflow is seen and counts as one change.
TEST(FilesWatcher, OverflowIsOneReport) {
    int queued = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    if (queued > 60000) GTEST_SKIP() << "inotify queue too long to overflow cheaply";
    THookGuard guard;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> held{false};
    TShFilesWatcher::SetBeforeReadHook([&] {
        if (!held.exchange(true)) released.wait();
    });
    TempDir dir;
    TCounter reports;
    TShFilesWatcher w(dir.path.string(), 3, reports.Handler(), nullptr, 200);
    CreateFiles(dir.path, queued + 3616);
    release.set_value();
    ASSERT_TRUE(PumpUntil([&] { return reports.Count == 1; }));
    PumpFor(700);
    EXPECT_EQ(reports.Count, 1);
    EXPECT_GE(w.OverflowCount(), 1);
}

// A change stream that never pauses for the settle time is still reported, at the longest wait.
TEST(FilesWatcher, TrickleIsReportedByTheLongestWait) {
    TempDir dir;
    TCounter reports;
    TShFilesWatcher w(dir.path.string(), 3, reports.Handler(), nullptr, 1000, 1500);
    for (int i = 0; i < 27; ++i) {
        WriteFile(dir.path / ("t" + std::to_string(i)), "x");
        PumpFor(150);
    }
    EXPECT_GE(reports.Count, 2);
}

// A handler may stop or even destroy its own watcher.
TEST(FilesWatcher, HandlerStopsOrDestroysItsWatcher) {
    TempDir dir;
    std::atomic<int> calls{0};
    TShFilesWatcher stopper(
        dir.path.string(), 3,
        [&](TShFilesWatcher* sender, const std::string&) {
            ++calls;
            sender->Stop();
        },
        nullptr, 200);
    std::unique_ptr<TShFilesWatcher> doomed;
    doomed = std::make_unique<TShFilesWatcher>(
        dir.path.string(), 3,
        [&](TShFilesWatcher*, const std::string&) {
            ++calls;
            doomed.reset();
        },
        nullptr, 200);
    WriteFile(dir.path / "x", "x");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }, 5000));
    EXPECT_TRUE(stopper.WaitForEnd(5000));
    EXPECT_EQ(doomed, nullptr);
    WriteFile(dir.path / "y", "y");
    PumpFor(500);
    EXPECT_EQ(calls, 2);
}

// Out of descriptors for an inotify instance: not watching, a reason for the user; later works.
TEST(FilesWatcher, InotifyLimitDegrades) {
    TempDir dir;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = ::dup(0);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowest) + 1; // room for the wake-up descriptor only
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    TCounter reports;
    TShFilesWatcher w(dir.path.string(), 3, reports.Handler(), nullptr, 200);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(w.Watching());
    EXPECT_EQ(w.Path(), "");
    EXPECT_EQ(w.LastError(), "inotify のインスタンス数が上限に達しました");
    w.SetPath(dir.path.string());
    EXPECT_TRUE(w.Watching());
    EXPECT_EQ(w.LastError(), "");
    WriteFile(dir.path / "x", "x");
    EXPECT_TRUE(PumpUntil([&] { return reports.Count == 1; }, 5000));
}

// The tree's watcher: folder names in any of its folders (more than 61), not file names.
TEST(DirWatcher, FolderChangesInTheSet) {
    TempDir root;
    std::vector<std::string> set = {(root.path / "missing").string()};
    for (int i = 0; i < 70; ++i) {
        fs::create_directory(root.path / ("d" + std::to_string(100 + i)));
        set.push_back((root.path / ("d" + std::to_string(100 + i))).string());
    }
    set.push_back(set[1] + "/"); // the same folder again, already with its separator
    const auto baseline = WatchLines();
    std::atomic<int> reports{0};
    TShDirWatcher w(
        std::nullopt, 2, nullptr, [&](TShDirWatcher*) { ++reports; }, nullptr, 300);
    w.SetFolders(set);
    const auto folders = w.Folders();
    ASSERT_EQ(folders.size(), 70u);
    EXPECT_EQ(folders.front(), (root.path / "d100/").string());
    EXPECT_TRUE(std::is_sorted(folders.begin(), folders.end()));
    EXPECT_EQ(WatchLines().size(), baseline.size() + 70);

    WriteFile(root.path / "d100" / "file", "x");
    PumpFor(800);
    EXPECT_EQ(reports, 0);
    EXPECT_FALSE(w.Busy());

    fs::create_directory(root.path / "d169" / "new");
    bool busy = false;
    for (int i = 0; i < 1000 && !busy; ++i) {
        busy = w.Busy();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(busy);
    ASSERT_TRUE(PumpUntil([&] { return reports == 1; }, 5000));

    fs::remove(root.path / "d120"); // the watched folder itself goes
    ASSERT_TRUE(PumpUntil([&] { return reports == 2; }, 5000));
    EXPECT_EQ(w.Folders().size(), 69u);

    w.SetFolders(std::nullopt);
    EXPECT_TRUE(w.Folders().empty());
    EXPECT_EQ(WatchLines().size(), baseline.size());
    fs::create_directory(root.path / "d101" / "new");
    PumpFor(600);
    EXPECT_EQ(reports, 2);
}
