#include "app/PictureSetup.h"

#include "core/BmpCodec.h"
#include "core/IconReader.h"
#include "core/JpegCodec.h"
#include "core/Metafile.h"
#include "plugins/SPIBmp.h"

namespace pictor {

void RegisterPictureFormats() {
    RegisterBmpFormats();
    RegisterJpegFormats();
    RegisterIconFormats();
    RegisterMetafileFormats();
    InitSPIGraphics();
}

} // namespace pictor
