#pragma once

// The file list of the main window: a virtual view over TShellFileList. The model holds the
// items; the view only knows the row count and asks the model for the rows it paints.
//
// One QListView shows the icon, small-icon and list styles, one QTreeView the details style;
// both share one item model and one selection model, so switching styles keeps the selection
// and the current row. Selection changes are passed on to the file list, which reports the size
// of the selection. Rows drag out as file URLs; file URLs dropped on a folder row or on the list
// are copied or moved there by TransferFiles.

#include "shell/FileTransfer.h"
#include "shell/ListViewSettings.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellDbt.h"
#include "shell/forms/ShellLinks.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAbstractItemModel;
class QAbstractItemView;
class QDropEvent;
class QItemSelection;
class QItemSelectionModel;
class QListView;
class QProgressDialog;
class QMimeData;
class QStackedLayout;
class QTreeView;

namespace pictor {

class TIniFile;
class TShellItemModel;

// Marks drawn for the attribute bits instead of letters: the images and, for each bit, the
// index of its image (-1: none).
struct TAttributesImage {
    std::vector<QPixmap> Images;
    int Archive = -1, Hidden = -1, ReadOnly = -1, System = -1;
    bool Assigned() const { return !Images.empty(); }
    // The image of an index, or null.
    const QPixmap* Image(int index) const {
        return index >= 0 && index < static_cast<int>(Images.size())
                   ? &Images[static_cast<size_t>(index)]
                   : nullptr;
    }
};

class TShellListView : public QWidget,
                       public IShellListOwner,
                       public IShellListLink,
                       public IShellCtrl {
public:
    // watch: run the file list's change watchers (tests leave them out).
    explicit TShellListView(QWidget* parent = nullptr, bool watch = true);
    ~TShellListView() override;

    TShellFileList& FileList() { return *FList; }

    // Properties.
    int ViewStyle() const { return FViewStyle; }
    void SetViewStyle(int style); // vsIcon..vsReport; other values are ignored
    bool IncludeHidden() const override { return FIncludeHidden; }
    void SetIncludeHidden(bool include) override;
    TShVirtuaItems ShVirtuaItems() const override { return FVirtuaItems; }
    void SetShVirtuaItems(TShVirtuaItems items) override;
    const TAttributesImage& AttributesImage() const { return FAttributesImage; }
    void SetAttributesImage(const TAttributesImage& image);
    IShellTreeLink* TreeLink() const { return FTree; }

    // IShellListLink.
    void SetFolder(const TItemIDList& absolute) override;
    void SetTreeLink(IShellTreeLink* tree) override { FTree = tree; }
    void StopWatching() override { FList->StopWatching(); }
    void StartWatching() override { FList->StartWatching(); }
    void RefreshList() override;

    std::string FolderPath() const { return FList->FolderPath(); }
    // The sort command: the key ascending or descending.
    void SortBy(int key, bool ascending);
    // Opens a row as a double click or Enter does.
    void OpenRow(int row);
    // Starts editing a row's name in place (F2 does the same).
    void EditRow(int row);

    // Column order and widths, view style and sort state in a settings section.
    TListLayout Layout() const;
    void LoadSettings(const TIniFile& ini, std::string_view section);
    void SaveSettings(TIniFile& ini, std::string_view section) const;

    // Copies or moves files into a folder (asking through AskReplace), reports failures through
    // ReportTransfer and refreshes the list when something arrived or left.
    TTransferResult TransferInto(const std::vector<std::string>& sources,
                                 const std::string& targetDir, bool move);
    // The drop being handled, valid while OnShDragDrop runs.
    const TTransferRequest& DropRequest() const { return FDropRequest; }

    // The parts, for the main window's menus and for tests.
    QAbstractItemView* ActiveView() const;
    QListView* IconView() const { return FListView; }
    QTreeView* DetailView() const { return FTreeView; }
    QItemSelectionModel* SelectionModel() const { return FSelection; }
    QAbstractItemModel* ItemModel() const;
    // How many times a row's texts or icon were taken from the file list (paint and search).
    long RowDataRequests() const;
    // The row shown as drop target (-1: none).
    int DropRow() const { return FDropRow; }
    // The text colour of a row's name (OnCustomDrawItem decides).
    QColor RowTextColour(int row, const QColor& normal) const;
    // The drag data of the selection (file URLs and their paths as text) and the actions the
    // selection allows; null when nothing of it has a path.
    std::unique_ptr<QMimeData> SelectionDragData(Qt::DropActions& actions);
    // The clipboard offers files (text/uri-list with a file: URL).
    static bool ClipboardHasFiles(const QMimeData* data);

    // Events.
    std::function<void(TShellFileList&)> OnShListChange;
    std::function<void(std::uint64_t selSize)> OnShSelChange;
    std::function<void(TShellFileItem&, bool& defaultAction)> OnShExecute;
    std::function<void(TShellFileItem&, bool& accept)> OnShFilter;
    std::function<void(int column)> OnColumnClick;
    std::function<void(int row, QColor& textColour)> OnCustomDrawItem;
    std::function<void(bool& canDrag)> OnShBeginDrag;
    std::function<void(bool& defaultAction)> OnShDragDrop;
    std::function<void(bool contented)> OnShClipboard;
    // A rename in place was refused (errno value); the name stays.
    std::function<void(const QString& name, int error)> OnRenameFailed;
    // The question put when a dropped name exists (default: a Yes/No/Cancel message box) and
    // the report of failed transfers (default: a warning box). Tests replace both.
    TAskReplace AskReplace;
    std::function<void(const TTransferResult&)> ReportTransfer;
    // A transfer that runs longer than this shows a progress window with a cancel button.
    int ProgressDelayMs = 500;
    // Called after each update of that window (tests look at it and press its button).
    std::function<void(QProgressDialog&)> OnTransferProgress;

    // IShellListOwner.
    bool CanShowFolders() const override { return !FDestroying; }
    void SetRowCount(int count) override;
    bool RowSelected(int row) const override;
    void SetRowSelected(int row, bool selected) override;
    void SetAllRowsSelected(bool selected) override;
    int SelectedCount() const override;
    int FocusedRow() const override;
    void SetFocusedRow(int row) override;
    void MakeRowVisible(int row) override;
    void Redraw() override;
    void BatchUpdate(bool begins) override;
    int ColumnCount() const override;
    std::vector<int> ColumnOrder() const override;
    std::vector<int> ColumnWidths() const override;
    void ShowNameColumnOnly() override;
    void RebuildColumns(const std::vector<int>& order, const std::vector<int>& widths) override;
    void BeginWait() override;
    void EndWait() override;
    bool DragInProgress() const override { return FDragging; }
    std::optional<TItemIDList> TreeFolder() const override;
    void DoShFilter(TShellFileItem& item, bool& accept) override;
    void DoShListChange(TShellFileList& list) override;
    void DoShSelChange(std::uint64_t selSize) override;

    // IShellCtrl: device notices are for trees.
    TShDirWatcher* DeviceWatcher() override { return nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ConfigureListView();
    void ForwardSelection(const QItemSelection& selected, const QItemSelection& deselected);
    void HeaderClicked(int column);
    void UpdateSortIndicator();
    void ApplyOrder(const std::vector<int>& order);
    void StartDrag();
    // Drag over / drop: the target folder and effect for a drag event; false when none.
    bool DropTarget(QAbstractItemView* view, QDropEvent* event, std::string& target,
                    std::vector<std::string>& sources, Qt::DropAction& action, int& row);
    bool HandleDragEvent(QAbstractItemView* view, QEvent* event);
    void SetDropRow(int row);
    void AutoScroll(QAbstractItemView* view, const QPoint& pos);

    std::unique_ptr<TShellFileList> FList;
    TShellItemModel* FModel = nullptr;
    QItemSelectionModel* FSelection = nullptr;
    QStackedLayout* FStack = nullptr;
    QListView* FListView = nullptr;
    QTreeView* FTreeView = nullptr;
    IShellTreeLink* FTree = nullptr;
    TAttributesImage FAttributesImage;
    int FViewStyle = vsIcon;
    bool FIncludeHidden = true;
    TShVirtuaItems FVirtuaItems = DefaultShVirtuaItems;
    bool FDestroying = false;
    bool FColumnsSized = false;
    std::vector<int> FSavedWidths;
    int FMouseState = 0; // 0 idle, 1 left pressed on a row, 2 right pressed on a row, 3 dragging
    bool FDragging = false;
    bool FRefreshAfterDrag = false;
    int FDropRow = -1;
    TTransferRequest FDropRequest;
    int FWaitCount = 0;
};

} // namespace pictor
