// The main window's file commands: cut, copy, paste, delete to the trash, new folder, rename,
// selection, and the file list's context menu.
#include "app/FileCommands.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "core/PathRules.h"
#include "core/SafeRename.h"
#include "shell/FileClipboard.h"
#include "shell/ShellActionRules.h"
#include "shell/ShellCtrls.h"
#include "shell/Trash.h"
#include "shell/forms/PropertiesDialog.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellActns.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include <cstring>
#include <sys/stat.h>

namespace pictor {

void TMainForm::CreateFileCommands() {
    AskText = [this](const QString& title, const QString& prompt,
                     const QString& text) -> std::optional<QString> {
        bool ok = false;
        const QString answer =
            QInputDialog::getText(this, title, prompt, QLineEdit::Normal, text, &ok);
        if (!ok) return std::nullopt;
        return answer;
    };
    OpenDocument = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    ShowMessage = [this](const QString& message) {
        QMessageBox::information(this, QApplication::applicationName(), message);
    };
    auto guarded = [this](QAction* action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { TApplication::Guard([&] { (this->*handler)(); }); });
    };
    for (QAction* a : {tbcut, Cut1})
        connect(a, &QAction::triggered, this,
                [this] { TApplication::Guard([this] { CopyToClipboard(true); }); });
    for (QAction* a : {tbcopy, Copy1})
        connect(a, &QAction::triggered, this,
                [this] { TApplication::Guard([this] { CopyToClipboard(false); }); });
    guarded(tbpaste, &TMainForm::PasteClick);
    guarded(Paste1, &TMainForm::PasteClick);
    guarded(Delete1, &TMainForm::Delete1Click);
    guarded(SelectAll1, &TMainForm::SelectAllClick);
    guarded(InvertSelection1, &TMainForm::InvertSelectionClick);
    SelectAll1->setShortcut(QKeySequence::SelectAll);
    // The Delete key of the file list asks, then moves the selection to the trash.
    auto* deleteKey = new QAction(ShellListView);
    deleteKey->setShortcut(QKeySequence::Delete);
    deleteKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ShellListView->addAction(deleteKey);
    guarded(deleteKey, &TMainForm::Delete1Click);

    // The context menu of the list's empty space.
    ViewPopup = new QMenu(this);
    ViewPopup->setObjectName("ViewPopup");
    QMenu* view = ViewPopup->addMenu(QStringLiteral("表示(&V)"));
    view->addActions({LargeIcon1, SmallIcon1, List1, Report1});
    N11 = ViewPopup->addAction(QStringLiteral("最新の状態に更新(&R)"));
    N11->setObjectName("N11");
    N11->setShortcut(QKeySequence(Qt::Key_F5));
    guarded(N11, &TMainForm::ShowRefreshItemClick);
    Paste2 = ViewPopup->addAction(QStringLiteral("貼り付け(&P)"));
    Paste2->setObjectName("Paste2");
    guarded(Paste2, &TMainForm::PasteClick);
    QMenu* create = ViewPopup->addMenu(QStringLiteral("新規作成(&W)"));
    Folder1 = create->addAction(QStringLiteral("フォルダ(&F)"));
    Folder1->setObjectName("Folder1");
    guarded(Folder1, &TMainForm::Folder1Click);
    const std::initializer_list<QAbstractItemView*> views = {ShellListView->IconView(),
                                                             ShellListView->DetailView()};
    for (QAbstractItemView* v : views) {
        v->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(v, &QWidget::customContextMenuRequested, this, [this, v](const QPoint& pos) {
            TApplication::Guard([&] {
                const QPoint global = v->viewport()->mapToGlobal(pos);
                // Empty space: the list's own menu; a row: the shell's menu for the selection.
                if (!v->indexAt(pos).isValid()) {
                    ViewPopupPopup();
                    ViewPopup->popup(global);
                    return;
                }
                ShellListViewPopup(
                    ShellPopupMenu->Popup(ShellListView->FileList().SelectedIDList(), global));
            });
        });
    }

