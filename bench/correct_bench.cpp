// Colour correction and blending of a 24 MP (6000 x 4000) 24-bit picture:
//   BM_CorrectRows   the correction pass through row pointers, as the dialog's apply runs it
//                    (tables built each iteration, target rows preallocated)
//   BM_CorrectColors the bitmap convenience: a new corrected copy each iteration
//   BM_BlendRows     the blend through row pointers into a preallocated result
//   BM_BlendImages   the bitmap convenience: a new result bitmap each iteration
//   BM_CopyPicture   Bitmap::Copy alone: the floor for anything that returns a fresh 72 MB
//                    bitmap (allocation and first touch of new pages dominate)
// Argument: the number of threads for the row bands (1 = single thread). Rates are pixels.
#include "core/Bitmap.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ImageBlend.h"
#include "imaging/RowBands.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace pictor;

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

Bitmap Picture(unsigned seed) {
    Bitmap b(Width, Height, TPixelFormat::pf24bit);
    std::mt19937 rng(seed);
    for (int y = 0; y < Height; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < Width * 3; ++i)
            row[i] = uint8_t(rng() >> 11);
    }
    return b;
}

const Bitmap& SourcePicture() {
    static const Bitmap picture = Picture(1);
    return picture;
}
const Bitmap& SecondPicture() {
    static const Bitmap picture = Picture(2);
    return picture;
}

const TColorSettings Settings{20, -15, 5, 10, 60, 180};

std::vector<const uint8_t*> ConstRows(const Bitmap& b) {
    std::vector<const uint8_t*> rows(size_t(b.Height()));
    for (int y = 0; y < b.Height(); ++y)
        rows[size_t(y)] = b.ScanLine(y);
    return rows;
}

void BM_CorrectRows(benchmark::State& state) {
    state.counters["limit_MPix/s"] = 700;
    TRowBandThreads threads(int(state.range(0)));
    const auto sourceRows = ConstRows(SourcePicture());
    Bitmap target = SourcePicture().Copy();
    const auto targetRows = PrepareRows(target);
    for (auto _ : state) {
        CorrectRows(sourceRows.data(), targetRows.data(), Width, Height, MakeColorTables(Settings));
        benchmark::DoNotOptimize(target.ScanLine(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

void BM_CorrectColors(benchmark::State& state) {
    state.counters["limit_MPix/s"] = 700;
    TRowBandThreads threads(int(state.range(0)));
    for (auto _ : state) {
        Bitmap result = CorrectColors(SourcePicture(), Settings);
        benchmark::DoNotOptimize(result.ScanLine(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

void BM_BlendRows(benchmark::State& state) {
    state.counters["limit_MPix/s"] = 400;
    TRowBandThreads threads(int(state.range(0)));
    const auto objectRows = ConstRows(SourcePicture());
    const auto compositeRows = ConstRows(SecondPicture());
    Bitmap result(Width, Height, TPixelFormat::pf24bit);
    const auto resultRows = PrepareRows(result);
    for (auto _ : state) {
        BlendRows(objectRows.data(), compositeRows.data(), resultRows.data(), Width, Height, 3);
        benchmark::DoNotOptimize(result.ScanLine(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

void BM_BlendImages(benchmark::State& state) {
    state.counters["limit_MPix/s"] = 400;
    TRowBandThreads threads(int(state.range(0)));
    for (auto _ : state) {
        Bitmap result = BlendImages(SourcePicture(), SecondPicture(), 3);
        benchmark::DoNotOptimize(result.ScanLine(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

void BM_CopyPicture(benchmark::State& state) {
    for (auto _ : state) {
        Bitmap copy = SourcePicture().Copy();
        benchmark::DoNotOptimize(copy.ScanLine(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

} // namespace

BENCHMARK(BM_CorrectRows)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CorrectColors)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlendRows)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlendImages)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_CopyPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
