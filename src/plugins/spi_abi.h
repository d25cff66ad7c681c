/* Pictor picture plug-in ABI, version 1 ("Pictor SPI ABI 1").
 *
 * A plug-in is an ELF shared object for the host's machine, named "*.spi", exporting with C
 * linkage and default visibility the functions below (build it with -fvisibility=hidden and
 * mark only these names visible, e.g. by defining PICTOR_SPI_PLUGIN before including this
 * header). The call sequence and meaning are those of the classic Susie plug-in interface;
 * only the Windows types are gone:
 *   - the platform's default calling convention;
 *   - every argument that carries an address (IsSupported's second argument, lData, the two
 *     returned memory blocks) is pointer-sized;
 *   - blocks handed to the host (the bitmap-info block, the pixel block, the picture info
 *     text) are allocated with malloc() by the plug-in and released with free() by the host.
 *     Both sides use the process's single C library, so this stays valid after the plug-in
 *     has been unloaded. On a nonzero result the plug-in leaves both block pointers NULL and
 *     frees whatever it allocated;
 *   - texts (GetPluginInfo answers, info_text) are UTF-8; file names are passed exactly as
 *     the file system returns them;
 *   - no C++ exception ever crosses this boundary in either direction: a plug-in answers with
 *     the result codes below, and the host's progress callback never throws.
 *
 * Information numbers of GetPluginInfo: 0 = type code ("00IN" picture plug-in, "00AM" archive
 * plug-in, "00XN" other), 1 = name, version and copyright, then pairs 2n / 2n+1 (n >= 1) of a
 * pattern list such as "*.jpg;*.jpeg" and its format description. The result is the length of
 * the text copied, 0 or less when there is no such entry. The host always passes a zeroed
 * 256-byte buffer with buflen 255 and terminates it itself, so a text that does not fit is cut.
 *
 * Bitmap blocks returned by GetPicture / GetPreview: the info block holds a 40-byte
 * PictorBitmapInfoHeader followed by the colour table (blue, green, red, 0 per entry; colours =
 * biClrUsed, or 2^bits for 1, 4 and 8 bits when biClrUsed is 0); the pixel block holds
 * |height| rows of ((width * bits + 31) / 32) * 4 bytes, bottom-up for a positive height.
 * Plug-ins also fill biSizeImage.
 */
#ifndef PICTOR_SPI_ABI_H
#define PICTOR_SPI_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PICTOR_SPI_ABI_VERSION 1

/* Result codes of the picture and archive functions. */
enum {
    PICTOR_SPI_SUCCESS = 0,
    PICTOR_SPI_NOT_IMPLEMENTED = -1,
    PICTOR_SPI_ABORTED = 1, /* the progress callback asked to stop */
    PICTOR_SPI_UNKNOWN_FORMAT = 2,
    PICTOR_SPI_BROKEN_DATA = 3,
    PICTOR_SPI_NO_MEMORY = 4,
    PICTOR_SPI_MEMORY_ERROR = 5,
    PICTOR_SPI_READ_ERROR = 6,
    PICTOR_SPI_INTERNAL_ERROR = 8
};

/* Low three bits of `flag`: where the data comes from. For a file, `buf` is its name and `len`
 * the byte offset at which the picture starts; for memory, `buf` is the data and `len` its
 * size in bytes. */
#define PICTOR_SPI_INPUT_MASK 7u
#define PICTOR_SPI_INPUT_FILE 0u
#define PICTOR_SPI_INPUT_MEMORY 1u

/* Filled by GetPictureInfo. The host zeroes it before the call and uses only info_text
 * (which it frees); the real picture size comes from the bitmap GetPicture returns. Same
 * byte layout as the padded 64-bit record of the classic interface. */
typedef struct PictorPictureInfo {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    uint16_t x_density; /* dots per inch, or 0 */
    uint16_t y_density;
    int16_t colorDepth; /* bits per pixel */
    uint16_t reserved;  /* 0 */
    char* info_text;    /* malloc'd UTF-8 text or NULL; freed by the host */
} PictorPictureInfo;

/* The 40-byte header at the start of the info block (all fields little-endian). */
typedef struct PictorBitmapInfoHeader {
    uint32_t biSize; /* 40 */
    int32_t biWidth;
    int32_t biHeight; /* positive: bottom-up rows */
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} PictorBitmapInfoHeader;

