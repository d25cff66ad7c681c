#include "shell/forms/ShellTree.h"

#include "shell/forms/ShellIcons.h"

#include "shell/FileTransfer.h"
#include "shell/ShellImages.h"
#include "shell/ShellNotify.h"
#include "shell/forms/ShellCombo.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <cstdlib>

namespace pictor {

namespace {

int NodeIndexInTree(void* node) {
    auto* item = static_cast<QTreeWidgetItem*>(node);
    QTreeWidget* tree = item->treeWidget();
    if (!tree) return -1;
    int i = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it, ++i)
        if (*it == item) return i;
    return -1;
}

bool Inside(QTreeWidgetItem* item, QTreeWidgetItem* ancestor) {
    for (; item; item = item->parent())
        if (item == ancestor) return true;
    return false;
}

void ShowExpandButton(QTreeWidgetItem* node, bool show) {
    node->setChildIndicatorPolicy(show ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

} // namespace

// Renames through the tree instead of writing the caption into the model. The rename runs
// once the editor has closed, because it moves and rebuilds the edited node.
class TShellTreeDelegate : public QStyledItemDelegate {
public:
    explicit TShellTreeDelegate(TShellTreeView* tree) : QStyledItemDelegate(tree), FTree(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        TShellTreeNode* node = FTree->NodeOf(FTree->itemFromIndex(index));
        if (!edit || !node) return;
        FTree->FPendingRename = TShellTreeView::TPendingRename{node->Absolute(), edit->text()};
    }

private:
    TShellTreeView* FTree;
};

// ---- TShellTreeNode ----

TShellTreeNode::TShellTreeNode(TItemIDList absolute, TItemIDList relative) {
    Reset(std::move(absolute), std::move(relative));
}

void TShellTreeNode::Reset(TItemIDList absolute, TItemIDList relative) {
    FItem = std::make_unique<TShellFolderItem>(std::move(absolute), std::move(relative), this,
                                               NodeIndexInTree);
}

// ---- TShellTreeView ----

TShellTreeView::TShellTreeView(QWidget* parent, bool watch) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setItemDelegate(new TShellTreeDelegate(this));
    setDragEnabled(false); // drags are started by the tree itself (threshold, attributes)
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setAutoScroll(true);
    FHoverTimer = new QTimer(this);
    FHoverTimer->setSingleShot(true);
    FHoverTimer->setInterval(700);
    connect(FHoverTimer, &QTimer::timeout, this, [this] { HoverTimeout(); });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        Populate(NodeOf(item));
        UpdateWatch();
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem*) { UpdateWatch(); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { NodeSelected(current); });
    if (watch) {
        FWatcher = std::make_unique<TShDirWatcher>(
            std::nullopt, FileNotifyDirName,
            [this](TShDirWatcher*, const TDeviceChangeData& notice) {
                try {
                    DeviceChanged(notice);
                } catch (...) {
                }
            },
            [this](TShDirWatcher*) {
                try {
                    FolderChanged();
                } catch (...) {
                }
            },
            this, 1500);
        TShellCtrlList::Instance().Register(this);
        FRegistered = true;
    }
    Rebuild();
}

TShellTreeView::~TShellTreeView() {
    blockSignals(true); // the nodes go in the base destructor; nobody is told
    if (FRegistered) TShellCtrlList::Instance().Unregister(this);
    FWatcher.reset();
    if (FCombo) FCombo->SetTree(nullptr);
}

QIcon TShellTreeView::IconOf(int index, const QStyle* style) {
    return SystemIcon(index, style);
}

TShellTreeNode* TShellTreeView::MakeNode(const TTreeChild& child) {
    auto* node = new TShellTreeNode(child.Absolute, child.Relative);
    node->setText(0, node->Item().DisplayName());
    QIcon icon = IconOf(node->Item().ImageIndex(), style());
    const QIcon open = IconOf(node->Item().SelectedImageIndex(), style());
    icon.addPixmap(open.pixmap(16, 16), QIcon::Selected);
    node->setIcon(0, icon);
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    ShowExpandButton(node, child.HasSubfolder);
    ApplyCheckbox(node);
    return node;
}

void TShellTreeView::ApplyCheckbox(TShellTreeNode* node) {
    if (FCheckboxes) {
        node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
        if (!node->data(0, Qt::CheckStateRole).isValid()) node->setCheckState(0, Qt::Unchecked);
    } else {
        node->setFlags(node->flags() & ~Qt::ItemIsUserCheckable);
        node->setData(0, Qt::CheckStateRole, QVariant());
    }
}

