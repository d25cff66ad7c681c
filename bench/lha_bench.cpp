// The LHA writer on a 50 MB mix of the kinds of files users pack: about 21 MiB of text
// (documentation under /usr/share/doc), 21 MiB of programs (/usr/bin) and the pictures and
// drawings of ../shared/testdata (~8 MiB). The files are copied once, in sorted order, into
// /tmp/pictor-lha-bench/corpus, so every run on this machine packs the same bytes.
//   BM_WriteArchive     TLhaWriter: all files into one archive (MB/s of input; counters give
//                       the archive size and the summed member data)
//   BM_Lh5Text/Programs/Pictures   the -lh5- encoder alone on each part, in memory
//   BM_JlhaReference    once: jlha (jlha-utils) packs the same files with -lh5-, level 2;
//                       counters: both archive sizes, ours relative to jlha's in percent
#include "lha/LhaHeader.h"
#include "lha/LhaWriter.h"
#include "lha/Lh5Encoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace pictor::lha;
namespace fs = std::filesystem;

namespace {

const fs::path kRoot = "/tmp/pictor-lha-bench";
constexpr uintmax_t kMiB = 1024 * 1024;

struct Corpus {
    std::vector<fs::path> files[3]; // text, programs, pictures
    std::vector<fs::path> all;
    uintmax_t bytes[3] = {};
    uintmax_t total = 0;
};

bool LooksLikeText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    char head[4096];
    in.read(head, sizeof head);
    const std::streamsize n = in.gcount();
    return n > 0 && std::find(head, head + n, '\0') == head + n;
}

bool IsElf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    char head[4] = {};
    in.read(head, 4);
    return in.gcount() == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0;
}

std::vector<fs::path> Sorted(const fs::path& dir, bool recursive) {
    std::vector<fs::path> v;
    std::error_code ec;
    if (recursive) {
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) v.push_back(it->path());
    } else {
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file(ec) && !e.is_symlink(ec)) v.push_back(e.path());
    }
    std::sort(v.begin(), v.end());
    return v;
}

const Corpus& TheCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const fs::path dir = kRoot / "corpus";
        fs::remove_all(dir);
        fs::create_directories(dir);
        int serial = 0;
        auto take = [&](int kind, const fs::path& src) {
            const fs::path dst = dir / (std::to_string(10000 + serial++) + "-" +
                                        src.filename().string());
            fs::copy_file(src, dst);
            c.files[kind].push_back(dst);
            c.all.push_back(dst);
            c.bytes[kind] += fs::file_size(dst);
        };
        const uintmax_t quota = 21 * kMiB;
        for (const fs::path& p : Sorted("/usr/share/doc", true)) {
            const std::string ext = p.extension().string();
            if (c.bytes[0] >= quota) break;
            if (ext == ".gz" || ext == ".png" || ext == ".gif" || ext == ".jpg" ||
                fs::file_size(p) < 4096 || fs::file_size(p) > 2 * kMiB || !LooksLikeText(p))
                continue;
            take(0, p);
        }
        for (const fs::path& p : Sorted("/usr/bin", false)) {
            if (c.bytes[1] >= quota) break;
            if (fs::file_size(p) < 16384 || fs::file_size(p) > 4 * kMiB || !IsElf(p)) continue;
            take(1, p);
        }
        for (const fs::path& p : Sorted(PICTOR_BENCH_TESTDATA, true)) {
            const std::string path = p.string();
            if (path.find("/archives/") != std::string::npos || p.extension() == ".md") continue;
            take(2, p);
        }
        c.total = c.bytes[0] + c.bytes[1] + c.bytes[2];
        std::fprintf(stderr, "corpus: %zu files, text %.1f MiB, programs %.1f MiB, pictures %.1f MiB\n",
                     c.all.size(), double(c.bytes[0]) / kMiB, double(c.bytes[1]) / kMiB,
                     double(c.bytes[2]) / kMiB);
        return c;
    }();
    return corpus;
}

struct ArchiveSizes {
    uintmax_t archive = 0, packed = 0;
    size_t members = 0;
};

ArchiveSizes Measure(const fs::path& archive) {
    ArchiveSizes s;
    s.archive = fs::file_size(archive);
    FILE* f = std::fopen(archive.c_str(), "rb");
    const auto members = ScanArchive(
        [f](uint64_t offset, void* buffer, size_t size) -> size_t {
            std::fseek(f, long(offset), SEEK_SET);
            return std::fread(buffer, 1, size, f);
        },
        s.archive);
    std::fclose(f);
    for (const TArchiveMember& m : members) s.packed += m.PackedSize;
    s.members = members.size();
    return s;
}

ArchiveSizes WriteOurs(const fs::path& archive) {
    fs::remove(archive);
    TLhaWriter w(archive.string());
    for (const fs::path& p : TheCorpus().all) w.AddFile(p.string(), p.filename().string());
    w.Finish();
    return Measure(archive);
}

void BM_WriteArchive(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    const fs::path archive = kRoot / "ours.lzh";
    ArchiveSizes s;
    for (auto _ : state) s = WriteOurs(archive);
    state.SetBytesProcessed(int64_t(state.iterations() * c.total));
    state.counters["input_bytes"] = double(c.total);
    state.counters["archive_bytes"] = double(s.archive);
    state.counters["packed_bytes"] = double(s.packed);
    state.counters["ratio_pct"] = 100.0 * double(s.archive) / double(c.total);
}
BENCHMARK(BM_WriteArchive)->Unit(benchmark::kMillisecond)->UseRealTime();

void EncodePart(benchmark::State& state, int kind) {
    const Corpus& c = TheCorpus();
    std::vector<std::vector<uint8_t>> data;
    for (const fs::path& p : c.files[kind]) {
        std::ifstream in(p, std::ios::binary);
        data.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    uint64_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& d : data) packed += CompressLh5(d).size();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * c.bytes[kind]));
    state.counters["input_bytes"] = double(c.bytes[kind]);
    state.counters["lh5_bytes"] = double(packed);
}
void BM_Lh5Text(benchmark::State& state) { EncodePart(state, 0); }
void BM_Lh5Programs(benchmark::State& state) { EncodePart(state, 1); }
void BM_Lh5Pictures(benchmark::State& state) { EncodePart(state, 2); }
BENCHMARK(BM_Lh5Text)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lh5Programs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lh5Pictures)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JlhaReference(benchmark::State& state) {
    const Corpus& c = TheCorpus();
    const fs::path theirs = kRoot / "jlha.lzh";
    if (std::system("command -v jlha >/dev/null 2>&1") != 0) {
        state.SkipWithError("jlha is not installed (apt-get install jlha-utils)");
        return;
    }
    for (auto _ : state) {
        fs::remove(theirs);
        // "c": create; "o5": -lh5-; "2": header level 2; "q": quiet.
        const std::string cmd = "cd '" + (kRoot / "corpus").string() + "' && jlha cqo52 '" +
                                theirs.string() + "' * >/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("jlha failed");
            return;
        }
    }
    const ArchiveSizes j = Measure(theirs);
    const ArchiveSizes o = WriteOurs(kRoot / "ours.lzh");
    state.SetBytesProcessed(int64_t(state.iterations() * c.total));
    state.counters["jlha_archive"] = double(j.archive);
    state.counters["jlha_packed"] = double(j.packed);
    state.counters["ours_archive"] = double(o.archive);
    state.counters["ours_packed"] = double(o.packed);
    state.counters["ours_vs_jlha_pct"] = 100.0 * (double(o.archive) / double(j.archive) - 1.0);
    state.counters["members"] = double(j.members);
}
BENCHMARK(BM_JlhaReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
