#include "shell/ShellTreeLogic.h"

#include <algorithm>

#include <unistd.h>

namespace pictor {

std::vector<TTreeChild> EnumTreeChildren(const TItemIDList& parent, bool includeHidden,
                                         TShVirtuaItems items) {
    std::vector<TTreeChild> out;
    if (parent.IsNull()) return out;
    auto folder = TShellFolder::Bind(parent);
    if (!folder) return out;
    std::vector<TShellEntry> entries;
    std::uint32_t flags = SHCONTF_FOLDERS;
    if (includeHidden) flags |= SHCONTF_INCLUDEHIDDEN;
    if (!folder->EnumObjects(flags, entries, true)) return out;
    std::erase_if(entries, [&](const TShellEntry& e) {
        return !(e.Attributes & SFGAO_FOLDER) || !KeepByLevel(parent, e, items);
    });
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const TShellEntry& a, const TShellEntry& b) {
                         return folder->CompareEntries(ColName, a, b) < 0;
                     });
    out.reserve(entries.size());
    for (const TShellEntry& e : entries) {
        TTreeChild c;
        c.Relative = e.Id;
        c.Absolute = parent.Concat(e.Id);
        c.HasSubfolder = (folder->GetAttributesOf(e, SFGAO_HASSUBFOLDER) & SFGAO_HASSUBFOLDER) != 0;
        out.push_back(std::move(c));
    }
    return out;
}

bool FolderHasSubfolders(const TItemIDList& absolute) {
    if (absolute.IsNull()) return false;
    if (absolute.IsEmpty()) return true; // the desktop always holds Home and the computer
    return ItemAttributes(absolute, SFGAO_HASSUBFOLDER) & SFGAO_HASSUBFOLDER;
}

bool CanExpandOnHover(const TItemIDList& absolute) {
    const std::string path = GetPathFromIDList(absolute);
    if (path.empty()) return false;
    const TIdKind kind = absolute.Last().Kind;
    if (kind == TIdKind::Volume || kind == TIdKind::NetMount)
        return ::access(path.c_str(), R_OK | X_OK) == 0; // a volume that answers
    return true;
}

std::optional<int> CompareTreeChildren(const TShellFolder& folder, const TItemIDList& a,
                                       const TItemIDList& b) {
    if (a.IsNull() || b.IsNull()) return std::nullopt;
    if (a == b) return 0;
    TShellEntry ea, eb;
    if (!folder.GetEntry(a, ea)) ea.Id = a;
    if (!folder.GetEntry(b, eb)) eb.Id = b;
    ea.Attributes |= SFGAO_FOLDER;
    eb.Attributes |= SFGAO_FOLDER;
    return folder.CompareEntries(ColName, ea, eb);
}

std::vector<TMergeStep> MergeScript(int existingCount, int freshCount,
                                    const TMergeCompare& compare) {
    std::vector<TMergeStep> script;
    int e = 0, f = 0;
    while (e < existingCount && f < freshCount) {
        const std::optional<int> c = compare(e, f);
        if (c && *c == 0) {
            script.push_back({TMergeOp::Keep, e++, f++});
        } else if (c && *c > 0) {
            script.push_back({TMergeOp::Insert, -1, f++});
        } else {
            script.push_back({TMergeOp::Delete, e++, -1});
        }
    }
    for (; f < freshCount; ++f)
        script.push_back({TMergeOp::Insert, -1, f});
    for (; e < existingCount; ++e)
        script.push_back({TMergeOp::Delete, e, -1});
    return script;
}

std::vector<TComboEntry> ComboBaseEntries(bool includeHidden, TShVirtuaItems items) {
    std::vector<TComboEntry> out;
    out.push_back({TItemIDList(), 0, true});
    const TItemIDList computer = SpecialFolderIDList(CSIDL_DRIVES);
    for (const TTreeChild& c : EnumTreeChildren(TItemIDList(), includeHidden, items)) {
        out.push_back({c.Absolute, 1, false});
        if (c.Absolute == computer) {
            out.back().Expanded = true;
            for (const TTreeChild& d : EnumTreeChildren(computer, includeHidden, items))
                out.push_back({d.Absolute, 2, false});
        }
    }
    return out;
}

int InsertComboChain(std::vector<TComboEntry>& entries, const TItemIDList& target,
                     const TSiblingCompare& compare) {
    if (target.IsNull()) return -1;
    auto root = std::find_if(entries.begin(), entries.end(), [](const TComboEntry& e) {
        return e.Level == 0 && e.Absolute.IsEmpty();
    });
    if (root == entries.end()) return -1;
    int parent = static_cast<int>(root - entries.begin());
    TItemIDList prefix;
    for (const TItemID& id : target.IDs()) {
        prefix = prefix.Append(id.Kind, id.Name);
        const int childLevel = entries[parent].Level + 1;
        int found = -1;
        int insertAt = -1;
        int i = parent + 1;
        for (; i < static_cast<int>(entries.size()) && entries[i].Level > entries[parent].Level;
             ++i) {
            if (entries[i].Level != childLevel) continue;
            if (entries[i].Absolute == prefix) {
                found = i;
                break;
            }
            if (insertAt < 0) {
                const std::optional<int> c = compare(prefix, entries[i].Absolute);
                if (c && *c < 0) insertAt = i;
            }
        }
        if (found < 0) {
            // Not there: the end of the parent's range unless a sibling sorts after it.
            if (insertAt < 0) insertAt = i;
            entries.insert(entries.begin() + insertAt, TComboEntry{prefix, childLevel, false});
            entries[parent].Expanded = true;
            found = insertAt;
        }
        parent = found;
    }
    return parent;
}

QString ComboClosedText(const TItemIDList& absolute) {
    if (Level(absolute) > 0) {
        const std::string path = GetPathFromIDList(absolute);
        if (!path.empty()) return QString::fromUtf8(path);
    }
    return DisplayNameOf(absolute);
}

} // namespace pictor