void TShellTreeView::Rebuild() {
    ++FSilent;
    FHoverNode = FDragNode = nullptr;
    clear();
    TTreeChild desktop;
    desktop.HasSubfolder = true;
    TShellTreeNode* root = MakeNode(desktop);
    root->setFlags(root->flags() & ~Qt::ItemIsEditable);
    addTopLevelItem(root);
    root->setExpanded(true);
    if (TShellTreeNode* computer = FindNode(SpecialFolderIDList(CSIDL_DRIVES)))
        computer->setExpanded(true);
    setCurrentItem(root);
    --FSilent;
    UpdateWatch();
}

TShellTreeNode* TShellTreeView::RootNode() const {
    return NodeOf(topLevelItem(0));
}

TShellTreeNode* TShellTreeView::SelectedNode() const {
    return NodeOf(currentItem());
}

TItemIDList TShellTreeView::CurrentFolder() const {
    TShellTreeNode* node = SelectedNode();
    if (!node) node = RootNode();
    return node ? node->Absolute() : TItemIDList::Null();
}

QString TShellTreeView::CurrentPath() const {
    const TItemIDList folder = CurrentFolder();
    return folder.IsNull() ? QString() : QString::fromUtf8(GetPathFromIDList(folder));
}

TShellTreeNode* TShellTreeView::FindNode(const TItemIDList& absolute) const {
    TShellTreeNode* node = RootNode();
    if (!node || absolute.IsNull()) return nullptr;
    TItemIDList prefix;
    for (const TItemID& id : absolute.IDs()) {
        prefix = prefix.Append(id.Kind, id.Name);
        TShellTreeNode* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (NodeOf(node->child(i))->Absolute() == prefix) next = NodeOf(node->child(i));
        if (!next) return nullptr;
        node = next;
    }
    return node;
}

void TShellTreeView::Populate(TShellTreeNode* node) {
    if (!node || node->Populated) return;
    ReadChildren(node, EnumTreeChildren(node->Absolute(), FIncludeHidden, FVirtuaItems));
}

void TShellTreeView::ReadChildren(TShellTreeNode* node, std::vector<TTreeChild> fresh) {
    auto folder = TShellFolder::Bind(node->Absolute());
    std::vector<TShellTreeNode*> existing;
    for (int i = 0; i < node->childCount(); ++i)
        existing.push_back(NodeOf(node->child(i)));
    const auto script =
        MergeScript(static_cast<int>(existing.size()), static_cast<int>(fresh.size()),
                    [&](int e, int f) -> std::optional<int> {
                        if (!folder) return std::nullopt;
                        return CompareTreeChildren(*folder, existing[e]->Item().RelativeIDList(),
                                                   fresh[f].Relative);
                    });
    int pos = 0;
    for (const TMergeStep& step : script) {
        switch (step.Op) {
        case TMergeOp::Keep:
            ++pos;
            break;
        case TMergeOp::Insert:
            node->insertChild(pos++, MakeNode(fresh[static_cast<std::size_t>(step.Fresh)]));
            break;
        case TMergeOp::Delete: {
            QTreeWidgetItem* gone = node->child(pos);
            // A selection inside the vanished folder moves to the folder above it.
            if (Inside(currentItem(), gone)) setCurrentItem(node);
            if (Inside(FHoverNode, gone)) FHoverNode = nullptr;
            if (Inside(FDragNode, gone)) FDragNode = nullptr;
            delete node->takeChild(pos);
            break;
        }
        }
    }
    node->Populated = true;
    if (node->childCount() == 0) ShowExpandButton(node, false);
}

void TShellTreeView::RefreshNode(TShellTreeNode* node) {
    if (!node->isExpanded() && node->childCount() == 0) {
        node->Populated = false;
        ShowExpandButton(node, FolderHasSubfolders(node->Absolute()));
        return;
    }
    ReadChildren(node, EnumTreeChildren(node->Absolute(), FIncludeHidden, FVirtuaItems));
    if (node->isExpanded())
        for (int i = 0; i < node->childCount(); ++i)
            RefreshNode(NodeOf(node->child(i)));
}

void TShellTreeView::RefreshTree() {
    if (TShellTreeNode* root = RootNode()) RefreshNode(root);
    UpdateWatch();
}

void TShellTreeView::FolderChanged() {
    if (FDragging || FRenaming) return;
    RefreshTree();
    RebuildCombo();
}

void TShellTreeView::RebuildCombo() {
    if (!FCombo) return;
    FCombo->Rebuild();
    FCombo->SelectFolder(CurrentFolder());
}

