/* iftiff.spi: TIFF pictures (classic and BigTIFF) through libtiff, first page only.
 *
 * libtiff's RGBA reader turns every photometric interpretation it knows into 8-bit ABGR
 * words; it runs here a band of strips (or tiles) at a time, so that the progress callback
 * is served between bands and the word raster stays small, and each band is repacked into
 * the bitmap as 24-bit BGR with alpha blended onto white. libtiff reads through our
 * callbacks (memory, or a file from an offset) and reports through per-handle handlers that
 * say nothing: the host process's global libtiff handlers are left alone.
 */
#define PICTOR_SPI_PLUGIN
#include "spi_common.h"

#include <tiffio.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Rows per band at least; bands are whole strips or tile rows so none is decoded twice. */
#define TIFF_MIN_BAND 16

typedef struct TiffJob {
    SpiInput in;
    TIFFOpenOptions* options;
    TIFF* tif;
    TIFFRGBAImage img;
    int img_begun;
    uint32_t* raster;
    SpiDib dib;
} TiffJob;

static int TiffMagic(const unsigned char* h) {
    return (h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
           (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43));
}

/* ---- libtiff callbacks ---------------------------------------------------------------- */

static tmsize_t TiffProcRead(thandle_t h, void* buf, tmsize_t n) {
    return n > 0 ? (tmsize_t)SpiInputRead((SpiInput*)h, buf, (size_t)n) : 0;
}

static tmsize_t TiffProcWrite(thandle_t h, void* buf, tmsize_t n) {
    (void)h;
    (void)buf;
    (void)n;
    return -1; /* opened for reading only */
}

static toff_t TiffProcSeek(thandle_t h, toff_t offset, int whence) {
    SpiInput* in = (SpiInput*)h;
    uint64_t from;
    switch (whence) {
    case SEEK_SET:
        from = 0;
        break;
    case SEEK_CUR:
        from = in->pos;
        break;
    case SEEK_END:
        from = in->size;
        break;
    default:
        return (toff_t)-1;
    }
    /* offsets relative to the current position or the end may be negative; positions stay
     * within int64 (sizes come from st_size or an intptr_t) */
    int64_t to;
    if (whence == SEEK_SET) {
        if (offset > (uint64_t)INT64_MAX) return (toff_t)-1;
        to = (int64_t)offset;
    } else {
        int64_t delta = (int64_t)offset;
        if (delta < 0 ? delta < -(int64_t)from : delta > INT64_MAX - (int64_t)from)
            return (toff_t)-1;
        to = (int64_t)from + delta;
    }
    in->pos = (uint64_t)to; /* beyond the end is allowed; reads there return nothing */
    return (toff_t)to;
}

static int TiffProcClose(thandle_t h) {
    (void)h;
    return 0; /* the input is closed by TiffEnd */
}

static toff_t TiffProcSize(thandle_t h) {
    return ((SpiInput*)h)->size;
}

/* No mapping, not even of memory input: libtiff checks strips differently when it reads them
 * in place, and the same bytes must give the same answer from a file and from memory. */
static int TiffProcMap(thandle_t h, void** base, toff_t* size) {
    (void)h;
    (void)base;
    (void)size;
    return 0;
}

static void TiffProcUnmap(thandle_t h, void* base, toff_t size) {
    (void)h;
    (void)base;
    (void)size;
}

static int TiffQuiet(TIFF* tif, void* user, const char* module, const char* fmt, va_list ap) {
    (void)tif;
    (void)user;
    (void)module;
    (void)fmt;
    (void)ap;
    return 1; /* handled: the global handlers are not called */
}

/* ---- Open and close ------------------------------------------------------------------- */

