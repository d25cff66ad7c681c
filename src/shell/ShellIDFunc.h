#pragma once

// Item ID lists: the identifiers of namespace items.
//
// A list is a chain of IDs, each a 16-bit little-endian length (counting itself), a kind byte
// and the item's name in bytes, ended by a zero length. Names are raw file-name bytes (not
// necessarily UTF-8), so any file the system can hold can be named. The empty chain is the
// desktop. A list is a plain value: copying it copies the bytes.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pictor {

// What one ID stands for. The kind decides how the parent folder resolves the name.
enum class TIdKind : std::uint8_t {
    Home = 1,      // the user's home folder (under the desktop)
    Computer = 2,  // the volumes (under the desktop)
    Trash = 3,     // the freedesktop trash (under the desktop)
    Network = 4,   // network mounts (under the desktop)
    Volume = 5,    // a mounted volume; name = its mount point (under the computer)
    Entry = 6,     // a file-system entry; name = its file name
    TrashItem = 7, // a trashed item; name = the path of the item in a trash "files" folder
    NetMount = 8,  // a network mount; name = its mount point (under the network)
};

struct TItemID {
    TIdKind Kind = TIdKind::Entry;
    std::string_view Name; // bytes, a view into the list it came from
};

class TItemIDList {
public:
    TItemIDList() = default; // the desktop (no IDs)
    // One ID.
    TItemIDList(TIdKind kind, std::string_view name);
    // Parses a chain of bytes (with or without its terminator). Returns an empty optional-like
    // invalid list (IsValid false) when the bytes are not a well-formed chain.
    static TItemIDList FromBytes(std::string_view bytes);
    // A null list (no list at all), as distinct from the desktop's empty list.
    static TItemIDList Null();

    bool IsNull() const { return FNull; }
    bool IsEmpty() const { return !FNull && FBytes.empty(); }
    // Number of IDs (0 for the desktop and for a null list).
    int Count() const;
    std::vector<TItemID> IDs() const;
    TItemID ID(int index) const; // index must be < Count()
    TItemID Last() const;        // Count() must be > 0

    // The chain's bytes without the terminator.
    const std::string& Bytes() const { return FBytes; }
    // Total byte size: the IDs' lengths plus 2 for the terminator (0 for a null list).
    std::size_t ByteSize() const { return FNull ? 0 : FBytes.size() + 2; }

    // The list with another appended (the second's IDs after the first's).
    TItemIDList Concat(const TItemIDList& tail) const;
    TItemIDList Append(TIdKind kind, std::string_view name) const;
    TItemIDList FirstID() const; // the first ID alone (the desktop for an empty list)
    TItemIDList LastID() const;  // the last ID alone (the desktop for an empty list)
    TItemIDList Parent() const;  // all IDs but the last (the desktop for one or none)

    bool operator==(const TItemIDList& other) const = default;
    // Byte order, for use as a map key; not the display order.
    std::strong_ordering operator<=>(const TItemIDList& other) const = default;

private:
    std::string FBytes;
    bool FNull = false;
};

// Level of an absolute list: -1 for a null list, 0 for the desktop, else the number of IDs.
int Level(const TItemIDList& list);

} // namespace pictor
