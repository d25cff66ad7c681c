/* ifwebp.spi: WebP pictures (lossy, lossless, with alpha, animated) through libwebp.
 *
 * A still picture is decoded straight into the bitmap (BGR, rows flipped to bottom-up by the
 * decoder), or into a BGRA copy that is then blended onto white. libwebp's incremental decoder
 * is fed the data in slices, which gives the progress callback rows to report and a chance
 * to stop between slices; the data is in memory all along (a file is read in whole first).
 * An animation shows its first frame, composed on its canvas by the demuxing decoder.
 */
#define PICTOR_SPI_PLUGIN
#include "spi_common.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The data goes to the incremental decoder in this many slices. */
#define WEBP_SLICES 16

typedef struct WebpJob {
    SpiInput in;
    const unsigned char* data;
    size_t size;
    unsigned char* owned; /* the file's bytes when they were read into memory */
    WebPBitstreamFeatures features;
    WebPDecoderConfig config; /* outlives idec, which points into it */
    WebPIDecoder* idec;
    WebPAnimDecoder* anim;
    unsigned char* temp; /* BGRA picture of a still picture with alpha */
    SpiDib dib;
} WebpJob;

static int WebpMagic(const unsigned char* h) {
    return memcmp(h, "RIFF", 4) == 0 && memcmp(h + 8, "WEBP", 4) == 0;
}

static int32_t WebpResult(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK:
        return 0;
    case VP8_STATUS_OUT_OF_MEMORY:
        return PICTOR_SPI_NO_MEMORY;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return PICTOR_SPI_UNKNOWN_FORMAT;
    default: /* bitstream error, not enough data, invalid parameter */
        return PICTOR_SPI_BROKEN_DATA;
    }
}

/* Opens the input, loads it and reads the features. Always followed by WebpEnd. */
static int32_t WebpBegin(WebpJob* job, const char* buf, intptr_t len, uint32_t flag) {
    memset(job, 0, sizeof *job);
    int32_t r = SpiInputOpen(&job->in, buf, len, flag);
    if (r) return r;
    unsigned char head[12];
    if (SpiInputPeek(&job->in, 0, head, sizeof head) || !WebpMagic(head))
        return job->in.failed ? PICTOR_SPI_READ_ERROR : PICTOR_SPI_UNKNOWN_FORMAT;
    /* Nothing after the RIFF chunk belongs to the picture; it is neither read nor decoded. */
    const uint64_t riff = 8 + ((uint64_t)head[4] | (uint64_t)head[5] << 8 |
                               (uint64_t)head[6] << 16 | (uint64_t)head[7] << 24);
    r = SpiInputLoad(&job->in, riff, &job->data, &job->size, &job->owned);
    if (r) return r;
    return WebpResult(WebPGetFeatures(job->data, job->size, &job->features));
}

static void WebpEnd(WebpJob* job) {
    if (job->idec) WebPIDelete(job->idec);
    WebPFreeDecBuffer(&job->config.output); /* external memory: releases nothing of ours */
    if (job->anim) WebPAnimDecoderDelete(job->anim);
    free(job->temp);
    free(job->owned);
    SpiDibFree(&job->dib);
    SpiInputClose(&job->in);
    job->idec = NULL;
    job->anim = NULL;
    job->temp = job->owned = NULL;
}

