#include "shell/ShellFolder.h"

#include "core/SafeRename.h"
#include "shell/MountTable.h"
#include "shell/ShellCst.h"
#include "shell/ShellEnv.h"
#include "shell/Trash.h"

#include <QMimeDatabase>

#include <unicode/ucol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace pictor {

namespace {

// Below this many entries the second thread costs more than it saves.
constexpr std::size_t ParallelThreshold = 4096;

// QCollator's keys cannot hand out their bytes, and comparing them costs two indirections and
// a strcmp each; the same ICU collator (numeric, secondary strength = case ignored) gives
// plain byte strings instead. One collator per thread: they are not safe to share.
struct TIcuCollator {
    UCollator* Handle = nullptr;
    TIcuCollator() {
        UErrorCode status = U_ZERO_ERROR;
        Handle = ucol_open("ja_JP", &status);
        if (U_FAILURE(status)) {
            Handle = nullptr;
            return;
        }
        ucol_setAttribute(Handle, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        ucol_setAttribute(Handle, UCOL_STRENGTH, UCOL_SECONDARY, &status);
    }
    ~TIcuCollator() {
        if (Handle) ucol_close(Handle);
    }
};

std::string MakeSortKey(const QString& name) {
    thread_local TIcuCollator collator;
    const auto* text = reinterpret_cast<const UChar*>(name.utf16());
    const int32_t length = static_cast<int32_t>(name.size());
    std::string key;
    if (!collator.Handle) {
        // Without ICU's data the names' own case-folded bytes still give an order.
        key = name.toCaseFolded().toUtf8().toStdString();
        key.push_back('\0');
        return key;
    }
    key.resize(static_cast<std::size_t>(std::max(32, length * 3)));
    int32_t need =
        ucol_getSortKey(collator.Handle, text, length, reinterpret_cast<uint8_t*>(key.data()),
                        static_cast<int32_t>(key.size()));
    if (need > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(need));
        need = ucol_getSortKey(collator.Handle, text, length,
                               reinterpret_cast<uint8_t*>(key.data()), need);
    }
    key.resize(static_cast<std::size_t>(std::max(need, 1))); // ends with its 0 byte: never empty
    return key;
}

struct TUserIds {
    uid_t Uid;
    gid_t Gid;
    std::vector<gid_t> Groups;
};

const TUserIds& UserIds() {
    static const TUserIds ids = [] {
        TUserIds u{::geteuid(), ::getegid(), {}};
        int n = ::getgroups(0, nullptr);
        if (n > 0) {
            u.Groups.resize(static_cast<std::size_t>(n));
            n = ::getgroups(n, u.Groups.data());
            u.Groups.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        return u;
    }();
    return ids;
}

// Write permission from the mode bits, as the kernel would decide it (no extra syscall).
bool UserCanWrite(const struct stat& st) {
    const TUserIds& u = UserIds();
    if (u.Uid == 0) return true;
    if (st.st_uid == u.Uid) return st.st_mode & S_IWUSR;
    if (st.st_gid == u.Gid ||
        std::find(u.Groups.begin(), u.Groups.end(), st.st_gid) != u.Groups.end())
        return st.st_mode & S_IWGRP;
    return st.st_mode & S_IWOTH;
}

std::int64_t Nanos(const struct timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Fills an entry from lstat (and stat through a link). parentWritable decides whether the
// entry can be moved, renamed or deleted.
bool FillFromStat(int dirFd, const char* pathOrName, std::string_view name, bool parentWritable,
                  TShellEntry& out) {
    struct stat lst;
    if (::fstatat(dirFd, pathOrName, &lst, AT_SYMLINK_NOFOLLOW) != 0) return false;
    struct stat st = lst;
    const bool isLink = S_ISLNK(lst.st_mode);
    if (isLink && ::fstatat(dirFd, pathOrName, &st, 0) != 0) st = lst; // dangling: the link itself
    const bool isDir = S_ISDIR(st.st_mode);
    const bool hidden = !name.empty() && name.front() == '.';
    const bool writable = UserCanWrite(st);

    TFindData& f = out.Find;
    f.FileAttributes = 0;
    if (!writable) f.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (hidden) f.FileAttributes |= FILE_ATTRIBUTE_HIDDEN;
    if (!isDir && !S_ISREG(st.st_mode)) f.FileAttributes |= FILE_ATTRIBUTE_SYSTEM;
    if (isDir) f.FileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    f.LastWriteTime = Nanos(st.st_mtim);
    f.LastAccessTime = Nanos(st.st_atim);
    f.CreationTime = 0; // not kept by every file system; the properties dialog asks statx
    f.FileSize = isDir ? 0 : static_cast<std::uint64_t>(st.st_size);
    f.Filled = true;

    std::uint32_t a =
        SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANLINK | SFGAO_HASPROPSHEET | SFGAO_VALIDATE;
    if (parentWritable) a |= SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE;
    if (isDir) {
        a |= SFGAO_FOLDER;
        if (writable) a |= SFGAO_DROPTARGET;
    }
    if (isLink) a |= SFGAO_LINK;
    if (!writable) a |= SFGAO_READONLY;
    if (hidden) a |= SFGAO_HIDDEN;
    out.Attributes = a;
    return true;
}

bool PathWritable(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && UserCanWrite(st);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder has subfolders when one of its entries is a folder; the link count answers on
// file systems that count them (more than 2 links means subfolders).
bool HasSubfolder(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_nlink > 2) return true;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    bool found = false;
    int looked = 0;
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        if (e->d_type == DT_DIR) {
            found = true;
            break;
        }
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat cst;
            if (::fstatat(::dirfd(dir), e->d_name, &cst, 0) == 0 && S_ISDIR(cst.st_mode)) {
                found = true;
                break;
            }
        }
        if (++looked > 4096) {
            found = true;
            break;
        } // huge flat folder: assume yes, cheaply
    }
    ::closedir(dir);
    return found;
}

QString VolumeDisplayName(const TVolume& v) {
    QString label = QString::fromUtf8(v.Label);
    if (label.isEmpty()) {
        if (v.MountPoint == "/")
            label = QString::fromUtf8(ShellText::FileSystemRoot);
        else {
            const auto slash = v.MountPoint.find_last_of('/');
            label =
                QString::fromUtf8(v.MountPoint.substr(slash == std::string::npos ? 0 : slash + 1));
        }
    }
    return label + QStringLiteral(" (") + QString::fromUtf8(v.MountPoint) + QStringLiteral(")");
}

bool ValidEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Rank on the desktop: the fixed items first, in this order, then the desktop folder's entries.
int DesktopRank(const TItemIDList& id) {
    if (id.Count() != 1) return 5;
    switch (id.ID(0).Kind) {
    case TIdKind::Home:
        return 0;
    case TIdKind::Computer:
        return 1;
    case TIdKind::Trash:
        return 2;
    case TIdKind::Network:
        return 3;
    default:
        return 4;
    }
}

QString AttributeLetters(std::uint32_t attrs) {
    QString s;
    if (attrs & FILE_ATTRIBUTE_READONLY) s += QLatin1Char('R');
    if (attrs & FILE_ATTRIBUTE_HIDDEN) s += QLatin1Char('H');
    if (attrs & FILE_ATTRIBUTE_SYSTEM) s += QLatin1Char('S');
    if (attrs & FILE_ATTRIBUTE_ARCHIVE) s += QLatin1Char('A');
    return s;
}

template <typename T> int Sign(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

std::vector<TVolume> CurrentVolumes() {
    const TShellEnvironment& env = ShellEnvironment();
    try {
        return UserVolumes(ReadMountInfo(env.MountInfoPath), env);
    } catch (...) {
        // Without a mount table the root file system is all we know of.
        TVolume root;
        root.MountPoint = "/";
        return {root};
    }
}

std::string NameSortKey(const QString& name) {
    return MakeSortKey(name);
}

QString EntryAttributeLetters(std::uint32_t fileAttributes) {
    return AttributeLetters(fileAttributes);
}

bool StatEntry(const std::string& path, std::string_view name, TShellEntry& out) {
    const auto slash = path.find_last_of('/');
    const std::string parent =
        slash == 0 ? "/" : (slash == std::string::npos ? "." : path.substr(0, slash));
    return FillFromStat(AT_FDCWD, path.c_str(), name, PathWritable(parent), out);
}

std::shared_ptr<TShellFolder> TShellFolder::Desktop() {
    return std::shared_ptr<TShellFolder>(
        new TShellFolder(TKind::Desktop, TItemIDList(), ShellEnvironment().DesktopDir));
}

bool TShellFolder::Resolve(const TItemIDList& absolute, TKind& kind, std::string& path,
                           bool& inTrash) {
    if (absolute.IsNull()) return false;
    const TShellEnvironment& env = ShellEnvironment();
    kind = TKind::Desktop;
    path = env.DesktopDir;
    inTrash = false;
    int level = 0;
    for (const TItemID& id : absolute.IDs()) {
        const bool top = level++ == 0;
        switch (id.Kind) {
        case TIdKind::Home:
            if (!top) return false;
            kind = TKind::FileSystem;
            path = env.HomeDir;
            break;
        case TIdKind::Computer:
        case TIdKind::Trash:
        case TIdKind::Network:
            if (!top) return false;
            kind = id.Kind == TIdKind::Computer ? TKind::Computer
                   : id.Kind == TIdKind::Trash  ? TKind::Trash
                                                : TKind::Network;
            path.clear();
            break;
        case TIdKind::Volume:
        case TIdKind::NetMount:
            if (kind != (id.Kind == TIdKind::Volume ? TKind::Computer : TKind::Network) ||
                id.Name.empty() || id.Name.front() != '/')
                return false;
            kind = TKind::FileSystem;
            path = std::string(id.Name);
            break;
        case TIdKind::TrashItem:
            if (kind != TKind::Trash || id.Name.empty() || id.Name.front() != '/') return false;
            kind = TKind::FileSystem;
            path = std::string(id.Name);
            inTrash = true;
            break;
        case TIdKind::Entry:
            if ((kind != TKind::FileSystem && kind != TKind::Desktop) || !ValidEntryName(id.Name) ||
                path.empty())
                return false;
            if (path != "/") path += '/';
            path += id.Name;
            kind = TKind::FileSystem;
            break;
        default:
            return false;
        }
    }
    return true;
}

std::shared_ptr<TShellFolder> TShellFolder::Bind(const TItemIDList& absolute) {
    TKind kind;
    std::string path;
    bool inTrash;
    if (!Resolve(absolute, kind, path, inTrash)) return nullptr;
    if (kind == TKind::FileSystem && !IsDirectory(path)) return nullptr;
    return std::shared_ptr<TShellFolder>(new TShellFolder(kind, absolute, std::move(path)));
}

std::string TShellFolder::ChildStoragePath(const TItemIDList& relative) const {
    if (relative.Count() != 1) return {};
    const TItemID id = relative.ID(0);
    const TShellEnvironment& env = ShellEnvironment();
    switch (id.Kind) {
    case TIdKind::Home:
        return FKind == TKind::Desktop ? env.HomeDir : std::string();
    case TIdKind::Volume:
    case TIdKind::NetMount:
    case TIdKind::TrashItem:
        return std::string(id.Name);
    case TIdKind::Entry:
        if ((FKind != TKind::FileSystem && FKind != TKind::Desktop) || !ValidEntryName(id.Name) ||
            FPath.empty())
            return {};
        return FPath == "/" ? "/" + std::string(id.Name) : FPath + "/" + std::string(id.Name);
    default:
        return {};
    }
}

std::string TShellFolder::ChildPath(const TItemIDList& relative) const {
    if (relative.Count() == 1 && relative.ID(0).Kind == TIdKind::TrashItem) return {};
    return ChildStoragePath(relative);
}

void TShellFolder::FillVirtual(const TItemIDList& relative, TShellEntry& out) const {
    out.Id = relative;
    out.Find = TFindData();
    out.Attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_HASPROPSHEET | SFGAO_VALIDATE;
    out.Find.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    out.Find.Filled = true;
}

bool TShellFolder::GetEntry(const TItemIDList& relative, TShellEntry& out) const {
    out = TShellEntry();
    if (relative.Count() != 1) return false;
    const TItemID id = relative.ID(0);
    switch (id.Kind) {
    case TIdKind::Computer:
    case TIdKind::Trash:
    case TIdKind::Network:
        if (FKind != TKind::Desktop) return false;
        FillVirtual(relative, out);
        if (id.Kind != TIdKind::Trash) out.Attributes |= SFGAO_FILESYSANCESTOR;
        return true;
    case TIdKind::Home: {
        if (FKind != TKind::Desktop) return false;
        const std::string& home = ShellEnvironment().HomeDir;
        if (!FillFromStat(AT_FDCWD, home.c_str(), {}, false, out)) return false;
        out.Id = relative;
        out.Attributes &= ~(SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE);
        return true;
    }
    case TIdKind::Volume:
    case TIdKind::NetMount: {
        if (FKind != (id.Kind == TIdKind::Volume ? TKind::Computer : TKind::Network)) return false;
        const std::string mp(id.Name);
        if (!FillFromStat(AT_FDCWD, mp.c_str(), {}, false, out)) return false;
        out.Id = relative;
        out.Attributes &= ~(SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_LINK);
        out.Attributes |= SFGAO_FILESYSANCESTOR;
        return true;
    }
    case TIdKind::TrashItem: {
        if (FKind != TKind::Trash) return false;
        const std::string p(id.Name);
        auto info = ReadTrashEntry(p);
        const std::string shown =
            info ? TrashDisplayName(*info) : p.substr(p.find_last_of('/') + 1);
        if (!FillFromStat(AT_FDCWD, p.c_str(), shown, true, out)) return false;
        out.Id = relative;
        // Trashed items are not in the file system: they can be deleted for good, not renamed.
        out.Attributes &= ~(SFGAO_FILESYSTEM | SFGAO_CANRENAME | SFGAO_CANLINK | SFGAO_DROPTARGET);
        return true;
    }
    case TIdKind::Entry: {
        const std::string p = ChildStoragePath(relative);
        if (p.empty()) return false;
        if (!FillFromStat(AT_FDCWD, p.c_str(), id.Name, PathWritable(FPath), out)) return false;
        out.Id = relative;
        return true;
    }
    }
    return false;
}

bool TShellFolder::EnumFileSystem(std::uint32_t flags, std::vector<TShellEntry>& out,
                                  bool sortKeys) const {
    DIR* dir = ::opendir(FPath.c_str());
    if (!dir) return false;
    const bool wantFolders = flags & SHCONTF_FOLDERS;
    const bool wantFiles = flags & SHCONTF_NONFOLDERS;
    const bool wantHidden = flags & SHCONTF_INCLUDEHIDDEN;
    const std::size_t first = out.size();
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        if (n[0] == '.' && !wantHidden) continue;
        // Cheap pre-filter by the directory entry's type; links and unknown types need a stat.
        if (!wantFiles && e->d_type != DT_DIR && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
            continue;
        if (!wantFolders && e->d_type == DT_DIR) continue;
        TShellEntry& entry = out.emplace_back();
        entry.Id = TItemIDList(TIdKind::Entry, n);
    }
    const int fd = ::dirfd(dir);
    const bool parentWritable = PathWritable(FPath);
    // One stat per entry (and the sort key), split over two threads for large folders.
    auto work = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            TShellEntry& entry = out[i];
            const std::string_view name = entry.Id.ID(0).Name;
            const std::string nameZ(name);
            if (!FillFromStat(fd, nameZ.c_str(), name, parentWritable, entry)) {
                entry.Find.Filled = false; // vanished since readdir: dropped below
                continue;
            }
            if (sortKeys)
                entry.NameKey = MakeSortKey(
                    QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        }
    };
    const std::size_t count = out.size() - first;
    if (count >= ParallelThreshold) {
        const std::size_t mid = first + count / 2;
        std::thread helper(work, mid, out.size());
        work(first, mid);
        helper.join();
    } else {
        work(first, out.size());
    }
    ::closedir(dir);
    // Drop what vanished and what the type filter excludes after following links.
    auto keep = [&](const TShellEntry& e) {
        if (!e.Find.Filled) return false;
        const bool folder = e.Attributes & SFGAO_FOLDER;
        return folder ? wantFolders : wantFiles;
    };
    out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                             [&](const TShellEntry& e) { return !keep(e); }),
              out.end());
    return true;
}

