#include "OutputText.h"

#include "NameText.h"

#include <cstring>

namespace pictor::arc {

void TOutputText::Line(std::string_view text) {
    if (FTruncated || FText.size() >= FCapacity) {
        FTruncated = true;
        return;
    }
    const size_t room = FCapacity - FText.size();
    FText.append(text.substr(0, Utf8Prefix(text, room)));
    if (text.size() < room)
        FText += '\n';
    else
        FTruncated = true;
}

void TOutputText::CopyTo(char* buf, uint32_t size) const {
    if (!buf || size == 0) return;
    const size_t n = Utf8Prefix(FText, size_t(size) - 1);
    std::memcpy(buf, FText.data(), n);
    buf[n] = '\0';
}

} // namespace pictor::arc
