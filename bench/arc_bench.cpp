// Extraction through the archiver libraries (the command function with the program's own
// command lines) side by side with `bsdtar -x` as a whole process on the same archives.
// Archives and output live in /dev/shm when it exists, so the disk does not decide.
//
//   photos.zip / photos.tgz / photos.lzh : 24 files of 1 MiB (half noise, half smooth)
//   small.tar                           : 4,000 files of 4 KiB in 40 folders
#include "ArchiverEntry.h"
#include "lha/LhaWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace pictor::arc;

namespace {

struct TData {
    fs::path Dir;
    TData() {
        const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        Dir = base / ("pictor-arc-bench-" + std::to_string(getpid()));
        fs::create_directories(Dir / "src");
        std::mt19937 rng(7);
        std::vector<std::pair<std::string, std::string>> photos;
        for (int i = 0; i < 24; ++i) {
            std::string data(1 << 20, '\0');
            for (size_t k = 0; k < data.size(); ++k)
                data[k] = k < data.size() / 2 ? char(rng()) : char((k / 64 + i) & 0xFF);
            photos.emplace_back("photo" + std::to_string(i) + ".bmp", std::move(data));
        }
        Write("photos.zip", ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, photos);
        Write("photos.tgz", ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_GZIP, photos);
        std::vector<std::pair<std::string, std::string>> small;
        for (int i = 0; i < 4000; ++i)
            small.emplace_back("d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt",
                               std::string(4096, char('a' + i % 26)));
        Write("small.tar", ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, small);
        // LHA through our own writer (the program's compress command).
        for (const auto& [name, data] : photos) {
            FILE* f = std::fopen((Dir / "src" / name).c_str(), "wb");
            std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
        }
        pictor::lha::TLhaWriter writer((Dir / "photos.lzh").string());
        for (const auto& [name, data] : photos)
            writer.AddFile((Dir / "src" / name).string(), name);
        writer.Finish();
    }
    ~TData() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    void Write(const std::string& name, int format, int filter,
               const std::vector<std::pair<std::string, std::string>>& files) {
        archive* a = archive_write_new();
        archive_write_set_format(a, format);
        if (filter != ARCHIVE_FILTER_NONE) archive_write_add_filter(a, filter);
        archive_write_open_filename(a, (Dir / name).c_str());
        for (const auto& [path, data] : files) {
            archive_entry* e = archive_entry_new();
            archive_entry_copy_pathname(e, path.c_str());
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_size(e, int64_t(data.size()));
            archive_entry_set_mtime(e, 1700000000, 0);
            archive_write_header(a, e);
            archive_write_data(a, data.data(), data.size());
            archive_entry_free(e);
        }
        archive_write_close(a);
        archive_write_free(a);
    }
};

TData& Data() {
    static TData data;
    return data;
}

struct TCase {
    const char* File;
    TArcKind Kind;
};
const TCase kCases[] = {{"photos.zip", TArcKind::Zip},
                        {"photos.tgz", TArcKind::Tar},
                        {"photos.lzh", TArcKind::Lha},
                        {"small.tar", TArcKind::Tar}};

std::string Line(const TCase& c, const fs::path& out) {
    const std::string a = (Data().Dir / c.File).string(), d = out.string();
    switch (c.Kind) {
    case TArcKind::Lha:
        return "x -jf1 \"" + a + "\" \"" + d + "\\B\\\" *.* -w" + d;
    case TArcKind::Zip:
        return "-u \"" + a + "\" \"" + d + "\\B\\\" *.* -w" + d;
    default:
        return "x -f \"" + a + "\" \"" + d + "\\B\\\" *.* " + d;
    }
}

void Library(benchmark::State& state) {
    const TCase& c = kCases[state.range(0)];
    const fs::path out = Data().Dir / "out-lib";
    const std::string line = Line(c, out);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
        if (api::Command(c.Kind, nullptr, line.c_str(), nullptr, 0) != 0)
            state.SkipWithError("extraction failed");
    }
    state.SetLabel(c.File);
}

void Bsdtar(benchmark::State& state) {
    const TCase& c = kCases[state.range(0)];
    const fs::path out = Data().Dir / "out-bsdtar";
    const std::string archive = (Data().Dir / c.File).string(), dir = out.string();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        const char* argv[] = {"bsdtar", "-xf", archive.c_str(), "-C", dir.c_str(), nullptr};
        pid_t pid;
        int status = 0;
        if (posix_spawnp(&pid, "bsdtar", nullptr, nullptr, const_cast<char**>(argv), environ) !=
                0 ||
            waitpid(pid, &status, 0) < 0 || status != 0)
            state.SkipWithError("bsdtar failed (is libarchive-tools installed?)");
    }
    state.SetLabel(c.File);
}

} // namespace

BENCHMARK(Library)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Bsdtar)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
