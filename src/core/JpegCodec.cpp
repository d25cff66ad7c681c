#include "core/JpegCodec.h"

#include "core/FileIO.h"
#include "core/PictureFormats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

// libjpeg reports fatal errors through a callback that must not return. Throwing a C++
// exception through libjpeg's C frames is undefined, so the callback longjmps back to the
// function that called setjmp. Those functions (the Try* ones below) hold no object with a
// destructor, and nothing they change after setjmp is read after the jump; the C++ callers
// turn a false result into an exception and release the libjpeg objects through guards.

namespace pictor {

namespace {

// The fuzzer runs many inputs per second; smaller caps keep each one quick and within the
// fuzzer's memory limit. The checks themselves are the same.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxReadPixels = int64_t(1) << 20;
constexpr int MaxScans = 100;
constexpr long MaxDecoderMemory = 256L << 20;
#else
constexpr int64_t MaxReadPixels = Bitmap::MaxPixels;
// Real progressive files have about 10 scans; thousands of tiny scans make a small file take
// minutes, since every scan walks the whole frame.
constexpr int MaxScans = 500;
// libjpeg's own buffers, chiefly the whole-frame coefficient store of progressive and
// multi-scan files (2 bytes per sample). A tiny file may claim a frame that needs gigabytes.
constexpr long MaxDecoderMemory = 1024L << 20;
#endif

struct TErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 64];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
    if (err->pub.msg_code == JERR_NO_BACKING_STORE)
        std::snprintf(err->message, sizeof err->message,
                      "the picture needs more than %ld MiB of decoder memory",
                      MaxDecoderMemory >> 20);
    else
        (*err->pub.format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (damaged entropy data, an early end of file) are counted, not printed: libjpeg
// carries on and the picture is shown. Trace messages are dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

void OutputMessage(j_common_ptr) {}

void InitErrors(TErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    err.message[0] = 0;
}

// Everything one decode needs, in plain C objects. Zeroed before use, so destroying it is
// safe whether or not jpeg_create_decompress ran.
struct TDecoder {
    jpeg_decompress_struct cinfo;
    TErrorManager err;
    jpeg_progress_mgr progress;
};

// Called by libjpeg at least once per scan while it reads a multi-scan file.
void ProgressMonitor(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > MaxScans) {
        auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "the file has more than %d scans",
                      MaxScans);
        std::longjmp(err->jump, 1);
    }
}

// Creates the decoder, reads the headers up to the first scan and works out the output size
// and colour conversion for 1/scaleDenom (scaleDenom 0: the headers only).
bool TryOpen(TDecoder& d, const uint8_t* data, size_t size, int scaleDenom) {
    d.cinfo.err = &d.err.pub;
    if (setjmp(d.err.jump)) return false;
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.mem->max_memory_to_use = MaxDecoderMemory;
    d.progress.progress_monitor = ProgressMonitor;
    d.cinfo.progress = &d.progress;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    if (scaleDenom == 0) return true;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned>(scaleDenom);
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_RGB:
    case JCS_YCbCr:
        d.cinfo.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d.cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        std::snprintf(d.err.message, sizeof d.err.message,
                      "unsupported colour space with %d components", d.cinfo.num_components);
        return false;
    }
    jpeg_calc_output_dimensions(&d.cinfo);
    return true;
}

// Sets up decompression; progressive and multi-scan files are read whole here.
bool TryStart(TDecoder& d) {
    if (setjmp(d.err.jump)) return false;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

// Adobe programs store CMYK inverted (0 = full ink); others store it plain.
void CmykToBgr(const uint8_t* src, uint8_t* dst, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[0] = uint8_t((y * k + 127) / 255);
        dst[1] = uint8_t((m * k + 127) / 255);
        dst[2] = uint8_t((c * k + 127) / 255);
    }
}

// Decodes every output row straight into the bitmap's rows (top-down, `stride` apart).
bool TryReadRows(TDecoder& d, uint8_t* bits, size_t stride) {
    if (setjmp(d.err.jump)) return false;
    j_decompress_ptr cinfo = &d.cinfo;
    const unsigned height = cinfo->output_height;
    if (cinfo->out_color_space == JCS_CMYK) {
        JSAMPARRAY cmyk = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                      JPOOL_IMAGE, cinfo->output_width * 4, 1);
        const bool inverted = cinfo->saw_Adobe_marker;
        while (cinfo->output_scanline < height) {
            const unsigned row = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, cmyk, 1) != 1) break;
            CmykToBgr(cmyk[0], bits + row * stride, cinfo->output_width, inverted);
        }
    } else {
        JSAMPROW rows[16];
        while (cinfo->output_scanline < height) {
            const unsigned first = cinfo->output_scanline;
            const unsigned n = std::min(16u, height - first);
            for (unsigned i = 0; i < n; ++i)
                rows[i] = bits + (first + i) * stride;
            if (jpeg_read_scanlines(cinfo, rows, n) == 0) break;
        }
    }
    if (cinfo->output_scanline < height) {
        // Only a suspending source returns no rows; ours never suspends.
        std::snprintf(d.err.message, sizeof d.err.message, "the decoder stopped at row %u",
                      cinfo->output_scanline);
        return false;
    }
    // The picture is complete; what follows its last row is not read (trailing scans or
    // junk would only turn a shown picture into an error).
    return true;
}

