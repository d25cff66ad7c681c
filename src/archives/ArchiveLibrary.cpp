#include "archives/ArchiveLibrary.h"

#include "core/PathRules.h"

#include <dlfcn.h>
#include <stdexcept>
#include <sys/stat.h>

namespace pictor {

namespace {

std::string& SearchFolderOverride() {
    static std::string folder;
    return folder;
}

std::string SearchFolder() {
    const std::string& set = SearchFolderOverride();
    if (set.empty()) return ProgramFolder();
    return set.back() == '/' ? set : set + '/';
}

} // namespace

TArchiveLibrary::TArchiveLibrary(TArchiveLibraryInfo info)
    : FInfo(std::move(info)), FSlots(FInfo.Functions.size(), nullptr) {
    // The slots the program calls must be in every table; a table without them is a
    // programming error caught on first use of the unit.
    FCommand = IndexOf("");
    FCheckArchive = IndexOf("CheckArchive");
    FOpenArchive = IndexOf("OpenArchive");
    FCloseArchive = IndexOf("CloseArchive");
    FFindFirst = IndexOf("FindFirst");
    FFindNext = IndexOf("FindNext");
}

TArchiveLibrary::~TArchiveLibrary() {
    // Left loaded only when a caller skipped its unload; let the loader keep it until exit.
    FHandle = nullptr;
}

void TArchiveLibrary::SetSearchFolder(std::string folder) {
    SearchFolderOverride() = std::move(folder);
}

size_t TArchiveLibrary::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < FInfo.Functions.size(); ++i)
        if (FInfo.Functions[i] == name) return i;
    throw std::out_of_range(std::string(FInfo.Prefix) + std::string(name) +
                            " is not an entry point of " + FInfo.FileName);
}

void TArchiveLibrary::Load() {
    if (FHandle) return;
    // The copy beside the program wins; without one the loader's search path is tried.
    const std::string besideProgram = SearchFolder() + FInfo.FileName;
    struct stat st;
    void* handle = nullptr;
    std::string reason;
    if (!SearchFolder().empty() && ::stat(besideProgram.c_str(), &st) == 0) {
        handle = ::dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            if (const char* e = ::dlerror()) reason = e;
    } else if (SearchFolderOverride().empty()) {
        handle = ::dlopen(FInfo.FileName, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            if (const char* e = ::dlerror()) reason = e;
    } else {
        reason = besideProgram + ": そのようなファイルはありません";
    }
    if (!handle) FInfo.Raise(std::string(FInfo.LoadText) + reason);
    FHandle = handle;
    for (size_t i = 0; i < FInfo.Functions.size(); ++i) {
        const std::string symbol = std::string(FInfo.Prefix) + std::string(FInfo.Functions[i]);
        // A missing export keeps its replacement: only a call of it fails.
        FSlots[i] = ::dlsym(FHandle, symbol.c_str());
    }
}

void TArchiveLibrary::Unload() {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
    std::fill(FSlots.begin(), FSlots.end(), nullptr);
}

void TArchiveLibrary::Missing(std::string_view name) const {
    FInfo.Raise(std::string(FInfo.LeadText) + std::string(name) + " 関数が使えません。");
}

void* TArchiveLibrary::Slot(size_t index) const {
    if (!FSlots[index]) Missing(FInfo.Functions[index]);
    return FSlots[index];
}

void* TArchiveLibrary::Entry(std::string_view name) const {
    return Slot(IndexOf(name));
}

bool TArchiveLibrary::HasEntry(std::string_view name) const {
    return FSlots[IndexOf(name)] != nullptr;
}

int TArchiveLibrary::Command(ARC_HWND owner, const char* cmdLine, char* output, ARC_DWORD size) {
    return reinterpret_cast<TArcCommandFn>(Slot(FCommand))(owner, cmdLine, output, size);
}

ARC_BOOL TArchiveLibrary::CheckArchive(const char* path, int mode) {
    return reinterpret_cast<TArcCheckArchiveFn>(Slot(FCheckArchive))(path, mode);
}

HARC TArchiveLibrary::OpenArchive(ARC_HWND owner, const char* path, ARC_DWORD mode) {
    return reinterpret_cast<TArcOpenArchiveFn>(Slot(FOpenArchive))(owner, path, mode);
}

int TArchiveLibrary::CloseArchive(HARC arc) {
    return reinterpret_cast<TArcCloseArchiveFn>(Slot(FCloseArchive))(arc);
}

int TArchiveLibrary::FindFirst(HARC arc, const char* wildcard, INDIVIDUALINFO* info) {
    return reinterpret_cast<TArcFindFirstFn>(Slot(FFindFirst))(arc, wildcard, info);
}

int TArchiveLibrary::FindNext(HARC arc, INDIVIDUALINFO* info) {
    return reinterpret_cast<TArcFindNextFn>(Slot(FFindNext))(arc, info);
}

} // namespace pictor
