// Fuzz target for the EMF reader and player.
#include "metafile_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pictor_fuzz::Check(data, size);
    return 0;
}