    ShellPopupMenu = new TShellPopupMenu(this);
    ShellPopupMenu->ReadOnly = false;
    ShellPopupMenu->Invoke = [this](int code, const TShellIDList& ids) {
        return RunShellCommand(code, ids);
    };
    ShellPopupMenu->ClipboardHasFiles = [] {
        const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
        return clip && ClipboardHasFiles(*clip);
    };
    // The tree: the shell's menu on a node; Delete moves the selected folder to the trash.
    ShellTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ShellTreeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        TApplication::Guard([&] {
            auto* node = static_cast<TShellTreeNode*>(ShellTreeView->itemAt(pos));
            if (!node || node == ShellTreeView->RootNode()) return;
            ShellTreeView->setCurrentItem(node);
            TShellIDList ids;
            const TItemIDList absolute = node->Absolute();
            ids.SetParent(absolute.Parent());
            ids.Add(absolute.LastID());
            ShellTreeViewPopup(
                node, ShellPopupMenu->Popup(ids, ShellTreeView->viewport()->mapToGlobal(pos)));
        });
    });
    auto* treeDelete = new QAction(ShellTreeView);
    treeDelete->setShortcut(QKeySequence::Delete);
    treeDelete->setShortcutContext(Qt::WidgetShortcut);
    ShellTreeView->addAction(treeDelete);
    connect(treeDelete, &QAction::triggered, this, [this] {
        TApplication::Guard([this] {
            TShellTreeNode* node = ShellTreeView->SelectedNode();
            if (!node || node == ShellTreeView->RootNode()) return;
            const std::string path = GetPathFromIDList(node->Absolute());
            if (!path.empty() && TrashPaths({path})) ShellTreeView->RefreshTree();
        });
    });

    ShellListView->OnRenameFailed = [this](const QString& name, int) {
        ShowMessage(QString::fromStdString(ExistsMessage(name.toStdString())));
    };

    // The thumbnail grid's context menu; its commands act on the list's selection, which the
    // grid follows.
    DrowPopupMenu = new QMenu(this);
    DrowPopupMenu->setObjectName("DrowPopupMenu");
    DrowOpen = DrowPopupMenu->addAction(QStringLiteral("アプリケーションから開く(&O)"));
    DrowOpen->setObjectName("DrowOpen");
    guarded(DrowOpen, &TMainForm::DrowOpenClick);
    DrowPopupMenu->addActions({Cut1, Copy1});
    Delete2 = DrowPopupMenu->addAction(QStringLiteral("削除(&D)"));
    Delete2->setObjectName("Delete2");
    Delete2->setShortcut(QKeySequence::Delete);
    guarded(Delete2, &TMainForm::Delete1Click);
    rename = DrowPopupMenu->addAction(QStringLiteral("名前の変更(&M)"));
    rename->setObjectName("rename");
    guarded(rename, &TMainForm::renameClick);
    const auto& property = ShellActionInfo(TShellAction::FileProperty);
    Property1 = DrowPopupMenu->addAction(QString::fromUtf8(property.Caption));
    Property1->setObjectName("Property1");
    Property1->setStatusTip(QString::fromUtf8(LongHint(TShellAction::FileProperty).data(),
                                              int(LongHint(TShellAction::FileProperty).size())));
    connect(Property1, &QAction::triggered, this, [this] {
        TApplication::Guard([this] {
            if (const auto paths = SelectedPaths(); !paths.empty())
                TPropertiesDialog::ShowFor(this, paths);
        });
    });

    // The window's system menu, with the version item at its top.
    ShellSystemMenu = new TShellSystemMenu(this);
    ShellSystemMenu->SetInsertPos(TSysMenuPos::mpTop);
    ShellSystemMenu->addAction(About1);

    connect(ShellListView->SelectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateFileCommands(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            [this] { UpdateFileCommands(); });
    UpdateFileCommands();
}

