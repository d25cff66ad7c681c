#pragma once

#include "core/Bitmap.h"
#include "core/Exception.h"

namespace pictor {

// Raised by the effect filters; carries only its message.
class EEffectError : public Exception {
public:
    using Exception::Exception;
};

// Pixel filters for the effects dialog. Each one reads any pixel format (the picture is taken
// as 24-bit B, G, R), never changes the source, and returns a new pf24bit bitmap of the same
// size that belongs to the caller. An empty source (width or height 0) raises EEffectError
// "Invalid Bitmap Size". Large pictures are spread over the cores with ForEachRowBand; the
// bytes are the same whatever the number of threads.

// Y = 0.298912 R + 0.586611 G + 0.114478 B in extended precision, rounded half to even.
Bitmap EffectGray(const Bitmap& source);
// 8-bit luminance, red and blue taken through the curves 255 (Y/255)^0.75 and ^1.33.
Bitmap EffectSepia(const Bitmap& source);
// Every byte inverted.
Bitmap EffectNegative(const Bitmap& source);
// 3 x 3 mean; the first and last columns are averaged vertically only.
Bitmap EffectSoft(const Bitmap& source);
// 3 x 3 sharpening kernel (14 in the centre, -1 around it, divided by 6).
Bitmap EffectSharp(const Bitmap& source);

// Variants of EffectEmboss. Any other value behaves as emEmboss.
inline constexpr int emEmboss = 1;
inline constexpr int emRelief = 2;
inline constexpr int emSketch = 3;
inline constexpr int emColorEmboss = 4;

// Upper-left against lower-right neighbour: a grey relief around 128 (emEmboss), the same
// with the near-flat band turned white (emRelief), a white sketch of the edges (emSketch) or
// the difference added to each colour channel (emColorEmboss).
Bitmap EffectEmboss(const Bitmap& source, int embossMode);

} // namespace pictor