bool TShellFolder::EnumObjects(std::uint32_t flags, std::vector<TShellEntry>& out,
                               bool sortKeys) const {
    const TShellEnvironment& env = ShellEnvironment();
    const bool wantFolders = flags & SHCONTF_FOLDERS;
    const bool wantFiles = flags & SHCONTF_NONFOLDERS;
    const bool wantHidden = flags & SHCONTF_INCLUDEHIDDEN;
    auto add = [&](const TItemIDList& id) {
        TShellEntry e;
        if (!GetEntry(id, e)) return;
        const bool folder = e.Attributes & SFGAO_FOLDER;
        if (folder ? !wantFolders : !wantFiles) return;
        if ((e.Attributes & SFGAO_HIDDEN) && !wantHidden) return;
        if (sortKeys) e.NameKey = MakeSortKey(GetDisplayNameOf(e.Id));
        out.push_back(std::move(e));
    };
    switch (FKind) {
    case TKind::FileSystem:
        return EnumFileSystem(flags, out, sortKeys);
    case TKind::Desktop: {
        add(TItemIDList(TIdKind::Home, {}));
        add(TItemIDList(TIdKind::Computer, {}));
        add(TItemIDList(TIdKind::Trash, {}));
        add(TItemIDList(TIdKind::Network, {}));
        // The desktop folder's own entries, unless it is missing or is the home folder itself.
        if (!FPath.empty() && FPath != env.HomeDir && IsDirectory(FPath)) {
            std::vector<TShellEntry> entries;
            if (EnumFileSystem(flags, entries, sortKeys))
                for (auto& e : entries)
                    out.push_back(std::move(e));
        }
        return true;
    }
    case TKind::Computer:
    case TKind::Network:
        for (const TVolume& v : CurrentVolumes())
            if (v.Network == (FKind == TKind::Network))
                add(TItemIDList(v.Network ? TIdKind::NetMount : TIdKind::Volume, v.MountPoint));
        return true;
    case TKind::Trash: {
        std::vector<std::string> mounts;
        for (const TVolume& v : CurrentVolumes())
            mounts.push_back(v.MountPoint);
        for (const TTrashEntry& t : ListTrash(TrashDirectories(env, mounts)))
            add(TItemIDList(TIdKind::TrashItem, t.FilesPath));
        return true;
    }
    }
    return false;
}

