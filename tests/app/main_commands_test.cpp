// The main window's file commands offscreen: nothing they do may lose a file.
#include "app/MainFormSandbox.h"
#include "app/forms/Main.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellActns.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

struct MainCommandsTest : testing::Test {
    TShellSandbox Box;
    fs::path Dir = Box.Home / "pics", Other = Box.Home / "other";
    std::unique_ptr<TMainForm> Form;
    std::vector<std::string> Messages;
    std::optional<QString> Answer;
    bool Yes = true;

    MainCommandsTest() {
        fs::create_directories(Dir);
        fs::create_directories(Other);
        WriteFile(Dir / "a.jpg", "A");
        WriteFile(Dir / "b.jpg", "B");
        Form = std::make_unique<TMainForm>(SandboxFormOptions(Box, {Dir.string()}));
        Form->show();
        QApplication::processEvents();
        Form->AskYesNo = [this](const QString&) { return Yes; };
        Form->AskText = [this](const QString&, const QString&, const QString&) { return Answer; };
        Form->ShowMessage = [this](const QString& m) { Messages.push_back(m.toStdString()); };
        Form->ShellListView->AskReplace = [](const std::string&, const std::string&) {
            return TConflictAnswer::Skip;
        };
    }
    void Select(const char* name) {
        QItemSelectionModel* sel = Form->ShellListView->SelectionModel();
        TShellFileList& list = Form->ShellListView->FileList();
        for (int i = 0; i < list.Count(); ++i)
            if (list.Item(i)->DisplayName().toStdString() == name)
                sel->select(Form->ShellListView->ItemModel()->index(i, 0),
                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
};

} // namespace

TEST_F(MainCommandsTest, CommandsFollowTheSelection) {
    Form->ShellListView->SelectionModel()->clearSelection();
    EXPECT_FALSE(Form->Cut1->isEnabled());
    EXPECT_FALSE(Form->Copy1->isEnabled());
    EXPECT_FALSE(Form->Delete1->isEnabled());
    for (QAction* a : {Form->DrowOpen, Form->Delete2, Form->rename, Form->Property1})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    Select("a.jpg");
    EXPECT_TRUE(Form->Cut1->isEnabled());
    EXPECT_TRUE(Form->Delete1->isEnabled());
    for (QAction* a : {Form->DrowOpen, Form->Delete2, Form->rename, Form->Property1})
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    QGuiApplication::clipboard()->setText(QStringLiteral("just text"));
    Form->ViewPopupPopup();
    EXPECT_FALSE(Form->Paste2->isEnabled()) << "text is nothing to paste";
}

TEST_F(MainCommandsTest, DeleteGoesToTheTrashAfterYes) {
    Select("a.jpg");
    Yes = false;
    Form->Delete1Click();
    EXPECT_TRUE(fs::exists(Dir / "a.jpg"));
    Yes = true;
    Form->Delete1Click();
    EXPECT_FALSE(fs::exists(Dir / "a.jpg"));
    // Recoverable: in the home trash with its original place recorded.
    EXPECT_EQ(ReadFile(Box.DataHome / "Trash/files/a.jpg"), "A");
    EXPECT_NE(ReadFile(Box.DataHome / "Trash/info/a.jpg.trashinfo")
                  .find("Path=" + (Dir / "a.jpg").string()),
              std::string::npos);
    EXPECT_EQ(Form->ShellListView->FileList().Count(), 1);
}

TEST_F(MainCommandsTest, NewFolderAndRenameNeverReplace) {
    Answer = std::nullopt;
    Form->Folder1Click();
    EXPECT_FALSE(fs::exists(Dir / "NewFolder")) << "cancelled";
    Answer = QStringLiteral("NewFolder");
    Form->Folder1Click();
    EXPECT_TRUE(fs::is_directory(Dir / "NewFolder"));
    Form->Folder1Click();
    EXPECT_TRUE(Messages.empty()) << "an existing folder of that name: nothing more";
    WriteFile(Dir / "taken", "T");
    Answer = QStringLiteral("taken");
    Form->Folder1Click();
    EXPECT_EQ(Messages, std::vector<std::string>{"すでにtakenは、存在しています。"});
    EXPECT_EQ(ReadFile(Dir / "taken"), "T");

    Messages.clear();
    Select("b.jpg");
    Answer = QStringLiteral("a.txt"); // a.jpg exists: refused, both kept
    Form->renameClick();
    EXPECT_EQ(Messages, std::vector<std::string>{"すでにa.txtは、存在しています。"});
    EXPECT_EQ(ReadFile(Dir / "a.jpg"), "A");
    EXPECT_EQ(ReadFile(Dir / "b.jpg"), "B");
    Select("b.jpg");
    Answer = QStringLiteral("c.txt");
    Form->renameClick();
    EXPECT_EQ(ReadFile(Dir / "c.jpg"), "B") << "the extension is kept";
}

TEST_F(MainCommandsTest, CutThenPasteMovesCopyThenPasteCopies) {
    Select("a.jpg");
    Form->CopyToClipboard(false);
    Form->NavigateTo(Other.string());
    Form->PasteClick();
    EXPECT_EQ(ReadFile(Other / "a.jpg"), "A");
    EXPECT_TRUE(fs::exists(Dir / "a.jpg")) << "a copy keeps the original";
    Form->NavigateTo(Dir.string());
    Select("b.jpg");
    Form->CopyToClipboard(true);
    Form->NavigateTo(Other.string());
    Form->PasteClick();
    EXPECT_EQ(ReadFile(Other / "b.jpg"), "B");
    EXPECT_FALSE(fs::exists(Dir / "b.jpg")) << "a cut moves";
    // Pasting the copy again into the same place keeps both: the existing file is not replaced.
    QGuiApplication::clipboard()->clear();
    Form->NavigateTo(Dir.string());
    Select("a.jpg");
    Form->CopyToClipboard(false);
    Form->NavigateTo(Other.string());
    WriteFile(Other / "a.jpg", "newer");
    Form->PasteClick();
    EXPECT_EQ(ReadFile(Other / "a.jpg"), "newer");
}

TEST_F(MainCommandsTest, ShellMenuOfRowsAndRenameInPlace) {
    Select("a.jpg");
    TShellIDList& ids = Form->ShellListView->FileList().SelectedIDList();
    std::unique_ptr<QMenu> menu(Form->ShellPopupMenu->BuildMenu(ids));
    std::map<int, bool> enabled;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) enabled[a->data().toInt()] = a->isEnabled();
    EXPECT_TRUE(enabled.at(ShellCodeCut) && enabled.at(ShellCodeCopy) &&
                enabled.at(ShellCodeDelete));
    EXPECT_TRUE(enabled.at(PopupRename));
    EXPECT_FALSE(enabled.at(ShellCodePaste)) << "a file is no place to paste into";