// Owns a TDecoder for the C++ side; the libjpeg objects are released on every path.
class TDecoderGuard {
public:
    TDecoderGuard() {
        std::memset(&FDecoder, 0, sizeof FDecoder);
        InitErrors(FDecoder.err);
    }
    ~TDecoderGuard() { jpeg_destroy_decompress(&FDecoder.cinfo); }
    TDecoderGuard(const TDecoderGuard&) = delete;
    TDecoderGuard& operator=(const TDecoderGuard&) = delete;
    TDecoder& operator*() { return FDecoder; }

private:
    TDecoder FDecoder;
};

[[noreturn]] void Fail(const std::string& reason) {
    throw EJpegError("JPEG image is not valid: " + reason);
}

void CheckScale(int scaleDenom) {
    if (scaleDenom != 1 && scaleDenom != 2 && scaleDenom != 4 && scaleDenom != 8)
        throw EInvalidGraphic("JPEG scale 1/" + std::to_string(scaleDenom) +
                              " is not supported (1, 2, 4 or 8)");
}

// Reads the headers and checks the frame against the caps.
void Open(TDecoder& d, std::span<const uint8_t> data, int scaleDenom) {
    CheckScale(scaleDenom);
    if (data.empty()) Fail("the file is empty");
    if (!TryOpen(d, data.data(), data.size(), scaleDenom)) Fail(d.err.message);
    const int64_t w = d.cinfo.image_width;
    const int64_t h = d.cinfo.image_height;
    if (w > Bitmap::MaxSide || h > Bitmap::MaxSide || w * h > MaxReadPixels)
        Fail("the picture size " + std::to_string(w) + "x" + std::to_string(h) +
             " exceeds the supported limit");
}

// Output buffer of the encoder: malloc'ed and grown by libjpeg's callback, freed by its owner.
struct TMemoryDestination {
    jpeg_destination_mgr pub; // first, so cinfo->dest points to the whole
    uint8_t* buffer;
    size_t capacity;
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = dest->capacity;
}

// libjpeg calls this with the whole buffer full.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    const size_t grown = dest->capacity * 2;
    auto* bigger = static_cast<uint8_t*>(std::realloc(dest->buffer, grown));
    if (!bigger) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 99);
        return FALSE; // not reached: error_exit jumps
    }
    dest->pub.next_output_byte = bigger + dest->capacity;
    dest->pub.free_in_buffer = grown - dest->capacity;
    dest->buffer = bigger;
    dest->capacity = grown;
    return TRUE;
}

void TermDestination(j_compress_ptr) {}

struct TEncoder {
    jpeg_compress_struct cinfo;
    TErrorManager err;
    TMemoryDestination dest;
};

bool TryEncode(TEncoder& e, const uint8_t* bits, size_t stride, int width, int height,
               bool fourBytes, int quality) {
    e.cinfo.err = &e.err.pub;
    if (setjmp(e.err.jump)) return false;
    jpeg_create_compress(&e.cinfo);
    e.dest.pub.init_destination = InitDestination;
    e.dest.pub.empty_output_buffer = EmptyOutputBuffer;
    e.dest.pub.term_destination = TermDestination;
    e.cinfo.dest = &e.dest.pub;
    e.cinfo.image_width = static_cast<JDIMENSION>(width);
    e.cinfo.image_height = static_cast<JDIMENSION>(height);
    e.cinfo.input_components = fourBytes ? 4 : 3;
    e.cinfo.in_color_space = fourBytes ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&e.cinfo);
    jpeg_set_quality(&e.cinfo, quality, TRUE);
    jpeg_start_compress(&e.cinfo, TRUE);
    JSAMPROW rows[16];
    while (e.cinfo.next_scanline < e.cinfo.image_height) {
        const unsigned first = e.cinfo.next_scanline;
        const unsigned n = std::min(16u, e.cinfo.image_height - first);
        for (unsigned i = 0; i < n; ++i)
            rows[i] = const_cast<uint8_t*>(bits + (first + i) * stride);
        jpeg_write_scanlines(&e.cinfo, rows, n);
    }
    jpeg_finish_compress(&e.cinfo);
    return true;
}

