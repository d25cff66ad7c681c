// Fuzz target for the WMF reader and player (the reader also takes EMF, so mutations that turn
// one into the other are followed too).
#include "metafile_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pictor_fuzz::Check(data, size);
    return 0;
}
