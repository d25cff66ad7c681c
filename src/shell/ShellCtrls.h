#pragma once

// The items of the shell controls and the model of the file list.
//
// TShellFileList holds the items of one shown folder and answers the per-row values the list
// view draws. It needs no widget: the view drives it through IShellListOwner (row count,
// selection, batch update, columns), which tests replace with a plain object.

#include "shell/ShellFolder.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pictor {

class TShFilesWatcher;
class TShellFileList;

// View styles of the list.
enum : int { vsIcon = 0, vsSmallIcon = 1, vsList = 2, vsReport = 3 };

class TShellDataItem {
public:
    virtual ~TShellDataItem() = default;
    virtual int ImageIndex();
    virtual int Index() const = 0;
    virtual int Level() const;
    virtual const TItemIDList& ParentIDList() = 0;
    virtual const TItemIDList& AbsoluteIDList() = 0;
    virtual int SelectedImageIndex();
    virtual bool IsValid() const;

    const TItemIDList& RelativeIDList() const { return FRelative; }
    // The parent folder, bound on first use and kept.
    std::shared_ptr<TShellFolder> ParentFolder();
    QString DisplayName();
    // One flag of the attribute table, asked of the parent folder.
    bool HasAttribute(int index);
    TShItemIDType ItemType();

protected:
    explicit TShellDataItem(TItemIDList relative) : FRelative(std::move(relative)) {}
    void ResetCaches();
    virtual std::uint32_t Attributes(std::uint32_t mask);
    // The icon of the item (open: the open-folder form), asked of its parent folder; -1 when gone.
    int IconIndexOf(bool open);

    std::shared_ptr<TShellFolder> FParentFolder;
    TItemIDList FRelative;
    std::optional<TItemIDList> FAbsolute;
    std::optional<TItemIDList> FParent;
    int FSelectedImageIndex = -1;
    int FImageIndex = -1;
    QString FDisplayName; // null until computed
};

// An item of the folder tree (the tree node is opaque here).
class TShellFolderItem : public TShellDataItem {
public:
    TShellFolderItem(TItemIDList absolute, TItemIDList relative, void* node = nullptr,
                     std::function<int(void*)> nodeIndex = {});
    int Index() const override;
    const TItemIDList& ParentIDList() override;
    const TItemIDList& AbsoluteIDList() override { return *FAbsolute; }
    void* Node() const { return FNode; }

private:
    void* FNode;
    std::function<int(void*)> FNodeIndex;
};

class TShellFileItem : public TShellDataItem {
public:
    TShellFileItem(TShellFileList* owner, TShellEntry entry);
    int Index() const override;
    int Level() const override;
    const TItemIDList& ParentIDList() override;
    const TItemIDList& AbsoluteIDList() override;
    bool IsValid() const override;
    int ImageIndex() override;
    int SelectedImageIndex() override;

    TShellFileList* Owner() const { return FOwner; }
    // The find record (read on first use when the enumeration did not fill it).
    const TFindData& FindData();
    const TShellEntry& Entry() const { return FEntry; }
    // Reads the find record again (attribute changes).
    void RefreshFindData();
    // Takes a new relative list after a rename; cached values are reset.
    void Renamed(TItemIDList relative);

    // Column texts.
    QString SizeText();
    QString TypeName();
    QString DateText();
    QString AttributeText();
    // Icon for the given view style (large icons in vsIcon) and the overlay (0 none, 1 shared,
    // 2 link).
    int IconIndex(int viewStyle);
    int OverlayIndex();
    // The byte size counted in totals (0 for folders and virtual items).
    std::uint64_t Size();
    // The file-system path ("" for virtual items).
    std::string Path();

protected:
    std::uint32_t Attributes(std::uint32_t mask) override;

private:
    TShellFileList* FOwner;
    TShellEntry FEntry;
    int FLargeImageIndex = -1;
};

// The selection of a list: relative lists plus their common parent.
class TShellIDList {
public:
    void Clear();
    void SetParent(const TItemIDList& parent) { FParent = parent; }
    void Add(const TItemIDList& relative) { FItems.push_back(relative); }
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::vector<TItemIDList>& Items() const { return FItems; }
    const TItemIDList& Parent() const { return FParent; }
    int ParentLevel() const { return Level(FParent); }
    // The attribute bits common to all (capability mask preset when mask is 0).
    std::uint32_t Attributes(std::uint32_t mask = SFGAO_CAPABILITYMASK) const;
    std::string Path(int index) const;

private:
    TItemIDList FParent;
    std::vector<TItemIDList> FItems;
};

// What the model needs of its view.
class IShellListOwner {
public:
    virtual ~IShellListOwner() = default;
    // The window exists and is not being destroyed.
    virtual bool CanShowFolders() const { return true; }
    virtual bool IncludeHidden() const { return true; }
    virtual TShVirtuaItems ShVirtuaItems() const { return DefaultShVirtuaItems; }

