#include "shell/ShellCtrls.h"

#include "core/NumberFormat.h"
#include "shell/ShellImages.h"
#include "shell/ShellNotify.h"

#include <algorithm>
#include <ctime>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_set>

namespace pictor {

// ---- TShellDataItem ----

std::shared_ptr<TShellFolder> TShellDataItem::ParentFolder() {
    if (!FParentFolder) FParentFolder = TShellFolder::Bind(ParentIDList());
    return FParentFolder;
}

int TShellDataItem::Level() const {
    return FAbsolute ? pictor::Level(*FAbsolute) : -1;
}

bool TShellDataItem::IsValid() const {
    return !FRelative.IsNull();
}

void TShellDataItem::ResetCaches() {
    FSelectedImageIndex = -1;
    FImageIndex = -1;
    FDisplayName = QString();
}

QString TShellDataItem::DisplayName() {
    if (FDisplayName.isNull()) {
        if (AbsoluteIDList().IsEmpty())
            FDisplayName = DisplayNameOf(AbsoluteIDList());
        else if (auto folder = ParentFolder())
            FDisplayName = folder->GetDisplayNameOf(AbsoluteIDList().LastID());
        if (FDisplayName.isNull()) FDisplayName = QLatin1String("");
    }
    return FDisplayName;
}

std::uint32_t TShellDataItem::Attributes(std::uint32_t mask) {
    return ItemAttributes(AbsoluteIDList(), mask);
}

bool TShellDataItem::HasAttribute(int index) {
    if (index < 0 || index >= 20) return false;
    const std::uint32_t flag = ShellAttributeFlags[index];
    return (Attributes(flag) & flag) == flag;
}

TShItemIDType TShellDataItem::ItemType() {
    return ClassifyItem(AbsoluteIDList(),
                        Attributes(SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_FOLDER));
}

int TShellDataItem::IconIndexOf(bool open) {
    const TItemIDList& abs = AbsoluteIDList();
    if (abs.IsEmpty()) return TSystemImageList::Instance().IndexOf(DesktopIconNames());
    auto folder = ParentFolder();
    TShellEntry e;
    if (!folder || !folder->GetEntry(abs.LastID(), e)) return -1;
    return TSystemImageList::Instance().IndexOf(EntryIconNames(e, *folder, open));
}

int TShellDataItem::ImageIndex() {
    if (FImageIndex < 0) FImageIndex = IconIndexOf(false);
    return FImageIndex;
}

int TShellDataItem::SelectedImageIndex() {
    if (FSelectedImageIndex < 0) FSelectedImageIndex = IconIndexOf(true);
    return FSelectedImageIndex;
}

// ---- TShellFolderItem ----

TShellFolderItem::TShellFolderItem(TItemIDList absolute, TItemIDList relative, void* node,
                                   std::function<int(void*)> nodeIndex)
    : TShellDataItem(std::move(relative)), FNode(node), FNodeIndex(std::move(nodeIndex)) {
    FAbsolute = std::move(absolute);
}

int TShellFolderItem::Index() const {
    return FNode && FNodeIndex ? FNodeIndex(FNode) : -1;
}

const TItemIDList& TShellFolderItem::ParentIDList() {
    if (!FParent) FParent = pictor::Level(*FAbsolute) <= 1 ? TItemIDList() : FAbsolute->Parent();
    return *FParent;
}

// ---- TShellFileItem ----

TShellFileItem::TShellFileItem(TShellFileList* owner, TShellEntry entry)
    : TShellDataItem(entry.Id), FOwner(owner), FEntry(std::move(entry)) {
    if (FOwner) FParentFolder = FOwner->BoundFolder();
}

int TShellFileItem::Index() const {
    return FOwner ? FOwner->IndexOf(this) : -1;
}

int TShellFileItem::Level() const {
    return FOwner ? FOwner->FolderLevel() + 1 : -1;
}

const TItemIDList& TShellFileItem::ParentIDList() {
    static const TItemIDList none = TItemIDList::Null();
    return FOwner ? FOwner->Folder() : none;
}

const TItemIDList& TShellFileItem::AbsoluteIDList() {
    if (!FAbsolute) {
        const TItemIDList& folder = ParentIDList();
        FAbsolute = folder.IsEmpty() ? FRelative : folder.Concat(FRelative);
    }
    return *FAbsolute;
}

bool TShellFileItem::IsValid() const {
    return FOwner && !FRelative.IsNull();
}

std::uint32_t TShellFileItem::Attributes(std::uint32_t mask) {
    return FParentFolder ? FParentFolder->GetAttributesOf(FEntry, mask) : 0;
}

const TFindData& TShellFileItem::FindData() {
    if (!FEntry.Find.Filled && FParentFolder) {
        TShellEntry fresh;
        if (FParentFolder->GetEntry(FRelative, fresh)) {
            FEntry.Find = fresh.Find;
            FEntry.Attributes = fresh.Attributes;
        }
    }
    return FEntry.Find;
}

void TShellFileItem::RefreshFindData() {
    TShellEntry fresh;
    if (FParentFolder && FParentFolder->GetEntry(FRelative, fresh)) {
        FEntry.Find = fresh.Find;
        FEntry.Attributes = fresh.Attributes;
    } else {
        FEntry.Find = TFindData();
        FEntry.Find.Filled = true; // gone: a zero record, not read again and again
    }
}

void TShellFileItem::Renamed(TItemIDList relative) {
    FRelative = relative;
    FEntry.Id = std::move(relative);
    FEntry.NameKey.clear();
    FEntry.TypeName = QString();
    FAbsolute.reset();
    FLargeImageIndex = -1;
    ResetCaches();
    RefreshFindData();
}

std::uint64_t TShellFileItem::Size() {
    const TFindData& f = FindData();
    if (!(FEntry.Attributes & SFGAO_FILESYSTEM) || (FEntry.Attributes & SFGAO_FOLDER)) return 0;
    return f.FileSize;
}

QString TShellFileItem::SizeText() {
    FindData();
    if (!(FEntry.Attributes & SFGAO_FILESYSTEM) || (FEntry.Attributes & SFGAO_FOLDER)) return {};
    const std::uint64_t kb = FEntry.Find.FileSize / 1024 + (FEntry.Find.FileSize % 1024 ? 1 : 0);
    return QString::fromStdString(FormatFloat("#,##0\"KB\"", static_cast<long double>(kb)));
}

QString TShellFileItem::TypeName() {
    if (!FParentFolder) return {};
    return EntryTypeName(FEntry, *FParentFolder);
}

QString TShellFileItem::DateText() {
    const std::int64_t ns = FindData().LastWriteTime;
    if (ns == 0) return {};
    const std::time_t secs =
        static_cast<std::time_t>(ns / 1000000000 - (ns % 1000000000 < 0 ? 1 : 0));
    std::tm tm{};
    if (!::localtime_r(&secs, &tm)) return {};
    // The Japanese short date and short time: yyyy/MM/dd H:mm.
    char text[48];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return QString::fromLatin1(text);
}

QString TShellFileItem::AttributeText() {
    return EntryAttributeLetters(FindData().FileAttributes);
}

int TShellFileItem::IconIndex(int viewStyle) {
    int& cache = viewStyle == vsIcon ? FLargeImageIndex : FImageIndex;
    if (cache < 0 && FParentFolder)
        cache = TSystemImageList::Instance().IndexOf(EntryIconNames(FEntry, *FParentFolder, false));
    return cache;
}

int TShellFileItem::ImageIndex() {
    return IconIndex(vsSmallIcon);
}

int TShellFileItem::SelectedImageIndex() {
    if (FSelectedImageIndex < 0 && FParentFolder)
        FSelectedImageIndex =
            TSystemImageList::Instance().IndexOf(EntryIconNames(FEntry, *FParentFolder, true));
    return FSelectedImageIndex;
}

int TShellFileItem::OverlayIndex() {
    if (FEntry.Attributes & SFGAO_SHARE) return 1;
    if (FEntry.Attributes & SFGAO_LINK) return 2;
    return 0;
}

std::string TShellFileItem::Path() {
    return FParentFolder ? FParentFolder->ChildPath(FRelative) : std::string();
}

// ---- TShellIDList ----

void TShellIDList::Clear() {
    FItems.clear();
    FParent = TItemIDList();
}

std::uint32_t TShellIDList::Attributes(std::uint32_t mask) const {
    if (FItems.empty()) return 0;
    auto folder = TShellFolder::Bind(FParent);
    return folder ? folder->GetAttributesOf(FItems, mask ? mask : SFGAO_CAPABILITYMASK) : 0;
}

std::string TShellIDList::Path(int index) const {
    if (index < 0 || index >= Count()) return {};
    return GetPathFromIDList(FParent.Concat(FItems[static_cast<std::size_t>(index)]));
}

// ---- TShellFileList ----

TShellFileList::TShellFileList(IShellListOwner* owner, bool watch, int settleMs) : FOwner(owner) {
    FItems.reserve(1000);
    if (watch) {
        auto handler = [this](TShFilesWatcher* sender, const std::string& path) {
            ChangeNotify(sender == FNameWatcher.get(), path);
        };
        FNameWatcher = std::make_unique<TShFilesWatcher>(
            std::string(), FileNotifyFileName | FileNotifyDirName, handler, nullptr, settleMs);
        FAttrWatcher = std::make_unique<TShFilesWatcher>(
            std::string(), FileNotifyAttributes | FileNotifySize | FileNotifyLastWrite, handler,
            nullptr, settleMs);
    }
}

TShellFileList::~TShellFileList() {
    if (FNameWatcher) FNameWatcher->Stop();
    if (FAttrWatcher) FAttrWatcher->Stop();
    FNameWatcher.reset();
    FAttrWatcher.reset();
    Clear();
}

TShellFileItem* TShellFileList::Item(int index) const {
    return index >= 0 && index < Count() ? FItems[static_cast<std::size_t>(index)] : nullptr;
}

int TShellFileList::IndexOf(const TShellFileItem* item) const {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TShellFileList::Clear() {
    for (TShellFileItem* item : FItems)
        delete item;
    FItems.clear();
    FTotalSize = 0;
}

std::string TShellFileList::FolderPath() const {
    if (FFolder.IsNull()) return {};
    return GetPathFromIDList(FFolder);
}

bool TShellFileList::FolderAttribute(int index) const {
    return ItemHasAttribute(FFolder, index);
}

TShItemIDType TShellFileList::FolderKind() const {
    return ItemIDType(FFolder);
}

std::uint64_t TShellFileList::TotalSize() {
    if (FolderPath().empty()) return 0;
    if (FTotalSize == 0)
        for (TShellFileItem* item : FItems)
            FTotalSize += item->Size();
    return FTotalSize;
}

std::uint64_t TShellFileList::FreeSpace() const {
    const std::string path = FolderPath();
    if (path.empty()) return 0;
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) return 0;
    return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

TShellIDList& TShellFileList::SelectedIDList() {
    FSelection.Clear();
    FSelection.SetParent(FFolder.IsNull() ? TItemIDList() : FFolder);
    for (int row = 0; row < Count(); ++row)
        if (FOwner->RowSelected(row))
            FSelection.Add(FItems[static_cast<std::size_t>(row)]->RelativeIDList());
    return FSelection;
}

void TShellFileList::RemoveSelected() {
    std::vector<TShellFileItem*> kept;
    kept.reserve(FItems.size());
    for (int row = 0; row < Count(); ++row) {
        TShellFileItem* item = FItems[static_cast<std::size_t>(row)];
        if (FOwner->RowSelected(row))
            delete item;
        else
            kept.push_back(item);
    }
    FItems.swap(kept);
    FTotalSize = 0;
    FOwner->SetRowCount(Count());
    FOwner->SetAllRowsSelected(false);
    FOwner->Redraw();
    FOwner->DoShListChange(*this);
}

bool TShellFileList::RenameItem(TShellFileItem* item, const QString& newName, int* error) {
    if (!item || !FBound) return false;
    auto renamed = FBound->SetNameOf(item->RelativeIDList(), newName, error);
    if (!renamed) return false;
    item->Renamed(std::move(*renamed));
    return true;
}

void TShellFileList::StopWatching() {
    if (FNameWatcher) FNameWatcher->SetPath({});
    if (FAttrWatcher) FAttrWatcher->SetPath({});
}

void TShellFileList::StartWatching() {
    const std::string path = FolderPath();
    if (FNameWatcher) FNameWatcher->SetPath(path);
    if (FAttrWatcher) FAttrWatcher->SetPath(path);
}

void TShellFileList::BeginUpdate() {
    if (FUpdateCount++ == 0) FOwner->BatchUpdate(true);
}

void TShellFileList::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount == 0) {
        FOwner->BatchUpdate(false);
        FOwner->DoShSelChange(FSelectionSize);
    }
}

