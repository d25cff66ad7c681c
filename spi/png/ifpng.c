/* ifpng.spi: PNG pictures through libpng.
 *
 * Every PNG becomes a 24-bit BGR bitmap: palettes and grey levels are expanded, 16-bit
 * samples scaled to 8 bits (rounded), and transparency (an alpha channel or a tRNS colour
 * key) blended onto white, because the host draws the bitmap as it is. The samples are
 * taken as stored: gAMA, cHRM and iCCP are not applied, which is what the program's other
 * PNG paths (Qt's reader) show too. Reading stops after the last row: a picture whose
 * trailing chunks (IEND) are missing still decodes.
 *
 * libpng reports errors by longjmp; all state that must survive it lives in a PngJob owned by
 * the caller of PngRun, so nothing is lost or leaked whichever step fails.
 */
#define PICTOR_SPI_PLUGIN
#include "spi_common.h"

#include <png.h>

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

typedef struct PngJob {
    SpiInput in;
    png_structp png;
    png_infop info;
    SpiDib dib;
    unsigned char* temp; /* BGRA: one row, or the whole picture when interlaced */
    PictorSpiProgressCallback callback;
    intptr_t lData;
    SpiProgress progress;
    int32_t result; /* what a libpng error means: broken data unless the input failed */
} PngJob;

static void PngReadData(png_structp png, png_bytep out, size_t n) {
    PngJob* job = (PngJob*)png_get_io_ptr(png);
    if (SpiInputRead(&job->in, out, n) != n) {
        job->result = job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_BROKEN_DATA;
        png_error(png, "the data ends early");
    }
}

/* libpng prints to stderr unless told otherwise; a plug-in stays quiet. The error handler
 * must not return (libpng would then print and abort), so it jumps back to PngRun. */
static void PngError(png_structp png, png_const_charp message) {
    (void)message;
    png_longjmp(png, 1);
}

static void PngWarning(png_structp png, png_const_charp message) {
    (void)png;
    (void)message;
}

/* Opens the input, checks the signature and sets libpng up. Always followed by PngClose. */
static int32_t PngOpen(PngJob* job, const char* buf, intptr_t len, uint32_t flag) {
    memset(job, 0, sizeof *job);
    int32_t r = SpiInputOpen(&job->in, buf, len, flag);
    if (r) return r;
    unsigned char signature[sizeof kSignature];
    if (SpiInputRead(&job->in, signature, sizeof signature) != sizeof signature ||
        memcmp(signature, kSignature, sizeof signature) != 0)
        return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_UNKNOWN_FORMAT;
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, PngError, PngWarning);
    if (!job->png) return PICTOR_SPI_NO_MEMORY;
    job->info = png_create_info_struct(job->png);
    if (!job->info) return PICTOR_SPI_NO_MEMORY;
    png_set_read_fn(job->png, job, PngReadData);
    png_set_sig_bytes(job->png, sizeof kSignature);
    /* Our own caps decide (answering "no memory"), not libpng's default of 10^6 per side. */
    png_set_user_limits(job->png, 0x7fffffff, 0x7fffffff);
    job->result = PICTOR_SPI_BROKEN_DATA;
    return 0;
}

static void PngClose(PngJob* job) {
    if (job->png) png_destroy_read_struct(&job->png, job->info ? &job->info : NULL, NULL);
    free(job->temp);
    job->temp = NULL;
    SpiDibFree(&job->dib);
    SpiInputClose(&job->in);
}

/* Runs one step with libpng's error exit pointing here. */
typedef int32_t (*PngStep)(PngJob* job);
static int32_t PngRun(PngJob* job, PngStep step) {
    if (setjmp(png_jmpbuf(job->png))) return job->result;
    return step(job);
}

static int32_t PngReadInfo(PngJob* job) {
    png_read_info(job->png, job->info);
    return 0;
}

/* pHYs in pixels per metre, 0 when absent or only an aspect ratio. */
static void PngDensity(PngJob* job, png_uint_32* x, png_uint_32* y) {
    int unit = PNG_RESOLUTION_UNKNOWN;
    *x = *y = 0;
    if (!png_get_pHYs(job->png, job->info, x, y, &unit) || unit != PNG_RESOLUTION_METER)
        *x = *y = 0;
}