static int32_t WebpDecodeStill(WebpJob* job, SpiProgress* progress) {
    const int32_t w = job->dib.width, h = job->dib.height;
    const int alpha = job->features.has_alpha;
    WebPDecoderConfig* config = &job->config;
    if (!WebPInitDecoderConfig(config)) return PICTOR_SPI_INTERNAL_ERROR;
    config->options.flip = 1;
    config->output.is_external_memory = 1;
    WebPRGBABuffer* out = &config->output.u.RGBA;
    if (alpha) {
        config->output.colorspace = MODE_BGRA;
        out->stride = w * 4;
        out->size = (size_t)w * 4 * (size_t)h;
        if (!(job->temp = (unsigned char*)malloc(out->size))) return PICTOR_SPI_NO_MEMORY;
        out->rgba = job->temp;
    } else {
        config->output.colorspace = MODE_BGR;
        out->stride = (int)job->dib.stride;
        out->size = job->dib.stride * (size_t)h;
        out->rgba = job->dib.bits;
    }
    if (!(job->idec = WebPIDecode(NULL, 0, config))) return PICTOR_SPI_NO_MEMORY;

    const size_t slice = job->size / WEBP_SLICES + 1;
    size_t fed = 0;
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    while (status == VP8_STATUS_SUSPENDED && fed < job->size) {
        fed = job->size - fed > slice ? fed + slice : job->size;
        status = WebPIUpdate(job->idec, job->data, fed);
        int rows = 0;
        if (WebPIDecGetRGB(job->idec, &rows, NULL, NULL, NULL) && SpiProgressStep(progress, rows))
            return PICTOR_SPI_ABORTED;
    }
    if (status == VP8_STATUS_SUSPENDED) return PICTOR_SPI_BROKEN_DATA; /* data ran out first */
    if (status != VP8_STATUS_OK) return WebpResult(status);
    if (alpha) /* both are bottom-up already */
        for (int32_t y = 0; y < h; ++y)
            SpiFlattenBGRA(job->temp + (size_t)y * w * 4, job->dib.bits + y * job->dib.stride, w);
    return 0;
}

static int32_t WebpDecodeFirstFrame(WebpJob* job, SpiProgress* progress) {
    const int32_t w = job->dib.width, h = job->dib.height;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return PICTOR_SPI_INTERNAL_ERROR;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    WebPData data = {job->data, job->size};
    if (!(job->anim = WebPAnimDecoderNew(&data, &options))) return PICTOR_SPI_BROKEN_DATA;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(job->anim, &info) || info.frame_count == 0 ||
        info.canvas_width != (uint32_t)w || info.canvas_height != (uint32_t)h)
        return PICTOR_SPI_BROKEN_DATA;
    uint8_t* canvas = NULL; /* top-down BGRA, owned by the decoder */
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(job->anim, &canvas, &timestamp) || !canvas)
        return PICTOR_SPI_BROKEN_DATA;
    for (int32_t y = 0; y < h; ++y) {
        SpiFlattenBGRA(canvas + (size_t)y * w * 4, SpiDibRow(&job->dib, y), w);
        if (SpiProgressStep(progress, y + 1)) return PICTOR_SPI_ABORTED;
    }
    return 0;
}

/* ---- Exports -------------------------------------------------------------------------- */

int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
    char about[96];
    const int v = WebPGetDecoderVersion();
    snprintf(about, sizeof about, "Pictor WebP plug-in 1.0 (libwebp %d.%d.%d)", (v >> 16) & 0xff,
             (v >> 8) & 0xff, v & 0xff);
    return SpiPluginInfo(infono, buf, buflen, about, "*.webp", "WebP Image");
}

int32_t IsSupported(const char* filename, const void* header) {
    (void)filename;
    return header && WebpMagic((const unsigned char*)header);
}

int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, PictorPictureInfo* info) {
    if (!info) return PICTOR_SPI_INTERNAL_ERROR;
    WebpJob job;
    int32_t r = WebpBegin(&job, buf, len, flag);
    if (!r) {
        memset(info, 0, sizeof *info);
        info->width = job.features.width;
        info->height = job.features.height;
        info->colorDepth = job.features.has_alpha ? 32 : 24;
    }
    WebpEnd(&job);
    return r;
}

int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, void** info_block,
                   void** pixel_block, PictorSpiProgressCallback progress, intptr_t lData) {
    if (!info_block || !pixel_block) return PICTOR_SPI_INTERNAL_ERROR;
    *info_block = *pixel_block = NULL;
    WebpJob job;
    int32_t r = WebpBegin(&job, buf, len, flag);
    if (!r) r = SpiDibCreate(&job.dib, job.features.width, job.features.height, 0, 0);
    SpiProgress steps;
    if (!r && SpiProgressBegin(&steps, progress, lData, job.dib.height)) r = PICTOR_SPI_ABORTED;
    if (!r)
        r = job.features.has_animation ? WebpDecodeFirstFrame(&job, &steps)
                                       : WebpDecodeStill(&job, &steps);
    if (!r && SpiProgressEnd(&steps)) r = PICTOR_SPI_ABORTED;
    if (!r) SpiDibRelease(&job.dib, info_block, pixel_block);
    WebpEnd(&job);
    return r;
}

int32_t PictorSpiAbi(void) {
    return PICTOR_SPI_ABI_VERSION;
}
