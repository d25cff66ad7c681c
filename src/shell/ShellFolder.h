#pragma once

// The namespace that stands in place of the desktop shell: bound folders answering
// enumeration, attributes, display names, comparison by column, data and renaming from the
// file system.
//
// The desktop (the empty list) holds Home, the computer, the trash, the network and the
// entries of the XDG desktop folder. The computer holds the root file system and every
// mounted volume; the network holds network mounts; the trash holds trashed items (shown
// under their original names). Everything below a volume, Home or a desktop entry is a
// file-system entry.

#include "shell/MountTable.h"
#include "shell/ShellIDFunc.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pictor {

// Shell attribute flags.
enum : std::uint32_t {
    SFGAO_CANCOPY = 0x1,
    SFGAO_CANMOVE = 0x2,
    SFGAO_CANLINK = 0x4,
    SFGAO_CANRENAME = 0x10,
    SFGAO_CANDELETE = 0x20,
    SFGAO_HASPROPSHEET = 0x40,
    SFGAO_DROPTARGET = 0x100,
    SFGAO_CAPABILITYMASK = 0x177,
    SFGAO_LINK = 0x10000,
    SFGAO_SHARE = 0x20000,
    SFGAO_READONLY = 0x40000,
    SFGAO_GHOSTED = 0x80000,
    SFGAO_HIDDEN = 0x80000,
    SFGAO_DISPLAYATTRMASK = 0xF0000,
    SFGAO_VALIDATE = 0x1000000,
    SFGAO_FILESYSANCESTOR = 0x10000000,
    SFGAO_FOLDER = 0x20000000,
    SFGAO_FILESYSTEM = 0x40000000,
    SFGAO_HASSUBFOLDER = 0x80000000,
    SFGAO_CONTENTSMASK = 0x80000000,
};

// The attribute index table: attribute tests take an index into it.
inline constexpr std::uint32_t ShellAttributeFlags[20] = {
    SFGAO_CANCOPY,    SFGAO_CANMOVE,         SFGAO_CANLINK,         SFGAO_CANRENAME,
    SFGAO_CANDELETE,  SFGAO_HASPROPSHEET,    SFGAO_DROPTARGET,      SFGAO_CAPABILITYMASK,
    SFGAO_LINK,       SFGAO_SHARE,           SFGAO_READONLY,        SFGAO_GHOSTED,
    SFGAO_HIDDEN,     SFGAO_DISPLAYATTRMASK, SFGAO_FILESYSANCESTOR, SFGAO_FOLDER,
    SFGAO_FILESYSTEM, SFGAO_HASSUBFOLDER,    SFGAO_CONTENTSMASK,    SFGAO_VALIDATE,
};

// Enumeration flags.
enum : std::uint32_t {
    SHCONTF_FOLDERS = 0x20,
    SHCONTF_NONFOLDERS = 0x40,
    SHCONTF_INCLUDEHIDDEN = 0x80
};

// File attribute bits of the find record.
enum : std::uint32_t {
    FILE_ATTRIBUTE_READONLY = 0x1,
    FILE_ATTRIBUTE_HIDDEN = 0x2,
    FILE_ATTRIBUTE_SYSTEM = 0x4,
    FILE_ATTRIBUTE_DIRECTORY = 0x10,
    FILE_ATTRIBUTE_ARCHIVE = 0x20,
};

// The file find record. Times are nanoseconds since 1970 (0: none).
struct TFindData {
    std::uint32_t FileAttributes = 0;
    std::int64_t CreationTime = 0;
    std::int64_t LastAccessTime = 0;
    std::int64_t LastWriteTime = 0;
    std::uint64_t FileSize = 0;
    std::uint32_t FileSizeHigh() const { return static_cast<std::uint32_t>(FileSize >> 32); }
    std::uint32_t FileSizeLow() const { return static_cast<std::uint32_t>(FileSize); }
    bool Filled = false;
};

// One child as a folder knows it: its relative ID, the attributes and find record read with
// one stat, and (once asked for) the name's sort key.
struct TShellEntry {
    TItemIDList Id;
    TFindData Find;
    std::uint32_t Attributes = 0; // SFGAO bits (has-subfolder is answered on request)
    // Caches for sorting, filled on first use (an empty key: not made yet).
    mutable std::string NameKey;
    mutable QString TypeName;
};