std::uint32_t TShellFolder::GetAttributesOf(const TShellEntry& entry, std::uint32_t mask) const {
    std::uint32_t a = entry.Attributes;
    if ((mask & SFGAO_HASSUBFOLDER) && (a & SFGAO_FOLDER) && !(a & SFGAO_HASSUBFOLDER)) {
        const TItemID id = entry.Id.ID(0);
        if (id.Kind == TIdKind::Computer || id.Kind == TIdKind::Network ||
            id.Kind == TIdKind::Trash)
            a |= SFGAO_HASSUBFOLDER;
        else if (HasSubfolder(ChildStoragePath(entry.Id)))
            a |= SFGAO_HASSUBFOLDER;
    }
    return a & mask;
}

std::uint32_t TShellFolder::GetAttributesOf(const TItemIDList& relative, std::uint32_t mask) const {
    TShellEntry e;
    if (!GetEntry(relative, e)) return 0;
    return GetAttributesOf(e, mask);
}

std::uint32_t TShellFolder::GetAttributesOf(const std::vector<TItemIDList>& relatives,
                                            std::uint32_t mask) const {
    if (relatives.empty()) return 0;
    std::uint32_t common = mask;
    for (const TItemIDList& r : relatives)
        common &= GetAttributesOf(r, common);
    return common;
}

