#include "shell/ShellImages.h"

#include "shell/MountTable.h"
#include "shell/ShellEnv.h"

#include <QMimeDatabase>

namespace pictor {

TSystemImageList& TSystemImageList::Instance() {
    static TSystemImageList list;
    return list;
}

int TSystemImageList::IndexOf(const QStringList& names) {
    const QString key = names.join(QLatin1Char('\n'));
    std::lock_guard lock(FLock);
    if (auto it = FIndex.find(key); it != FIndex.end()) return it->second;
    const int index = static_cast<int>(FNames.size());
    FNames.push_back(names);
    FIndex.emplace(key, index);
    return index;
}

QStringList TSystemImageList::Names(int index) const {
    std::lock_guard lock(FLock);
    if (index < 0 || index >= static_cast<int>(FNames.size())) return {};
    return FNames[static_cast<std::size_t>(index)];
}

int TSystemImageList::Count() const {
    std::lock_guard lock(FLock);
    return static_cast<int>(FNames.size());
}

QStringList DesktopIconNames() {
    return {QStringLiteral("user-desktop"), QStringLiteral("folder")};
}

QStringList EntryIconNames(const TShellEntry& entry, const TShellFolder& folder, bool open) {
    const QString folderIcon = open ? QStringLiteral("folder-open") : QStringLiteral("folder");
    const TIdKind kind = entry.Id.Count() == 1 ? entry.Id.ID(0).Kind : TIdKind::Entry;
    switch (kind) {
    case TIdKind::Home:
        return {QStringLiteral("user-home"), folderIcon};
    case TIdKind::Computer:
        return {QStringLiteral("computer"), folderIcon};
    case TIdKind::Network:
        return {QStringLiteral("network-workgroup"), folderIcon};
    case TIdKind::Trash:
        return {QStringLiteral("user-trash"), folderIcon};
    case TIdKind::NetMount:
        return {QStringLiteral("folder-remote"), QStringLiteral("network-server"), folderIcon};
    case TIdKind::Volume: {
        const std::string mount(entry.Id.ID(0).Name);
        for (const TVolume& v : CurrentVolumes())
            if (v.MountPoint == mount && v.Removable)
                return {QStringLiteral("drive-removable-media"), QStringLiteral("drive-harddisk"),
                        folderIcon};
        return {QStringLiteral("drive-harddisk"), folderIcon};
    }
    default:
        break;
    }
    if (entry.Attributes & SFGAO_FOLDER) return {folderIcon, QStringLiteral("folder")};
    static const QMimeDatabase db;
    const QMimeType mime =
        db.mimeTypeForFile(folder.GetDisplayNameOf(entry.Id), QMimeDatabase::MatchExtension);
    QStringList names;
    if (!mime.iconName().isEmpty()) names << mime.iconName();
    if (!mime.genericIconName().isEmpty()) names << mime.genericIconName();
    names << QStringLiteral("text-x-generic") << QStringLiteral("unknown");
    names.removeDuplicates();
    return names;
}

} // namespace pictor