void TShellFileList::SetSelectionSize(std::uint64_t size) {
    if (size == FSelectionSize) return;
    FSelectionSize = size;
    if (FUpdateCount == 0) FOwner->DoShSelChange(size);
}

void TShellFileList::SelectionChangedAll() {
    std::uint64_t size = 0;
    if (FOwner->SelectedCount() > 0)
        for (TShellFileItem* item : FItems)
            size += item->Size();
    SetSelectionSize(size);
}

void TShellFileList::RowSelectionChanged(int row, bool selected) {
    TShellFileItem* item = Item(row);
    if (!item) return;
    const std::uint64_t s = item->Size();
    SetSelectionSize(selected ? FSelectionSize + s
                              : (FSelectionSize >= s ? FSelectionSize - s : 0));
}

void TShellFileList::RangeSelectionChanged(int from, int to) {
    std::uint64_t size = 0;
    for (int row = std::max(from, 0); row <= to && row < Count(); ++row)
        size += FItems[static_cast<std::size_t>(row)]->Size();
    SetSelectionSize(size);
}

int TShellFileList::Refresh() {
    StopWatching();
    FTotalSize = 0;
    BeginUpdate();
    auto bound = FFolder.IsNull() ? nullptr : TShellFolder::Bind(FFolder);
    if (!bound) {
        // A folder that cannot be bound leaves the previous contents in place.
        EndUpdate();
        StartWatching();
        return Count();
    }
    FBound = bound;
    FOwner->BeginWait();
    Clear();
    FOwner->SetRowCount(0);
    std::vector<TShellEntry> entries;
    std::uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
    if (FOwner->IncludeHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
    FBound->EnumObjects(flags, entries, true);
    FItems.reserve(std::max<std::size_t>(1000, entries.size()));
    for (TShellEntry& entry : entries) {
        if (!KeepByLevel(FFolder, entry, FOwner->ShVirtuaItems())) continue;
        auto item = std::make_unique<TShellFileItem>(this, std::move(entry));
        bool accept = true;
        FOwner->DoShFilter(*item, accept);
        if (accept) FItems.push_back(item.release());
    }
    entries.clear();
    if (!(FBound->Path().empty() && FSortType == ColAttributes))
        QuickSort(0, Count() - 1, FSortType);
    FOwner->EndWait();
    if (Count() > 0) {
        FOwner->SetRowCount(Count());
        FOwner->SetFocusedRow(0);
    }
    FOwner->DoShListChange(*this);
    EndUpdate();
    StartWatching();
    return Count();
}

void TShellFileList::OpenFolder(const TItemIDList& absolute) {
    if (!FOwner->CanShowFolders() || absolute.IsNull()) return;
    if (FOwner->ColumnCount() > 1) {
        auto order = FOwner->ColumnOrder();
        auto widths = FOwner->ColumnWidths();
        if (!order.empty()) FColumnOrder = std::move(order);
        if (!widths.empty()) FColumnWidths = std::move(widths);
    }
    FFolder = absolute;
    FBound.reset();
    BeginUpdate();
    FSelectionSize = 0;
    Refresh();
    FOwner->SetRowCount(Count());
    if (Count() > 0) FOwner->MakeRowVisible(0);
    if (FolderPath().empty())
        FOwner->ShowNameColumnOnly();
    else if (FOwner->ColumnCount() < 2)
        FOwner->RebuildColumns(FColumnOrder, FColumnWidths);
    EndUpdate();
}

void TShellFileList::SetFolder(const TItemIDList& absolute) {
    if (absolute.IsNull()) return;
    if (!FFolder.IsNull() && Level(FFolder) == Level(absolute) &&
        ComparePIDLs(FFolder, absolute) == 0)
        return;
    OpenFolder(absolute);
    if (ItemHasAttribute(FFolder, 16)) {
        const std::string path = FolderPath();
        if (!path.empty() && ::chdir(path.c_str()) != 0) {
            // The current directory only serves relative names typed by the user; keep the old one.
        }
    }
}

int TShellFileList::CompareItems(TShellFileItem* a, TShellFileItem* b, int key) const {
    const int r = FBound->CompareEntries(key, a->Entry(), b->Entry());
    // The comparison's low 16 bits as a signed number, turned by the key's direction.
    return static_cast<std::int16_t>(r) * FSortOrder[key];
}

void TShellFileList::QuickSort(int left, int right, int key) {
    if (right - left < 1 || !FBound) return;
    try {
        // Hoare partitioning around the middle element. The smaller side is sorted by
        // recursion and the larger one by the loop, which bounds the stack; the result is the
        // same as taking the sides in any order.
        while (left < right) {
            int i = left, j = right;
            TShellFileItem* pivot = FItems[static_cast<unsigned>(left + right) >> 1];
            do {
                while (i < right &&
                       CompareItems(FItems[static_cast<std::size_t>(i)], pivot, key) < 0)
                    ++i;
                while (j > left &&
                       CompareItems(FItems[static_cast<std::size_t>(j)], pivot, key) > 0)
                    --j;
                if (i <= j) {
                    std::swap(FItems[static_cast<std::size_t>(i)],
                              FItems[static_cast<std::size_t>(j)]);
                    ++i;
                    --j;
                }
            } while (i <= j);
            if (j - left < right - i) {
                if (left < j) QuickSort(left, j, key);
                left = i;
            } else {
                if (i < right) QuickSort(i, right, key);
                right = j;
            }
        }
    } catch (...) {
        // A failing comparison leaves the order reached so far.
    }
}

void TShellFileList::Sort(int key) {
    if (key < 0 || key > ColAttributes) return;
    if (FolderPath().empty() && key == ColAttributes) return;
    BeginUpdate();
    FSortType = key;
    TShellFileItem* focused = Item(FOwner->FocusedRow());
    const int count = Count();
    const int selected = FOwner->SelectedCount();
    // Carry the selection over through the smaller of the selected and unselected sets.
    const bool collectSelected = count - selected >= selected;
    std::unordered_set<const TShellFileItem*> collected;
    int limit = collectSelected ? selected : count - selected;
    for (int row = 0; row < count && static_cast<int>(collected.size()) < limit; ++row)
        if (FOwner->RowSelected(row) == collectSelected)
            collected.insert(FItems[static_cast<std::size_t>(row)]);
    QuickSort(0, count - 1, key);
    FOwner->SetAllRowsSelected(!collectSelected);
    if (!collected.empty())
        for (int row = 0; row < count; ++row)
            if (collected.count(FItems[static_cast<std::size_t>(row)]))
                FOwner->SetRowSelected(row, collectSelected);
    if (focused) FOwner->SetFocusedRow(IndexOf(focused));
    EndUpdate();
    FOwner->Redraw();
}

void TShellFileList::SortBy(int key, bool ascending) {
    if (key < 0 || key > ColAttributes) return;
    FSortOrder[key] = ascending ? 1 : -1;
    Sort(key);
}

void TShellFileList::ColumnClick(int column) {
    if (column < 0 || column > ColAttributes) return;
    FSortOrder[column] = -FSortOrder[column];
    FOwner->BeginWait();
    Sort(column);
    FOwner->EndWait();
}

void TShellFileList::ChangeNotify(bool fromNames, const std::string& path) {
    if (FOwner->DragInProgress()) return;
    struct stat st;
    const bool gone = path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
    if (gone) {
        BeginUpdate();
        FFolder = TItemIDList::Null();
        FBound.reset();
        Clear();
        if (auto tree = FOwner->TreeFolder()) {
            // The tree may still show the vanished folder: its nearest existing ancestor then.
            TItemIDList target = *tree;
            while (!target.IsEmpty() && !TShellFolder::Bind(target))
                target = target.Parent();
            OpenFolder(target);
        }
        FOwner->SetRowCount(Count());
        EndUpdate();
        return;
    }
    if (fromNames) {
        Refresh();
        FOwner->Redraw();
        return;
    }
    FTotalSize = 0;
    for (TShellFileItem* item : FItems)
        item->RefreshFindData();
    FOwner->Redraw();
}

} // namespace pictor
