// Cab32.so: the CAB (.cab) archiver library.
#define PICTOR_ARC_PREFIX Cab
#define PICTOR_ARC_KIND pictor::arc::TArcKind::Cab
#include "ArchiverExports.inc"