QString TShellFolder::GetDisplayNameOf(const TItemIDList& relative) const {
    if (relative.Count() != 1) return {};
    const TItemID id = relative.ID(0);
    switch (id.Kind) {
    case TIdKind::Home:
        return QString::fromUtf8(ShellText::Home);
    case TIdKind::Computer:
        return QString::fromUtf8(ShellText::Computer);
    case TIdKind::Trash:
        return QString::fromUtf8(ShellText::Trash);
    case TIdKind::Network:
        return QString::fromUtf8(ShellText::Network);
    case TIdKind::Volume:
    case TIdKind::NetMount: {
        for (const TVolume& v : CurrentVolumes())
            if (v.MountPoint == id.Name) return VolumeDisplayName(v);
        TVolume gone;
        gone.MountPoint = std::string(id.Name);
        return VolumeDisplayName(gone);
    }
    case TIdKind::TrashItem: {
        const std::string p(id.Name);
        if (auto info = ReadTrashEntry(p)) return QString::fromUtf8(TrashDisplayName(*info));
        return QString::fromUtf8(p.substr(p.find_last_of('/') + 1));
    }
    case TIdKind::Entry:
        return QString::fromUtf8(id.Name.data(), static_cast<qsizetype>(id.Name.size()));
    }
    return {};
}

