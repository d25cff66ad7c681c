/* Code shared by the bundled picture plug-ins: reading the input the host names (a file from
 * an offset, or a memory block), building the bitmap blocks handed back by GetPicture, stepping
 * the progress callback, copying information texts. Nothing here keeps state between calls.
 */
#ifndef PICTOR_SPI_COMMON_H
#define PICTOR_SPI_COMMON_H

#include "plugins/spi_abi.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The largest picture a plug-in decodes; the same caps as the program's own bitmaps, so that
 * nothing a plug-in returns is refused later for its size. Checked before any allocation.
 * SPI_MAX_LOAD: the most read into memory at once (WebP wants the whole file), and the largest
 * single allocation libtiff may make. The fuzz targets run with smaller ones, as the
 * sanitizers' memory limit is far below what a capped picture may take. */
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
#define SPI_MAX_PIXELS ((int64_t)1 << 22)
#define SPI_MAX_LOAD ((uint64_t)1 << 26)
#else
#define SPI_MAX_PIXELS ((int64_t)1 << 28)
#define SPI_MAX_LOAD ((uint64_t)1 << 30)
#endif
#define SPI_MAX_SIDE ((int64_t)1 << 17)

/* 0 when width x height is a picture the plug-ins may decode, PICTOR_SPI_BROKEN_DATA for an
 * empty or negative size, PICTOR_SPI_NO_MEMORY beyond the caps. */
int32_t SpiCheckSize(int64_t width, int64_t height);

/* Copies text into buf (buflen bytes, always NUL-terminated, cut when it does not fit) and
 * returns the number of bytes copied without the NUL; 0 when nothing fits. */
int32_t SpiCopyText(const char* text, char* buf, int32_t buflen);

/* GetPluginInfo of a picture plug-in with one format: 0 the type "00IN", 1 the about text,
 * 2 the file pattern, 3 its description; 0 for every other number. */
int32_t SpiPluginInfo(int32_t infono, char* buf, int32_t buflen, const char* about,
                      const char* pattern, const char* description);

/* ---- Input ---------------------------------------------------------------------------- */

/* The picture's bytes, from the file's offset or the memory block. Positions are relative
 * to the start of the picture. A file is read through a small buffer with pread, so the
 * input never reads before the offset and never blocks on a special file. */
typedef struct SpiInput {
    const unsigned char* data; /* memory input, or NULL */
    int fd;                    /* file input, or -1 */
    uint64_t base;             /* file offset of the picture */
    uint64_t size;             /* bytes from the start of the picture to the end */
    uint64_t pos;
    int failed; /* a read of the file failed (as opposed to reaching the end) */
    unsigned char* buffer;
    uint64_t buffer_pos; /* position of buffer[0] */
    size_t buffer_len;
} SpiInput;

/* Opens the input the host describes with buf, len and flag (low three bits: 0 file, 1
 * memory). Results: 0; PICTOR_SPI_READ_ERROR for a file that cannot be opened or is not a
 * regular file; PICTOR_SPI_INTERNAL_ERROR for a NULL buf or a negative len;
 * PICTOR_SPI_NOT_IMPLEMENTED for another input kind. An offset beyond the end of the file
 * gives an empty input. On success SpiInputClose must follow. */
int32_t SpiInputOpen(SpiInput* in, const char* buf, intptr_t len, uint32_t flag);
void SpiInputClose(SpiInput* in);

/* Reads up to n bytes at the current position; returns how many were read (fewer at the end,
 * or after a read error, which also sets in->failed). */
size_t SpiInputRead(SpiInput* in, void* out, size_t n);

/* Reads exactly n bytes at pos without moving the position; 0 on success, nonzero when the
 * input is shorter. */
int SpiInputPeek(SpiInput* in, uint64_t pos, void* out, size_t n);

/* The input's first `limit` bytes (all of it when shorter) in memory: the memory block itself,
 * or the file read into a malloc'd copy (*owned is then set and the caller frees it). Results:
 * 0, PICTOR_SPI_READ_ERROR, PICTOR_SPI_NO_MEMORY (beyond SPI_MAX_LOAD or out of memory). */
int32_t SpiInputLoad(SpiInput* in, uint64_t limit, const unsigned char** data, size_t* size,
                     unsigned char** owned);

/* ---- Bitmap blocks ---------------------------------------------------------------------- */

/* A 24-bit BGR bitmap under construction: the info block (a PictorBitmapInfoHeader, no
 * colour table) and the pixel block, rows bottom-up, each padded to four bytes with zeros. */
typedef struct SpiDib {
    PictorBitmapInfoHeader* info;
    unsigned char* bits;
    int32_t width;
    int32_t height;
    size_t stride;
} SpiDib;

/* Allocates both blocks for width x height (density in pixels per metre, 0 if unknown).
 * Results: 0, PICTOR_SPI_BROKEN_DATA / PICTOR_SPI_NO_MEMORY per SpiCheckSize, or
 * PICTOR_SPI_NO_MEMORY when malloc fails; on failure nothing stays allocated. */
int32_t SpiDibCreate(SpiDib* dib, int64_t width, int64_t height, int32_t x_ppm, int32_t y_ppm);

/* Picture row y counted from the top. */
static inline unsigned char* SpiDibRow(const SpiDib* dib, int32_t y) {
    return dib->bits + (size_t)(dib->height - 1 - y) * dib->stride;
}

/* Hands both blocks to the host's pointers; the SpiDib no longer owns them. */
void SpiDibRelease(SpiDib* dib, void** info_block, void** pixel_block);
/* Frees what the SpiDib still owns (safe on a zeroed or released one). */
void SpiDibFree(SpiDib* dib);

/* Sample c with coverage a over white, rounded to nearest: (c*a + 255*(255-a)) / 255. */
static inline unsigned char SpiOverWhite(unsigned c, unsigned a) {
    unsigned x = c * a + 255u * (255u - a) + 128u;
    return (unsigned char)((x + (x >> 8)) >> 8);
}

/* Blends width pixels of straight-alpha BGRA onto a white background into BGR. */
void SpiFlattenBGRA(const unsigned char* bgra, unsigned char* bgr, int32_t width);

/* ---- Progress ------------------------------------------------------------------------- */

/* Calls the host's callback with (0, total) first, then about every 1/64 of the rows, and
 * (total, total) at the end. Each function returns nonzero when the callback asked to stop.
 * A NULL callback is never called. */
typedef struct SpiProgress {
    PictorSpiProgressCallback callback;
    intptr_t data;
    int32_t total;
    int32_t step;
    int32_t next;
} SpiProgress;

int SpiProgressBegin(SpiProgress* p, PictorSpiProgressCallback callback, intptr_t data,
                     int32_t total);
/* done rows finished so far (0 .. total); calls back only when a step is reached. */
int SpiProgressStep(SpiProgress* p, int32_t done);
int SpiProgressEnd(SpiProgress* p);

/* Density conversions for pHYs-like values: dots per metre <-> the DPI of PictorPictureInfo
 * (rounded, clamped to what the fields hold). */
uint16_t SpiDpiFromPpm(double ppm);
int32_t SpiPpmClamp(double ppm);

#ifdef __cplusplus
}
#endif

#endif /* PICTOR_SPI_COMMON_H */
