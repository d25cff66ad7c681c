#include "shell/forms/ShellListView.h"

#include "shell/FileClipboard.h"

#include "shell/forms/ShellIcons.h"

#include "core/IniFile.h"
#include "shell/ShellCst.h"
#include "shell/ShellImages.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <unordered_map>

namespace pictor {

// ---- the item model: rows of the file list, produced when asked ----

class TShellItemModel : public QAbstractTableModel {
public:
    explicit TShellItemModel(TShellListView* view) : QAbstractTableModel(view), FView(view) {}

    void SetRows(int rows) {
        beginResetModel();
        FRows = std::max(rows, 0);
        endResetModel();
    }
    int Rows() const { return FRows; }
    long Requests() const { return FRequests; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : FRows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 5;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= FRows) return {};
        const int column = index.column();
        if (role == Qt::TextAlignmentRole) return Alignment(column);
        if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::EditRole)
            return {};
        if (role == Qt::DecorationRole && column != ColName) return {};
        TShellFileItem* item = FView->FileList().Item(index.row());
        if (!item) return {};
        ++FRequests;
        if (role == Qt::DecorationRole) return Icon(item);
        switch (column) {
        case ColName:
            return item->DisplayName();
        case ColSize:
            return item->SizeText();
        case ColType:
            return item->TypeName();
        case ColDate:
            return item->DateText();
        case ColAttributes:
            return FView->AttributesImage().Assigned() ? QString() : item->AttributeText();
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= 5) return {};
        if (role == Qt::DisplayRole) return QString::fromUtf8(ShellText::ColumnCaptions[section]);
        if (role == Qt::TextAlignmentRole) return Alignment(section);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        // Names can be edited in place where the item may be renamed.
        if (index.column() == ColName)
            if (TShellFileItem* item = FView->FileList().Item(index.row());
                item && item->HasAttribute(3))
                f |= Qt::ItemIsEditable;
        return f;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role != Qt::EditRole || index.column() != ColName) return false;
        TShellFileItem* item = FView->FileList().Item(index.row());
        if (!item) return false;
        const QString name = value.toString();
        if (name == item->DisplayName()) return false;
        int error = 0;
        FView->StopWatching();
        const bool ok = FView->FileList().RenameItem(item, name, &error);
        FView->StartWatching();
        if (!ok) {
            // Refused (an existing name, a name that cannot be one): nothing changed.
            if (FView->OnRenameFailed) FView->OnRenameFailed(name, error);
            return false;
        }
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), 4));
        return true;
    }

