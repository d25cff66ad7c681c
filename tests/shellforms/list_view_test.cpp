// The file list view over a sandboxed folder, offscreen.
#include "shell/ShellTestSupport.h"

#include "core/IniFile.h"
#include "shell/forms/ShellListView.h"

#include <QHeaderView>
#include <QImage>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QTest>
#include <QTreeView>

#include <set>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

struct FakeTree : IShellTreeLink {
    std::vector<TItemIDList> Selected;
    TItemIDList CurrentFolder() const override { return TItemIDList(); }
    void SelectFolder(const TItemIDList& absolute) override { Selected.push_back(absolute); }
    void RefreshTree() override {}
};

struct ListViewTest : testing::Test {
    TShellSandbox Box;
    fs::path Dir = Box.Home / "pics";
    std::string SavedCwd = fs::current_path().string();
    std::unique_ptr<TShellListView> View;

    ListViewTest() {
        fs::create_directories(Dir / "sub");
        WriteFile(Dir / "k.bin", std::string(1025, 'k'));
        WriteFile(Dir / "a.txt", "0123456789");
        WriteFile(Dir / ".h.txt", "hh");
        fs::permissions(Dir / ".h.txt", fs::perms::owner_read);
        View = std::make_unique<TShellListView>(nullptr, false);
        View->resize(500, 300);
    }
    ~ListViewTest() override { ::chdir(SavedCwd.c_str()); }