static int32_t PngDecode(PngJob* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colour, interlace;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, NULL, NULL);
    int32_t r = SpiCheckSize(width, height);
    if (r) return r;

    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t channels = png_get_channels(png, info);
    if ((channels != 3 && channels != 4) || png_get_rowbytes(png, info) != width * channels)
        return PICTOR_SPI_INTERNAL_ERROR; /* the transformations above always give 3 or 4 */

    png_uint_32 xppm, yppm;
    PngDensity(job, &xppm, &yppm);
    r = SpiDibCreate(&job->dib, width, height, SpiPpmClamp(xppm), SpiPpmClamp(yppm));
    if (r) return r;
    /* Rows without alpha go straight into the bitmap; with alpha they are blended from a
     * BGRA row, or from a whole BGRA picture when the passes of an interlaced one fill it. */
    int whole = channels == 4 && passes > 1;
    if (channels == 4 &&
        !(job->temp = (unsigned char*)malloc((size_t)width * 4 * (whole ? height : 1))))
        return PICTOR_SPI_NO_MEMORY;

    const int32_t h = (int32_t)height;
    if (SpiProgressBegin(&job->progress, job->callback, job->lData, h)) return PICTOR_SPI_ABORTED;
    for (int pass = 0; pass < passes; ++pass) {
        for (int32_t y = 0; y < h; ++y) {
            unsigned char* row = channels == 3 ? SpiDibRow(&job->dib, y)
                                 : whole       ? job->temp + (size_t)y * width * 4
                                               : job->temp;
            png_read_row(png, row, NULL);
            if (channels == 4 && !whole)
                SpiFlattenBGRA(row, SpiDibRow(&job->dib, y), (int32_t)width);
            if (SpiProgressStep(&job->progress, (int32_t)(((int64_t)pass * h + y + 1) / passes)))
                return PICTOR_SPI_ABORTED;
        }
    }
    if (whole)
        for (int32_t y = 0; y < h; ++y)
            SpiFlattenBGRA(job->temp + (size_t)y * width * 4, SpiDibRow(&job->dib, y),
                           (int32_t)width);
    if (SpiProgressEnd(&job->progress)) return PICTOR_SPI_ABORTED;
    return 0;
}

/* ---- Exports -------------------------------------------------------------------------- */

int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
    char about[96];
    snprintf(about, sizeof about, "Pictor PNG plug-in 1.0 (libpng %s)", png_get_libpng_ver(NULL));
    return SpiPluginInfo(infono, buf, buflen, about, "*.png", "PNG Image");
}

int32_t IsSupported(const char* filename, const void* header) {
    (void)filename;
    return header && memcmp(header, kSignature, sizeof kSignature) == 0;
}

int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, PictorPictureInfo* info) {
    if (!info) return PICTOR_SPI_INTERNAL_ERROR;
    PngJob job;
    int32_t r = PngOpen(&job, buf, len, flag);
    if (!r) r = PngRun(&job, PngReadInfo);
    if (!r) {
        png_uint_32 xppm, yppm;
        PngDensity(&job, &xppm, &yppm);
        memset(info, 0, sizeof *info);
        info->width = (int32_t)png_get_image_width(job.png, job.info);
        info->height = (int32_t)png_get_image_height(job.png, job.info);
        info->x_density = SpiDpiFromPpm(xppm);
        info->y_density = SpiDpiFromPpm(yppm);
        info->colorDepth =
            (int16_t)(png_get_bit_depth(job.png, job.info) * png_get_channels(job.png, job.info));
    }
    PngClose(&job);
    return r;
}

int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, void** info_block,
                   void** pixel_block, PictorSpiProgressCallback progress, intptr_t lData) {
    if (!info_block || !pixel_block) return PICTOR_SPI_INTERNAL_ERROR;
    *info_block = *pixel_block = NULL;
    PngJob job;
    int32_t r = PngOpen(&job, buf, len, flag);
    job.callback = progress;
    job.lData = lData;
    if (!r) r = PngRun(&job, PngDecode);
    if (!r) SpiDibRelease(&job.dib, info_block, pixel_block);
    PngClose(&job);
    return r;
}

int32_t PictorSpiAbi(void) {
    return PICTOR_SPI_ABI_VERSION;
}