/* Opens the input and the TIFF's first directory. Always followed by TiffEnd. */
static int32_t TiffBegin(TiffJob* job, const char* buf, intptr_t len, uint32_t flag) {
    memset(job, 0, sizeof *job);
    int32_t r = SpiInputOpen(&job->in, buf, len, flag);
    if (r) return r;
    unsigned char magic[4];
    if (SpiInputPeek(&job->in, 0, magic, sizeof magic) || !TiffMagic(magic))
        return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_UNKNOWN_FORMAT;
    if (!(job->options = TIFFOpenOptionsAlloc())) return PICTOR_SPI_NO_MEMORY;
    TIFFOpenOptionsSetErrorHandlerExtR(job->options, TiffQuiet, NULL);
    TIFFOpenOptionsSetWarningHandlerExtR(job->options, TiffQuiet, NULL);
    /* Stops absurd strip, tile and tag sizes before libtiff allocates them. */
    TIFFOpenOptionsSetMaxSingleMemAlloc(job->options, (tmsize_t)SPI_MAX_LOAD);
    job->tif = TIFFClientOpenExt("picture", "r", (thandle_t)&job->in, TiffProcRead, TiffProcWrite,
                                 TiffProcSeek, TiffProcClose, TiffProcSize, TiffProcMap,
                                 TiffProcUnmap, job->options);
    if (!job->tif) return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_BROKEN_DATA;
    return 0;
}

static void TiffEnd(TiffJob* job) {
    if (job->img_begun) TIFFRGBAImageEnd(&job->img);
    if (job->tif) TIFFClose(job->tif);
    if (job->options) TIFFOpenOptionsFree(job->options);
    free(job->raster);
    SpiDibFree(&job->dib);
    SpiInputClose(&job->in);
    job->img_begun = 0;
    job->tif = NULL;
    job->options = NULL;
    job->raster = NULL;
}

/* Resolution in pixels per metre (0 when absent or without a unit). */
static void TiffDensity(TIFF* tif, double* x, double* y) {
    float xr = 0, yr = 0;
    uint16_t unit = RESUNIT_INCH;
    *x = *y = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double scale = unit == RESUNIT_INCH ? 1 / 0.0254 : unit == RESUNIT_CENTIMETER ? 100 : 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr)) *x = xr * scale;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr)) *y = yr * scale;
}

/* ---- Decoding ------------------------------------------------------------------------- */

/* One band row of ABGR words to BGR over white. libtiff premultiplies alpha for colour
 * pictures (associated alpha is stored so, unassociated is converted), but passes 8-bit
 * grey with unassociated alpha through unchanged: `straight` tells which. */
static void TiffRowToBGR(const uint32_t* src, unsigned char* dst, uint32_t width, int straight) {
    for (uint32_t x = 0; x < width; ++x, dst += 3) {
        uint32_t p = src[x];
        unsigned a = TIFFGetA(p), r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
        if (a == 255) {
            dst[0] = (unsigned char)b;
            dst[1] = (unsigned char)g;
            dst[2] = (unsigned char)r;
        } else if (straight) {
            dst[0] = SpiOverWhite(b, a);
            dst[1] = SpiOverWhite(g, a);
            dst[2] = SpiOverWhite(r, a);
        } else { /* c + (255 - a), clamped for samples that exceed their alpha */
            unsigned k = 255 - a;
            dst[0] = (unsigned char)(b + k > 255 ? 255 : b + k);
            dst[1] = (unsigned char)(g + k > 255 ? 255 : g + k);
            dst[2] = (unsigned char)(r + k > 255 ? 255 : r + k);
        }
    }
}