void TShellTreeView::SelectFolder(const TItemIDList& absolute) {
    if (absolute.IsNull()) return;
    if (TShellTreeNode* current = SelectedNode())
        if (Level(current->Absolute()) == Level(absolute) &&
            ComparePIDLs(current->Absolute(), absolute) == 0)
            return;
    TShellTreeNode* node = RootNode();
    if (!node) return;
    TItemIDList prefix;
    for (const TItemID& id : absolute.IDs()) {
        prefix = prefix.Append(id.Kind, id.Name);
        node->setExpanded(true); // reads the children
        Populate(node);
        TShellTreeNode* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (NodeOf(node->child(i))->Absolute() == prefix) next = NodeOf(node->child(i));
        if (!next) break;
        node = next;
    }
    setCurrentItem(node);
    scrollToItem(node);
}

bool TShellTreeView::SelectPath(const QString& path) {
    const TItemIDList list = PathToIDList(path.toStdString());
    if (list.IsNull() || !TShellFolder::Bind(list)) return false;
    SelectFolder(list);
    return true;
}

void TShellTreeView::NodeSelected(QTreeWidgetItem* current) {
    TShellTreeNode* node = NodeOf(current);
    if (FSilent || !node) return;
    const TItemIDList folder = node->Absolute();
    if (FCombo) FCombo->SelectFolder(folder);
    if (FList) FList->SetFolder(folder);
    if (OnChange) OnChange(node);
}

void TShellTreeView::SetIncludeHidden(bool include) {
    if (include == FIncludeHidden) return;
    FIncludeHidden = include;
    if (FList) FList->SetIncludeHidden(include);
    if (FCombo) FCombo->SetIncludeHidden(include);
    RefreshTree();
    RebuildCombo();
}

void TShellTreeView::SetShVirtuaItems(TShVirtuaItems items) {
    if (items == FVirtuaItems) return;
    FVirtuaItems = items;
    if (FList) FList->SetShVirtuaItems(items);
    if (FCombo) FCombo->SetShVirtuaItems(items);
    RefreshTree();
    RebuildCombo();
}

void TShellTreeView::SetCheckboxes(bool on) {
    FCheckboxes = on;
    for (QTreeWidgetItemIterator it(this); *it; ++it)
        ApplyCheckbox(NodeOf(*it));
}

void TShellTreeView::SetShellListView(IShellListLink* list) {
    if (list == FList) return;
    if (FList) FList->SetTreeLink(nullptr);
    FList = list;
    if (!FList) return;
    FList->SetTreeLink(this);
    FList->SetShVirtuaItems(FVirtuaItems);
    FList->SetIncludeHidden(FIncludeHidden);
    FList->SetFolder(CurrentFolder());
}

void TShellTreeView::SetShellComboBox(TShellComboBox* combo) {
    if (combo == FCombo) return;
    if (FCombo) FCombo->SetTree(nullptr);
    FCombo = combo;
    if (!FCombo) return;
    FCombo->SetTree(this);
    FCombo->SetIncludeHidden(FIncludeHidden);
    FCombo->SetShVirtuaItems(FVirtuaItems);
    RebuildCombo();
}

TShellComboBox* TShellTreeView::ShellComboBox() const {
    return FCombo.data();
}

// ---- renaming ----

bool TShellTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    TShellTreeNode* node = index.isValid() ? NodeOf(itemFromIndex(index)) : nullptr;
    if (!node || FRenaming || !node->Item().HasAttribute(3)) return false;
    if (!QTreeWidget::edit(index, trigger, event)) return false;
    BeginRename();
    return true;
}

void TShellTreeView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTreeWidget::closeEditor(editor, hint);
    if (FPendingRename) {
        const TPendingRename pending = std::move(*FPendingRename);
        FPendingRename.reset();
        if (TShellTreeNode* node = FindNode(pending.Folder)) {
            RenameNode(node, pending.Name);
            return;
        }
    }
    if (FRenaming) EndRename();
}

void TShellTreeView::BeginRename() {
    FRenaming = true;
    StopWatch();
    if (FList) FList->StopWatching();
}

void TShellTreeView::EndRename() {
    FRenaming = false;
    if (FList) FList->StartWatching();
    UpdateWatch();
}

void TShellTreeView::SortIntoPlace(TShellTreeNode* node) {
    QTreeWidgetItem* parent = node->parent();
    if (!parent) return;
    auto folder = TShellFolder::Bind(NodeOf(parent)->Absolute());
    parent->takeChild(parent->indexOfChild(node));
    int pos = 0;
    if (folder)
        for (; pos < parent->childCount(); ++pos) {
            const auto c = CompareTreeChildren(*folder, node->Item().RelativeIDList(),
                                               NodeOf(parent->child(pos))->Item().RelativeIDList());
            if (c && *c < 0) break;
        }
    parent->insertChild(pos, node);
}

