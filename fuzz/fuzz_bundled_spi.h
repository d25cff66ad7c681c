// The fuzz entry point shared by the targets of the bundled plug-ins (fuzz_spi_png.cpp,
// fuzz_spi_tiff.cpp, fuzz_spi_webp.cpp). Each target links one plug-in's code (ifpng_code, ...),
// so the ABI functions called here are that plug-in's. Besides "no crash", it checks:
//   - failure leaves both block pointers NULL; success gives blocks as the ABI describes them
//     (40-byte header, 24 bits, biSizeImage = rows x stride, within the fuzzing caps), and the
//     whole pixel block is read, so a short block shows under AddressSanitizer;
//   - progress starts at 0, never goes back or changes its total, and ends at the height;
//   - the same bytes read from a file behind a 128-byte prefix give the same result and the
//     same blocks as the memory input;
//   - a picture that decodes is claimed by IsSupported.
#pragma once

#define PICTOR_SPI_PLUGIN
#include "plugins/spi_abi.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "bundled plug-in oracle failed: %s\n", what);
    std::abort();
}

struct ProgressLog {
    int calls = 0;
    int32_t last = 0, total = 0;
};

int32_t LogProgress(int32_t num, int32_t denom, intptr_t data) {
    auto* log = reinterpret_cast<ProgressLog*>(data);
    if (log->calls == 0 ? num != 0 : denom != log->total || num < log->last)
        Broken("progress does not start at 0, goes back or changes its total");
    if (num > denom) Broken("progress beyond its total");
    log->last = num;
    log->total = denom;
    ++log->calls;
    return 0;
}

struct Decoded {
    int32_t result = 0;
    std::vector<uint8_t> info, bits;
};

Decoded Decode(const char* buf, intptr_t len, uint32_t flag) {
    void* info = &info; // must be overwritten either way
    void* bits = &bits;
    ProgressLog log;
    Decoded d;
    d.result = GetPicture(buf, len, flag, &info, &bits, LogProgress, intptr_t(&log));
    if (d.result != 0) {
        if (info || bits) Broken("blocks left after a failure");
        return d;
    }
    if (!info || !bits) Broken("success without blocks");
    const auto* h = static_cast<const PictorBitmapInfoHeader*>(info);
    if (h->biSize != 40 || h->biBitCount != 24 || h->biPlanes != 1 || h->biWidth <= 0 ||
        h->biHeight <= 0 || int64_t(h->biWidth) * h->biHeight > (int64_t(1) << 22))
        Broken("bad header");
    const size_t stride = (size_t(h->biWidth) * 3 + 3) & ~size_t(3);
    if (h->biSizeImage != stride * size_t(h->biHeight)) Broken("biSizeImage is not rows x stride");
    if (log.calls < 2 || log.last != h->biHeight || log.total != h->biHeight)
        Broken("progress does not end at the height");
    const auto* p = static_cast<const uint8_t*>(bits);
    for (size_t y = 0; y < size_t(h->biHeight); ++y)
        for (size_t i = size_t(h->biWidth) * 3; i < stride; ++i)
            if (p[y * stride + i] != 0) Broken("row padding not zero");
    d.info.assign(static_cast<const uint8_t*>(info), static_cast<const uint8_t*>(info) + 40);
    d.bits.assign(p, p + h->biSizeImage);
    std::free(info);
    std::free(bits);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    PictorPictureInfo info{};
    if (GetPictureInfo(bytes, intptr_t(size), PICTOR_SPI_INPUT_MEMORY, &info) == 0)
        std::free(info.info_text);
    const Decoded memory = Decode(bytes, intptr_t(size), PICTOR_SPI_INPUT_MEMORY);

    const int fd = ::memfd_create("spi-fuzz", MFD_CLOEXEC);
    if (fd < 0) Broken("memfd_create");
    const std::string prefix(128, 'M');
    if (::write(fd, prefix.data(), prefix.size()) != ssize_t(prefix.size()) ||
        (size && ::write(fd, data, size) != ssize_t(size)))
        Broken("write");
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const Decoded file = Decode(path.c_str(), 128, PICTOR_SPI_INPUT_FILE);
    ::close(fd);
    if (file.result != memory.result || file.info != memory.info || file.bits != memory.bits)
        Broken("file and memory input disagree");

    std::vector<char> header(2048, 0);
    std::copy_n(bytes, std::min(size, header.size()), header.begin());
    if (memory.result == 0 && !IsSupported("fuzz", header.data()))
        Broken("a picture that decodes is not claimed");
    return 0;
}