    void Open(const fs::path& dir) { View->FileList().OpenFolder(PathToIDList(dir.string())); }
    void Show() {
        View->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(View.get()));
    }
    int RowOf(const std::string& name) {
        for (int i = 0; i < View->FileList().Count(); ++i)
            if (View->FileList().Item(i)->DisplayName().toStdString() == name) return i;
        return -1;
    }
    QString Text(int row, int column) {
        return View->ItemModel()->index(row, column).data().toString();
    }
    QRect RowRect(const std::string& name, int column = 0) {
        return View->ActiveView()->visualRect(View->ItemModel()->index(RowOf(name), column));
    }
    void Select(const std::vector<std::string>& names) {
        View->SelectionModel()->clearSelection();
        for (const auto& n : names)
            View->SelectionModel()->select(View->ItemModel()->index(RowOf(n), 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Pixels of a colour (roughly) inside a rectangle of the active view.
    int CountPixels(const QRect& rect, const std::function<bool(QColor)>& match) {
        const QImage image = View->ActiveView()->viewport()->grab().toImage();
        int n = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                if (image.rect().contains(x, y) && match(image.pixelColor(x, y))) ++n;
        return n;
    }
};

} // namespace

TEST_F(ListViewTest, StylesAndDetailColumns) {
    Open(Dir);
    ASSERT_EQ(View->FileList().Count(), 4);
    struct Case {
        int style;
        QListView::ViewMode mode;
        QListView::Flow flow;
    } cases[] = {{vsIcon, QListView::IconMode, QListView::LeftToRight},
                 {vsSmallIcon, QListView::ListMode, QListView::LeftToRight},
                 {vsList, QListView::ListMode, QListView::TopToBottom}};
    for (const Case& c : cases) {
        View->SetViewStyle(c.style);
        EXPECT_EQ(View->ActiveView(), View->IconView());
        EXPECT_EQ(View->IconView()->viewMode(), c.mode);
        EXPECT_EQ(View->IconView()->flow(), c.flow);
        EXPECT_TRUE(View->IconView()->isWrapping());
    }
    View->SetViewStyle(vsReport);
    View->SetViewStyle(9); // ignored
    EXPECT_EQ(View->ViewStyle(), vsReport);
    EXPECT_EQ(View->ActiveView(), View->DetailView());
    QAbstractItemModel* model = View->ItemModel();
    QStringList captions;
    for (int c = 0; c < model->columnCount(); ++c)
        captions << model->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(captions.join(","), QString::fromUtf8("名前,サイズ,ファイルの種類,更新日時,属性"));
    const int k = RowOf("k.bin");
    EXPECT_EQ(Text(k, 1), "2KB");
    EXPECT_FALSE(Text(k, 2).isEmpty());
    EXPECT_TRUE(Text(k, 3).startsWith(QString::number(QDate::currentDate().year())));
    // Read-only is "not writable by the user", which the superuser never is.
    EXPECT_EQ(Text(RowOf(".h.txt"), 4), ::geteuid() == 0 ? "H" : "RH");
    EXPECT_EQ(Text(RowOf("sub"), 1), "");
    for (int c : {1, 4})
        EXPECT_TRUE(model->index(k, c).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
    EXPECT_FALSE(model->index(k, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    // A virtual folder keeps only the name column; a file-system folder gets all five back.
    View->FileList().OpenFolder(SpecialFolderIDList(CSIDL_DRIVES));
    EXPECT_EQ(View->ColumnCount(), 1);
    Open(Dir);
    EXPECT_EQ(View->ColumnCount(), 5);
}

TEST_F(ListViewTest, HeaderClicksSortBothWaysKeepingSelection) {
    WriteFile(Dir / "big.bin", std::string(5000, 'b'));
    Open(Dir);
    View->SetViewStyle(vsReport);
    Show();
    std::vector<int> clicked;
    View->OnColumnClick = [&](int c) { clicked.push_back(c); };
    Select({"a.txt"});
    QHeaderView* header = View->DetailView()->header();
    auto sizes = [&] {
        std::vector<std::uint64_t> s;
        for (int i = 0; i < View->FileList().Count(); ++i)
            if (!View->FileList().Item(i)->HasAttribute(15))
                s.push_back(View->FileList().Item(i)->Size());
        return s;
    };
    for (bool descending : {true, false}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        auto s = sizes();
        EXPECT_TRUE(descending ? std::is_sorted(s.rbegin(), s.rend())
                               : std::is_sorted(s.begin(), s.end()));
        EXPECT_EQ(View->FileList().SortOrder(1), descending ? -1 : 1);
        EXPECT_TRUE(View->RowSelected(RowOf("a.txt")));
        EXPECT_EQ(View->SelectedCount(), 1);
    }
    EXPECT_EQ(clicked, (std::vector<int>{1, 1}));
}

TEST_F(ListViewTest, SelectionReportsByteTotal) {
    Open(Dir);
    std::vector<std::uint64_t> reports;
    View->OnShSelChange = [&](std::uint64_t s) { reports.push_back(s); };
    Select({"k.bin", "a.txt", "sub"});
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), 1035u);
    reports.clear();
    View->SetAllRowsSelected(true);
    EXPECT_EQ(reports, (std::vector<std::uint64_t>{1037u})); // one report for the whole range
    View->SelectionModel()->clearSelection();
    EXPECT_EQ(reports.back(), 0u);
    EXPECT_EQ(View->FileList().SelectionSize(), 0u);
}

TEST_F(ListViewTest, DragStartsOnlyFromRows) {
    Open(Dir);
    View->SetViewStyle(vsReport);
    Show();
    int asked = 0;
    View->OnShBeginDrag = [&](bool& canDrag) {
        ++asked;
        canDrag = false; // no platform drag loop in the test
    };
    QWidget* port = View->ActiveView()->viewport();
    auto pressAndMove = [&](QPoint at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, port->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, {});
        QCoreApplication::sendEvent(port, &press);
        const QPoint to = at + QPoint(1, 0);
        QMouseEvent move(QEvent::MouseMove, to, port->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         {});
        QCoreApplication::sendEvent(port, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, port->mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, {});
        QCoreApplication::sendEvent(port, &release);
    };
    pressAndMove(QPoint(port->width() - 5, port->height() - 5)); // empty space
    EXPECT_EQ(asked, 0);
    pressAndMove(RowRect("k.bin").center());
    EXPECT_EQ(asked, 1);
    // The drag data: file URLs of the selection and what the items allow.
    Select({"k.bin", "a.txt"});
    Qt::DropActions actions;
    auto data = View->SelectionDragData(actions);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->urls().size(), 2);
    EXPECT_TRUE(data->urls()[0].isLocalFile());
    EXPECT_TRUE(actions.testFlag(Qt::CopyAction) && actions.testFlag(Qt::MoveAction));
    EXPECT_TRUE(View->ClipboardHasFiles(data.get()));
}

