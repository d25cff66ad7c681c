#define _GNU_SOURCE
#include "spi_common.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* File reads go through this much buffer: libpng and libtiff ask for a few bytes at a time
 * (chunk and directory headers), which would otherwise be one system call each. */
#define SPI_READ_BUFFER ((size_t)1 << 16)

int32_t SpiCheckSize(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return PICTOR_SPI_BROKEN_DATA;
    if (width > SPI_MAX_SIDE || height > SPI_MAX_SIDE || width * height > SPI_MAX_PIXELS)
        return PICTOR_SPI_NO_MEMORY;
    return 0;
}

int32_t SpiCopyText(const char* text, char* buf, int32_t buflen) {
    if (!text || !buf || buflen <= 0) return 0;
    size_t n = strlen(text);
    if (n > (size_t)buflen - 1) n = (size_t)buflen - 1;
    memcpy(buf, text, n);
    buf[n] = '\0';
    return (int32_t)n;
}

int32_t SpiPluginInfo(int32_t infono, char* buf, int32_t buflen, const char* about,
                      const char* pattern, const char* description) {
    switch (infono) {
    case 0:
        return SpiCopyText("00IN", buf, buflen);
    case 1:
        return SpiCopyText(about, buf, buflen);
    case 2:
        return SpiCopyText(pattern, buf, buflen);
    case 3:
        return SpiCopyText(description, buf, buflen);
    default:
        return 0;
    }
}

/* ---- Input ---------------------------------------------------------------------------- */

int32_t SpiInputOpen(SpiInput* in, const char* buf, intptr_t len, uint32_t flag) {
    memset(in, 0, sizeof *in);
    in->fd = -1;
    if (!buf || len < 0) return PICTOR_SPI_INTERNAL_ERROR;
    switch (flag & PICTOR_SPI_INPUT_MASK) {
    case PICTOR_SPI_INPUT_MEMORY:
        in->data = (const unsigned char*)buf;
        in->size = (uint64_t)len;
        return 0;
    case PICTOR_SPI_INPUT_FILE: {
        /* O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below. */
        int fd = open(buf, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return PICTOR_SPI_READ_ERROR;
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
            close(fd);
            return PICTOR_SPI_READ_ERROR;
        }
        in->fd = fd;
        in->base = (uint64_t)len;
        in->size = (uint64_t)st.st_size > in->base ? (uint64_t)st.st_size - in->base : 0;
        return 0;
    }
    default:
        return PICTOR_SPI_NOT_IMPLEMENTED;
    }
}

void SpiInputClose(SpiInput* in) {
    if (in->fd >= 0) close(in->fd);
    free(in->buffer);
    in->fd = -1;
    in->buffer = NULL;
    in->buffer_len = 0;
}

/* pread at a picture position, retried on interruption; -1 on error. */
static ssize_t ReadAt(SpiInput* in, void* out, size_t n, uint64_t pos) {
    if (pos > (uint64_t)INT64_MAX - in->base) return 0;
    for (;;) {
        ssize_t r = pread(in->fd, out, n, (off_t)(in->base + pos));
        if (r >= 0 || errno != EINTR) return r;
    }
}

size_t SpiInputRead(SpiInput* in, void* out, size_t n) {
    if (in->pos >= in->size || n == 0) return 0;
    if (n > in->size - in->pos) n = (size_t)(in->size - in->pos);
    if (in->data) {
        memcpy(out, in->data + in->pos, n);
        in->pos += n;
        return n;
    }
    unsigned char* dst = (unsigned char*)out;
    size_t done = 0;
    while (done < n) {
        if (in->pos >= in->buffer_pos && in->pos < in->buffer_pos + in->buffer_len) {
            size_t off = (size_t)(in->pos - in->buffer_pos);
            size_t k = in->buffer_len - off;
            if (k > n - done) k = n - done;
            memcpy(dst + done, in->buffer + off, k);
            done += k;
            in->pos += k;
            continue;
        }
        if (n - done >= SPI_READ_BUFFER) { /* a big block goes straight to the caller */
            ssize_t r = ReadAt(in, dst + done, n - done, in->pos);
            if (r < 0) in->failed = 1;
            if (r <= 0) break;
            done += (size_t)r;
            in->pos += (uint64_t)r;
            continue;
        }
        if (!in->buffer && !(in->buffer = (unsigned char*)malloc(SPI_READ_BUFFER))) {
            in->failed = 1;
            break;
        }
        size_t want = SPI_READ_BUFFER;
        if (want > in->size - in->pos) want = (size_t)(in->size - in->pos);
        ssize_t r = ReadAt(in, in->buffer, want, in->pos);
        in->buffer_len = 0;
        if (r < 0) in->failed = 1;
        if (r <= 0) break; /* an error, or the file shrank since it was opened */
        in->buffer_pos = in->pos;
        in->buffer_len = (size_t)r;
    }
    return done;
}