    virtual void SetRowCount(int count) = 0;
    virtual bool RowSelected(int row) const = 0;
    virtual void SetRowSelected(int row, bool selected) = 0;
    virtual void SetAllRowsSelected(bool selected) = 0;
    virtual int SelectedCount() const = 0;
    virtual int FocusedRow() const { return -1; }
    virtual void SetFocusedRow(int /*row*/) {}
    virtual void MakeRowVisible(int /*row*/) {}
    virtual void Redraw() {}
    // The outermost batch update begins or ends (the view holds back repaints meanwhile).
    virtual void BatchUpdate(bool /*begins*/) {}

    // Columns: the view shows them, the model keeps the layout across folder kinds.
    virtual int ColumnCount() const { return 5; }
    virtual std::vector<int> ColumnOrder() const { return {}; }
    virtual std::vector<int> ColumnWidths() const { return {}; }
    virtual void ShowNameColumnOnly() {}
    virtual void RebuildColumns(const std::vector<int>& /*order*/,
                                const std::vector<int>& /*widths*/) {}

    virtual void BeginWait() {}
    virtual void EndWait() {}
    // A drag started in the view is in progress (watcher reports are ignored then).
    virtual bool DragInProgress() const { return false; }
    // The folder of the linked tree; nullopt when no tree is linked.
    virtual std::optional<TItemIDList> TreeFolder() const { return std::nullopt; }

    virtual void DoShFilter(TShellFileItem& /*item*/, bool& /*accept*/) {}
    virtual void DoShListChange(TShellFileList& /*list*/) {}
    virtual void DoShSelChange(std::uint64_t /*selSize*/) {}
};

class TShellFileList {
public:
    // watch: run the two change watchers (tests may leave them out or shorten the settle time).
    explicit TShellFileList(IShellListOwner* owner, bool watch = true, int settleMs = 2000);
    ~TShellFileList();
    TShellFileList(const TShellFileList&) = delete;
    TShellFileList& operator=(const TShellFileList&) = delete;

    int Count() const { return static_cast<int>(FItems.size()); }
    TShellFileItem* Item(int index) const;
    int IndexOf(const TShellFileItem* item) const;
    void Clear();

    void OpenFolder(const TItemIDList& absolute);
    // Shows a folder unless it is the one shown; makes a file-system folder the current
    // directory.
    void SetFolder(const TItemIDList& absolute);
    int Refresh();
    void Sort(int key);
    // The sort command: ascending or descending by key.
    void SortBy(int key, bool ascending);
    // A click on the column's header: reverses that key and sorts.
    void ColumnClick(int column);

    const TItemIDList& Folder() const { return FFolder; }
    std::shared_ptr<TShellFolder> BoundFolder() const { return FBound; }
    int FolderLevel() const { return Level(FFolder); }
    std::string FolderPath() const;
    bool FolderAttribute(int index) const;
    TShItemIDType FolderKind() const;
    std::uint64_t TotalSize();
    std::uint64_t FreeSpace() const;
    TShellIDList& SelectedIDList();
    void RemoveSelected();
    bool RenameItem(TShellFileItem* item, const QString& newName, int* error = nullptr);

    // Sort state.
    int SortType() const { return FSortType; }
    int SortOrder(int key) const { return FSortOrder[key]; }
    void SetSortOrder(int key, int direction) { FSortOrder[key] = direction < 0 ? -1 : 1; }
    void SetSortType(int key) { FSortType = key; }

    // Batch updates and the selection size (the view forwards its selection notices).
    void BeginUpdate();
    void EndUpdate();
    bool InUpdate() const { return FUpdateCount > 0; }
    std::uint64_t SelectionSize() const { return FSelectionSize; }
    void SelectionChangedAll();                       // every row changed state
    void RowSelectionChanged(int row, bool selected); // one row
    void RangeSelectionChanged(int from, int to);     // rows from..to (inclusive) changed

    // Watching (stopped around shell commands).
    void StopWatching();
    void StartWatching();
    // The watchers' report, also callable directly: fromNames picks the name watcher's action.
    void ChangeNotify(bool fromNames, const std::string& path);

    IShellListOwner* Owner() const { return FOwner; }

private:
    void SetSelectionSize(std::uint64_t size);
    int CompareItems(TShellFileItem* a, TShellFileItem* b, int key) const;
    void QuickSort(int left, int right, int key);

    IShellListOwner* FOwner;
    std::vector<TShellFileItem*> FItems;
    int FSortType = 0;
    int FSortOrder[5] = {1, 1, 1, 1, 1};
    std::vector<int> FColumnOrder{0, 1, 2, 3, 4};
    std::vector<int> FColumnWidths;
    std::uint64_t FTotalSize = 0; // 0: not computed yet
    TItemIDList FFolder = TItemIDList::Null();
    std::shared_ptr<TShellFolder> FBound;
    TShellIDList FSelection;
    std::unique_ptr<TShFilesWatcher> FNameWatcher;
    std::unique_ptr<TShFilesWatcher> FAttrWatcher;
    int FUpdateCount = 0;
    std::uint64_t FSelectionSize = 0;
};

} // namespace pictor