// Column numbers of the detail view, also the sort keys.
enum : int { ColName = 0, ColSize = 1, ColType = 2, ColDate = 3, ColAttributes = 4 };

class TShellFolder {
public:
    enum class TKind { Desktop, Computer, Trash, Network, FileSystem };

    // Binds a folder by its absolute list; null when it does not denote a folder (or no
    // longer exists).
    static std::shared_ptr<TShellFolder> Bind(const TItemIDList& absolute);
    static std::shared_ptr<TShellFolder> Desktop();
    // Walks an absolute list: the kind of folder it would be and its storage path. False for
    // a list no folder can have (a volume outside the computer, a bad name ...).
    static bool Resolve(const TItemIDList& absolute, TKind& kind, std::string& path, bool& inTrash);

    TKind Kind() const { return FKind; }
    const TItemIDList& IDList() const { return FList; }
    // The folder's path: the desktop folder for the desktop, empty for virtual folders.
    const std::string& Path() const { return FPath; }

    // Children, folders and/or non-folders and hidden ones by SHCONTF flags. False when the
    // folder cannot be read (the list stays empty). With sortKeys the name keys are made too
    // (on two threads for large folders).
    bool EnumObjects(std::uint32_t flags, std::vector<TShellEntry>& out,
                     bool sortKeys = false) const;

    // Data of one child (one stat). False (and a zeroed entry) when the child is gone.
    bool GetEntry(const TItemIDList& relative, TShellEntry& out) const;
    // The SFGAO bits of mask that all the given children have.
    std::uint32_t GetAttributesOf(const std::vector<TItemIDList>& relatives,
                                  std::uint32_t mask) const;
    std::uint32_t GetAttributesOf(const TItemIDList& relative, std::uint32_t mask) const;
    std::uint32_t GetAttributesOf(const TShellEntry& entry, std::uint32_t mask) const;

    // The in-folder display name.
    QString GetDisplayNameOf(const TItemIDList& relative) const;

    // Compares two children by a column: negative, 0 or positive; nullopt on failure.
    std::optional<int> CompareIDs(int column, const TItemIDList& a, const TItemIDList& b) const;
    // The same with the data at hand (no file-system access except for the type column).
    int CompareEntries(int column, const TShellEntry& a, const TShellEntry& b) const;

    // Renames a child; returns its new relative list, or nullopt with an errno in error.
    std::optional<TItemIDList> SetNameOf(const TItemIDList& relative, const QString& newName,
                                         int* error = nullptr) const;

    // The path of a child ("" when it is not in the file system); the storage path also
    // answers for trashed items, whose data lives in a trash folder.
    std::string ChildPath(const TItemIDList& relative) const;
    std::string ChildStoragePath(const TItemIDList& relative) const;

private:
    TShellFolder(TKind kind, TItemIDList list, std::string path)
        : FKind(kind), FList(std::move(list)), FPath(std::move(path)) {}
    bool EnumFileSystem(std::uint32_t flags, std::vector<TShellEntry>& out, bool sortKeys) const;
    void FillVirtual(const TItemIDList& relative, TShellEntry& out) const;

    TKind FKind;
    TItemIDList FList;
    std::string FPath;
};

// Reads one path's entry data (lstat, then stat through a link): the find record and the
// SFGAO bits. False when the path does not exist.
bool StatEntry(const std::string& path, std::string_view name, TShellEntry& out);

// The user-visible volumes now; never raises (only "/" when the mount table is unreadable).
std::vector<TVolume> CurrentVolumes();

// The sort key of a name: Japanese collation rules, numbers by value, case ignored; keys
// compare with memcmp. The same whatever locale the process runs in, so orders are repeatable.
std::string NameSortKey(const QString& name);
// The entry's name key and MIME type name, computed once and cached in the entry.
const std::string& EntryNameKey(const TShellEntry& entry, const TShellFolder& folder);
const QString& EntryTypeName(const TShellEntry& entry, const TShellFolder& folder);
// "R", "H", "S", "A" for the read-only, hidden, system and archive bits, in this order.
QString EntryAttributeLetters(std::uint32_t fileAttributes);

} // namespace pictor