    // A link beside the file; the list shows it after the menu closes.
    EXPECT_EQ(Form->ShellPopupMenu->Choose(ShellCodeCreateLink, ids), ShellCodeCreateLink);
    Form->ShellListViewPopup(ShellCodeCreateLink);
    EXPECT_TRUE(fs::is_symlink(Dir / "a.jpg へのリンク"));
    EXPECT_EQ(Form->ShellListView->FileList().Count(), 3);

    // Rename runs nothing itself: the caller edits the name in place.
    Select("a.jpg");
    EXPECT_EQ(
        Form->ShellPopupMenu->Choose(PopupRename, Form->ShellListView->FileList().SelectedIDList()),
        PopupRename);
    Form->ShellListViewPopup(PopupRename);
    EXPECT_NE(Form->ShellListView->ActiveView()->viewport()->findChild<QLineEdit*>(), nullptr)
        << "an editor is open on the name";
    QAbstractItemModel* model = Form->ShellListView->ItemModel();
    const int row = [&] {
        TShellFileList& list = Form->ShellListView->FileList();
        for (int i = 0; i < list.Count(); ++i)
            if (list.Item(i)->DisplayName() == "a.jpg") return i;
        return -1;
    }();
    EXPECT_FALSE(model->setData(model->index(row, 0), QStringLiteral("b.jpg"), Qt::EditRole));
    EXPECT_EQ(Messages, std::vector<std::string>{"すでにb.jpgは、存在しています。"});
    EXPECT_EQ(ReadFile(Dir / "b.jpg"), "B");
    EXPECT_TRUE(model->setData(model->index(row, 0), QStringLiteral("z.jpg"), Qt::EditRole));
    EXPECT_EQ(ReadFile(Dir / "z.jpg"), "A");
}

