// UnZip32.so: the ZIP (.zip) archiver library.
#define PICTOR_ARC_PREFIX UnZip
#define PICTOR_ARC_KIND pictor::arc::TArcKind::Zip
#include "ArchiverExports.inc"