#ifdef __cplusplus
#define PICTOR_SPI_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define PICTOR_SPI_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
PICTOR_SPI_STATIC_ASSERT(sizeof(void*) == 8, "Pictor SPI ABI 1 is defined for 64-bit targets");
PICTOR_SPI_STATIC_ASSERT(sizeof(PictorPictureInfo) == 32, "PictorPictureInfo must be 32 bytes");
PICTOR_SPI_STATIC_ASSERT(offsetof(PictorPictureInfo, info_text) == 24,
                         "PictorPictureInfo.info_text must be at offset 24");
PICTOR_SPI_STATIC_ASSERT(sizeof(PictorBitmapInfoHeader) == 40,
                         "PictorBitmapInfoHeader must be 40 bytes");

/* Progress callback handed to GetPicture / GetPreview / GetFile: called with num = 0 first,
 * then now and then until num = denom. 0 lets the plug-in go on; nonzero asks it to stop, and
 * it then returns PICTOR_SPI_ABORTED. lData is the value the host passed in. */
typedef int32_t (*PictorSpiProgressCallback)(int32_t num, int32_t denom, intptr_t lData);

/* The exports, by the name the host resolves. */
typedef int32_t (*PictorGetPluginInfoFn)(int32_t infono, char* buf, int32_t buflen);
/* header: the file's first bytes, at least 2048 readable, zero-padded; never a file handle.
 * Nonzero: the plug-in can read the file. */
typedef int32_t (*PictorIsSupportedFn)(const char* filename, const void* header);
typedef int32_t (*PictorGetPictureInfoFn)(const char* buf, intptr_t len, uint32_t flag,
                                          PictorPictureInfo* info);
typedef int32_t (*PictorGetPictureFn)(const char* buf, intptr_t len, uint32_t flag,
                                      void** info_block, void** pixel_block,
                                      PictorSpiProgressCallback progress, intptr_t lData);
/* Same contract as GetPicture; may return a smaller picture, or PICTOR_SPI_NOT_IMPLEMENTED. */
typedef PictorGetPictureFn PictorGetPreviewFn;
/* parent: a window of the host or NULL; function: 0 about box, 1 settings. */
typedef int32_t (*PictorConfigurationDlgFn)(void* parent, int32_t function);
/* Archive plug-ins ("00AM"). The host resolves and requires these but does not call them;
 * their record layouts are the archive plug-in's business. */
typedef int32_t (*PictorGetArchiveInfoFn)(const char* buf, intptr_t len, uint32_t flag,
                                          void** file_info_block);
typedef int32_t (*PictorGetFileInfoFn)(const char* buf, intptr_t len, const char* filename,
                                       uint32_t flag, void* file_info);
typedef int32_t (*PictorGetFileFn)(const char* src, intptr_t len, char* dest, uint32_t flag,
                                   PictorSpiProgressCallback progress, intptr_t lData);
/* Optional: returns PICTOR_SPI_ABI_VERSION. A library exporting it with any other answer is
 * not loaded; a library without it is taken as version 1. */
typedef int32_t (*PictorSpiAbiFn)(void);

#ifdef PICTOR_SPI_PLUGIN
/* Declarations for plug-in sources: define PICTOR_SPI_PLUGIN before including this header and
 * define the functions the plug-in's type needs (GetPluginInfo always; IsSupported,
 * GetPictureInfo and GetPicture for "00IN"; IsSupported, GetArchiveInfo, GetFileInfo and
 * GetFile for "00AM"). */
#define PICTOR_SPI_EXPORT __attribute__((visibility("default")))
PICTOR_SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen);
PICTOR_SPI_EXPORT int32_t IsSupported(const char* filename, const void* header);
PICTOR_SPI_EXPORT int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                         PictorPictureInfo* info);
PICTOR_SPI_EXPORT int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag,
                                     void** info_block, void** pixel_block,
                                     PictorSpiProgressCallback progress, intptr_t lData);
PICTOR_SPI_EXPORT int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag,
                                     void** info_block, void** pixel_block,
                                     PictorSpiProgressCallback progress, intptr_t lData);
PICTOR_SPI_EXPORT int32_t ConfigurationDlg(void* parent, int32_t function);
PICTOR_SPI_EXPORT int32_t GetArchiveInfo(const char* buf, intptr_t len, uint32_t flag,
                                         void** file_info_block);
PICTOR_SPI_EXPORT int32_t GetFileInfo(const char* buf, intptr_t len, const char* filename,
                                      uint32_t flag, void* file_info);
PICTOR_SPI_EXPORT int32_t GetFile(const char* src, intptr_t len, char* dest, uint32_t flag,
                                  PictorSpiProgressCallback progress, intptr_t lData);
PICTOR_SPI_EXPORT int32_t PictorSpiAbi(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* PICTOR_SPI_ABI_H */