class TEncoderGuard {
public:
    TEncoderGuard() {
        std::memset(&FEncoder, 0, sizeof FEncoder);
        InitErrors(FEncoder.err);
    }
    ~TEncoderGuard() {
        jpeg_destroy_compress(&FEncoder.cinfo);
        std::free(FEncoder.dest.buffer);
    }
    TEncoderGuard(const TEncoderGuard&) = delete;
    TEncoderGuard& operator=(const TEncoderGuard&) = delete;
    TEncoder& operator*() { return FEncoder; }

private:
    TEncoder FEncoder;
};


} // namespace

bool ReadJpegHeaderSize(std::span<const uint8_t> data, int& width, int& height) {
    if (data.empty()) return false;
    TDecoderGuard guard;
    TDecoder& d = *guard;
    if (!TryOpen(d, data.data(), data.size(), 0)) return false;
    width = int(d.cinfo.image_width);
    height = int(d.cinfo.image_height);
    return true;
}

void JpegScaledSize(int width, int height, int scaleDenom, int& scaledWidth,
                    int& scaledHeight) {
    CheckScale(scaleDenom);
    scaledWidth = int((int64_t(width) + scaleDenom - 1) / scaleDenom);
    scaledHeight = int((int64_t(height) + scaleDenom - 1) / scaleDenom);
}

void ReadJpegInto(std::span<const uint8_t> data, Bitmap& reuse, int scaleDenom) {
    TDecoderGuard guard;
    TDecoder& d = *guard;
    try {
        Open(d, data, scaleDenom);
        // Before the bitmap exists: a multi-scan file that needs too much memory is refused
        // here without having cleared a large picture first.
        if (!TryStart(d)) Fail(d.err.message);
        const int w = int(d.cinfo.output_width);
        const int h = int(d.cinfo.output_height);
        if (reuse.PixelFormat() != TPixelFormat::pf24bit || reuse.Width() != w ||
            reuse.Height() != h) {
            reuse = Bitmap(); // the old buffer goes before the new one is made
            reuse = Bitmap(w, h, TPixelFormat::pf24bit);
        }
        if (!TryReadRows(d, reuse.ScanLine(0), reuse.Stride())) Fail(d.err.message);
    } catch (...) {
        reuse = Bitmap();
        throw;
    }
}

Bitmap ReadJpeg(std::span<const uint8_t> data, int scaleDenom) {
    Bitmap b;
    ReadJpegInto(data, b, scaleDenom);
    return b;
}

Bitmap LoadJpegFile(const std::string& path, int scaleDenom) {
    CheckScale(scaleDenom);
    const auto data = ReadFileBytes(path, MaxJpegFileSize);
    if (!data) Fail("the file is larger than " + std::to_string(MaxJpegFileSize >> 20) + " MiB");
    return ReadJpeg(*data, scaleDenom);
}

std::vector<uint8_t> WriteJpeg(const Bitmap& bitmap, int quality) {
    if (quality < 1 || quality > 100)
        throw EInvalidGraphic("JPEG quality " + std::to_string(quality) +
                              " is outside 1..100");
    if (bitmap.Empty()) throw EInvalidGraphic("An empty bitmap cannot be written as JPEG");
    // 24 and plain 32 bpp rows go to libjpeg as they are; other formats are expanded first.
    const TPixelFormat format = bitmap.PixelFormat();
    const bool direct = format == TPixelFormat::pf24bit || format == TPixelFormat::pf32bit ||
                        format == TPixelFormat::pfDevice;
    Bitmap converted;
    if (!direct) converted = bitmap.ConvertTo24();
    const Bitmap& source = direct ? bitmap : converted;

    TEncoderGuard guard;
    TEncoder& e = *guard;
    e.dest.capacity = 64 << 10;
    e.dest.buffer = static_cast<uint8_t*>(std::malloc(e.dest.capacity));
    if (!e.dest.buffer) throw std::bad_alloc();
    if (!TryEncode(e, source.Bits().data(), source.Stride(), source.Width(), source.Height(),
                   source.BitsPerPixel() == 32, quality))
        throw EInvalidGraphic(std::string("Cannot encode the JPEG image: ") + e.err.message);
    const size_t size = e.dest.capacity - e.dest.pub.free_in_buffer;
    return std::vector<uint8_t>(e.dest.buffer, e.dest.buffer + size);
}

void SaveJpegFile(const Bitmap& bitmap, const std::string& path, int quality) {
    const std::vector<uint8_t> data = WriteJpeg(bitmap, quality);
    WriteFileAtomically(path, data);
}

void RegisterJpegFormats() {
    static const TGraphicClass jpegClass{
        "TJPEGImage", [](const std::string& path) { return LoadJpegFile(path); },
        [](std::span<const uint8_t> data, const std::string&) { return ReadJpeg(data); }};
    for (const char* ext : {"jpg", "jpeg", "jpe"})
        TPictureFormats::Instance().Register(ext, "JPEG Image File", &jpegClass);
}

} // namespace pictor
