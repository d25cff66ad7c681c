#pragma once

// One archiver library as the program sees it: loaded right before an archive is handled and
// unloaded right after. Every entry point is always callable: while the library is not loaded,
// or when it lacks that export (an older version), a call raises the library's error naming
// the entry point, so a missing library disables only the feature that needs it.

#include "archives/ArchiverApi.h"

#include <string>
#include <string_view>
#include <vector>

namespace pictor {

struct TArchiveLibraryInfo {
    const char* FileName;  // the shared object looked up: "UNLHA32.so" ...
    const char* Prefix;    // of every export: "Unlha" ...
    const char* LeadText;  // the missing-or-too-old text, ending in the prefix
    const char* LoadText;  // the load failure text, before the system's reason
    std::vector<std::string_view> Functions; // the table, in order; "" is the command function
    [[noreturn]] void (*Raise)(const std::string& message);
};

class TArchiveLibrary {
public:
    explicit TArchiveLibrary(TArchiveLibraryInfo info);
    ~TArchiveLibrary();
    TArchiveLibrary(const TArchiveLibrary&) = delete;
    TArchiveLibrary& operator=(const TArchiveLibrary&) = delete;

    // Makes the library available: looked up in the program folder first, then by the dynamic
    // loader's search. Does nothing when it is loaded already. Raises the library's error with
    // the load text and the loader's reason when it cannot be loaded.
    void Load();
    // Releases the library; every entry point raises again.
    void Unload();
    bool Loaded() const { return FHandle != nullptr; }

    // The entry points the program calls.
    int Command(ARC_HWND owner, const char* cmdLine, char* output, ARC_DWORD size);
    ARC_BOOL CheckArchive(const char* path, int mode);
    HARC OpenArchive(ARC_HWND owner, const char* path, ARC_DWORD mode);
    int CloseArchive(HARC arc);
    int FindFirst(HARC arc, const char* wildcard, INDIVIDUALINFO* info);
    int FindNext(HARC arc, INDIVIDUALINFO* info);

    // Any entry point of the table by its name after the prefix ("" for the command
    // function): its address, or the library's error when it is not available. Raises
    // std::out_of_range for a name that is not in this library's table.
    void* Entry(std::string_view name) const;
    bool HasEntry(std::string_view name) const;
    int EntryCount() const { return static_cast<int>(FInfo.Functions.size()); }
    const TArchiveLibraryInfo& Info() const { return FInfo; }

    // Tests point the lookup at a folder of their own; empty restores the program folder.
    static void SetSearchFolder(std::string folder);

private:
    void* Slot(size_t index) const; // raises when empty
    [[noreturn]] void Missing(std::string_view name) const;
    size_t IndexOf(std::string_view name) const;

    TArchiveLibraryInfo FInfo;
    void* FHandle = nullptr;
    std::vector<void*> FSlots; // null: the not-available replacement
    size_t FCommand, FCheckArchive, FOpenArchive, FCloseArchive, FFindFirst, FFindNext;
};

} // namespace pictor
