// Opening a 100,000-entry folder in the file-list model (enumerate, classify, stat once, sort
// by name, folder size), side by side with a plain readdir + stat + natural sort on
// precomputed keys and with GNU `ls -l` as a whole process; then re-sorting by size and date.
//
// Folder: $PICTOR_BENCH_DATA/dir100k (made by the shared make-corpus.sh).
#include "shell/ShellCtrls.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace pictor;

namespace {

std::string Folder() {
    const char* data = std::getenv("PICTOR_BENCH_DATA");
    return std::string(data && *data ? data : "/tmp/pictor-bench-data") + "/dir100k";
}

struct TBenchView : IShellListOwner {
    std::vector<bool> Selected;
    void SetRowCount(int n) override { Selected.assign(static_cast<std::size_t>(n), false); }
    bool RowSelected(int row) const override { return Selected[static_cast<std::size_t>(row)]; }
    void SetRowSelected(int row, bool s) override { Selected[static_cast<std::size_t>(row)] = s; }
    void SetAllRowsSelected(bool s) override { Selected.assign(Selected.size(), s); }
    int SelectedCount() const override {
        return static_cast<int>(std::count(Selected.begin(), Selected.end(), true));
    }
};

// Bytes in use on the heap (the items, their IDs, keys and the pointer array).
std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BM_FileListOpen(benchmark::State& state) {
    const std::string folder = Folder();
    const TItemIDList list = PathToIDList(folder);
    if (!TShellFolder::Bind(list)) {
        state.SkipWithError("dir100k missing: run make-corpus.sh and set PICTOR_BENCH_DATA");
        return;
    }
    TBenchView view;
    std::size_t before = 0, after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto model = std::make_unique<TShellFileList>(&view, false);
        before = HeapInUse();
        state.ResumeTiming();
        model->OpenFolder(list);
        benchmark::DoNotOptimize(model->TotalSize());
        state.PauseTiming();
        after = HeapInUse();
        state.counters["items"] = model->Count();
        model.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MiB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FileListOpen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

// The plain reference, on one thread: readdir, one stat per entry, the same byte keys from the
// same collator, folders first, then std::sort on the keys.
void BM_PlainReaddirStatSort(benchmark::State& state) {
    const std::string folder = Folder();
    struct Row {
        std::string Name;
        bool Dir;
        off_t Size;
        std::string Key;
    };
    for (auto _ : state) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            state.SkipWithError("dir100k missing");
            return;
        }
        std::vector<Row> rows;
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2])))
                continue;
            struct stat st;
            if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            rows.push_back({e->d_name, S_ISDIR(st.st_mode), st.st_size,
                            NameSortKey(QString::fromUtf8(e->d_name))});
        }
        ::closedir(dir);
        std::vector<const Row*> order;
        for (const Row& r : rows)
            order.push_back(&r);
        std::sort(order.begin(), order.end(), [](const Row* a, const Row* b) {
            if (a->Dir != b->Dir) return a->Dir;
            return a->Key < b->Key;
        });
        benchmark::DoNotOptimize(order.data());
    }
}
BENCHMARK(BM_PlainReaddirStatSort)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

// GNU ls -l on the same folder as a whole process (output to /dev/null).
void BM_LsLong(benchmark::State& state) {
    const std::string folder = Folder();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("ls"), const_cast<char*>("-l"),
                        const_cast<char*>(folder.c_str()), nullptr};
        pid_t pid;
        if (posix_spawnp(&pid, "ls", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start ls");
            return;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&actions);
    }
}
BENCHMARK(BM_LsLong)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

// Re-sorting the open folder by size, then by date (alternating keys, so each run sorts).
void BM_FileListResort(benchmark::State& state) {
    const TItemIDList list = PathToIDList(Folder());
    if (!TShellFolder::Bind(list)) {
        state.SkipWithError("dir100k missing");
        return;
    }
    TBenchView view;
    TShellFileList model(&view, false);
    model.OpenFolder(list);
    const int key = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        model.SortBy(ColName, true);
        state.ResumeTiming();
        model.SortBy(key, true);
    }
}
BENCHMARK(BM_FileListResort)
    ->Arg(ColSize)
    ->Arg(ColDate)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(7);

} // namespace

BENCHMARK_MAIN();
