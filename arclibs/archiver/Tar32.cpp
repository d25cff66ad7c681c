// Tar32.so: the TAR (.tar, .tgz, .tbz) archiver library.
#define PICTOR_ARC_PREFIX Tar
#define PICTOR_ARC_KIND pictor::arc::TArcKind::Tar
#include "ArchiverExports.inc"