int SpiInputPeek(SpiInput* in, uint64_t pos, void* out, size_t n) {
    uint64_t saved = in->pos;
    in->pos = pos;
    size_t got = SpiInputRead(in, out, n);
    in->pos = saved;
    return got == n ? 0 : 1;
}

int32_t SpiInputLoad(SpiInput* in, uint64_t limit, const unsigned char** data, size_t* size,
                     unsigned char** owned) {
    const uint64_t want = in->size < limit ? in->size : limit;
    *owned = NULL;
    if (in->data) {
        *data = in->data;
        *size = (size_t)want;
        return 0;
    }
    if (want > SPI_MAX_LOAD) return PICTOR_SPI_NO_MEMORY;
    unsigned char* copy = (unsigned char*)malloc(want ? (size_t)want : 1);
    if (!copy) return PICTOR_SPI_NO_MEMORY;
    size_t got = 0;
    while (got < want) {
        ssize_t r = ReadAt(in, copy + got, (size_t)want - got, got);
        if (r < 0) {
            free(copy);
            return PICTOR_SPI_READ_ERROR;
        }
        if (r == 0) break; /* shrank: decode what is there, which then looks truncated */
        got += (size_t)r;
    }
    *data = copy;
    *size = got;
    *owned = copy;
    return 0;
}

/* ---- Bitmap blocks ---------------------------------------------------------------------- */

int32_t SpiDibCreate(SpiDib* dib, int64_t width, int64_t height, int32_t x_ppm, int32_t y_ppm) {
    memset(dib, 0, sizeof *dib);
    int32_t r = SpiCheckSize(width, height);
    if (r) return r;
    size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
    size_t bytes = stride * (size_t)height;
    PictorBitmapInfoHeader* info = (PictorBitmapInfoHeader*)malloc(sizeof *info);
    unsigned char* bits = (unsigned char*)malloc(bytes);
    if (!info || !bits) {
        free(info);
        free(bits);
        return PICTOR_SPI_NO_MEMORY;
    }
    memset(info, 0, sizeof *info);
    info->biSize = sizeof *info;
    info->biWidth = (int32_t)width;
    info->biHeight = (int32_t)height;
    info->biPlanes = 1;
    info->biBitCount = 24;
    info->biSizeImage = (uint32_t)bytes;
    info->biXPelsPerMeter = x_ppm;
    info->biYPelsPerMeter = y_ppm;
    size_t used = (size_t)width * 3;
    if (stride > used)
        for (size_t y = 0; y < (size_t)height; ++y)
            memset(bits + y * stride + used, 0, stride - used);
    dib->info = info;
    dib->bits = bits;
    dib->width = (int32_t)width;
    dib->height = (int32_t)height;
    dib->stride = stride;
    return 0;
}

void SpiDibRelease(SpiDib* dib, void** info_block, void** pixel_block) {
    *info_block = dib->info;
    *pixel_block = dib->bits;
    dib->info = NULL;
    dib->bits = NULL;
}

void SpiDibFree(SpiDib* dib) {
    free(dib->info);
    free(dib->bits);
    dib->info = NULL;
    dib->bits = NULL;
}

void SpiFlattenBGRA(const unsigned char* bgra, unsigned char* bgr, int32_t width) {
    for (int32_t x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        unsigned a = bgra[3];
        if (a == 255) {
            bgr[0] = bgra[0];
            bgr[1] = bgra[1];
            bgr[2] = bgra[2];
        } else {
            bgr[0] = SpiOverWhite(bgra[0], a);
            bgr[1] = SpiOverWhite(bgra[1], a);
            bgr[2] = SpiOverWhite(bgra[2], a);
        }
    }
}

/* ---- Progress ------------------------------------------------------------------------- */

int SpiProgressBegin(SpiProgress* p, PictorSpiProgressCallback callback, intptr_t data,
                     int32_t total) {
    p->callback = callback;
    p->data = data;
    p->total = total;
    p->step = total / 64 > 0 ? total / 64 : 1;
    p->next = p->step;
    return callback ? callback(0, total, data) != 0 : 0;
}

int SpiProgressStep(SpiProgress* p, int32_t done) {
    if (!p->callback || done < p->next || done >= p->total) return 0;
    p->next = done + p->step;
    return p->callback(done, p->total, p->data) != 0;
}

int SpiProgressEnd(SpiProgress* p) {
    return p->callback ? p->callback(p->total, p->total, p->data) != 0 : 0;
}

uint16_t SpiDpiFromPpm(double ppm) {
    if (!(ppm > 0)) return 0; /* also NaN */
    double dpi = ppm * 0.0254 + 0.5;
    return dpi >= 65535.0 ? 65535 : (uint16_t)dpi;
}

int32_t SpiPpmClamp(double ppm) {
    if (!(ppm > 0)) return 0;
    ppm += 0.5;
    return ppm >= 2147483647.0 ? INT32_MAX : (int32_t)ppm;
}
