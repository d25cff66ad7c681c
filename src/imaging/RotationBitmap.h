#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

#include <string>

namespace pictor {

// Raised by RotateBitmap: "Bitmap Size Error" for a picture without pixels, "Illegal Bitmap"
// for a pixel format it does not know.
class ERotateError : public Exception {
public:
    using Exception::Exception;
};

// A new bitmap holding `source` turned or mirrored. `mode` is compared exactly:
//   "90"  a quarter turn anticlockwise (the result is Height wide and Width high)
//   "270" a quarter turn clockwise
//   "ud"  mirrored top to bottom
//   "rl"  mirrored left to right
// Any other text gives a bitmap of the source's size, format and palette whose pixels are all
// zero bits.
//
// Whole pixels are copied without decoding, so palette indices, colour values, masks and the
// fourth byte of 32-bit pixels come out exactly as they went in. The result has the source's
// pixel format and a copy of its palette; pfDevice (32-bit B, G, R, unused) comes back as
// pf32bit, and a pfCustom bitmap keeps its masks and its 16- or 32-bit units, alpha included.
// Padding bits beyond the last pixel of a row are zero in the result whatever they were in
// the source. `source` is not changed. Large pictures are spread over the cores with
// ForEachRowBand; the bytes do not depend on the number of threads.
Bitmap RotateBitmap(const Bitmap& source, const std::string& mode);

} // namespace pictor
