#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictor {

// A JPEG image that cannot be read. The message starts with "JPEG image is not valid" and
// gives libjpeg's reason (or ours: size or scan limits).
class EJpegError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Files larger than this are refused before they are read.
constexpr uint64_t MaxJpegFileSize = uint64_t(1) << 30;

// The frame size from the file's headers as libjpeg reads it (SOF of the main picture, not of
// an EXIF thumbnail). False when the headers cannot be read; never raises.
bool ReadJpegHeaderSize(std::span<const uint8_t> data, int& width, int& height);

// Size of a decode at 1/scaleDenom (1, 2, 4 or 8): each side rounded up, as libjpeg does.
void JpegScaledSize(int width, int height, int scaleDenom, int& scaledWidth, int& scaledHeight);

// Decodes a whole JPEG file image into a pf24bit bitmap, at full size or reduced by libjpeg's
// DCT scaling (scaleDenom 1, 2, 4 or 8; anything else raises EInvalidGraphic). Grey pictures
// become grey 24-bit; CMYK and YCCK pictures are converted to RGB (their values are taken as
// inverted when an Adobe marker is present, as Adobe programs write them).
//
// Damaged entropy data and early ends of file give a picture (libjpeg fills what is missing);
// anything libjpeg cannot decode raises EJpegError, as do frames beyond the pixel cap, files
// with too many scans and pictures needing too much decoder memory. Never reads outside `data`.
Bitmap ReadJpeg(std::span<const uint8_t> data, int scaleDenom = 1);

// The same, decoding into `reuse`: its pixel buffer is kept when it already is a pf24bit
// bitmap of the decoded size (the usual case when a viewer steps through photos of one
// camera), so no memory is allocated or cleared per picture. On failure `reuse` is left
// empty, never half-decoded.
void ReadJpegInto(std::span<const uint8_t> data, Bitmap& reuse, int scaleDenom = 1);

// Reads a JPEG file; EInOutError when the file cannot be read, EJpegError when it is not a
// readable JPEG or is larger than MaxJpegFileSize.
Bitmap LoadJpegFile(const std::string& path, int scaleDenom = 1);

// Encodes a bitmap of any pixel format as a baseline JFIF file, 4:2:0, with the libjpeg
// quality scale (1..100; anything else raises EInvalidGraphic). An empty bitmap raises
// EInvalidGraphic.
std::vector<uint8_t> WriteJpeg(const Bitmap& bitmap, int quality);

// Writes the file through a temporary file in the same folder that is flushed and then
// renamed over the target, so the target is either the old or the complete new file. On
// failure the temporary file is removed and EInOutError names the path.
void SaveJpegFile(const Bitmap& bitmap, const std::string& path, int quality);

// Registers "jpg", "jpeg" and "jpe" ("JPEG Image File") in TPictureFormats::Instance().
void RegisterJpegFormats();

} // namespace pictor
