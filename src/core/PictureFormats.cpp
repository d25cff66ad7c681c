#include "core/PictureFormats.h"

#include "core/Bitmap.h"
#include "core/Exception.h"
#include "core/PathRules.h"

namespace pictor {

TPictureFormats& TPictureFormats::Instance() {
    static TPictureFormats instance;
    return instance;
}

void TPictureFormats::Register(const std::string& extension, const std::string& description,
                               const TGraphicClass* graphicClass) {
    if (!graphicClass) return;
    for (auto& f : FFormats) {
        if (SameTextAscii(f.Extension, extension)) {
            f = {extension, description, graphicClass};
            return;
        }
    }
    FFormats.push_back({extension, description, graphicClass});
}

void TPictureFormats::Unregister(const TGraphicClass* graphicClass) {
    std::erase_if(FFormats, [&](const TPictureFormat& f) { return f.GraphicClass == graphicClass; });
}

const TPictureFormat* TPictureFormats::Find(const std::string& extension) const {
    std::string ext = extension;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    for (auto& f : FFormats)
        if (SameTextAscii(f.Extension, ext)) return &f;
    return nullptr;
}

Bitmap TPictureFormats::LoadPicture(const std::string& fileName) const {
    std::string ext = ExtractFileExt(fileName);
    if (!ext.empty()) ext.erase(0, 1);
    const TPictureFormat* f = Find(ext);
    if (!f || !f->GraphicClass->LoadFromFile)
        throw EInvalidGraphic(FormatMessage("Unknown picture file extension (.%s)", {ext}));
    return f->GraphicClass->LoadFromFile(fileName);
}

} // namespace pictor