std::vector<std::string> TMainForm::SelectedPaths() const {
    std::vector<std::string> paths;
    TShellFileList& list = ShellListView->FileList();
    std::vector<int> rows;
    for (const QModelIndex& index : ShellListView->SelectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    for (int row : rows)
        if (TShellFileItem* item = list.Item(row))
            if (std::string path = item->Path(); !path.empty()) paths.push_back(std::move(path));
    return paths;
}

std::string TMainForm::SelectedPath() const {
    const auto paths = SelectedPaths();
    return paths.empty() ? std::string() : paths.front();
}

void TMainForm::UpdateFileCommands() {
    TActionContext context;
    context.HasTarget = true;
    context.SelectedCount = ShellListView->SelectedCount();
    context.FolderHasPath = !ShellListView->FolderPath().empty();
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    context.ClipboardHasFiles = clip && ClipboardHasFiles(*clip);
    context.FolderAttributes =
        ShellListView->FileList().FolderAttribute(6) ? std::uint32_t(SFGAO_DROPTARGET) : 0u;
    context.ViewStyle = ShellListView->ViewStyle();
    for (QAction* a : {tbcut, Cut1})
        a->setEnabled(ActionEnabled(TShellAction::FileCut, context));
    for (QAction* a : {tbcopy, Copy1})
        a->setEnabled(ActionEnabled(TShellAction::FileCopy, context));
    for (QAction* a : {tbpaste, Paste1})
        a->setEnabled(ActionEnabled(TShellAction::FilePaste, context));
    Delete1->setEnabled(context.SelectedCount > 0 && context.FolderHasPath);
    Delete2->setEnabled(Delete1->isEnabled());
    DrowOpen->setEnabled(context.SelectedCount > 0 && context.FolderHasPath);
    rename->setEnabled(DrowOpen->isEnabled());
    Property1->setEnabled(ActionEnabled(TShellAction::FileProperty, context));
    SelectAll1->setEnabled(ActionEnabled(TShellAction::SelectAllItem, context));
    InvertSelection1->setEnabled(ActionEnabled(TShellAction::ReverseSelectedItem, context));
}

void TMainForm::CopyToClipboard(bool cut) {
    const auto paths = SelectedPaths();
    if (paths.empty()) return;
    QGuiApplication::clipboard()->setMimeData(MakeFileClipboard(paths, cut).release());
}

void TMainForm::PasteClick() {
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    const auto files = clip ? ReadFileClipboard(*clip) : std::nullopt;
    const std::string target = ShellListView->FolderPath();
    if (!files || target.empty()) return;
    const TTransferResult result = ShellListView->TransferInto(files->Paths, target, files->Cut);
    // After a completed move the clipboard names files that are gone.
    if (files->Cut && result.Failed == 0 && !result.Cancelled)
        QGuiApplication::clipboard()->clear();
}

void TMainForm::Delete1Click() {
    TrashPaths(SelectedPaths());
}

bool TMainForm::TrashPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    if (!AskYesNo(QStringLiteral("ファイルをゴミ箱に移してもよろしいですか？"))) return false;
    std::vector<std::string> mounts;
    for (const TVolume& v : CurrentVolumes())
        mounts.push_back(v.MountPoint);
    ShellListView->StopWatching();
    QStringList failed;
    int moved = 0;
    for (const std::string& path : paths) {
        const TTrashResult r = MoveToTrash(path, ShellEnvironment(), mounts);
        // A file that cannot go to the trash stays where it is; nothing is deleted for good.
        if (r.Ok)
            ++moved;
        else
            failed << QString::fromStdString(ExtractFileName(path) + ": " + std::strerror(r.Error));
    }
    ShellListView->RefreshList();
    ShellTreeView->RefreshTree();
    if (!failed.isEmpty())
        ShowMessage(QStringLiteral("ゴミ箱に移せませんでした:\n") + failed.join(QLatin1Char('\n')));
    return moved > 0;
}

