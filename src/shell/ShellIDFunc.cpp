#include "shell/ShellIDFunc.h"

#include <stdexcept>

namespace pictor {

namespace {

// Longest name one ID can carry: the 16-bit length counts the length field and kind byte.
constexpr std::size_t MaxIdName = 0xFFFF - 3;

void AppendID(std::string& bytes, TIdKind kind, std::string_view name) {
    if (name.size() > MaxIdName) throw std::length_error("item ID name too long");
    const std::size_t cb = name.size() + 3;
    bytes.push_back(static_cast<char>(cb & 0xFF));
    bytes.push_back(static_cast<char>(cb >> 8));
    bytes.push_back(static_cast<char>(kind));
    bytes.append(name);
}

std::size_t IdLength(const std::string& bytes, std::size_t pos) {
    return static_cast<unsigned char>(bytes[pos]) |
           (static_cast<unsigned char>(bytes[pos + 1]) << 8);
}

// Where the last ID starts (0 for an empty chain).
std::size_t LastOffset(const std::string& bytes) {
    std::size_t pos = 0, last = 0;
    while (pos < bytes.size()) {
        last = pos;
        pos += IdLength(bytes, pos);
    }
    return last;
}

} // namespace

TItemIDList::TItemIDList(TIdKind kind, std::string_view name) {
    AppendID(FBytes, kind, name);
}

TItemIDList TItemIDList::Null() {
    TItemIDList list;
    list.FNull = true;
    return list;
}

TItemIDList TItemIDList::FromBytes(std::string_view bytes) {
    TItemIDList list;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 2) return Null();
        const std::size_t cb = static_cast<unsigned char>(bytes[pos]) |
                               (static_cast<unsigned char>(bytes[pos + 1]) << 8);
        if (cb == 0) {
            if (pos + 2 != bytes.size()) return Null(); // bytes after the terminator
            break;
        }
        if (cb < 3 || cb > bytes.size() - pos) return Null();
        const auto kind = static_cast<unsigned char>(bytes[pos + 2]);
        if (kind < 1 || kind > 8) return Null();
        pos += cb;
    }
    list.FBytes.assign(bytes.substr(0, pos));
    return list;
}

int TItemIDList::Count() const {
    int n = 0;
    for (std::size_t pos = 0; pos < FBytes.size(); pos += IdLength(FBytes, pos))
        ++n;
    return n;
}

std::vector<TItemID> TItemIDList::IDs() const {
    std::vector<TItemID> ids;
    for (std::size_t pos = 0; pos < FBytes.size();) {
        const std::size_t cb = IdLength(FBytes, pos);
        ids.push_back({static_cast<TIdKind>(FBytes[pos + 2]),
                       std::string_view(FBytes).substr(pos + 3, cb - 3)});
        pos += cb;
    }
    return ids;
}

TItemID TItemIDList::ID(int index) const {
    std::size_t pos = 0;
    for (int i = 0; i < index; ++i)
        pos += IdLength(FBytes, pos);
    const std::size_t cb = IdLength(FBytes, pos);
    return {static_cast<TIdKind>(FBytes[pos + 2]),
            std::string_view(FBytes).substr(pos + 3, cb - 3)};
}

TItemID TItemIDList::Last() const {
    const std::size_t last = LastOffset(FBytes);
    const std::size_t cb = IdLength(FBytes, last);
    return {static_cast<TIdKind>(FBytes[last + 2]),
            std::string_view(FBytes).substr(last + 3, cb - 3)};
}

TItemIDList TItemIDList::Concat(const TItemIDList& tail) const {
    if (FNull || tail.FNull) return FNull ? tail : *this;
    TItemIDList list;
    list.FBytes.reserve(FBytes.size() + tail.FBytes.size());
    list.FBytes = FBytes;
    list.FBytes += tail.FBytes;
    return list;
}

TItemIDList TItemIDList::Append(TIdKind kind, std::string_view name) const {
    TItemIDList list;
    list.FBytes.reserve(FBytes.size() + name.size() + 3);
    list.FBytes = FBytes;
    AppendID(list.FBytes, kind, name);
    return list;
}

TItemIDList TItemIDList::FirstID() const {
    if (FNull) return Null();
    TItemIDList list;
    if (!FBytes.empty()) list.FBytes = FBytes.substr(0, IdLength(FBytes, 0));
    return list;
}

TItemIDList TItemIDList::LastID() const {
    if (FNull) return Null();
    TItemIDList list;
    if (!FBytes.empty()) list.FBytes = FBytes.substr(LastOffset(FBytes));
    return list;
}

TItemIDList TItemIDList::Parent() const {
    if (FNull) return Null();
    TItemIDList list;
    list.FBytes = FBytes.substr(0, LastOffset(FBytes));
    return list;
}

int Level(const TItemIDList& list) {
    return list.IsNull() ? -1 : list.Count();
}

} // namespace pictor
