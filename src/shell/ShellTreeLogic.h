#pragma once

// Decisions of the folder tree and the folder combo that need no widget: which folders a node
// shows, how a node's children are merged with a fresh reading, where the combo puts the
// ancestors of a selected folder, and when a dragged-over node may be opened.

#include "shell/ShellFolder.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace pictor {

// One folder shown under a tree node or a combo item.
struct TTreeChild {
    TItemIDList Absolute;
    TItemIDList Relative;
    bool HasSubfolder = false;
};

// The folders under parent (folders only, hidden ones when includeHidden), filtered by KeepByLevel
// and sorted by the parent's name comparison. Empty when the parent cannot be read.
std::vector<TTreeChild> EnumTreeChildren(const TItemIDList& parent, bool includeHidden,
                                         TShVirtuaItems items);

// The has-subfolder attribute of a folder (decides the expand button).
bool FolderHasSubfolders(const TItemIDList& absolute);

// A node under a drag may be opened unless it is virtual (no file-system path); a volume only
// when its mount point can be read now.
bool CanExpandOnHover(const TItemIDList& absolute);

// Compares two children of folder by name as folders: one that has vanished still sorts by its
// name among the folders, so a merge deletes it in place instead of passing over its siblings.
std::optional<int> CompareTreeChildren(const TShellFolder& folder, const TItemIDList& a,
                                       const TItemIDList& b);

// ---- merging a node's children with a fresh enumeration ----

enum class TMergeOp { Keep, Insert, Delete };

struct TMergeStep {
    TMergeOp Op;
    int Existing; // index into the existing children (-1 for Insert)
    int Fresh;    // index into the fresh list (-1 for Delete)
    bool operator==(const TMergeStep&) const = default;
};

// compare(existing, fresh): negative when the existing child sorts before the fresh one, 0 when
// they are the same folder, positive when it sorts after; nullopt when they cannot be compared.
using TMergeCompare = std::function<std::optional<int>(int existing, int fresh)>;

// The edit script that turns the existing children into the fresh list, both sorted. Applied in
// order with a cursor over the children: Keep steps over the node, Insert puts a new node at the
// cursor and steps over it, Delete removes the node at the cursor. A failed comparison deletes
// the existing node.
std::vector<TMergeStep> MergeScript(int existingCount, int freshCount,
                                    const TMergeCompare& compare);

// ---- the combo's list ----

struct TComboEntry {
    TItemIDList Absolute;
    int Level = 0;         // indentation level: the ID count of Absolute
    bool Expanded = false; // a child of it was inserted to reach a selected folder
    bool operator==(const TComboEntry&) const = default;
};

// Ordering of two siblings (absolute lists with the same parent): negative, 0 or positive;
// nullopt when they cannot be compared (the new one then goes after its siblings).
using TSiblingCompare =
    std::function<std::optional<int>(const TItemIDList& a, const TItemIDList& b)>;

// The combo's contents after a rebuild: the desktop, its children, and the children of the
// computer right after the computer's entry.
std::vector<TComboEntry> ComboBaseEntries(bool includeHidden, TShVirtuaItems items);

// Inserts the missing entries of the chain from the desktop down to target, each among its
// parent's children at its sorted position, marks the parents expanded, and returns the index
// of target's entry; -1 for a null target or a list without the desktop entry.
int InsertComboChain(std::vector<TComboEntry>& entries, const TItemIDList& target,
                     const TSiblingCompare& compare);

// What the closed combo shows for an entry: the full path of a file-system folder, else its
// display name.
QString ComboClosedText(const TItemIDList& absolute);

} // namespace pictor