bool TShellTreeView::RenameNode(TShellTreeNode* node, const QString& newName) {
    if (!node) return false;
    BeginRename();
    TShellTreeNode* parent = NodeOf(node->parent());
    const bool currentInside = Inside(currentItem(), node);
    bool ok = false;
    if (parent && node->Item().HasAttribute(3)) {
        auto folder = node->Item().ParentFolder();
        std::optional<TItemIDList> renamed;
        if (folder) renamed = folder->SetNameOf(node->Item().RelativeIDList(), newName);
        if (renamed) {
            ok = true;
            const bool wasExpanded = node->isExpanded();
            ++FSilent;
            if (Inside(FHoverNode, node)) FHoverNode = nullptr;
            if (Inside(FDragNode, node)) FDragNode = nullptr;
            qDeleteAll(node->takeChildren());
            node->Populated = false;
            node->Reset(parent->Absolute().Concat(*renamed), *renamed);
            SortIntoPlace(node);
            Populate(node);
            ShowExpandButton(node, node->childCount() > 0);
            node->setExpanded(wasExpanded);
            if (currentInside) setCurrentItem(node);
            --FSilent;
        }
    }
    // A refused rename leaves the caption at the folder's current name.
    node->setText(0, node->Item().DisplayName());
    if (ok) {
        if (Level(node->Absolute()) == 1 || currentInside) RebuildCombo();
        if (currentInside) {
            if (FList) FList->SetFolder(node->Absolute());
            if (OnChange) OnChange(node);
        }
    }
    EndRename();
    return ok;
}

// ---- watching ----

std::vector<std::string> TShellTreeView::WatchedFolders() const {
    std::vector<std::string> out;
    std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
        if (!item->isExpanded()) return;
        const std::string path = GetPathFromIDList(NodeOf(item)->Absolute());
        if (!path.empty()) out.push_back(path);
        for (int i = 0; i < item->childCount(); ++i)
            visit(item->child(i));
    };
    if (QTreeWidgetItem* root = topLevelItem(0)) visit(root);
    return out;
}

void TShellTreeView::UpdateWatch() {
    if (FWatcher && !FRenaming) FWatcher->SetFolders(WatchedFolders());
}

void TShellTreeView::StopWatch() {
    if (FWatcher) FWatcher->SetFolders(std::nullopt);
}

void TShellTreeView::DeviceChanged(const TDeviceChangeData& notice) {
    const bool arrival = notice.EventCode == DBT_DEVICEARRIVAL;
    if (notice.Kind == DeviceKindVolume) {
        TShellTreeNode* node = FindNode(notice.Root);
        if (!node) {
            // A volume the tree has not shown yet: it appears with the next reading.
            if (arrival) {
                RefreshTree();
                RebuildCombo();
            }
            return;
        }
        node->Reset(node->Absolute(), node->Item().RelativeIDList());
        const QString caption = QString::fromUtf8(notice.DisplayText);
        node->setText(0, caption);
        node->setIcon(0, IconOf(node->Item().ImageIndex(), style()));
        if (FCombo) FCombo->SetItemCaption(notice.Root, caption);
        if (!arrival) {
            ++FSilent;
            if (Inside(FHoverNode, node)) FHoverNode = nullptr;
            if (Inside(FDragNode, node)) FDragNode = nullptr;
            const bool currentInside = Inside(currentItem(), node);
            qDeleteAll(node->takeChildren());
            if (currentInside) setCurrentItem(node);
            --FSilent;
            node->Populated = false;
            ShowExpandButton(node, true);
            if (node->parent()) setCurrentItem(node->parent());
        }
        UpdateWatch();
    } else if (notice.Kind == DeviceKindNetwork) {
        if (arrival) {
            RefreshTree();
            RebuildCombo();
        } else {
            RebuildCombo();
            setCurrentItem(topLevelItem(0));
            RefreshTree();
        }
    }
}

// ---- drag source ----

void TShellTreeView::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    FDragButton = event->button() == Qt::LeftButton    ? 1
                  : event->button() == Qt::RightButton ? 2
                                                       : 0;
    FDragPoint = event->position().toPoint();
    FDragNode = FDragButton ? NodeOf(itemAt(FDragPoint)) : nullptr;
}