bool TMainForm::RunShellCommand(int code, const TShellIDList& ids) {
    std::vector<std::string> paths;
    for (int i = 0; i < ids.Count(); ++i)
        if (std::string p = ids.Path(i); !p.empty()) paths.push_back(std::move(p));
    if (paths.empty()) return false;
    switch (code) {
    case ShellCodeOpen:
        for (const std::string& p : paths) {
            struct stat st;
            if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                NavigateTo(p);
            else
                OpenDocument(QUrl::fromLocalFile(QString::fromStdString(p)));
        }
        return true;
    case ShellCodeCut:
    case ShellCodeCopy:
        QGuiApplication::clipboard()->setMimeData(
            MakeFileClipboard(paths, code == ShellCodeCut).release());
        return true;
    case ShellCodePaste: {
        const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
        const auto files = clip ? ReadFileClipboard(*clip) : std::nullopt;
        if (!files) return false;
        const TTransferResult r =
            ShellListView->TransferInto(files->Paths, paths.front(), files->Cut);
        if (files->Cut && r.Failed == 0 && !r.Cancelled) QGuiApplication::clipboard()->clear();
        return r.Done > 0;
    }
    case ShellCodeCreateLink: {
        bool any = false;
        for (const std::string& p : paths)
            any = CreateLinkBeside(p) || any;
        return any;
    }
    case ShellCodeDelete:
        return TrashPaths(paths);
    case ShellCodeProperties:
        TPropertiesDialog::ShowFor(this, paths);
        return true;
    default:
        return false;
    }
}

void TMainForm::Folder1Click() {
    const std::string folder = ShellListView->FolderPath();
    if (folder.empty()) return;
    const auto name = AskText(QStringLiteral("フォルダーの新規作成"),
                              QStringLiteral("新規フォルダーの名前"), QStringLiteral("NewFolder"));
    if (!name) return;
    const std::string entered = name->toStdString();
    switch (CreateNewFolder(folder, entered)) {
    case TNewFolderResult::AlreadyThere:
        return;
    case TNewFolderResult::Failed:
        ShowMessage(QString::fromStdString(ExistsMessage(entered)));
        return;
    case TNewFolderResult::Created:
        break;
    }
    ShellListView->RefreshList();
    ShellTreeView->RefreshTree();
}

void TMainForm::renameClick() {
    const std::string path = SelectedPath();
    if (path.empty()) return;
    const auto entered = AskText(QStringLiteral("名前の変更"), QStringLiteral("新しい名前"),
                                 QString::fromStdString(RenameProposal(path)));
    if (!entered) return;
    const std::string target = RenameTargetPath(path, entered->toStdString());
    // Never replaces: an existing name (or an unusable one) leaves everything as it was.
    if (target.empty() || RenameNoReplace(path, target) != 0) {
        ShowMessage(QString::fromStdString(ExistsMessage(entered->toStdString())));
        return;
    }
    ShellListView->RefreshList();
}

void TMainForm::DrowOpenClick() {
    const std::string path = SelectedPath();
    if (path.empty()) return;
    OpenDocument(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TMainForm::SelectAllClick() {
    ShellListView->SetAllRowsSelected(true);
}

void TMainForm::InvertSelectionClick() {
    TShellFileList& list = ShellListView->FileList();
    list.BeginUpdate();
    for (int row = 0; row < list.Count(); ++row)
        ShellListView->SetRowSelected(row, !ShellListView->RowSelected(row));
    list.EndUpdate();
}

void TMainForm::ShellListViewPopup(int code) {
    switch (code) {
    case ShellCodeCreateLink:
        if (!ShellListView->FolderPath().empty()) ShellListView->RefreshList();
        break;
    case ShellCodeDelete:
        ShellTreeView->RefreshTree();
        break;
    case PopupRename: {
        int first = -1;
        for (const QModelIndex& index : ShellListView->SelectionModel()->selectedRows())
            if (first < 0 || index.row() < first) first = index.row();
        ShellListView->EditRow(first);
        break;
    }
    default:
        break;
    }
}

void TMainForm::ShellTreeViewPopup(TShellTreeNode* node, int code) {
    if (code == PopupRename) {
        ShellTreeView->editItem(node, 0);
    } else if (code == ShellCodeCut) {
        // Marked until the next refresh, as a cut item is.
        QFont font = node->font(0);
        font.setItalic(true);
        node->setFont(0, font);
        node->setForeground(0, ShellTreeView->palette().brush(QPalette::Disabled, QPalette::Text));
    } else if (code != 0) {
        ShellTreeView->RefreshTree();
    }
}

void TMainForm::ViewPopupPopup() {
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    Paste2->setEnabled(clip && ClipboardHasFiles(*clip));
}

} // namespace pictor
