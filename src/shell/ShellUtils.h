#pragma once

// Helpers on absolute item ID lists: level, comparison, path, special folders, the kind of an
// item and its attributes. None of them raise: a failure gives the neutral value.

#include "shell/ShellFolder.h"
#include "shell/ShellIDFunc.h"

#include <QString>

#include <cstdint>
#include <string>

namespace pictor {

enum TShItemIDType : std::uint8_t {
    itDeskTop = 0,
    itMyComputer = 1,
    itRootDrive = 2,
    itFolder = 3,
    itFile = 4,
    itInterNet = 5,
    itBitBucket = 6,
    itNetWork = 7,
    itVirtual = 8,
    itUnknown = 9,
};

// A set over itBitBucket..itVirtual.
class TShVirtuaItems {
public:
    constexpr TShVirtuaItems() = default;
    constexpr TShVirtuaItems(std::initializer_list<TShItemIDType> kinds) {
        for (auto k : kinds)
            Include(k);
    }
    constexpr bool Contains(TShItemIDType k) const {
        return k >= itBitBucket && k <= itVirtual && (FBits >> (k - itBitBucket)) & 1;
    }
    constexpr void Include(TShItemIDType k) {
        if (k >= itBitBucket && k <= itVirtual) FBits |= 1u << (k - itBitBucket);
    }
    constexpr void Exclude(TShItemIDType k) {
        if (k >= itBitBucket && k <= itVirtual) FBits &= ~(1u << (k - itBitBucket));
    }
    constexpr bool operator==(const TShVirtuaItems&) const = default;

private:
    unsigned FBits = 0;
};

inline constexpr TShVirtuaItems DefaultShVirtuaItems{itBitBucket, itNetWork};

// Special folders by their shell numbers.
enum : int {
    CSIDL_DESKTOP = 0x0000,
    CSIDL_BITBUCKET = 0x000A,
    CSIDL_DESKTOPDIRECTORY = 0x0010,
    CSIDL_DRIVES = 0x0011,
    CSIDL_NETWORK = 0x0012,
};
// The list of a special folder; a null list for an unknown number.
TItemIDList SpecialFolderIDList(int csidl);

// Compares two lists through a folder's comparison with column 0 (the desktop when folder is
// null): 0 equal, 1 the first sorts after the second, 2 before, 3 on failure or a null list.
int ComparePIDLs(const TItemIDList& a, const TItemIDList& b, const TShellFolder* folder = nullptr);

// The file-system path of an absolute list; empty when it is not in the file system.
std::string GetPathFromIDList(const TItemIDList& absolute);
// The absolute list of a path: below the desktop folder through the desktop, below the home
// folder through Home, otherwise through the volume that holds it. Null for a relative or
// malformed path.
TItemIDList PathToIDList(const std::string& path);

// The display name of an absolute list (the desktop's own name for the empty list).
QString DisplayNameOf(const TItemIDList& absolute);

// One attribute (an index into ShellAttributeFlags) of an absolute list, asked of its parent.
bool ItemHasAttribute(const TItemIDList& absolute, int index);
std::uint32_t ItemAttributes(const TItemIDList& absolute, std::uint32_t mask);

// The kind of an absolute list.
TShItemIDType ItemIDType(const TItemIDList& absolute);
// The same with the attributes (file system, ancestor, folder) already at hand.
TShItemIDType ClassifyItem(const TItemIDList& absolute, std::uint32_t attributes);

// Whether a child of parent is listed, by the parent's level: on the desktop the trash and the
// network only when their kinds are in items and virtual items never; in the computer virtual
// items only with itVirtual; in the network nothing without itNetWork; deeper, everything.
bool KeepByLevel(const TItemIDList& parent, const TShellEntry& entry, TShVirtuaItems items);

} // namespace pictor
