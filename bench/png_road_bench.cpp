// Loading a PNG the way the program does, through the bundled plug-in, against decoding the
// same file with libpng alone:
//   BM_LibpngDirect     libpng's simplified API, file to a reused BGR(A) buffer
//   BM_PluginGetPicture ifpng.spi's GetPicture on the file name, blocks freed (plug-in alone)
//   BM_PluginRoad       TPictureFormats::Instance().LoadPicture(path): the registry's class for
//                       "png", announced when the registry loaded ifpng.spi (TSPIBitmap: plug-in
//                       candidates, GetPicture, DIB checks, DIB -> BMP -> Bitmap)
// Argument 0: a photo-like 2000 x 1500 RGB picture; 1: the same with an alpha channel. Both
// are written at start into a temporary folder. Compare the medians of the repetitions.
#include "core/Bitmap.h"
#include "core/PictureFormats.h"
#include "plugins/SPIBmp.h"
#include "plugins/SPIs.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

struct Files {
    fs::path dir;
    std::string path[2]; // RGB, RGBA
    ~Files() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// Smooth shapes and gradients with sensor-like noise, so the deflate data is about as dense
// as a photo's; the alpha version fades from opaque to clear with a soft hole.
std::string WritePhoto(const fs::path& path, int w, int h, bool alpha) {
    const int channels = alpha ? 4 : 3;
    std::vector<uint8_t> px(size_t(w) * h * channels);
    std::mt19937 rng(2024);
    std::normal_distribution<float> noise(0.f, 3.f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(size_t(y) * w + x) * channels];
            const float fx = float(x) / w, fy = float(y) / h;
            const float shade = 0.5f + 0.5f * std::sin(fx * 7.f + std::cos(fy * 5.f) * 2.f);
            const float base[3] = {60 + 150 * fy, 40 + 170 * shade, 200 - 150 * fx * fy};
            for (int c = 0; c < 3; ++c)
                p[c] = uint8_t(std::clamp(base[c] + noise(rng), 0.f, 255.f));
            if (alpha) {
                const float d = std::hypot(fx - 0.5f, fy - 0.5f);
                p[3] = uint8_t(
                    std::clamp(255.f * (1.f - fx * 0.7f) * std::min(1.f, d * 4.f), 0.f, 255.f));
            }
        }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = uint32_t(w);
    image.height = uint32_t(h);
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    if (!png_image_write_to_file(&image, path.c_str(), 0, px.data(), 0, nullptr)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), image.message);
        std::exit(1);
    }
    return path.string();
}

Files& Pictures() {
    static Files files = [] {
        Files f;
        std::string tmpl = (fs::temp_directory_path() / "pictor-png-road-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::exit(1);
        f.dir = tmpl;
        f.path[0] = WritePhoto(f.dir / "photo.png", 2000, 1500, false);
        f.path[1] = WritePhoto(f.dir / "photo-alpha.png", 2000, 1500, true);
        return f;
    }();
    return files;
}

void BM_LibpngDirect(benchmark::State& state) {
    const std::string& path = Pictures().path[state.range(0)];
    std::vector<uint8_t> buffer;
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str())) {
            state.SkipWithError(image.message);
            break;
        }
        image.format = state.range(0) ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
        buffer.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) {
            state.SkipWithError(image.message);
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

TInSPI* PngPlugin() {
    for (int i = 0; i < TSPIs::Current()->Count(); ++i)
        if (auto* spi = dynamic_cast<TInSPI*>(&TSPIs::Current()->Items(i));
            spi && fs::path(spi->FileName()).filename() == "ifpng.spi")
            return spi;
    return nullptr;
}

void BM_PluginGetPicture(benchmark::State& state) {
    const std::string& path = Pictures().path[state.range(0)];
    const PictorGetPictureFn getPicture = PngPlugin()->GetPicture();
    for (auto _ : state) {
        void* info = nullptr;
        void* bits = nullptr;
        if (getPicture(path.c_str(), 0, PICTOR_SPI_INPUT_FILE, &info, &bits, nullptr, 0) != 0) {
            state.SkipWithError("GetPicture failed");
            break;
        }
        benchmark::DoNotOptimize(bits);
        std::free(info);
        std::free(bits);
    }
}

void BM_PluginRoad(benchmark::State& state) {
    const std::string& path = Pictures().path[state.range(0)];
    for (auto _ : state) {
        Bitmap b = TPictureFormats::Instance().LoadPicture(path);
        benchmark::DoNotOptimize(b.Bits().data());
    }
}

void Inputs(benchmark::internal::Benchmark* b) {
    b->ArgName("alpha")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_LibpngDirect)->Apply(Inputs);
BENCHMARK(BM_PluginGetPicture)->Apply(Inputs);
BENCHMARK(BM_PluginRoad)->Apply(Inputs);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Pictures();
    // The registry as the program sets it up: the plug-in graphic class first, then the search
    // of the folder the bundled plug-ins are built into.
    InitSPIGraphics();
    auto spis = std::make_unique<TSPIs>();
    spis->AutoSearch = false;
    spis->Search(std::string(PICTOR_BUNDLED_SPI_DIR) + "/*.spi");
    const TPictureFormat* png = TPictureFormats::Instance().Find("png");
    if (!PngPlugin() || !png || png->GraphicClass != SPIBitmapGraphicClass()) {
        std::fprintf(stderr, "ifpng.spi is not registered for .png (searched %s)\n",
                     PICTOR_BUNDLED_SPI_DIR);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    spis.reset();
    DoneSPIGraphics();
    return 0;
}
