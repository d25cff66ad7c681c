#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace pictor {

class Bitmap;

// A graphic class: how to turn a file or a memory image into a bitmap. Instances are static
// objects whose address identifies the class.
struct TGraphicClass {
    std::string Name;
    std::function<Bitmap(const std::string& fileName)> LoadFromFile;
    // data is the whole file image; name (may be empty) tells the format by its extension.
    std::function<Bitmap(std::span<const uint8_t> data, const std::string& name)> LoadFromMemory;
};

struct TPictureFormat {
    std::string Extension; // without dot, as registered
    std::string Description;
    const TGraphicClass* GraphicClass = nullptr;
};

// The process-wide table from a file extension (without dot, compared ignoring ASCII case) to a
// description and a graphic class. A later registration of an extension replaces the earlier
// one, so the newest reader of a format wins.
class TPictureFormats {
public:
    static TPictureFormats& Instance();

    void Register(const std::string& extension, const std::string& description,
                  const TGraphicClass* graphicClass);
    void Unregister(const TGraphicClass* graphicClass);
    const TPictureFormat* Find(const std::string& extension) const;
    const std::vector<TPictureFormat>& Formats() const { return FFormats; }

    // Loads a picture by its file name's extension; raises EInvalidGraphic
    // "Unknown picture file extension (.%s)" when no class is registered for it.
    Bitmap LoadPicture(const std::string& fileName) const;

private:
    std::vector<TPictureFormat> FFormats;
};

} // namespace pictor
