#include "shell/ShellUtils.h"

#include "shell/MountTable.h"
#include "shell/ShellCst.h"
#include "shell/ShellEnv.h"

namespace pictor {

namespace {

bool Below(const std::string& path, const std::string& dir) {
    if (dir.empty()) return false;
    if (dir == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

// Appends one Entry ID per component of rest ("a/b/c").
TItemIDList AppendComponents(TItemIDList list, std::string_view rest) {
    std::size_t pos = 0;
    while (pos < rest.size()) {
        std::size_t next = rest.find('/', pos);
        if (next == std::string_view::npos) next = rest.size();
        if (next > pos) list = list.Append(TIdKind::Entry, rest.substr(pos, next - pos));
        pos = next + 1;
    }
    return list;
}

std::string Normalise(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/' && !out.empty() && out.back() == '/') continue;
        out += path[i];
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

} // namespace

TItemIDList SpecialFolderIDList(int csidl) {
    switch (csidl) {
    case CSIDL_DESKTOP:
        return TItemIDList();
    case CSIDL_BITBUCKET:
        return TItemIDList(TIdKind::Trash, {});
    case CSIDL_DRIVES:
        return TItemIDList(TIdKind::Computer, {});
    case CSIDL_NETWORK:
        return TItemIDList(TIdKind::Network, {});
    case CSIDL_DESKTOPDIRECTORY: {
        // The folder itself, reached through Home or its volume (not through the desktop,
        // which would make it the desktop).
        return PathToIDList(ShellEnvironment().DesktopDir);
    }
    default:
        return TItemIDList::Null();
    }
}

int ComparePIDLs(const TItemIDList& a, const TItemIDList& b, const TShellFolder* folder) {
    if (a.IsNull() || b.IsNull()) return 3;
    if (a == b) return 0;
    std::shared_ptr<TShellFolder> desktop;
    if (!folder) {
        desktop = TShellFolder::Desktop();
        folder = desktop.get();
    }
    if (a.IsEmpty() || b.IsEmpty()) return a.IsEmpty() ? 2 : 1; // the desktop comes first
    const auto r = folder->CompareIDs(ColName, a, b);
    if (!r) return 3;
    return *r == 0 ? 0 : (*r > 0 ? 1 : 2);
}

std::string GetPathFromIDList(const TItemIDList& absolute) {
    TShellFolder::TKind kind;
    std::string path;
    bool inTrash;
    if (!TShellFolder::Resolve(absolute, kind, path, inTrash)) return {};
    if (inTrash && absolute.Last().Kind == TIdKind::TrashItem) return {};
    if (kind == TShellFolder::TKind::Computer || kind == TShellFolder::TKind::Trash ||
        kind == TShellFolder::TKind::Network)
        return {};
    return path;
}

TItemIDList PathToIDList(const std::string& rawPath) {
    if (rawPath.empty() || rawPath.front() != '/') return TItemIDList::Null();
    const std::string path = Normalise(rawPath);
    for (std::size_t pos = 0; pos < path.size();) {
        std::size_t next = path.find('/', pos + 1);
        if (next == std::string::npos) next = path.size();
        const std::string_view part(path.data() + pos + 1, next - pos - 1);
        if (part == "." || part == "..") return TItemIDList::Null();
        pos = next;
    }
    const TShellEnvironment& env = ShellEnvironment();
    const std::string desktop = Normalise(env.DesktopDir);
    const std::string home = Normalise(env.HomeDir);
    if (!desktop.empty() && desktop != home && Below(path, desktop))
        return AppendComponents(TItemIDList(), std::string_view(path).substr(desktop.size() + 1));
    if (!home.empty() && home != "/") {
        if (path == home) return TItemIDList(TIdKind::Home, {});
        if (Below(path, home))
            return AppendComponents(TItemIDList(TIdKind::Home, {}),
                                    std::string_view(path).substr(home.size() + 1));
    }
    // The volume with the longest mount point holding the path; "/" always exists.
    const TVolume* best = nullptr;
    const auto volumes = CurrentVolumes();
    for (const TVolume& v : volumes)
        if ((path == v.MountPoint || Below(path, v.MountPoint)) &&
            (!best || v.MountPoint.size() > best->MountPoint.size()))
            best = &v;
    const std::string mount = best ? best->MountPoint : std::string("/");
    const bool network = best && best->Network;
    TItemIDList list = TItemIDList(network ? TIdKind::Network : TIdKind::Computer, {})
                           .Append(network ? TIdKind::NetMount : TIdKind::Volume, mount);
    if (path == mount) return list;
    return AppendComponents(list,
                            std::string_view(path).substr(mount == "/" ? 1 : mount.size() + 1));
}

QString DisplayNameOf(const TItemIDList& absolute) {
    if (absolute.IsNull()) return {};
    if (absolute.IsEmpty()) return QString::fromUtf8(ShellText::Desktop);
    auto parent = TShellFolder::Bind(absolute.Parent());
    return parent ? parent->GetDisplayNameOf(absolute.LastID()) : QString();
}

std::uint32_t ItemAttributes(const TItemIDList& absolute, std::uint32_t mask) {
    if (absolute.IsNull()) return 0;
    if (absolute.IsEmpty())
        return mask & (SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR |
                       SFGAO_FILESYSTEM | SFGAO_DROPTARGET | SFGAO_HASPROPSHEET | SFGAO_VALIDATE);
    auto parent = TShellFolder::Bind(absolute.Parent());
    return parent ? parent->GetAttributesOf(absolute.LastID(), mask) : 0;
}

bool ItemHasAttribute(const TItemIDList& absolute, int index) {
    if (index < 0 || index >= 20) return false;
    const std::uint32_t flag = ShellAttributeFlags[index];
    return (ItemAttributes(absolute, flag) & flag) == flag;
}

TShItemIDType ClassifyItem(const TItemIDList& absolute, std::uint32_t attributes) {
    const int level = Level(absolute);
    if (level < 0) return itUnknown;
    if (level == 0) return itDeskTop;
    if (level == 1) {
        if (absolute == SpecialFolderIDList(CSIDL_DRIVES)) return itMyComputer;
        if (absolute == SpecialFolderIDList(CSIDL_NETWORK)) return itNetWork;
        if (absolute == SpecialFolderIDList(CSIDL_BITBUCKET)) return itBitBucket;
        if (!(attributes & SFGAO_FILESYSTEM)) return itVirtual;
    } else if (level == 2) {
        if (!(attributes & SFGAO_FILESYSTEM)) return itVirtual;
        if (attributes & SFGAO_FILESYSANCESTOR) return itRootDrive;
    } else if (!(attributes & SFGAO_FILESYSTEM)) {
        return itVirtual;
    }
    return (attributes & SFGAO_FOLDER) ? itFolder : itFile;
}

bool KeepByLevel(const TItemIDList& parent, const TShellEntry& entry, TShVirtuaItems items) {
    const int level = Level(parent);
    if (level == 0) {
        switch (ClassifyItem(entry.Id, entry.Attributes)) {
        case itBitBucket:
            return items.Contains(itBitBucket);
        case itNetWork:
            return items.Contains(itNetWork);
        case itVirtual:
            return false;
        default:
            return true;
        }
    }
    if (level == 1) {
        if (parent == SpecialFolderIDList(CSIDL_DRIVES) && !items.Contains(itVirtual))
            return ClassifyItem(parent.Concat(entry.Id), entry.Attributes) != itVirtual;
        if (parent == SpecialFolderIDList(CSIDL_NETWORK)) return items.Contains(itNetWork);
    }
    return true;
}

TShItemIDType ItemIDType(const TItemIDList& absolute) {
    if (absolute.IsNull()) return itUnknown;
    return ClassifyItem(
        absolute,
        ItemAttributes(absolute, SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_FOLDER));
}

} // namespace pictor
