#include "ArchiverEntry.h"

#include "ArcError.h"
#include "CommandLine.h"
#include "Extractor.h"
#include "Listing.h"
#include "NameText.h"
#include "OutputText.h"
#include "Updater.h"
#include "Utf8Locale.h"
#include "Wildcard.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

namespace pictor::arc::api {

namespace {

constexpr uint16_t kVersion = 100; // 1.00
constexpr uint16_t kSubVersion = 0;

// An archive opened with OpenArchive: its member index and the FindFirst/FindNext position.
struct TOpenArchive {
    TArcKind Kind;
    TArchiveIndex Index;
    std::vector<std::string> Patterns;
    size_t NextIndex = 0;
    long Current = -1; // the member FindFirst/FindNext returned last
};

// Process-wide state of one library (each shared object has its own copy of this code).
struct TLibraryState {
    std::atomic<bool> Running{false};
    std::atomic<int> BackGround{0}, CursorMode{0}, CursorInterval{80};
    std::atomic<ARC_HWND> Owner{nullptr};
    std::atomic<TArcProgressProc> Proc{nullptr};
    std::mutex Mutex;
    std::unordered_set<TOpenArchive*> Handles;
};

TLibraryState& State(TArcKind kind) {
    static TLibraryState states[4];
    return states[int(kind)];
}

// One operation at a time per library.
class TBusy {
public:
    explicit TBusy(TArcKind kind) : FState(State(kind)) {
        FOwned = !FState.Running.exchange(true, std::memory_order_acquire);
    }
    ~TBusy() {
        if (FOwned) FState.Running.store(false, std::memory_order_release);
    }
    explicit operator bool() const { return FOwned; }

private:
    TLibraryState& FState;
    bool FOwned;
};

// Runs f() busy-guarded in UTF-8, turning every exception into failValue.
template <typename R, typename F> R Run(TArcKind kind, R failValue, F&& f) {
    TBusy busy(kind);
    if (!busy) return failValue;
    try {
        TUtf8Locale utf8;
        return f();
    } catch (...) {
        return failValue;
    }
}

TOpenArchive* Lookup(TArcKind kind, HARC arc) {
    TLibraryState& s = State(kind);
    std::lock_guard lock(s.Mutex);
    auto* a = static_cast<TOpenArchive*>(arc);
    return s.Handles.count(a) && a->Kind == kind ? a : nullptr;
}

const TMember* Current(TArcKind kind, HARC arc) {
    TOpenArchive* a = Lookup(kind, arc);
    if (!a || a->Current < 0 || size_t(a->Current) >= a->Index.Members.size()) return nullptr;
    return &a->Index.Members[size_t(a->Current)];
}

ARC_DWORD Clamp32(int64_t v) {
    return v < 0 ? 0 : v > int64_t(0xFFFFFFFF) ? 0xFFFFFFFFu : ARC_DWORD(v);
}

uint16_t Ratio(int64_t packed, int64_t size) {
    if (size <= 0) return 0;
    const long double r = (long double)packed * 1000 / (long double)size;
    return r >= 65535 ? 65535 : uint16_t(r);
}

// Copies text into a caller's buffer, cut at a character boundary and zero-terminated.
// 0, or ARC_ERROR_MORE_HEAP_MEMORY when it had to be cut.
int CopyText(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return ARC_ERROR_MORE_HEAP_MEMORY;
    const size_t n = Utf8Prefix(text, size_t(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n == text.size() ? 0 : ARC_ERROR_MORE_HEAP_MEMORY;
}

void CopyField(const std::string& text, char* field, size_t fieldSize) {
    const size_t n = Utf8Prefix(text, fieldSize - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void FillRecord(const TMember& m, INDIVIDUALINFO* info) {
    std::memset(info, 0, sizeof *info);
    info->dwOriginalSize = Clamp32(m.Size);
    info->dwCompressedSize = Clamp32(m.Packed);
    info->dwCRC = m.Crc;
    info->uOSType = m.OsType;
    info->wRatio = Ratio(m.Packed, m.Size);
    DosDateTime(m.MTime, info->wDate, info->wTime);
    CopyField(m.Name, info->szFileName, sizeof info->szFileName);
    CopyField(AttributeText(m), info->szAttribute, sizeof info->szAttribute);
    CopyField(m.Method, info->szMode, sizeof info->szMode);
}

TArcFileTime FileTime(int64_t unixSeconds, int64_t nanoseconds = 0) {
    // 11644473600 s between 1601-01-01 and 1970-01-01.
    const int64_t ticks = (unixSeconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
    const uint64_t t = ticks < 0 ? 0 : uint64_t(ticks);
    return {ARC_DWORD(t), ARC_DWORD(t >> 32)};
}

// The member at the current position, or failValue.
template <typename R, typename F> R MemberValue(TArcKind kind, HARC arc, R failValue, F&& f) {
    return Run(kind, failValue, [&]() -> R {
        const TMember* m = Current(kind, arc);
        return m ? f(*m) : failValue;
    });
}

template <typename R, typename F> R ArchiveValue(TArcKind kind, HARC arc, R failValue, F&& f) {
    return Run(kind, failValue, [&]() -> R {
        const TOpenArchive* a = Lookup(kind, arc);
        return a ? f(*a) : failValue;
    });
}

int64_t SumSizes(const TOpenArchive& a, bool packed) {
    int64_t sum = 0;
    for (const TMember& m : a.Index.Members)
        sum += packed ? m.Packed : m.Size;
    return sum;
}

int FindFrom(TOpenArchive& a, INDIVIDUALINFO* info) {
    while (a.NextIndex < a.Index.Members.size()) {
        const size_t i = a.NextIndex++;
        if (!MatchAny(a.Patterns, a.Index.Members[i].Name)) continue;
        a.Current = long(i);
        if (info) FillRecord(a.Index.Members[i], info);
        return 0;
    }
    a.Current = -1;
    return a.Index.StopCode ? a.Index.StopCode : -1;
}

int Execute(TArcKind kind, ARC_HWND owner, const TCommandLine& cmd, TOutputText& out) {
    switch (cmd.Command) {
    case TCommandKind::Extract:
    case TCommandKind::ExtractFlat: {
        TExtractOptions opt;
        opt.Patterns = cmd.Patterns;
        opt.Overwrite = cmd.Overwrite;
        opt.Flat = cmd.Command == TCommandKind::ExtractFlat;
        if (TArcProgressProc proc = State(kind).Proc.load()) {
            opt.Progress = [proc, owner](const TMember& m, const std::string& dest, int64_t written,
                                         bool begin) {
                TArcProgressInfo info{};
                info.dwFileSize = Clamp32(m.Size);
                info.dwWriteSize = Clamp32(written);
                CopyField(m.Name, info.szSourceFileName, sizeof info.szSourceFileName);
                CopyField(dest, info.szDestFileName, sizeof info.szDestFileName);
                return proc(owner, 0, begin ? ARC_EXTRACT_BEGIN : ARC_EXTRACT_END, &info) != 0;
            };
        }
        const std::string dest = cmd.BaseFolder.empty() ? std::string("./") : cmd.BaseFolder;
        return ExtractArchive(kind, cmd.Archive, dest, opt, out).Code;
    }
    case TCommandKind::List:
        return ListArchive(kind, cmd.Archive, cmd.Patterns, out);
    case TCommandKind::Test:
        return TestArchive(kind, cmd.Archive, cmd.Patterns, out);
    case TCommandKind::Update:
        if (kind != TArcKind::Lha) return ARC_ERROR_NOT_SUPPORTED;
        return UpdateArchive(cmd, out);
    case TCommandKind::Unsupported:
        break;
    }
    out.Line("command not supported");
    return ARC_ERROR_NOT_SUPPORTED;
}

} // namespace

int Command(TArcKind kind, ARC_HWND owner, const char* cmdLine, char* output, ARC_DWORD size) {
    TBusy busy(kind);
    if (!busy) return ARC_ERROR_ALREADY_RUNNING;
    if (output && size > 0) output[0] = '\0';
    TOutputText out(output && size > 0 ? size_t(size) - 1 : 0);
    int code;
    try {
        TUtf8Locale utf8;
        if (!cmdLine) throw EArcError(ARC_ERROR_COMMAND_NAME, "no command line");
        code = Execute(kind, owner, ParseCommandLine(kind, cmdLine), out);
    } catch (const EArcError& e) {
        out.Line(std::string("error: ") + e.what());
        code = e.Code();
    } catch (const std::bad_alloc&) {
        code = ARC_ERROR_MORE_HEAP_MEMORY;
    } catch (const std::exception& e) {
        out.Line(std::string("error: ") + e.what());
        code = ARC_ERROR_CANNOT_WRITE;
    } catch (...) {
        code = ARC_ERROR_CANNOT_WRITE;
    }
    try {
        out.CopyTo(output, size);
    } catch (...) {
    }
    return code;
}

uint16_t GetVersion(TArcKind) {
    return kVersion;
}
uint16_t GetSubVersion(TArcKind) {
    return kSubVersion;
}
ARC_BOOL GetRunning(TArcKind kind) {
    return State(kind).Running.load() ? 1 : 0;
}
ARC_BOOL GetBackGroundMode(TArcKind kind) {
    return State(kind).BackGround.load();
}
ARC_BOOL SetBackGroundMode(TArcKind kind, ARC_BOOL mode) {
    State(kind).BackGround = mode ? 1 : 0;
    return 1;
}
ARC_BOOL GetCursorMode(TArcKind kind) {
    return State(kind).CursorMode.load();
}
ARC_BOOL SetCursorMode(TArcKind kind, ARC_BOOL mode) {
    State(kind).CursorMode = mode ? 1 : 0;
    return 1;
}
uint16_t GetCursorInterval(TArcKind kind) {
    return uint16_t(State(kind).CursorInterval.load());
}
ARC_BOOL SetCursorInterval(TArcKind kind, uint16_t interval) {
    State(kind).CursorInterval = interval;
    return 1;
}

ARC_BOOL CheckArchive(TArcKind kind, const char* path, int mode) {
    return Run(kind, ARC_BOOL(0),
               [&] { return path && arc::CheckArchive(kind, path, mode) ? 1 : 0; });
}

int GetFileCount(TArcKind kind, const char* path) {
    return Run(kind, -1, [&] {
        if (!path) return -1;
        const TArchiveIndex index = ScanArchive(kind, path);
        return index.StopCode ? -1 : int(std::min<size_t>(index.Members.size(), INT32_MAX));
    });
}

ARC_BOOL ConfigDialog(TArcKind, ARC_HWND, char* options, int) {
    if (options) options[0] = '\0';
    return 0; // no settings dialog on Linux
}

ARC_BOOL QueryFunctionList(TArcKind, int function) {
    switch (function) {
    case kFnCommand:
    case kFnGetVersion:
    case kFnGetCursorInterval:
    case kFnSetCursorInterval:
    case kFnGetBackGroundMode:
    case kFnSetBackGroundMode:
    case kFnGetCursorMode:
    case kFnSetCursorMode:
    case kFnGetRunning:
    case kFnCheckArchive:
    case kFnConfigDialog:
    case kFnGetFileCount:
    case kFnQueryFunctionList:
    case kFnOpenArchive:
    case kFnCloseArchive:
    case kFnFindFirst:
    case kFnFindNext:
    case kFnSetOwnerWindow:
    case kFnClearOwnerWindow:
    case kFnSetOwnerWindowEx:
    case kFnKillOwnerWindowEx:
    case kFnGetArcFileName:
    case kFnGetArcFileSize:
    case kFnGetArcOriginalSize:
    case kFnGetArcCompressedSize:
    case kFnGetArcRatio:
    case kFnGetArcDate:
    case kFnGetArcTime:
    case kFnGetArcOSType:
    case kFnIsSFXFile:
    case kFnGetArcWriteTimeEx:
    case kFnGetArcCreateTimeEx:
    case kFnGetArcAccessTimeEx:
    case kFnGetArcOriginalSizeEx:
    case kFnGetArcCompressedSizeEx:
    case kFnGetFileName:
    case kFnGetOriginalSize:
    case kFnGetCompressedSize:
    case kFnGetRatio:
    case kFnGetDate:
    case kFnGetTime:
    case kFnGetCRC:
    case kFnGetAttribute:
    case kFnGetOSType:
    case kFnGetMethod:
    case kFnGetWriteTime:
    case kFnGetCreateTime:
    case kFnGetAccessTime:
    case kFnGetWriteTimeEx:
    case kFnGetCreateTimeEx:
    case kFnGetAccessTimeEx:
    case kFnGetOriginalSizeEx:
    case kFnGetCompressedSizeEx:
    case kFnGetSubVersion:
        return 1;
    default:
        return 0;
    }
}

ARC_BOOL SetOwnerWindow(TArcKind kind, ARC_HWND owner) {
    State(kind).Owner = owner;
    return 1;
}
ARC_BOOL ClearOwnerWindow(TArcKind kind) {
    State(kind).Owner = nullptr;
    State(kind).Proc = nullptr;
    return 1;
}
ARC_BOOL SetOwnerWindowEx(TArcKind kind, ARC_HWND owner, TArcProgressProc proc) {
    State(kind).Owner = owner;
    State(kind).Proc = proc;
    return 1;
}
ARC_BOOL KillOwnerWindowEx(TArcKind kind, ARC_HWND) {
    return ClearOwnerWindow(kind);
}

HARC OpenArchive(TArcKind kind, ARC_HWND, const char* path, ARC_DWORD) {
    return Run(kind, HARC(nullptr), [&]() -> HARC {
        if (!path) return nullptr;
        auto a = std::make_unique<TOpenArchive>();
        a->Kind = kind;
        a->Index = ScanArchive(kind, path);
        TLibraryState& s = State(kind);
        std::lock_guard lock(s.Mutex);
        s.Handles.insert(a.get());
        return a.release();
    });
}

int CloseArchive(TArcKind kind, HARC arc) {
    return Run(kind, int(ARC_ERROR_ALREADY_RUNNING), [&] {
        TLibraryState& s = State(kind);
        std::lock_guard lock(s.Mutex);
        auto* a = static_cast<TOpenArchive*>(arc);
        if (!s.Handles.erase(a)) return int(ARC_ERROR_HANDLE);
        delete a;
        return 0;
    });
}

int FindFirst(TArcKind kind, HARC arc, const char* wildcard, INDIVIDUALINFO* info) {
    TBusy busy(kind);
    if (!busy) return ARC_ERROR_ALREADY_RUNNING;
    try {
        TOpenArchive* a = Lookup(kind, arc);
        if (!a) return ARC_ERROR_HANDLE;
        a->Patterns.clear();
        for (const TToken& t : SplitCommandLine(wildcard ? wildcard : "*"))
            a->Patterns.push_back(t.Text);
        if (a->Patterns.empty()) a->Patterns.push_back("*");
        a->NextIndex = 0;
        return FindFrom(*a, info);
    } catch (...) {
        return ARC_ERROR_MORE_HEAP_MEMORY;
    }
}

int FindNext(TArcKind kind, HARC arc, INDIVIDUALINFO* info) {
    TBusy busy(kind);
    if (!busy) return ARC_ERROR_ALREADY_RUNNING;
    try {
        TOpenArchive* a = Lookup(kind, arc);
        if (!a) return ARC_ERROR_HANDLE;
        if (a->Patterns.empty()) a->Patterns.push_back("*"); // FindNext without FindFirst
        return FindFrom(*a, info);
    } catch (...) {
        return ARC_ERROR_MORE_HEAP_MEMORY;
    }
}

int GetArcFileName(TArcKind kind, HARC arc, char* buffer, int size) {
    return ArchiveValue(kind, arc, int(ARC_ERROR_HANDLE), [&](const TOpenArchive& a) {
        return CopyText(a.Index.Path, buffer, size);
    });
}
ARC_DWORD GetArcFileSize(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, ARC_DWORD(-1),
                        [](const TOpenArchive& a) { return Clamp32(a.Index.FileStat.st_size); });
}
ARC_DWORD GetArcOriginalSize(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, ARC_DWORD(-1),
                        [](const TOpenArchive& a) { return Clamp32(SumSizes(a, false)); });
}
ARC_DWORD GetArcCompressedSize(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, ARC_DWORD(-1),
                        [](const TOpenArchive& a) { return Clamp32(SumSizes(a, true)); });
}
ARC_BOOL GetArcOriginalSizeEx(TArcKind kind, HARC arc, uint64_t* size) {
    return ArchiveValue(kind, arc, ARC_BOOL(0), [&](const TOpenArchive& a) {
        if (!size) return 0;
        *size = uint64_t(SumSizes(a, false));
        return 1;
    });
}
ARC_BOOL GetArcCompressedSizeEx(TArcKind kind, HARC arc, uint64_t* size) {
    return ArchiveValue(kind, arc, ARC_BOOL(0), [&](const TOpenArchive& a) {
        if (!size) return 0;
        *size = uint64_t(SumSizes(a, true));
        return 1;
    });
}
uint16_t GetArcRatio(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, uint16_t(0xFFFF), [](const TOpenArchive& a) {
        return Ratio(SumSizes(a, true), SumSizes(a, false));
    });
}
uint16_t GetArcDate(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, uint16_t(0xFFFF), [](const TOpenArchive& a) {
        uint16_t d, t;
        DosDateTime(a.Index.FileStat.st_mtim.tv_sec, d, t);
        return d;
    });
}
uint16_t GetArcTime(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, uint16_t(0xFFFF), [](const TOpenArchive& a) {
        uint16_t d, t;
        DosDateTime(a.Index.FileStat.st_mtim.tv_sec, d, t);
        return t;
    });
}
unsigned GetArcOSType(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, unsigned(-1), [](const TOpenArchive& a) {
        return a.Index.Members.empty() ? 0u : a.Index.Members.front().OsType;
    });
}
int IsSFXFile(TArcKind kind, HARC arc) {
    return ArchiveValue(kind, arc, -1, [](const TOpenArchive&) { return 0; });
}
ARC_BOOL GetArcWriteTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    return ArchiveValue(kind, arc, ARC_BOOL(0), [&](const TOpenArchive& a) {
        if (!time) return 0;
        *time = FileTime(a.Index.FileStat.st_mtim.tv_sec, a.Index.FileStat.st_mtim.tv_nsec);
        return 1;
    });
}
ARC_BOOL GetArcCreateTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    // Linux keeps no creation time in stat; the inode change time is the nearest.
    return ArchiveValue(kind, arc, ARC_BOOL(0), [&](const TOpenArchive& a) {
        if (!time) return 0;
        *time = FileTime(a.Index.FileStat.st_ctim.tv_sec, a.Index.FileStat.st_ctim.tv_nsec);
        return 1;
    });
}
ARC_BOOL GetArcAccessTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    return ArchiveValue(kind, arc, ARC_BOOL(0), [&](const TOpenArchive& a) {
        if (!time) return 0;
        *time = FileTime(a.Index.FileStat.st_atim.tv_sec, a.Index.FileStat.st_atim.tv_nsec);
        return 1;
    });
}