TEST_F(MainCommandsTest, TreeMenuResultsAndDeleteKey) {
    Form->NavigateTo(Other.string());
    TShellTreeNode* node = Form->ShellTreeView->SelectedNode();
    ASSERT_TRUE(node);
    Form->ShellTreeViewPopup(node, ShellCodeCut);
    EXPECT_TRUE(node->font(0).italic()) << "a cut folder is marked";
    Form->ShellTreeViewPopup(node, PopupRename);
    EXPECT_NE(Form->ShellTreeView->viewport()->findChild<QLineEdit*>(), nullptr)
        << "the caption is edited";
    Form->ShellTreeView->closePersistentEditor(node, 0);

    // Delete on the tree: the folder goes to the trash after the question, not for good.
    WriteFile(Other / "inside.txt", "kept");
    QAction* deleteKey = nullptr;
    for (QAction* a : Form->ShellTreeView->actions())
        if (a->shortcut() == QKeySequence(QKeySequence::Delete)) deleteKey = a;
    ASSERT_TRUE(deleteKey);
    Yes = false;
    deleteKey->trigger();
    EXPECT_TRUE(fs::exists(Other / "inside.txt"));
    Yes = true;
    Form->NavigateTo(Other.string());
    deleteKey->trigger();
    EXPECT_FALSE(fs::exists(Other));
    EXPECT_EQ(ReadFile(Box.DataHome / "Trash/files/other/inside.txt"), "kept");
}

// The thumbnail grid's menu: its captions, and "open" handing the selected file to the
// desktop's default application.
TEST_F(MainCommandsTest, GridMenuOpensWithTheDefaultApplication) {
    std::vector<std::string> captions;
    for (QAction* a : Form->DrowPopupMenu->actions()) captions.push_back(a->text().toStdString());
    EXPECT_EQ(captions, (std::vector<std::string>{"アプリケーションから開く(&O)", "切り取り(&T)",
                                                  "コピー(&C)", "削除(&D)", "名前の変更(&M)",
                                                  "プロパティ(&R)"}));
    std::vector<QUrl> opened;
    Form->OpenDocument = [&](const QUrl& url) { opened.push_back(url); };
    Form->ShellListView->SelectionModel()->clearSelection();
    Form->DrowOpenClick();
    EXPECT_TRUE(opened.empty());
    Select("b.jpg");
    Form->DrowOpen->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), (Dir / "b.jpg").string());
}

// The window's system menu holds the version item at the top, and there is only one.
TEST_F(MainCommandsTest, SystemMenuHasTheVersionItemFirst) {
    ASSERT_NE(Form->ShellSystemMenu, nullptr);
    EXPECT_EQ(TShellSystemMenu::Of(Form.get()), Form->ShellSystemMenu);
    QMenu* sys = Form->ShellSystemMenu->SystemMenu();
    ASSERT_FALSE(sys->actions().isEmpty());
    EXPECT_EQ(sys->actions().front(), Form->About1);
    EXPECT_THROW(TShellSystemMenu second(Form.get()), EShellSystemMenu);
}