static int32_t TiffDecode(TiffJob* job, PictorSpiProgressCallback callback, intptr_t lData) {
    TIFF* tif = job->tif;
    char message[1024];
    /* A kind of TIFF the RGBA reader does not handle (16-bit CMYK, odd sample layouts, a
     * missing codec) is "unknown" to this plug-in, so the host may try another one. */
    if (!TIFFRGBAImageOK(tif, message)) return PICTOR_SPI_UNKNOWN_FORMAT;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    int32_t r = SpiCheckSize(width, height);
    if (r) return r;
    if (!TIFFRGBAImageBegin(&job->img, tif, 1, message))
        return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_UNKNOWN_FORMAT;
    job->img_begun = 1;
    job->img.req_orientation = ORIENTATION_BOTLEFT;
    if (job->img.width != width || job->img.height != height) return PICTOR_SPI_BROKEN_DATA;

    uint32_t unit = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    if (unit == 0 || unit > height) unit = height;
    uint32_t band = unit < TIFF_MIN_BAND ? (TIFF_MIN_BAND + unit - 1) / unit * unit : unit;
    if (band > height) band = height;
    if (!(job->raster = (uint32_t*)malloc((size_t)width * band * sizeof(uint32_t))))
        return PICTOR_SPI_NO_MEMORY;

    double xppm, yppm;
    TiffDensity(tif, &xppm, &yppm);
    r = SpiDibCreate(&job->dib, width, height, SpiPpmClamp(xppm), SpiPpmClamp(yppm));
    if (r) return r;

    /* Asked for bottom-up rows, libtiff turns a band upside down when the file's rows run
     * top-down (orientations 1, 2, 5, 6), and leaves it as stored otherwise. */
    const uint16_t o = job->img.orientation;
    const int flipped = o == ORIENTATION_TOPLEFT || o == ORIENTATION_TOPRIGHT ||
                        o == ORIENTATION_LEFTTOP || o == ORIENTATION_RIGHTTOP;
    const int straight = job->img.alpha == EXTRASAMPLE_UNASSALPHA && job->img.isContig &&
                         (job->img.photometric == PHOTOMETRIC_MINISBLACK ||
                          job->img.photometric == PHOTOMETRIC_MINISWHITE) &&
                         job->img.bitspersample == 8 && job->img.samplesperpixel == 2;

    SpiProgress progress;
    if (SpiProgressBegin(&progress, callback, lData, (int32_t)height)) return PICTOR_SPI_ABORTED;
    for (uint32_t row = 0; row < height; row += band) {
        uint32_t n = height - row < band ? height - row : band;
        job->img.row_offset = (int)row;
        job->img.col_offset = 0;
        if (!TIFFRGBAImageGet(&job->img, job->raster, width, n))
            return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_BROKEN_DATA;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t y = flipped ? row + n - 1 - i : height - 1 - row - i; /* from the top */
            TiffRowToBGR(job->raster + (size_t)i * width, SpiDibRow(&job->dib, (int32_t)y), width,
                         straight);
        }
        if (SpiProgressStep(&progress, (int32_t)(row + n))) return PICTOR_SPI_ABORTED;
    }
    if (SpiProgressEnd(&progress)) return PICTOR_SPI_ABORTED;
    return 0;
}

/* ---- Exports -------------------------------------------------------------------------- */

int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
    char about[96], version[32] = "";
    /* TIFFGetVersion(): "LIBTIFF, Version 4.5.0\nCopyright ..." */
    const char* v = strstr(TIFFGetVersion(), "Version ");
    if (v) sscanf(v + 8, "%31[^\n ]", version);
    snprintf(about, sizeof about, "Pictor TIFF plug-in 1.0 (libtiff %s)", version);
    return SpiPluginInfo(infono, buf, buflen, about, "*.tif;*.tiff", "TIFF Image");
}

int32_t IsSupported(const char* filename, const void* header) {
    (void)filename;
    return header && TiffMagic((const unsigned char*)header);
}

int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, PictorPictureInfo* info) {
    if (!info) return PICTOR_SPI_INTERNAL_ERROR;
    TiffJob job;
    int32_t r = TiffBegin(&job, buf, len, flag);
    if (!r) {
        uint32_t width = 0, height = 0;
        uint16_t bits = 1, samples = 1;
        double xppm, yppm;
        TIFFGetField(job.tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(job.tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(job.tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(job.tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TiffDensity(job.tif, &xppm, &yppm);
        if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
            r = PICTOR_SPI_BROKEN_DATA;
        } else {
            memset(info, 0, sizeof *info);
            info->width = (int32_t)width;
            info->height = (int32_t)height;
            info->x_density = SpiDpiFromPpm(xppm);
            info->y_density = SpiDpiFromPpm(yppm);
            int depth = bits * samples;
            info->colorDepth = (int16_t)(depth > INT16_MAX ? INT16_MAX : depth);
        }
    }
    TiffEnd(&job);
    return r;
}

int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, void** info_block,
                   void** pixel_block, PictorSpiProgressCallback progress, intptr_t lData) {
    if (!info_block || !pixel_block) return PICTOR_SPI_INTERNAL_ERROR;
    *info_block = *pixel_block = NULL;
    TiffJob job;
    int32_t r = TiffBegin(&job, buf, len, flag);
    if (!r) r = TiffDecode(&job, progress, lData);
    if (!r) SpiDibRelease(&job.dib, info_block, pixel_block);
    TiffEnd(&job);
    return r;
}

int32_t PictorSpiAbi(void) {
    return PICTOR_SPI_ABI_VERSION;
}