private:
    // Sizes and attributes are right-aligned, in the cells and in the header.
    static QVariant Alignment(int column) {
        const bool right = column == ColSize || column == ColAttributes;
        return int((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }

    // One icon per image-list index: the first theme name the theme has, else a style icon.
    QIcon Icon(TShellFileItem* item) const {
        return SystemIcon(item->IconIndex(FView->ViewStyle()), FView->style(),
                          item->OverlayIndex());
    }

    TShellListView* FView;
    int FRows = 0;
    mutable long FRequests = 0;
};

// ---- the delegate: name colour, drop highlight, attribute marks ----

namespace {

class TShellItemDelegate : public QStyledItemDelegate {
public:
    explicit TShellItemDelegate(TShellListView* view) : QStyledItemDelegate(view), FView(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        const int row = index.row();
        if (row == FView->DropRow()) opt.state |= QStyle::State_Selected;
        if (index.column() == ColName) {
            const QColor normal = opt.palette.color(QPalette::Text);
            const QColor colour = FView->RowTextColour(row, normal);
            if (colour != normal) opt.palette.setColor(QPalette::Text, colour);
        }
        const TAttributesImage& marks = FView->AttributesImage();
        if (!marks.Assigned()) {
            QStyledItemDelegate::paint(painter, opt, index);
            return;
        }
        TShellFileItem* item = FView->FileList().Item(row);
        const std::uint32_t bits = item ? item->FindData().FileAttributes : 0;
        if (index.column() == ColAttributes) {
            // The cell's background, then the marks left to right: R, H, S, A.
            QStyledItemDelegate::paint(painter, opt, index);
            painter->save();
            painter->setClipRect(opt.rect);
            int x = opt.rect.left();
            const int y = opt.rect.top() + 2;
            const std::pair<std::uint32_t, int> order[] = {
                {FILE_ATTRIBUTE_READONLY, marks.ReadOnly},
                {FILE_ATTRIBUTE_HIDDEN, marks.Hidden},
                {FILE_ATTRIBUTE_SYSTEM, marks.System},
                {FILE_ATTRIBUTE_ARCHIVE, marks.Archive}};
            for (const auto& [bit, image] : order)
                if (const QPixmap* pm = marks.Image(image); pm && (bits & bit)) {
                    painter->drawPixmap(x, y, *pm);
                    x += pm->width();
                }
            painter->restore();
            return;
        }
        QStyledItemDelegate::paint(painter, opt, index);
        if (FView->ViewStyle() == vsIcon && index.column() == ColName && bits) {
            // Beside the icon, bottom up: A, S, H, R.
            QStyleOptionViewItem io = opt;
            initStyleOption(&io, index);
            const QWidget* w = opt.widget;
            QStyle* style = w ? w->style() : QApplication::style();
            const QRect icon = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &io, w);
            const std::pair<std::uint32_t, int> order[] = {
                {FILE_ATTRIBUTE_ARCHIVE, marks.Archive},
                {FILE_ATTRIBUTE_SYSTEM, marks.System},
                {FILE_ATTRIBUTE_HIDDEN, marks.Hidden},
                {FILE_ATTRIBUTE_READONLY, marks.ReadOnly}};
            int y = icon.bottom() + 1;
            for (const auto& [bit, image] : order)
                if (const QPixmap* pm = marks.Image(image); pm && (bits & bit)) {
                    y -= pm->height();
                    painter->drawPixmap(icon.left() + 5 - pm->width(), y, *pm);
                    y -= 1;
                }
        }
    }

private:
    TShellListView* FView;
};

Qt::DropActions ActionsOf(std::uint32_t attributes) {
    Qt::DropActions actions;
    if (attributes & SFGAO_CANCOPY) actions |= Qt::CopyAction;
    if (attributes & SFGAO_CANMOVE) actions |= Qt::MoveAction;
    if (attributes & SFGAO_CANLINK) actions |= Qt::LinkAction;
    return actions;
}

} // namespace

// ---- construction ----

TShellListView::TShellListView(QWidget* parent, bool watch) : QWidget(parent) {
    FList = std::make_unique<TShellFileList>(this, watch);
    FModel = new TShellItemModel(this);
    FStack = new QStackedLayout(this);
    FStack->setContentsMargins(0, 0, 0, 0);

    FListView = new QListView(this);
    FTreeView = new QTreeView(this);
    // One selection for both views.
    FSelection = new QItemSelectionModel(FModel, this);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(FListView), static_cast<QAbstractItemView*>(FTreeView)}) {
        view->setModel(FModel);
        QItemSelectionModel* own = view->selectionModel();
        view->setSelectionModel(FSelection);
        delete own;
        view->setItemDelegate(new TShellItemDelegate(this));
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::EditKeyPressed);
        view->viewport()->setAcceptDrops(true); // drags start and drops land in eventFilter
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::activated, this,
                [this](const QModelIndex& index) { OpenRow(index.row()); });
        FStack->addWidget(view);
    }
    connect(FSelection, &QItemSelectionModel::selectionChanged, this,
            &TShellListView::ForwardSelection);

    FListView->setUniformItemSizes(true);
    FListView->setLayoutMode(QListView::SinglePass);
    FListView->setTextElideMode(Qt::ElideRight);
    FTreeView->setUniformRowHeights(true);
    FTreeView->setRootIsDecorated(false);
    FTreeView->setItemsExpandable(false);
    FTreeView->setAllColumnsShowFocus(true);
    QHeaderView* header = FTreeView->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(true);
    connect(header, &QHeaderView::sectionClicked, this, &TShellListView::HeaderClicked);

    ConfigureListView();
    UpdateSortIndicator();
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        if (OnShClipboard)
            OnShClipboard(ClipboardHasFiles(QGuiApplication::clipboard()->mimeData()));
    });

    AskReplace = [this](const std::string&, const std::string& target) {
        const auto answer = QMessageBox::question(
            this, QString(),
            QString::fromUtf8("%1 は既に存在します。\n置き換えますか?")
                .arg(QString::fromStdString(target)),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
        return answer == QMessageBox::Yes  ? TConflictAnswer::Replace
               : answer == QMessageBox::No ? TConflictAnswer::Skip
                                           : TConflictAnswer::Cancel;
    };
    ReportTransfer = [this](const TTransferResult& result) {
        QString text;
        for (const auto& line : result.Errors)
            text += QString::fromStdString(line) + QLatin1Char('\n');
        QMessageBox::warning(this, QString(), text.trimmed());
    };
    TShellCtrlList::Instance().Register(this);
}

