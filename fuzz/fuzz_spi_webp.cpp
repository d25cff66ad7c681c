// Fuzz target of ifwebp.spi; the checks are in fuzz_bundled_spi.h.
#include "fuzz_bundled_spi.h"