void TShellTreeView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton))) {
        FDragButton = 0;
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    if (!FDragButton || !FDragNode) return;
    const QPoint d = event->position().toPoint() - FDragPoint;
    if (std::abs(d.x()) < DragThreshold && std::abs(d.y()) < DragThreshold) return;
    TShellTreeNode* node = FDragNode;
    FDragButton = 0;
    FDragNode = nullptr;
    StartDrag(node);
}

void TShellTreeView::mouseReleaseEvent(QMouseEvent* event) {
    FDragButton = 0;
    FDragNode = nullptr;
    QTreeWidget::mouseReleaseEvent(event);
}

void TShellTreeView::StartDrag(TShellTreeNode* node) {
    TShellFolderItem& item = node->Item();
    const bool copy = item.HasAttribute(0), move = item.HasAttribute(1),
               link = item.HasAttribute(2);
    if (!copy && !move && !link) return;
    bool canDrag = true;
    if (OnShBeginDrag) OnShBeginDrag(node, FDragPoint, canDrag);
    if (!canDrag) return;
    const std::string path = GetPathFromIDList(node->Absolute());
    if (path.empty()) return;
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)))});
    Qt::DropActions actions;
    if (copy) actions |= Qt::CopyAction;
    if (move) actions |= Qt::MoveAction;
    if (link) actions |= Qt::LinkAction;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(node->icon(0).pixmap(16, 16));
    FDragging = true;
    drag->exec(actions, copy ? Qt::CopyAction : Qt::IgnoreAction);
    FDragging = false;
}

// ---- drop target ----

namespace {

bool CarriesLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty()) return false;
    for (const QUrl& url : data->urls())
        if (!url.isLocalFile()) return false;
    return true;
}

} // namespace

void TShellTreeView::dragEnterEvent(QDragEnterEvent* event) {
    bool accept = CarriesLocalFiles(event->mimeData());
    if (OnShDragEnter)
        OnShDragEnter(event->mimeData(), event->modifiers(), event->position().toPoint(), accept);
    if (accept)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TShellTreeView::dragMoveEvent(QDragMoveEvent* event) {
    QTreeWidget::dragMoveEvent(event); // scrolling near the edges
    const QPoint pt = event->position().toPoint();
    TShellTreeNode* node = NodeOf(itemAt(pt));
    if (node != FHoverNode) {
        FHoverNode = node;
        if (node)
            FHoverTimer->start();
        else
            FHoverTimer->stop();
    }
    const bool target = node && CarriesLocalFiles(event->mimeData()) &&
                        !GetPathFromIDList(node->Absolute()).empty() &&
                        node->Item().HasAttribute(6);
    if (target)
        event->acceptProposedAction();
    else
        event->ignore();
    if (OnShDragOver) OnShDragOver(event->mimeData(), node, event->modifiers(), pt);
}

void TShellTreeView::HoverTimeout() {
    if (FHoverNode && !FHoverNode->isExpanded() && CanExpandOnHover(FHoverNode->Absolute()))
        FHoverNode->setExpanded(true);
}

void TShellTreeView::dragLeaveEvent(QDragLeaveEvent* event) {
    QTreeWidget::dragLeaveEvent(event);
    FHoverTimer->stop();
    FHoverNode = nullptr;
    if (OnShDragLeave) OnShDragLeave();
}

void TShellTreeView::dropEvent(QDropEvent* event) {
    FHoverTimer->stop();
    FHoverNode = nullptr;
    const QPoint pt = event->position().toPoint();
    TShellTreeNode* node = NodeOf(itemAt(pt));
    if (!node || !CarriesLocalFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    // The owner may do the drop itself and clear defaultAction; otherwise the files are copied
    // or moved into the node's folder (conflicting names are skipped, nothing is replaced).
    bool defaultAction = true;
    if (OnShDragDrop) OnShDragDrop(event->mimeData(), node, event->modifiers(), pt, defaultAction);
    if (!defaultAction) {
        event->acceptProposedAction();
        return;
    }
    const std::string target = GetPathFromIDList(node->Absolute());
    std::vector<std::string> sources;
    for (const QUrl& url : event->mimeData()->urls())
        sources.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    const TDropEffect effect =
        target.empty() ? TDropEffect::None
                       : ChooseDropEffect(sources, target, event->modifiers() & Qt::ShiftModifier,
                                          event->modifiers() & Qt::ControlModifier);
    if (effect == TDropEffect::None) {
        event->ignore();
        return;
    }
    TTransferRequest request;
    request.Sources = std::move(sources);
    request.TargetDir = target;
    request.Move = effect == TDropEffect::Move;
    TransferFiles(request, {});
    event->setDropAction(request.Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    RefreshTree();
}

} // namespace pictor