TShellListView::~TShellListView() {
    FDestroying = true;
    TShellCtrlList::Instance().Unregister(this);
    while (FWaitCount > 0)
        EndWait();
    FModel->SetRows(0);
    FList.reset();
}

QAbstractItemView* TShellListView::ActiveView() const {
    return FViewStyle == vsReport ? static_cast<QAbstractItemView*>(FTreeView)
                                  : static_cast<QAbstractItemView*>(FListView);
}

QAbstractItemModel* TShellListView::ItemModel() const {
    return FModel;
}

long TShellListView::RowDataRequests() const {
    return FModel->Requests();
}

void TShellListView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!FColumnsSized && width() > 0) {
        for (int c = 0; c < 5; ++c)
            FTreeView->header()->resizeSection(c, std::max(width() / 5, 30));
        FColumnsSized = true;
    }
    if (FList->Folder().IsNull()) FList->OpenFolder(TItemIDList()); // the desktop
}

// ---- properties ----

void TShellListView::ConfigureListView() {
    const int line = fontMetrics().height();
    switch (FViewStyle) {
    case vsIcon:
        FListView->setViewMode(QListView::IconMode);
        FListView->setMovement(QListView::Static);
        FListView->setIconSize(QSize(32, 32));
        FListView->setWordWrap(true);
        FListView->setGridSize(QSize(std::max(96, line * 6), 32 + line * 3));
        break;
    case vsSmallIcon:
    case vsList:
        FListView->setViewMode(QListView::ListMode);
        FListView->setMovement(QListView::Static);
        FListView->setFlow(FViewStyle == vsSmallIcon ? QListView::LeftToRight
                                                     : QListView::TopToBottom);
        FListView->setIconSize(QSize(16, 16));
        FListView->setWordWrap(false);
        FListView->setGridSize(QSize(std::max(160, line * 12), std::max(18, line + 4)));
        break;
    default:
        break;
    }
    FListView->setWrapping(true);
    FListView->setResizeMode(QListView::Adjust);
}

void TShellListView::SetViewStyle(int style) {
    if (style < vsIcon || style > vsReport) return;
    const bool hadFocus = ActiveView()->hasFocus();
    FViewStyle = style;
    if (style != vsReport) ConfigureListView();
    FStack->setCurrentWidget(ActiveView());
    if (hadFocus) ActiveView()->setFocus();
    const QModelIndex current = FSelection->currentIndex();
    if (current.isValid()) ActiveView()->scrollTo(current);
}

void TShellListView::SetIncludeHidden(bool include) {
    if (include == FIncludeHidden) return;
    FIncludeHidden = include;
    if (!FList->Folder().IsNull()) FList->Refresh();
}

void TShellListView::SetShVirtuaItems(TShVirtuaItems items) {
    if (items == FVirtuaItems) return;
    FVirtuaItems = items;
    if (!FList->Folder().IsNull()) FList->Refresh();
}

