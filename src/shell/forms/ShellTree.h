#pragma once

// The folder tree: the namespace from the desktop down, folders only. It is the master of the
// shell controls: its selection is shown by the linked file list and combo, and both select
// folders through it.

#include "shell/ShellCtrls.h"
#include "shell/ShellDbt.h"
#include "shell/ShellTreeLogic.h"
#include "shell/forms/ShellLinks.h"

#include <QPoint>
#include <QPointer>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMimeData;
class QTimer;

namespace pictor {

class TShDirWatcher;
class TShellComboBox;

// A node of the tree with the folder item it stands for.
class TShellTreeNode : public QTreeWidgetItem {
public:
    TShellTreeNode(TItemIDList absolute, TItemIDList relative);
    TShellFolderItem& Item() { return *FItem; }
    const TItemIDList& Absolute() { return FItem->AbsoluteIDList(); }
    // A fresh item for new lists (after a rename) or the same ones (caches reset).
    void Reset(TItemIDList absolute, TItemIDList relative);
    bool Populated = false; // the children have been read

private:
    std::unique_ptr<TShellFolderItem> FItem;
};

class TShellTreeView : public QTreeWidget, public IShellTreeLink, public IShellCtrl {
public:
    // watch: run the folder/device watcher and register for device notices (tests may leave
    // them out and call FolderChanged / DeviceChanged themselves).
    explicit TShellTreeView(QWidget* parent = nullptr, bool watch = true);
    ~TShellTreeView() override;

    // IShellTreeLink
    TItemIDList CurrentFolder() const override;
    void SelectFolder(const TItemIDList& absolute) override;
    void RefreshTree() override;
    // IShellCtrl
    TShDirWatcher* DeviceWatcher() override { return FWatcher.get(); }

    // Selects a file-system path; false when it names no folder of the namespace.
    bool SelectPath(const QString& path);
    // The selected folder's file-system path, empty for a virtual folder.
    QString CurrentPath() const;
    // False while a rename or a drag of the tree is in progress.
    bool CanClose() const { return !FRenaming && !FDragging; }

    bool IncludeHidden() const { return FIncludeHidden; }
    void SetIncludeHidden(bool include);
    TShVirtuaItems ShVirtuaItems() const { return FVirtuaItems; }
    void SetShVirtuaItems(TShVirtuaItems items);
    bool Checkboxes() const { return FCheckboxes; }
    void SetCheckboxes(bool on);

    void SetShellListView(IShellListLink* list);
    IShellListLink* ShellListView() const { return FList; }
    void SetShellComboBox(TShellComboBox* combo);
    TShellComboBox* ShellComboBox() const;

    TShellTreeNode* RootNode() const;
    TShellTreeNode* SelectedNode() const;
    TShellTreeNode* NodeOf(QTreeWidgetItem* item) const {
        return static_cast<TShellTreeNode*>(item);
    }
    // The node of an absolute list among the nodes made so far (none: null).
    TShellTreeNode* FindNode(const TItemIDList& absolute) const;
    // Reads a node's children unless already read.
    void Populate(TShellTreeNode* node);

    // Renames a node's folder; false (caption back to the current name) when refused.
    bool RenameNode(TShellTreeNode* node, const QString& newName);

    // The watcher's reports, callable directly.
    void FolderChanged();
    void DeviceChanged(const TDeviceChangeData& notice);
    // The folders the watcher is given: the paths of the expanded, visible nodes.
    std::vector<std::string> WatchedFolders() const;

    // The drag threshold (pixels in either direction).
    static constexpr int DragThreshold = 6;

    // Events.
    std::function<void(TShellTreeNode* node)> OnChange;
    std::function<void(TShellTreeNode* node, QPoint pt, bool& canDrag)> OnShBeginDrag;
    std::function<void(const QMimeData* data, TShellTreeNode* node, Qt::KeyboardModifiers shift,
                       QPoint pt)>
        OnShDragOver;
    std::function<void(const QMimeData* data, Qt::KeyboardModifiers shift, QPoint pt, bool& accept)>
        OnShDragEnter;
    std::function<void(const QMimeData* data, TShellTreeNode* node, Qt::KeyboardModifiers shift,
                       QPoint pt, bool& defaultAction)>
        OnShDragDrop;
    std::function<void()> OnShDragLeave;

    // The icon of a system image-list index (themed, else the style's folder icon).
    static QIcon IconOf(int index, const QStyle* style);

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class TShellTreeDelegate;
    TShellTreeNode* MakeNode(const TTreeChild& child);
    void ApplyCheckbox(TShellTreeNode* node);
    void Rebuild();
    void RefreshNode(TShellTreeNode* node);
    void ReadChildren(TShellTreeNode* node, std::vector<TTreeChild> fresh);
    void SortIntoPlace(TShellTreeNode* node);
    void NodeSelected(QTreeWidgetItem* current);
    void UpdateWatch();
    void StopWatch();
    void BeginRename();
    void EndRename();
    void StartDrag(TShellTreeNode* node);
    void HoverTimeout();
    void RebuildCombo();

    bool FIncludeHidden = true;
    TShVirtuaItems FVirtuaItems = DefaultShVirtuaItems;
    bool FCheckboxes = false;
    IShellListLink* FList = nullptr;
    QPointer<TShellComboBox> FCombo;
    std::unique_ptr<TShDirWatcher> FWatcher;
    bool FRegistered = false;
    bool FRenaming = false;
    // A caption committed by the editor, applied when the editor has closed.
    struct TPendingRename {
        TItemIDList Folder;
        QString Name;
    };
    std::optional<TPendingRename> FPendingRename;
    bool FDragging = false;
    int FSilent = 0; // selection changes made by the tree itself are not passed on
    // Drag source: the pressed button (0 none, 1 left, 2 right), point and node.
    int FDragButton = 0;
    QPoint FDragPoint;
    TShellTreeNode* FDragNode = nullptr;
    // Drop target: the node hovered on and the timer that opens it.
    TShellTreeNode* FHoverNode = nullptr;
    QTimer* FHoverTimer = nullptr;
};

} // namespace pictor
