// JPEG decoding, full size and 1/2, 1/4, 1/8: plain libjpeg-turbo into a reused buffer, our
// reader (into a kept bitmap and into a new one each time) and Qt's image reader, on the same
// bytes in one run.
//
// Pictures: the *.jpg of $PICTOR_BENCH_DATA/jpeg12mp (made by the shared make-corpus.sh), taken
// in turn; without that variable one 4000 x 3000 photo-like q90 4:2:0 JPEG made at start.
#include "core/JpegCodec.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

using namespace pictor;
using Bytes = std::vector<uint8_t>;

namespace {

// Smooth shapes and gradients with sensor-like noise, so the entropy data is about as dense
// as a camera's at q90.
Bytes MakePhoto(int w, int h) {
    Bitmap b(w, h, TPixelFormat::pf24bit);
    std::mt19937 rng(2024);
    std::normal_distribution<float> noise(0.f, 8.5f);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const float fx = float(x) / float(w), fy = float(y) / float(h);
            const float shade = 0.5f + 0.5f * std::sin(9.f * fx + 4.f * std::cos(7.f * fy));
            const float v[3] = {60 + 120 * fy * shade + 40 * std::sin(40 * fx * fy),
                                90 + 110 * shade + 30 * std::cos(25 * fx),
                                40 + 150 * fx * (1 - shade) + 25 * std::sin(33 * fy)};
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = uint8_t(std::clamp(v[c] + noise(rng), 0.f, 255.f));
        }
    }
    return WriteJpeg(b, 90);
}

const std::vector<Bytes>& Pictures() {
    static const std::vector<Bytes> pictures = [] {
        std::vector<Bytes> list;
        if (const char* dir = std::getenv("PICTOR_BENCH_DATA")) {
            std::vector<std::filesystem::path> paths;
            for (const auto& e : std::filesystem::directory_iterator(
                     std::filesystem::path(dir) / "jpeg12mp"))
                if (e.path().extension() == ".jpg") paths.push_back(e.path());
            std::sort(paths.begin(), paths.end());
            for (const auto& p : paths) {
                std::ifstream in(p, std::ios::binary);
                list.emplace_back(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
            }
        }
        if (list.empty()) list.push_back(MakePhoto(4000, 3000));
        size_t total = 0;
        for (const Bytes& b : list)
            total += b.size();
        std::fprintf(stderr, "%zu picture(s), %.2f MB on average\n", list.size(),
                     double(total) / double(list.size()) / 1e6);
        return list;
    }();
    return pictures;
}

const Bytes& Next(size_t& i) {
    const auto& all = Pictures();
    return all[i++ % all.size()];
}

// What a program using libjpeg-turbo directly does: default settings, BGR output rows written
// straight into a buffer it keeps.
void BM_PlainLibjpeg(benchmark::State& state) {
    const unsigned denom = unsigned(state.range(0));
    std::vector<uint8_t> buffer;
    std::vector<JSAMPROW> rows;
    size_t i = 0;
    for (auto _ : state) {
        const Bytes& file = Next(i);
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), file.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.scale_num = 1;
        cinfo.scale_denom = denom;
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        const size_t stride = (size_t(cinfo.output_width) * 3 + 3) & ~size_t(3);
        if (buffer.size() < stride * cinfo.output_height)
            buffer.resize(stride * cinfo.output_height);
        rows.resize(cinfo.output_height);
        for (unsigned y = 0; y < cinfo.output_height; ++y)
            rows[y] = buffer.data() + y * stride;
        while (cinfo.output_scanline < cinfo.output_height)
            jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                                cinfo.output_height - cinfo.output_scanline);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_ReadJpegInto(benchmark::State& state) {
    const int denom = int(state.range(0));
    Bitmap kept;
    size_t i = 0;
    for (auto _ : state) {
        ReadJpegInto(Next(i), kept, denom);
        benchmark::DoNotOptimize(kept.Bits().data());
    }
}

void BM_ReadJpegNewBitmap(benchmark::State& state) {
    const int denom = int(state.range(0));
    size_t i = 0;
    for (auto _ : state) {
        Bitmap b = ReadJpeg(Next(i), denom);
        benchmark::DoNotOptimize(b.Bits().data());
    }
}

void BM_QImageReader(benchmark::State& state) {
    const int denom = int(state.range(0));
    size_t i = 0;
    for (auto _ : state) {
        const Bytes& file = Next(i);
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()),
                                                   qsizetype(file.size()));
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        QImageReader reader(&device, "jpeg");
        if (denom > 1) {
            const QSize full = reader.size();
            reader.setScaledSize(QSize((full.width() + denom - 1) / denom,
                                       (full.height() + denom - 1) / denom));
        }
        QImage image = reader.read();
        if (image.isNull()) {
            state.SkipWithError(reader.errorString().toStdString().c_str());
            break;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

void Scales(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PlainLibjpeg)->Apply(Scales);
BENCHMARK(BM_ReadJpegInto)->Apply(Scales);
BENCHMARK(BM_ReadJpegNewBitmap)->Apply(Scales);
BENCHMARK(BM_QImageReader)->Apply(Scales);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Pictures(); // made or read before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