void TShellListView::SetAttributesImage(const TAttributesImage& image) {
    FAttributesImage = image;
    Redraw();
}

// ---- folders, sorting, opening ----

void TShellListView::SetFolder(const TItemIDList& absolute) {
    FList->SetFolder(absolute);
}

void TShellListView::RefreshList() {
    FList->Refresh();
    Redraw();
}

void TShellListView::SortBy(int key, bool ascending) {
    FList->SortBy(key, ascending);
    UpdateSortIndicator();
}

void TShellListView::HeaderClicked(int column) {
    FList->ColumnClick(column);
    UpdateSortIndicator();
    if (OnColumnClick) OnColumnClick(column);
}

void TShellListView::UpdateSortIndicator() {
    const int key = FList->SortType();
    FTreeView->header()->setSortIndicator(key, FList->SortOrder(key) > 0 ? Qt::AscendingOrder
                                                                         : Qt::DescendingOrder);
}

void TShellListView::OpenRow(int row) {
    TShellFileItem* item = FList->Item(row);
    if (!item) return;
    if (item->HasAttribute(15)) {
        const TItemIDList target = item->AbsoluteIDList(); // the item dies with the old folder
        FList->SetFolder(target);
        if (FTree) FTree->SelectFolder(target);
        return;
    }
    bool defaultAction = true;
    if (OnShExecute) OnShExecute(*item, defaultAction);
    if (!defaultAction) return;
    const std::string path = item->Path();
    if (!path.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QColor TShellListView::RowTextColour(int row, const QColor& normal) const {
    QColor colour = normal;
    if (OnCustomDrawItem) OnCustomDrawItem(row, colour);
    return colour;
}

// ---- IShellListOwner ----

void TShellListView::SetRowCount(int count) {
    FModel->SetRows(count);
    // A reset drops the selection without a notice; the file list learns it here.
    FList->SelectionChangedAll();
}

bool TShellListView::RowSelected(int row) const {
    return FSelection->isSelected(FModel->index(row, 0));
}

void TShellListView::SetRowSelected(int row, bool selected) {
    if (row < 0 || row >= FModel->Rows()) return;
    FSelection->select(FModel->index(row, 0),
                       (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                           QItemSelectionModel::Rows);
}

void TShellListView::SetAllRowsSelected(bool selected) {
    if (!selected) {
        FSelection->clearSelection();
        return;
    }
    if (FModel->Rows() == 0) return;
    FSelection->select(QItemSelection(FModel->index(0, 0), FModel->index(FModel->Rows() - 1, 4)),
                       QItemSelectionModel::Select);
}

int TShellListView::SelectedCount() const {
    return static_cast<int>(FSelection->selectedRows(0).size());
}

int TShellListView::FocusedRow() const {
    const QModelIndex current = FSelection->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TShellListView::SetFocusedRow(int row) {
    if (row < 0 || row >= FModel->Rows()) return;
    FSelection->setCurrentIndex(FModel->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TShellListView::MakeRowVisible(int row) {
    if (row >= 0 && row < FModel->Rows()) ActiveView()->scrollTo(FModel->index(row, 0));
}

void TShellListView::Redraw() {
    FListView->viewport()->update();
    FTreeView->viewport()->update();
}

void TShellListView::BatchUpdate(bool begins) {
    setUpdatesEnabled(!begins);
}

void TShellListView::ForwardSelection(const QItemSelection& selected,
                                      const QItemSelection& deselected) {
    std::vector<std::pair<int, bool>> rows;
    for (const auto& [ranges, on] : {std::pair{&selected, true}, std::pair{&deselected, false}})
        for (const QItemSelectionRange& range : *ranges)
            if (range.left() == 0)
                for (int row = range.top(); row <= range.bottom(); ++row)
                    rows.emplace_back(row, on);
    if (rows.empty()) return;
    // Many rows at once make one report at the end.
    const bool batch = rows.size() > 1;
    if (batch) FList->BeginUpdate();
    for (const auto& [row, on] : rows)
        FList->RowSelectionChanged(row, on);
    if (batch) FList->EndUpdate();
}

int TShellListView::ColumnCount() const {
    int shown = 0;
    for (int c = 0; c < 5; ++c)
        if (!FTreeView->header()->isSectionHidden(c)) ++shown;
    return shown;
}

std::vector<int> TShellListView::ColumnOrder() const {
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        order.push_back(FTreeView->header()->logicalIndex(i));
    return order;
}

std::vector<int> TShellListView::ColumnWidths() const {
    std::vector<int> widths;
    for (int c = 0; c < 5; ++c) {
        const bool hidden = FTreeView->header()->isSectionHidden(c);
        widths.push_back(hidden && c < static_cast<int>(FSavedWidths.size())
                             ? FSavedWidths[static_cast<size_t>(c)]
                             : FTreeView->header()->sectionSize(c));
    }
    return widths;
}

void TShellListView::ShowNameColumnOnly() {
    if (ColumnCount() > 1) FSavedWidths = ColumnWidths();
    for (int c = 1; c < 5; ++c)
        FTreeView->header()->setSectionHidden(c, true);
    FTreeView->header()->resizeSection(0, std::max(width() / 2, 30));
}

void TShellListView::RebuildColumns(const std::vector<int>& order, const std::vector<int>& widths) {
    const std::vector<int>& use = widths.empty() ? FSavedWidths : widths;
    for (int c = 0; c < 5; ++c) {
        FTreeView->header()->setSectionHidden(c, false);
        if (c < static_cast<int>(use.size()) && use[static_cast<size_t>(c)] > 0)
            FTreeView->header()->resizeSection(c, use[static_cast<size_t>(c)]);
    }
    ApplyOrder(order);
}

void TShellListView::ApplyOrder(const std::vector<int>& order) {
    if (order.size() != 5) return;
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 5; ++i)
        if (sorted[static_cast<size_t>(i)] != i) return; // not a permutation
    QHeaderView* header = FTreeView->header();
    for (int i = 0; i < 5; ++i)
        header->moveSection(header->visualIndex(order[static_cast<size_t>(i)]), i);
}

void TShellListView::BeginWait() {
    if (FWaitCount++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TShellListView::EndWait() {
    if (FWaitCount > 0 && --FWaitCount == 0) QApplication::restoreOverrideCursor();
}

std::optional<TItemIDList> TShellListView::TreeFolder() const {
    if (!FTree) return std::nullopt;
    return FTree->CurrentFolder();
}

void TShellListView::DoShFilter(TShellFileItem& item, bool& accept) {
    if (OnShFilter) OnShFilter(item, accept);
}

void TShellListView::DoShListChange(TShellFileList& list) {
    if (OnShListChange) OnShListChange(list);
}

void TShellListView::DoShSelChange(std::uint64_t selSize) {
    if (OnShSelChange) OnShSelChange(selSize);
}

// ---- settings ----

TListLayout TShellListView::Layout() const {
    TListLayout layout;
    layout.Order = ColumnOrder();
    layout.Widths = ColumnWidths();
    layout.ViewStyle = FViewStyle;
    for (int k = 0; k < 5; ++k)
        layout.SortOrder[k] = FList->SortOrder(k);
    layout.SortType = FList->SortType();
    return layout;
}

void TShellListView::LoadSettings(const TIniFile& ini, std::string_view section) {
    TListLayout layout = Layout();
    if (!LoadListLayout(ini, section, layout)) return;
    ApplyOrder(layout.Order);
    const bool hidden = ColumnCount() < 5;
    if (hidden) FSavedWidths = layout.Widths;
    for (int c = 0; c < 5; ++c)
        if (!FTreeView->header()->isSectionHidden(c))
            FTreeView->header()->resizeSection(c, layout.Widths[static_cast<size_t>(c)]);
    FColumnsSized = true;
    SetViewStyle(layout.ViewStyle);
    for (int k = 0; k < 5; ++k)
        FList->SetSortOrder(k, layout.SortOrder[k]);
    SortBy(layout.SortType, true);
}

void TShellListView::SaveSettings(TIniFile& ini, std::string_view section) const {
    SaveListLayout(ini, section, Layout());
}

// ---- drag source ----

void TShellListView::EditRow(int row) {
    const QModelIndex index = FModel->index(row, ColName);
    if (!index.isValid()) return;
    ActiveView()->setCurrentIndex(index);
    ActiveView()->edit(index);
}

bool TShellListView::ClipboardHasFiles(const QMimeData* data) {
    // What every file manager puts there (uri-list, GNOME/MATE lists, the newer text form).
    return data && pictor::ClipboardHasFiles(*data);
}

std::unique_ptr<QMimeData> TShellListView::SelectionDragData(Qt::DropActions& actions) {
    TShellIDList& ids = FList->SelectedIDList();
    actions = Qt::IgnoreAction;
    QList<QUrl> urls;
    QStringList paths;
    for (int i = 0; i < ids.Count(); ++i) {
        const std::string path = ids.Path(i);
        if (path.empty()) continue;
        paths << QString::fromStdString(path);
        urls << QUrl::fromLocalFile(paths.back());
    }
    if (urls.isEmpty()) return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    data->setText(paths.join(QLatin1Char('\n')));
    actions = ActionsOf(ids.Attributes(SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK));
    return data;
}

void TShellListView::StartDrag() {
    if (FList->SelectedIDList().Count() == 0) return;
    bool canDrag = true;
    if (OnShBeginDrag) OnShBeginDrag(canDrag);
    if (!canDrag) return;
    Qt::DropActions actions;
    std::unique_ptr<QMimeData> data = SelectionDragData(actions);
    if (!data || actions == Qt::IgnoreAction) return;
    FMouseState = 3;
    FDragging = true;
    FRefreshAfterDrag = false;
    auto* drag = new QDrag(this);
    drag->setMimeData(data.release());
    const Qt::DropAction preferred = actions & Qt::MoveAction   ? Qt::MoveAction
                                     : actions & Qt::CopyAction ? Qt::CopyAction
                                                                : Qt::LinkAction;
    drag->exec(actions, preferred);
    FDragging = false;
    FMouseState = 0;
    // Our own drops ran while watcher reports were ignored.
    if (FRefreshAfterDrag) RefreshList();
}

// ---- drop target ----

bool TShellListView::DropTarget(QAbstractItemView* view, QDropEvent* event, std::string& target,
                                std::vector<std::string>& sources, Qt::DropAction& action,
                                int& row) {
    row = -1;
    sources.clear();
    target.clear();
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) sources.push_back(url.toLocalFile().toStdString());
    if (sources.empty()) return false;

    const QModelIndex index = view->indexAt(event->position().toPoint());
    if (TShellFileItem* item = index.isValid() ? FList->Item(index.row()) : nullptr;
        item && item->HasAttribute(15) && item->HasAttribute(6)) {
        target = item->Path();
        if (!target.empty()) row = index.row();
    }
    if (target.empty() && (FList->FolderAttribute(6) || FList->FolderLevel() == 0))
        target = FList->FolderPath();
    if (target.empty()) return false;

    const Qt::KeyboardModifiers keys = event->modifiers();
    const TDropEffect effect =
        ChooseDropEffect(sources, target, keys & Qt::ShiftModifier, keys & Qt::ControlModifier);
    if (effect == TDropEffect::None) return false;
    action = effect == TDropEffect::Move ? Qt::MoveAction : Qt::CopyAction;
    const Qt::DropActions possible = event->possibleActions();
    if (!(possible & action)) {
        // The source does not allow it: the other of copy and move, when that is allowed.
        const Qt::DropAction other = action == Qt::MoveAction ? Qt::CopyAction : Qt::MoveAction;
        if (!(possible & other)) return false;
        if (other == Qt::MoveAction &&
            ChooseDropEffect(sources, target, true, false) == TDropEffect::None)
            return false;
        action = other;
    }
    return true;
}

void TShellListView::SetDropRow(int row) {
    if (row == FDropRow) return;
    FDropRow = row;
    Redraw();
}

void TShellListView::AutoScroll(QAbstractItemView* view, const QPoint& pos) {
    const QRect area = view->viewport()->rect();
    const int margin = fontMetrics().height();
    if (pos.y() < area.top() + margin)
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() > area.bottom() - margin)
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (pos.x() < area.left() + margin)
        view->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.x() > area.right() - margin)
        view->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

bool TShellListView::HandleDragEvent(QAbstractItemView* view, QEvent* event) {
    if (event->type() == QEvent::DragLeave) {
        SetDropRow(-1);
        return true;
    }
    auto* drop = static_cast<QDropEvent*>(event);
    std::string target;
    std::vector<std::string> sources;
    Qt::DropAction action = Qt::IgnoreAction;
    int row = -1;
    const bool ok = DropTarget(view, drop, target, sources, action, row);
    if (event->type() != QEvent::Drop) {
        if (event->type() == QEvent::DragMove) AutoScroll(view, drop->position().toPoint());
        SetDropRow(ok ? row : -1);
        if (!ok) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(action);
        drop->accept();
        return true;
    }
    SetDropRow(-1);
    if (!ok) {
        drop->ignore();
        return true;
    }
    FDropRequest = TTransferRequest{sources, target, action == Qt::MoveAction};
    bool defaultAction = true;
    if (OnShDragDrop) OnShDragDrop(defaultAction);
    if (defaultAction) TransferInto(sources, target, action == Qt::MoveAction);
    FDropRequest = TTransferRequest();
    drop->setDropAction(action);
    drop->accept();
    return true;
}

TTransferResult TShellListView::TransferInto(const std::vector<std::string>& sources,
                                             const std::string& targetDir, bool move) {
    FList->StopWatching();
    BeginWait();
    // The window appears only once the transfer has run ProgressDelayMs; being window-modal,
    // its updates keep the program painting without letting the list change underneath.
    QProgressDialog progress(move ? "ファイルを移動しています..." : "ファイルをコピーしています...",
                             "キャンセル", 0, 1000, window());
    progress.setWindowTitle(move ? "移動" : "コピー");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(ProgressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setValue(0);
    const auto report = [&](const TTransferProgress& now) {
        const int permille =
            now.TotalBytes == 0 ? 0 : static_cast<int>(now.DoneBytes * 1000 / now.TotalBytes);
        progress.setLabelText(QString("%1\n%2")
                                  .arg(move ? "ファイルを移動しています..."
                                            : "ファイルをコピーしています...",
                                       QString::fromStdString(now.Current)));
        progress.setValue(std::min(permille, 999));
        if (OnTransferProgress) OnTransferProgress(progress);
        return !progress.wasCanceled();
    };
    const TTransferResult result = TransferFiles({sources, targetDir, move}, AskReplace, report);
    progress.close();
    EndWait();
    FList->StartWatching();
    if (result.Done > 0) {
        if (FDragging)
            FRefreshAfterDrag = true;
        else
            RefreshList();
    }
    if (!result.Errors.empty() && ReportTransfer) ReportTransfer(result);
    return result;
}

// ---- mouse and drag events of both views ----

bool TShellListView::eventFilter(QObject* watched, QEvent* event) {
    QAbstractItemView* view = nullptr;
    if (watched == FListView->viewport()) view = FListView;
    if (watched == FTreeView->viewport()) view = FTreeView;
    if (!view) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const bool onRow = view->indexAt(mouse->position().toPoint()).isValid();
        FMouseState = !onRow                               ? 0
                      : mouse->button() == Qt::LeftButton  ? 1
                      : mouse->button() == Qt::RightButton ? 2
                                                           : 0;
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if ((FMouseState == 1 || FMouseState == 2) &&
            (mouse->buttons() & (Qt::LeftButton | Qt::RightButton))) {
            StartDrag();
            FMouseState = 0;
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        FMouseState = 0;
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        return HandleDragEvent(view, event);
    default:
        return false;
    }
}

} // namespace pictor
