// Fuzz target of iftiff.spi; the checks are in fuzz_bundled_spi.h.
#include "fuzz_bundled_spi.h"