int TShellFolder::CompareEntries(int column, const TShellEntry& a, const TShellEntry& b) const {
    if (FKind == TKind::Desktop) {
        const int ra = DesktopRank(a.Id), rb = DesktopRank(b.Id);
        if (ra != rb) return ra < rb ? -1 : 1;
        if (ra < 4) return 0;
    }
    const bool fa = a.Attributes & SFGAO_FOLDER, fb = b.Attributes & SFGAO_FOLDER;
    if (fa != fb) return fa ? -1 : 1;
    int r = 0;
    switch (column) {
    case ColSize:
        r = Sign(a.Find.FileSize, b.Find.FileSize);
        break;
    case ColType:
        r = EntryTypeName(a, *this).compare(EntryTypeName(b, *this), Qt::CaseInsensitive);
        break;
    case ColDate:
        r = Sign(a.Find.LastWriteTime, b.Find.LastWriteTime);
        break;
    case ColAttributes:
        r = AttributeLetters(a.Find.FileAttributes)
                .compare(AttributeLetters(b.Find.FileAttributes));
        break;
    default:
        break;
    }
    if (r != 0) return r < 0 ? -1 : 1;
    const int k = EntryNameKey(a, *this).compare(EntryNameKey(b, *this)); // byte order
    if (k != 0) return k < 0 ? -1 : 1;
    // Names equal but for case: a fixed order all the same, so the sort is repeatable.
    const int raw = a.Id.Bytes().compare(b.Id.Bytes());
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

std::optional<int> TShellFolder::CompareIDs(int column, const TItemIDList& a,
                                            const TItemIDList& b) const {
    if (a.IsNull() || b.IsNull() || column < 0 || column > ColAttributes) return std::nullopt;
    if (a.Count() != 1 || b.Count() != 1) {
        // Deeper relative lists compare ID by ID: the first differing level decides.
        const auto ia = a.IDs(), ib = b.IDs();
        TItemIDList pa, pb;
        for (std::size_t i = 0; i < ia.size() && i < ib.size(); ++i) {
            if (ia[i].Kind == ib[i].Kind && ia[i].Name == ib[i].Name) {
                pa = pa.Append(ia[i].Kind, ia[i].Name);
                pb = pb.Append(ib[i].Kind, ib[i].Name);
                continue;
            }
            auto sub = Bind(FList.Concat(pa));
            if (!sub) return std::nullopt;
            return sub->CompareIDs(i + 1 < ia.size() || i + 1 < ib.size() ? ColName : column,
                                   TItemIDList(ia[i].Kind, ia[i].Name),
                                   TItemIDList(ib[i].Kind, ib[i].Name));
        }
        return Sign(ia.size(), ib.size());
    }
    if (a == b) return 0;
    TShellEntry ea, eb;
    // A vanished item still compares by its ID (kind and name).
    if (!GetEntry(a, ea)) ea.Id = a;
    if (!GetEntry(b, eb)) eb.Id = b;
    return CompareEntries(column, ea, eb);
}

std::optional<TItemIDList> TShellFolder::SetNameOf(const TItemIDList& relative,
                                                   const QString& newName, int* error) const {
    auto fail = [&](int e) -> std::optional<TItemIDList> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (relative.Count() != 1 || relative.ID(0).Kind != TIdKind::Entry) return fail(EPERM);
    const std::string name = newName.toUtf8().toStdString();
    if (!ValidEntryName(name)) return fail(EINVAL);
    if (name.size() > 255) return fail(ENAMETOOLONG);
    const std::string from = ChildStoragePath(relative);
    if (from.empty()) return fail(ENOENT);
    TItemIDList renamed(TIdKind::Entry, name);
    if (renamed == relative) return renamed;
    const std::string to = ChildStoragePath(renamed);
    if (const int e = RenameNoReplace(from, to); e != 0) return fail(e);
    if (error) *error = 0;
    return renamed;
}

const std::string& EntryNameKey(const TShellEntry& entry, const TShellFolder& folder) {
    if (entry.NameKey.empty()) entry.NameKey = MakeSortKey(folder.GetDisplayNameOf(entry.Id));
    return entry.NameKey;
}

const QString& EntryTypeName(const TShellEntry& entry, const TShellFolder& folder) {
    if (!entry.TypeName.isNull()) return entry.TypeName;
    static const QMimeDatabase db;
    QString type;
    const TIdKind kind = entry.Id.Count() == 1 ? entry.Id.ID(0).Kind : TIdKind::Entry;
    if (kind == TIdKind::Computer || kind == TIdKind::Trash || kind == TIdKind::Network)
        type = QString::fromUtf8(ShellText::SystemFolder);
    else if (kind == TIdKind::Volume || kind == TIdKind::NetMount)
        type = QString::fromUtf8(ShellText::VolumeType);
    else if (entry.Attributes & SFGAO_FOLDER)
        type = db.mimeTypeForName(QStringLiteral("inode/directory")).comment();
    else {
        const QMimeType mime =
            db.mimeTypeForFile(folder.GetDisplayNameOf(entry.Id), QMimeDatabase::MatchExtension);
        type = mime.comment().isEmpty() ? mime.name() : mime.comment();
    }
    entry.TypeName = type.isNull() ? QString(QLatin1String("")) : type;
    return entry.TypeName;
}

} // namespace pictor
