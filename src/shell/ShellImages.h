#pragma once

// The system image list: icon indexes stand for lists of icon-theme names (best first). The
// model hands out indexes; the views turn them into icons of the size they draw.

#include "shell/ShellFolder.h"

#include <QStringList>

#include <mutex>
#include <unordered_map>
#include <vector>

namespace pictor {

class TSystemImageList {
public:
    static TSystemImageList& Instance();
    // The index of a list of theme names (the same list always gives the same index).
    int IndexOf(const QStringList& names);
    // The names of an index; empty for an unknown one.
    QStringList Names(int index) const;
    int Count() const;

private:
    mutable std::mutex FLock;
    std::vector<QStringList> FNames;
    std::unordered_map<QString, int> FIndex;
};

// Icon-theme names for an entry of a folder: MIME icon, generic icon, then a fallback.
QStringList EntryIconNames(const TShellEntry& entry, const TShellFolder& folder, bool open);
// Icon-theme names for the desktop itself.
QStringList DesktopIconNames();

} // namespace pictor