TEST_F(ListViewTest, OpeningRows) {
    FakeTree tree;
    View->SetTreeLink(&tree);
    Open(Dir);
    View->SetViewStyle(vsReport);
    Show();
    std::vector<std::string> executed;
    View->OnShExecute = [&](TShellFileItem& item, bool& defaultAction) {
        executed.push_back(item.DisplayName().toStdString());
        defaultAction = false;
    };
    QAbstractItemView* view = View->ActiveView();
    view->setFocus();
    view->setCurrentIndex(View->ItemModel()->index(RowOf("a.txt"), 0));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(executed, (std::vector<std::string>{"a.txt"}));
    EXPECT_TRUE(tree.Selected.empty());
    // Type-ahead search goes to the name, ignoring case.
    view->keyboardSearch("SU");
    EXPECT_EQ(view->currentIndex().row(), RowOf("sub"));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(View->FolderPath(), (Dir / "sub").string());
    ASSERT_EQ(tree.Selected.size(), 1u);
    EXPECT_EQ(tree.Selected[0], PathToIDList((Dir / "sub").string()));
    EXPECT_EQ(executed.size(), 1u);
}

TEST_F(ListViewTest, NameColourAndAttributeMarks) {
    WriteFile(Dir / "WWWWWWWWWWWWWWWW", "w");
    Open(Dir);
    View->SetViewStyle(vsReport);
    Show();
    const int wide = RowOf("WWWWWWWWWWWWWWWW");
    View->OnCustomDrawItem = [&](int row, QColor& colour) {
        if (row == wide) colour = QColor(255, 0, 0);
    };
    auto red = [](QColor c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; };
    auto green = [](QColor c) { return c.green() > 200 && c.red() < 80 && c.blue() < 80; };
    EXPECT_GT(CountPixels(RowRect("WWWWWWWWWWWWWWWW"), red), 10);
    EXPECT_EQ(CountPixels(RowRect("a.txt"), red), 0);
    // Attribute images take the place of the letters.
    const QRect cell = RowRect(".h.txt", 4);
    EXPECT_EQ(CountPixels(cell, green), 0);
    TAttributesImage marks;
    QPixmap pm(6, 6);
    pm.fill(QColor(0, 255, 0));
    marks.Images = {pm, pm};
    marks.ReadOnly = 0;
    marks.Hidden = 1;
    View->SetAttributesImage(marks);
    EXPECT_EQ(Text(RowOf(".h.txt"), 4), "");
    const int marksShown = ::geteuid() == 0 ? 1 : 2; // hidden, and read-only unless superuser
    EXPECT_EQ(CountPixels(cell, green), 36 * marksShown);
    EXPECT_EQ(CountPixels(RowRect("a.txt", 4), green), 0);
}

TEST_F(ListViewTest, RowsAreProducedOnDemand) {
    const fs::path big = Box.Home / "big";
    fs::create_directories(big);
    for (int i = 0; i < 10000; ++i)
        WriteFile(big / ("f" + std::to_string(i) + ".txt"), "x");
    View->resize(220, 160);
    Open(big);
    ASSERT_EQ(View->FileList().Count(), 10000);
    for (int style : {vsReport, vsIcon, vsList}) {
        SCOPED_TRACE(style);
        View->SetViewStyle(style);
        const long before = View->RowDataRequests();
        Show();
        View->ActiveView()->viewport()->grab();
        QCoreApplication::processEvents();
        const long asked = View->RowDataRequests() - before;
        EXPECT_GT(asked, 5);
        EXPECT_LT(asked, 600);
    }
}

