// The main window as a browser: caption, status texts, colours and switches over a sandboxed
// home, offscreen.
#include "app/MainFormSandbox.h"
#include "app/forms/Main.h"
#include "core/IniFile.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

struct MainBrowserTest : testing::Test {
    TShellSandbox Box;
    fs::path Photos = Box.Home / "photos";
    std::unique_ptr<TMainForm> Form;

    MainBrowserTest() {
        fs::create_directories(Photos / "trip");
        WriteFile(Photos / "a.jpg", std::string(1536, 'a'));
        WriteFile(Photos / "b.jpg", std::string(20000 - 1536, 'b'));
        WriteFile(Photos / ".hidden.jpg", "h");
        ::mkfifo((Photos / ".pipe").c_str(), 0600);
    }
    TMainFormOptions Options(std::vector<std::string> args = {}) const {
        TMainFormOptions o = SandboxFormOptions(Box, std::move(args));
        o.OsVersion = TOsVersion{6, 1, 0};
        return o;
    }
    void Open(std::vector<std::string> args) {
        Form = std::make_unique<TMainForm>(Options(std::move(args)));
        Form->show();
        QApplication::processEvents();
    }
    int RowOf(const std::string& name) {
        TShellFileList& list = Form->ShellListView->FileList();
        for (int i = 0; i < list.Count(); ++i)
            if (list.Item(i)->DisplayName().toStdString() == name) return i;
        return -1;
    }
    std::string Panel(int i) { return Form->ShellStatusBar->PanelText(i).toStdString(); }
};

} // namespace

TEST_F(MainBrowserTest, CaptionCountsAndSizeTexts) {
    Open({Photos.string()});
    EXPECT_EQ(Form->windowTitle().toStdString(), Photos.string());
    EXPECT_EQ(Form->CurrentFolder(), Photos.string());
    EXPECT_EQ(Form->Label1->text().toStdString(), "") << "the start-up clears the panel labels";
    // The list leaves hidden entries out at start.
    EXPECT_EQ(Panel(0), "3 個のオブジェクト");
    EXPECT_EQ(Panel(1).substr(0, Panel(1).find(' ')), "20KB");

    QItemSelectionModel* sel = Form->ShellListView->SelectionModel();
    auto index = [&](const char* name) {
        return Form->ShellListView->ItemModel()->index(RowOf(name), 0);
    };
    sel->select(index("a.jpg"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(Panel(0), "1 個のオブジェクトを選択");
    EXPECT_EQ(Panel(1), "1.5KB");
    EXPECT_EQ(Form->Label4->text().toStdString(), "ｻｲｽﾞ = 1.5KB");
    sel->select(index("b.jpg"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(Panel(0), "2 個のオブジェクトを選択");
    EXPECT_EQ(Panel(1), "19.5KB");
    sel->clearSelection();
    EXPECT_EQ(Panel(0), "3 個のオブジェクト");
    EXPECT_EQ(Form->Label4->text().toStdString(), "");

    // A virtual folder: the fill leaves panel 1 empty; a cleared selection shows no size and no
    // free space.
    Form->ShellTreeView->SelectFolder(SpecialFolderIDList(CSIDL_DRIVES));
    EXPECT_EQ(Form->windowTitle().toStdString(), "") << "a virtual folder has no path";
    Form->ShellListViewShListChange(Form->ShellListView->FileList());
    EXPECT_EQ(Panel(1), "");
    Form->ShellListViewShSelChange(0);
    EXPECT_EQ(Panel(1), "0KB (空ディスク領域 :0KB)");
}

TEST_F(MainBrowserTest, UpHiddenAndVirtualSwitches) {
    Open({Photos.string()});
    Form->tbUpClick();
    EXPECT_EQ(Form->CurrentFolder(), Box.Home.string());
    EXPECT_EQ(Form->Label1->text().toStdString(), "ホーム");
    Form->ShellTreeView->setCurrentItem(Form->ShellTreeView->RootNode());
    Form->tbUpClick();
    EXPECT_EQ(Form->ShellTreeView->SelectedNode(), Form->ShellTreeView->RootNode())
        << "nothing above the top";

    Form->NavigateTo(Photos.string());
    EXPECT_FALSE(Form->Hidden1->isChecked());
    Form->Hidden1Click();
    EXPECT_TRUE(Form->Hidden1->isChecked());
    EXPECT_EQ(Panel(0), "5 個のオブジェクト") << "hidden entries now listed";
    // Colours: hidden grey, and a hidden system entry green (the last matching attribute wins).
    QColor colour;
    Form->ShellListViewCustomDrawItem(RowOf(".hidden.jpg"), colour);
    EXPECT_EQ(colour, QColor(0x80, 0x80, 0x80));
    Form->ShellListViewCustomDrawItem(RowOf(".pipe"), colour);
    EXPECT_EQ(colour, QColor(0, 0x80, 0));
    QColor untouched;
    Form->ShellListViewCustomDrawItem(RowOf("a.jpg"), untouched);
    EXPECT_FALSE(untouched.isValid());
    Form->Hidden1Click();
    EXPECT_EQ(Panel(0), "3 個のオブジェクト");

    EXPECT_TRUE(Form->Ctrl1->isChecked());
    Form->Ctrl1Click();
    EXPECT_FALSE(Form->ShellTreeView->ShVirtuaItems().Contains(itVirtual));
    EXPECT_FALSE(Form->Ctrl1->isChecked());
}

TEST_F(MainBrowserTest, ListLayoutPersists) {
    Open({Photos.string()});
    // Two-part hints: the short part as tool tip, the long one for the status bar.
    EXPECT_EQ(Form->tbSmallIcon->toolTip().toStdString(), "小さいアイコン");
    EXPECT_EQ(Form->tbSmallIcon->statusTip().toStdString(),
              "オブジェクトを小さいアイコンで表示します。");
    Form->Report1->trigger();
    EXPECT_EQ(Form->ShellListView->ViewStyle(), vsReport);
    EXPECT_TRUE(Form->Report1->isChecked());
    ASSERT_TRUE(Form->close());
    Form.reset();
    {
        TIniFile ini((Box.Root.path / "pictor.ini").string());
        EXPECT_EQ(ini.ReadInteger("ShellFileSetting", "ViewStyle", -1), vsReport);
        EXPECT_EQ(ini.ReadInteger("ShellFileSetting", "ColumnsCount", -1), 5);
        // Sorted by date, stored descending: the next start sorts by date ascending.
        ini.WriteInteger("ShellFileSetting", "SortType", 3);
        ini.WriteInteger("ShellFileSetting", "SortOrder3", -1);
        ini.UpdateFile();
    }
    Open({Photos.string()});
    EXPECT_EQ(Form->ShellListView->ViewStyle(), vsReport);
    EXPECT_EQ(Form->ShellListView->FileList().SortType(), 3);
    EXPECT_EQ(Form->ShellListView->FileList().SortOrder(3), 1);
}

TEST_F(MainBrowserTest, DropsOnTheTreeAreConfirmed) {
    Open({Photos.string()});
    std::vector<std::string> asked;
    bool answer = false;
    Form->AskYesNo = [&](const QString& q) {
        asked.push_back(q.toStdString());
        return answer;
    };
    bool defaultAction = true;
    Form->ShellTreeViewShDragDrop(defaultAction);
    EXPECT_FALSE(defaultAction) << "No stops the drop";
    answer = true;
    defaultAction = true;
    Form->ShellTreeViewShDragDrop(defaultAction);
    EXPECT_TRUE(defaultAction);
    EXPECT_EQ(asked, (std::vector<std::string>(2, "ファイルをドロップしますか?")));
}