int GetFileName(TArcKind kind, HARC arc, char* buffer, int size) {
    return MemberValue(kind, arc, int(ARC_ERROR_HANDLE),
                       [&](const TMember& m) { return CopyText(m.Name, buffer, size); });
}
int GetMethod(TArcKind kind, HARC arc, char* buffer, int size) {
    return MemberValue(kind, arc, int(ARC_ERROR_HANDLE),
                       [&](const TMember& m) { return CopyText(m.Method, buffer, size); });
}
ARC_DWORD GetOriginalSize(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1), [](const TMember& m) { return Clamp32(m.Size); });
}
ARC_DWORD GetCompressedSize(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1),
                       [](const TMember& m) { return Clamp32(m.Packed); });
}
ARC_BOOL GetOriginalSizeEx(TArcKind kind, HARC arc, uint64_t* size) {
    return MemberValue(kind, arc, ARC_BOOL(0), [&](const TMember& m) {
        if (!size) return 0;
        *size = uint64_t(m.Size);
        return 1;
    });
}
ARC_BOOL GetCompressedSizeEx(TArcKind kind, HARC arc, uint64_t* size) {
    return MemberValue(kind, arc, ARC_BOOL(0), [&](const TMember& m) {
        if (!size) return 0;
        *size = uint64_t(m.Packed);
        return 1;
    });
}
uint16_t GetRatio(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, uint16_t(0xFFFF),
                       [](const TMember& m) { return Ratio(m.Packed, m.Size); });
}
uint16_t GetDate(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, uint16_t(0xFFFF), [](const TMember& m) {
        uint16_t d, t;
        DosDateTime(m.MTime, d, t);
        return d;
    });
}
uint16_t GetTime(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, uint16_t(0xFFFF), [](const TMember& m) {
        uint16_t d, t;
        DosDateTime(m.MTime, d, t);
        return t;
    });
}
ARC_DWORD GetCRC(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1), [](const TMember& m) { return ARC_DWORD(m.Crc); });
}
int GetAttribute(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, -1, [](const TMember& m) { return DosAttributes(m); });
}
unsigned GetOSType(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, unsigned(-1), [](const TMember& m) { return m.OsType; });
}
ARC_DWORD GetWriteTime(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1), [](const TMember& m) { return Clamp32(m.MTime); });
}
ARC_DWORD GetCreateTime(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1),
                       [](const TMember& m) { return Clamp32(m.BirthTime); });
}
ARC_DWORD GetAccessTime(TArcKind kind, HARC arc) {
    return MemberValue(kind, arc, ARC_DWORD(-1), [](const TMember& m) { return Clamp32(m.ATime); });
}
ARC_BOOL GetWriteTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    return MemberValue(kind, arc, ARC_BOOL(0), [&](const TMember& m) {
        if (!time) return 0;
        *time = FileTime(m.MTime);
        return 1;
    });
}
ARC_BOOL GetCreateTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    return MemberValue(kind, arc, ARC_BOOL(0), [&](const TMember& m) {
        if (!time) return 0;
        *time = FileTime(m.BirthTime);
        return 1;
    });
}
ARC_BOOL GetAccessTimeEx(TArcKind kind, HARC arc, TArcFileTime* time) {
    return MemberValue(kind, arc, ARC_BOOL(0), [&](const TMember& m) {
        if (!time) return 0;
        *time = FileTime(m.ATime);
        return 1;
    });
}

} // namespace pictor::arc::api
