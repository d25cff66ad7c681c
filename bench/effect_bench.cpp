// The effect filters on a 24 MP (6000 x 4000) 24-bit photo-like picture: the whole call
// (working copy, new result bitmap, filter). items/s are pixels per second.
// Argument: threads given to SetRowBandThreads (1 = the single-threaded loop, 2 = two cores).
// BM_GrayPalette8 runs the grey filter on an 8-bit palette picture of the same size, to show
// the cost of the conversion into the 24-bit working copy; BM_NewResultBitmap constructs the
// 24 MP result bitmap alone, the part of every call that is not the filter's own loop.
#include "core/Bitmap.h"
#include "imaging/BitMapFilter.h"
#include "imaging/RowBands.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

using namespace pictor;

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

// Smooth gradients and shapes with sensor-like noise, so that flat areas, edges and noisy
// bytes all occur.
const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b(Width, Height, TPixelFormat::pf24bit);
        uint32_t seed = 12345;
        for (int y = 0; y < Height; ++y) {
            uint8_t* row = b.ScanLine(y);
            for (int x = 0; x < Width; ++x) {
                const float fx = float(x) / Width, fy = float(y) / Height;
                const float shade = 0.5f + 0.5f * std::sin(fx * 9.f + std::cos(fy * 7.f) * 3.f);
                const bool disc = (fx - 0.6f) * (fx - 0.6f) + (fy - 0.4f) * (fy - 0.4f) < 0.04f;
                const float base[3] = {40 + 170 * fy, disc ? 220.f : 30 + 190 * shade,
                                       210 - 160 * fx * fy};
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    const int noise = int(seed >> 28) - 8;
                    row[3 * x + c] = uint8_t(std::clamp(int(base[c]) + noise, 0, 255));
                }
            }
        }
        return b;
    }();
    return photo;
}

const Bitmap& Palette8() {
    static const Bitmap picture = [] {
        Bitmap b(Width, Height, TPixelFormat::pf8bit);
        for (int i = 0; i < 256; ++i)
            b.Palette()[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
        const Bitmap& photo = Photo();
        for (int y = 0; y < Height; ++y) {
            const uint8_t* src = photo.ScanLine(y);
            uint8_t* dst = b.ScanLine(y);
            for (int x = 0; x < Width; ++x)
                dst[x] = src[3 * x + 1];
        }
        return b;
    }();
    return picture;
}

// limit: the single-threaded speed asked of the filter, in MPix/s (0: none), printed beside
// items_per_second for comparison.
void Run(benchmark::State& state, const Bitmap& picture,
         const std::function<Bitmap(const Bitmap&)>& filter, double limit) {
    if (limit > 0) state.counters["limit_MPix/s"] = limit;
    const TRowBandThreads threads(int(state.range(0)));
    for (auto _ : state) {
        Bitmap result = filter(picture);
        benchmark::DoNotOptimize(result.Bits().data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * picture.Width() * picture.Height());
}

void BM_Gray(benchmark::State& s) {
    Run(s, Photo(), EffectGray, 700);
}
void BM_Sepia(benchmark::State& s) {
    Run(s, Photo(), EffectSepia, 700);
}
void BM_Negative(benchmark::State& s) {
    Run(s, Photo(), EffectNegative, 700);
}
void BM_Soft(benchmark::State& s) {
    Run(s, Photo(), EffectSoft, 560);
}
void BM_Sharp(benchmark::State& s) {
    Run(s, Photo(), EffectSharp, 200);
}
void BM_Emboss(benchmark::State& s) {
    Run(s, Photo(), [](const Bitmap& b) { return EffectEmboss(b, emEmboss); }, 200);
}
void BM_Relief(benchmark::State& s) {
    Run(s, Photo(), [](const Bitmap& b) { return EffectEmboss(b, emRelief); }, 200);
}
void BM_Sketch(benchmark::State& s) {
    Run(s, Photo(), [](const Bitmap& b) { return EffectEmboss(b, emSketch); }, 200);
}
void BM_ColorEmboss(benchmark::State& s) {
    Run(s, Photo(), [](const Bitmap& b) { return EffectEmboss(b, emColorEmboss); }, 200);
}
void BM_GrayPalette8(benchmark::State& s) {
    Run(s, Palette8(), EffectGray, 0);
}

// The part every filter shares: constructing the zero-filled 24 MP result bitmap.
void BM_NewResultBitmap(benchmark::State& state) {
    for (auto _ : state) {
        Bitmap result(Width, Height, TPixelFormat::pf24bit);
        benchmark::DoNotOptimize(result.Bits().data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Width * Height);
}

} // namespace

#define EFFECT_BENCH(name)                                                                         \
    BENCHMARK(name)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()
EFFECT_BENCH(BM_Gray);
EFFECT_BENCH(BM_Sepia);
EFFECT_BENCH(BM_Negative);
EFFECT_BENCH(BM_Soft);
EFFECT_BENCH(BM_Sharp);
EFFECT_BENCH(BM_Emboss);
EFFECT_BENCH(BM_Relief);
EFFECT_BENCH(BM_Sketch);
EFFECT_BENCH(BM_ColorEmboss);
EFFECT_BENCH(BM_GrayPalette8);
BENCHMARK(BM_NewResultBitmap)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