TEST_F(ListViewTest, DropMovesIntoFolderOrRow) {
    Open(Dir);
    View->SetViewStyle(vsReport);
    Show();
    WriteFile(Box.Home / "in1.txt", "1");
    WriteFile(Box.Home / "in2.txt", "2");
    int drops = 0;
    View->OnShDragDrop = [&](bool& defaultAction) {
        ++drops;
        EXPECT_TRUE(View->DropRequest().Move);
        defaultAction = true;
    };
    QWidget* port = View->ActiveView()->viewport();
    auto drop = [&](const fs::path& file, QPoint at) {
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(port, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::MoveAction);
        QDropEvent dropped(at, actions, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(port, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
        delete data;
    };
    drop(Box.Home / "in1.txt", QPoint(port->width() - 5, port->height() - 5));
    EXPECT_TRUE(fs::exists(Dir / "in1.txt"));
    EXPECT_NE(RowOf("in1.txt"), -1); // the list was refreshed
    drop(Box.Home / "in2.txt", RowRect("sub").center());
    EXPECT_TRUE(fs::exists(Dir / "sub/in2.txt"));
    EXPECT_FALSE(fs::exists(Box.Home / "in2.txt"));
    EXPECT_EQ(drops, 2);
    EXPECT_EQ(View->DropRow(), -1);
}

TEST_F(ListViewTest, SettingsRoundTripThroughTheView) {
    Open(Dir);
    TIniFile ini((Box.Root.path / "t.ini").string());
    ini.SetText("[S]\nColumnsCount=5\nColumns0=3\nColumns3=0\nColumnsWidth1=77\nViewStyle=2\n"
                "SortType=1\nSortOrder1=-1\n");
    View->LoadSettings(ini, "S");
    EXPECT_EQ(View->ViewStyle(), vsList);
    EXPECT_EQ(View->ColumnOrder(), (std::vector<int>{3, 1, 2, 0, 4}));
    EXPECT_EQ(View->ColumnWidths()[1], 77);
    EXPECT_EQ(View->FileList().SortType(), 1);
    EXPECT_EQ(View->FileList().SortOrder(1), 1);
    TIniFile out((Box.Root.path / "u.ini").string());
    View->SaveSettings(out, "S");
    TShellListView other(nullptr, false);
    other.LoadSettings(out, "S");
    EXPECT_EQ(other.Layout().Order, View->Layout().Order);
    EXPECT_EQ(other.ColumnWidths()[1], 77);
    EXPECT_EQ(other.ViewStyle(), vsList);
}

// A long copy shows a progress window; its cancel button stops the copy and leaves no half
// file behind, the source untouched.
TEST_F(ListViewTest, LongTransferShowsProgressAndCancels) {
    Open(Dir);
    Show();
    const std::string big(12u << 20, 'b');
    WriteFile(Box.Home / "big.bin", big);
    auto names = [&] {
        std::set<std::string> all;
        for (const auto& e : fs::directory_iterator(Dir)) all.insert(e.path().filename());
        return all;
    };
    const auto before = names();
    View->ProgressDelayMs = 0;
    int updates = 0;
    bool shown = false;
    QString label;
    View->OnTransferProgress = [&](QProgressDialog& dialog) {
        ++updates;
        shown = shown || dialog.isVisible();
        label = dialog.labelText();
        if (dialog.value() > 0) dialog.cancel(); // the first figure inside the file
    };
    const auto result = View->TransferInto({(Box.Home / "big.bin").string()}, Dir.string(), false);
    EXPECT_TRUE(result.Cancelled);
    EXPECT_GE(updates, 2);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(label.startsWith("ファイルをコピーしています...")) << label.toStdString();
    EXPECT_EQ(names(), before); // not even a hidden scratch copy
    EXPECT_EQ(ReadFile(Box.Home / "big.bin"), big);

    // Without a cancel the same copy completes.
    View->OnTransferProgress = nullptr;
    EXPECT_EQ(View->TransferInto({(Box.Home / "big.bin").string()}, Dir.string(), false).Done, 1);
    EXPECT_EQ(ReadFile(Dir / "big.bin"), big);
}
