#pragma once

// How the folder tree, the folder combo and the file list reach each other. The tree is the
// master: selecting a folder there shows it in the list and the combo; opening a folder in the
// list or choosing one in the combo selects it in the tree.

#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"

namespace pictor {

class IShellTreeLink {
public:
    virtual ~IShellTreeLink() = default;
    // The selected node's folder (the first node's when nothing is selected).
    virtual TItemIDList CurrentFolder() const = 0;
    // Selects a folder by its absolute list, expanding the nodes on the way.
    virtual void SelectFolder(const TItemIDList& absolute) = 0;
    // Re-reads the visible nodes (merge refresh).
    virtual void RefreshTree() = 0;
};

class IShellListLink {
public:
    virtual ~IShellListLink() = default;
    // Shows a folder unless it is the one shown (and makes it the current directory).
    virtual void SetFolder(const TItemIDList& absolute) = 0;
    virtual void SetIncludeHidden(bool include) = 0;
    virtual void SetShVirtuaItems(TShVirtuaItems items) = 0;
    // The tree the list follows back (null: none).
    virtual void SetTreeLink(IShellTreeLink* tree) = 0;
    virtual void StopWatching() = 0;
    virtual void StartWatching() = 0;
    virtual void RefreshList() = 0;
};

} // namespace pictor
