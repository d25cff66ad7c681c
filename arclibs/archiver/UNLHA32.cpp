// UNLHA32.so: the LHA (.lzh) archiver library.
#define PICTOR_ARC_PREFIX Unlha
#define PICTOR_ARC_KIND pictor::arc::TArcKind::Lha
#include "ArchiverExports.inc"
