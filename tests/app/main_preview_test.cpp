// The preview panel offscreen: what selecting a file shows, by kind and switch.
#include "app/MainFormSandbox.h"
#include "app/forms/Main.h"
#include "app/forms/kind.h"
#include "core/BmpCodec.h"
#include "core/JpegCodec.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

Bitmap Plain(int w, int h) {
    Bitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y)
        std::memset(b.ScanLine(y), 0x80, static_cast<std::size_t>(3 * w));
    return b;
}

struct MainPreviewTest : testing::Test {
    TShellSandbox Box;
    fs::path Dir = Box.Home / "pics";
    std::unique_ptr<TMainForm> Form;

    MainPreviewTest() {
        fs::create_directories(Dir / "sub.folder");
        SaveBmpFile(Plain(201, 150), (Dir / "wide.bmp").string());
        SaveBmpFile(Plain(200, 150), (Dir / "fits.bmp").string());
        SaveJpegFile(Plain(100, 400), (Dir / "tall.JPG").string(), 80);
        SaveJpegFile(Plain(16, 16), (Dir / "own.jpeg").string(), 80);
        fs::copy_file(fs::path(PICTOR_TESTDATA) / "ico/pillow/python.ico", Dir / "icon.ico");
        WriteFile(Dir / "notes.log", "ログ\n");
        Form = std::make_unique<TMainForm>(SandboxFormOptions(Box, {Dir.string()}));
        Form->show();
        QApplication::processEvents();
    }
    // Selects rows by name (the first in list order is previewed) and lets the preview run.
    void Select(std::initializer_list<const char*> names) {
        QItemSelectionModel* sel = Form->ShellListView->SelectionModel();
        sel->clearSelection();
        TShellFileList& list = Form->ShellListView->FileList();
        for (const char* name : names)
            for (int i = 0; i < list.Count(); ++i)
                if (list.Item(i)->DisplayName().toStdString() == name)
                    sel->select(Form->ShellListView->ItemModel()->index(i, 0),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QApplication::processEvents();
    }
    std::string L(QLabel* label) { return label->text().toStdString(); }
    bool Openable() {
        return Form->Image->cursor().shape() == Qt::PointingHandCursor &&
               !Form->Label7->isHidden() && !Form->bPictor->isHidden();
    }
};

} // namespace

TEST_F(MainPreviewTest, PicturesBoxesAndTexts) {
    struct Case {
        const char* name;
        const char* dims;
        QSize box;
        bool openable;
    } cases[] = {
        {"wide.bmp", "W 201 × H 150 pixel", {200, 149}, true},
        {"fits.bmp", "W 200 × H 150 pixel", {200, 150}, true},
        {"tall.JPG", "W 100 × H 400 pixel", {200, 800}, true},
        {"icon.ico", "", {0, 0}, false}, // an icon keeps its own size, no hand, no button
    };
    for (const Case& c : cases) {
        Select({c.name});
        EXPECT_EQ(L(Form->Label2), c.name);
        EXPECT_FALSE(Form->Image->pixmap(Qt::ReturnByValue).isNull()) << c.name;
        if (*c.dims) {
            EXPECT_EQ(L(Form->Label5), c.dims);
            EXPECT_EQ(Form->Image->size(), c.box) << c.name;
        } else {
            EXPECT_EQ(Form->Image->size(),
                      QSize(Form->PreviewPicture().Width(), Form->PreviewPicture().Height()));
            EXPECT_EQ(L(Form->Label5),
                      "W " + std::to_string(Form->PreviewPicture().Width()) + " × H " +
                          std::to_string(Form->PreviewPicture().Height()) + " pixel");
        }
        EXPECT_EQ(Openable(), c.openable) << c.name;
    }
    EXPECT_FALSE(L(Form->Label3).empty()) << "the type description";
}

TEST_F(MainPreviewTest, SwitchesFoldersAndSelections) {
    // ".jpg" and ".jpeg" have their own switches: with cbjpg off a .JPG shows no picture, while
    // a .jpeg still does.
    Form->Fkind->cbjpg->setChecked(false);
    Select({"tall.JPG"});
    EXPECT_TRUE(Form->Image->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(L(Form->Label2), "tall.JPG");
    Select({"own.jpeg"});
    EXPECT_EQ(L(Form->Label5), "W 16 × H 16 pixel");
    // A log file is text only with its own switch.
    Select({"notes.log"});
    EXPECT_TRUE(Form->Memo->isHidden());
    Form->Fkind->cblog->setChecked(true);
    Select({"notes.log"});
    EXPECT_FALSE(Form->Memo->isHidden());
    EXPECT_TRUE(Form->Memo->toPlainText().startsWith(QStringLiteral("ログ")));
    // A folder: its name and no type text (the dot does not make an extension of a folder
    // without one; this one has a dot, so it has a type text but no picture).
    Select({"sub.folder"});
    EXPECT_EQ(L(Form->Label2), "sub.folder");
    EXPECT_TRUE(Form->Image->pixmap(Qt::ReturnByValue).isNull());
    // Several selected: the first in list order.
    Select({"wide.bmp", "fits.bmp"});
    EXPECT_EQ(L(Form->Label2), "fits.bmp");
}

TEST_F(MainPreviewTest, QuickSelectionsPreviewOnlyTheLast) {
    const int before = Form->PreviewCount();
    QItemSelectionModel* sel = Form->ShellListView->SelectionModel();
    TShellFileList& list = Form->ShellListView->FileList();
    for (int i = 0; i < list.Count(); ++i)
        sel->select(Form->ShellListView->ItemModel()->index(i, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QApplication::processEvents();
    EXPECT_EQ(Form->PreviewCount(), before + 1);
    EXPECT_EQ(Form->Label2->text(), list.Item(list.Count() - 1)->DisplayName());
}

TEST_F(MainPreviewTest, VirtualFolderLeavesThePanelReset) {
    Select({"wide.bmp"});
    Form->ShellTreeView->SelectFolder(SpecialFolderIDList(CSIDL_DRIVES));
    QApplication::processEvents();
    Form->ShellListView->SelectionModel()->select(Form->ShellListView->ItemModel()->index(0, 0),
                                                  QItemSelectionModel::Select |
                                                      QItemSelectionModel::Rows);
    QApplication::processEvents();
    EXPECT_TRUE(Form->Image->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(L(Form->Label5), "");
    EXPECT_TRUE(Form->bPictor->isHidden());
}
