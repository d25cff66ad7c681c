// The folder tree and the folder combo on the offscreen platform, in a sandboxed namespace.

#include "shell/forms/ShellCombo.h"
#include "shell/forms/ShellTree.h"

#include "shell/ShellNotify.h"
#include "shell/ShellTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

// The list as the tree sees it: what it was told.
struct TFakeList : IShellListLink {
    std::vector<TItemIDList> Shown;
    IShellTreeLink* Tree = nullptr;
    bool Hidden = false;
    TShVirtuaItems Virtual;
    int Stops = 0, Starts = 0;
    void SetFolder(const TItemIDList& a) override { Shown.push_back(a); }
    void SetIncludeHidden(bool h) override { Hidden = h; }
    void SetShVirtuaItems(TShVirtuaItems v) override { Virtual = v; }
    void SetTreeLink(IShellTreeLink* t) override { Tree = t; }
    void StopWatching() override { ++Stops; }
    void StartWatching() override { ++Starts; }
    void RefreshList() override {}
};

const TItemIDList Home(TIdKind::Home, {});
const TItemIDList Computer(TIdKind::Computer, {});

TItemIDList InHome(std::initializer_list<const char*> names) {
    TItemIDList l = Home;
    for (const char* n : names)
        l = l.Append(TIdKind::Entry, n);
    return l;
}

std::vector<std::string> ChildNames(QTreeWidgetItem* node) {
    std::vector<std::string> out;
    for (int i = 0; node && i < node->childCount(); ++i)
        out.push_back(node->child(i)->text(0).toStdString());
    return out;
}

struct ShellTreeTest : testing::Test {
    pictor_test::TShellSandbox Box;
    void Dirs(std::initializer_list<const char*> paths) {
        for (const char* p : paths)
            fs::create_directories(Box.Home / p);
    }
    std::string VolumeName() const {
        return Box.Volume.filename().string() + " (" + Box.Volume.string() + ")";
    }
};

} // namespace

TEST_F(ShellTreeTest, StartsAtTheDesktopWithTheComputerOpen) {
    Dirs({"x10", "x2", "X1", ".hid"});
    TShellTreeView tree(nullptr, false);
    TShellTreeNode* root = tree.RootNode();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text(0).toStdString(), "デスクトップ");
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(tree.SelectedNode(), root);
    EXPECT_EQ(tree.CurrentFolder(), TItemIDList());
    EXPECT_EQ(ChildNames(root),
              (std::vector<std::string>{"ホーム", "コンピュータ", "ゴミ箱", "ネットワーク"}));
    TShellTreeNode* computer = tree.FindNode(Computer);
    ASSERT_TRUE(computer);
    EXPECT_TRUE(computer->isExpanded());
    EXPECT_EQ(ChildNames(computer),
              (std::vector<std::string>{VolumeName(), "ファイルシステム (/)"}));

    TShellTreeNode* home = tree.FindNode(Home);
    EXPECT_FALSE(home->isExpanded());
    EXPECT_EQ(home->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    home->setExpanded(true);
    EXPECT_EQ(ChildNames(home),
              (std::vector<std::string>{".hid", ".local", "Desktop", "X1", "x2", "x10"}));
    EXPECT_EQ(tree.WatchedFolders(),
              (std::vector<std::string>{Box.Desktop.string(), Box.Home.string()}));
    tree.SetIncludeHidden(false);
    EXPECT_EQ(ChildNames(home), (std::vector<std::string>{"Desktop", "X1", "x2", "x10"}));
    tree.SetIncludeHidden(true);
    EXPECT_EQ(ChildNames(home).front(), ".hid");

    // The virtual kinds: the trash and network only when in the set; the volumes either way.
    tree.SetShVirtuaItems({});
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"ホーム", "コンピュータ"}));
    EXPECT_EQ(ChildNames(computer).size(), 2u);
    tree.SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
    EXPECT_EQ(ChildNames(root).size(), 4u);
    EXPECT_EQ(ChildNames(computer).size(), 2u);
}

TEST_F(ShellTreeTest, DeepSelectionReachesListAndComboChain) {
    Dirs({"a/b/c/d", "m"});
    TShellTreeView tree(nullptr, false);
    TShellComboBox combo;
    TFakeList list;
    tree.SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
    tree.SetIncludeHidden(false);
    tree.SetShellListView(&list);
    tree.SetShellComboBox(&combo);
    EXPECT_EQ(list.Tree, &tree);
    EXPECT_FALSE(list.Hidden);
    EXPECT_TRUE(list.Virtual.Contains(itVirtual));
    ASSERT_EQ(list.Shown.size(), 1u);
    EXPECT_EQ(list.Shown[0], TItemIDList()) << "the list shows the tree's folder when linked";
    EXPECT_EQ(combo.currentIndex(), 0);

    const TItemIDList d = InHome({"a", "b", "c", "d"});
    tree.SelectFolder(d);
    ASSERT_TRUE(tree.SelectedNode());
    EXPECT_EQ(tree.SelectedNode()->Absolute(), d);
    EXPECT_EQ(tree.CurrentPath().toStdString(), (Box.Home / "a/b/c/d").string());
    ASSERT_EQ(list.Shown.size(), 2u);
    EXPECT_EQ(list.Shown[1], d);

    // The combo: desktop, Home, a, b, c, d indented by level, before Home's other entries.
    std::vector<std::pair<std::string, int>> chain;
    for (int i = 0; i < 6; ++i)
        chain.emplace_back(combo.itemText(i).toStdString(),
                           combo.itemData(i, TShellComboBox::LevelRole).toInt());
    EXPECT_EQ(chain,
              (std::vector<std::pair<std::string, int>>{
                  {"デスクトップ", 0}, {"ホーム", 1}, {"a", 2}, {"b", 3}, {"c", 4}, {"d", 5}}));
    EXPECT_EQ(combo.currentIndex(), 5);
    EXPECT_EQ(combo.SelectedFolder(), d);
    EXPECT_EQ(combo.itemData(5, TShellComboBox::ClosedTextRole).toString().toStdString(),
              (Box.Home / "a/b/c/d").string());
    EXPECT_EQ(combo.itemText(6).toStdString(), "コンピュータ");
    EXPECT_GE(combo.ItemHeight(), 18);

    // Choosing in the combo selects in the tree, and through it the list.
    emit combo.activated(6);
    EXPECT_EQ(tree.CurrentFolder(), Computer);
    EXPECT_EQ(list.Shown.back(), Computer);
    // A folder that is not there: the deepest existing ancestor is selected.
    tree.SelectFolder(InHome({"a", "b", "gone", "x"}));
    EXPECT_EQ(tree.CurrentFolder(), InHome({"a", "b"}));
    EXPECT_FALSE(tree.SelectPath(QString::fromStdString((Box.Home / "nothere").string())));
    EXPECT_TRUE(tree.SelectPath(QString::fromStdString((Box.Home / "m").string())));
    EXPECT_EQ(tree.CurrentFolder(), InHome({"m"}));
    tree.SetShellListView(nullptr);
    EXPECT_EQ(list.Tree, nullptr);
}

TEST_F(ShellTreeTest, DragStartsAfterSixPixels) {
    Dirs({"a"});
    TShellTreeView tree(nullptr, false);
    tree.resize(400, 400);
    tree.show();
    tree.FindNode(Home)->setExpanded(true);
    int begun = 0;
    tree.OnShBeginDrag = [&](TShellTreeNode*, QPoint, bool& canDrag) {
        ++begun;
        canDrag = false; // keeps the test out of the drag loop
    };
    auto press = [&](const TItemIDList& folder, QPoint move) {
        QWidget* vp = tree.viewport();
        const QPoint p = tree.visualItemRect(tree.FindNode(folder)).center();
        QMouseEvent down(QEvent::MouseButtonPress, p, vp->mapToGlobal(p), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &down);
        const QPoint q = p + move;
        QMouseEvent moved(QEvent::MouseMove, q, vp->mapToGlobal(q), Qt::NoButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(vp, &moved);
        QMouseEvent up(QEvent::MouseButtonRelease, q, vp->mapToGlobal(q), Qt::LeftButton,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &up);
    };
    struct Case {
        TItemIDList folder;
        QPoint move;
        int begun;
    } cases[] = {
        {InHome({"a"}), {5, 0}, 0},  {InHome({"a"}), {-5, 5}, 0}, {InHome({"a"}), {0, 6}, 1},
        {InHome({"a"}), {-6, 0}, 1}, {Computer, {0, 10}, 0}, // virtual: cannot be copied
    };
    for (const auto& c : cases) {
        begun = 0;
        press(c.folder, c.move);
        EXPECT_EQ(begun, c.begun) << c.move.x() << "," << c.move.y();
    }
}

TEST_F(ShellTreeTest, RenameKeepsExpansionAndRefusesToReplace) {
    Dirs({"a/b/c", "k", "taken"});
    pictor_test::WriteFile(Box.Home / "taken/keep.txt", "mine");
    TShellTreeView tree(nullptr, false);
    TFakeList list;
    tree.SetShellListView(&list);
    tree.SelectFolder(InHome({"a", "b"}));
    TShellTreeNode* a = tree.FindNode(InHome({"a"}));
    ASSERT_TRUE(a && a->isExpanded());

    EXPECT_TRUE(tree.RenameNode(a, "z"));
    EXPECT_TRUE(fs::is_directory(Box.Home / "z/b/c"));
    TShellTreeNode* z = tree.FindNode(InHome({"z"}));
    ASSERT_EQ(z, a) << "the same node, renamed";
    EXPECT_EQ(z->text(0), "z");
    EXPECT_TRUE(z->isExpanded());
    EXPECT_EQ(ChildNames(z), (std::vector<std::string>{"b"}));
    EXPECT_EQ(ChildNames(tree.FindNode(Home)),
              (std::vector<std::string>{".local", "Desktop", "k", "taken", "z"}));
    EXPECT_EQ(tree.CurrentFolder(), InHome({"z"})) << "the selection was inside";
    EXPECT_EQ(list.Shown.back(), InHome({"z"}));
    EXPECT_EQ(list.Stops, list.Starts);

    // Onto an existing name: refused, nothing replaced, caption unchanged.
    TShellTreeNode* k = tree.FindNode(InHome({"k"}));
    EXPECT_FALSE(tree.RenameNode(k, "taken"));
    EXPECT_EQ(k->text(0), "k");
    EXPECT_TRUE(fs::is_directory(Box.Home / "k"));
    EXPECT_EQ(pictor_test::ReadFile(Box.Home / "taken/keep.txt"), "mine");
    EXPECT_FALSE(tree.RenameNode(tree.FindNode(Home), "other")) << "home cannot be renamed";
    EXPECT_FALSE(tree.RenameNode(k, "bad/name"));

    // Through the caption editor.
    tree.resize(400, 400);
    tree.show();
    tree.editItem(k);
    auto* editor = tree.viewport()->findChild<QLineEdit*>();
    ASSERT_TRUE(editor);
    editor->setText("k2");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits through a queued call
    EXPECT_TRUE(fs::is_directory(Box.Home / "k2"));
    EXPECT_TRUE(tree.FindNode(InHome({"k2"})));
    EXPECT_TRUE(tree.CanClose());
    // A cancelled edit renames nothing and lets the watching resume.
    const int starts = list.Starts;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old editor
    tree.editItem(tree.FindNode(InHome({"k2"})));
    editor = tree.viewport()->findChild<QLineEdit*>();
    ASSERT_TRUE(editor);
    EXPECT_FALSE(tree.CanClose());
    editor->setText("zz");
    QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_FALSE(fs::exists(Box.Home / "zz"));
    EXPECT_TRUE(tree.CanClose());
    EXPECT_EQ(list.Starts, starts + 1);
}

TEST_F(ShellTreeTest, RefreshMergesOutsideChanges) {
    Dirs({"p/q", "r/s/t"});
    TShellTreeView tree(nullptr, false);
    TShellComboBox combo;
    tree.SetShellComboBox(&combo);
    tree.SelectFolder(InHome({"p", "q"}));
    tree.SelectFolder(InHome({"r", "s"}));
    tree.FindNode(InHome({"r", "s"}))->setExpanded(true);
    TShellTreeNode* r = tree.FindNode(InHome({"r"}));
    TShellTreeNode* s = tree.FindNode(InHome({"r", "s"}));

    fs::remove_all(Box.Home / "p");
    fs::create_directories(Box.Home / "n");
    fs::create_directories(Box.Home / "r/s/t2");
    tree.FolderChanged();
    TShellTreeNode* home = tree.FindNode(Home);
    EXPECT_EQ(ChildNames(home), (std::vector<std::string>{".local", "Desktop", "n", "r"}));
    EXPECT_EQ(tree.FindNode(InHome({"r"})), r) << "kept, not remade";
    EXPECT_EQ(tree.FindNode(InHome({"r", "s"})), s);
    EXPECT_TRUE(r->isExpanded() && s->isExpanded());
    EXPECT_EQ(ChildNames(s), (std::vector<std::string>{"t", "t2"}));
    EXPECT_EQ(combo.SelectedFolder(), InHome({"r", "s"}));

    // The selected folder vanishing moves the selection up.
    fs::remove_all(Box.Home / "r/s");
    tree.RefreshTree();
    EXPECT_EQ(tree.CurrentFolder(), InHome({"r"}));
    EXPECT_EQ(r->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TEST_F(ShellTreeTest, DeviceNoticesUpdateTheVolumeNode) {
    Dirs({});
    fs::create_directories(Box.Volume / "photos");
    TShellTreeView tree(nullptr, false);
    TShellComboBox combo;
    tree.SetShellComboBox(&combo);
    const TItemIDList vol = Computer.Append(TIdKind::Volume, Box.Volume.string());
    tree.SelectFolder(vol.Append(TIdKind::Entry, "photos"));
    TShellTreeNode* node = tree.FindNode(vol);
    ASSERT_TRUE(node && node->childCount() == 1);

    TDeviceChangeData notice;
    notice.Kind = DeviceKindVolume;
    notice.EventCode = DBT_DEVICEARRIVAL;
    notice.Root = vol;
    notice.DisplayText = "Photos (" + Box.Volume.string() + ")";
    tree.DeviceChanged(notice);
    EXPECT_EQ(node->text(0).toStdString(), notice.DisplayText);
    EXPECT_EQ(node->childCount(), 1);
    const auto& entries = combo.Entries();
    const auto at =
        std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.Absolute == vol; });
    ASSERT_NE(at, entries.end());
    EXPECT_EQ(combo.itemText(int(at - entries.begin())).toStdString(), notice.DisplayText);

    notice.EventCode = DBT_DEVICEREMOVECOMPLETE;
    notice.DisplayText = " (" + Box.Volume.string() + ")";
    tree.DeviceChanged(notice);
    EXPECT_EQ(node->childCount(), 0);
    EXPECT_EQ(node->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(tree.CurrentFolder(), Computer);

    // A network notice of removal rebuilds and goes back to the desktop.
    notice = TDeviceChangeData();
    notice.Kind = DeviceKindNetwork;
    notice.EventCode = DBT_DEVICEREMOVECOMPLETE;
    tree.DeviceChanged(notice);
    EXPECT_EQ(tree.CurrentFolder(), TItemIDList());
    EXPECT_EQ(combo.currentIndex(), 0);
}

TEST_F(ShellTreeTest, DropsCopyOrMoveIntoTheNodeFolder) {
    Dirs({"target", "src"});
    pictor_test::WriteFile(Box.Home / "src/pic.jpg", "jpeg");
    pictor_test::WriteFile(Box.Home / "target/pic.jpg", "older");
    pictor_test::WriteFile(Box.Home / "src/new.jpg", "new");
    struct TDropTree : TShellTreeView {
        TDropTree() : TShellTreeView(nullptr, false) {}
        using TShellTreeView::dropEvent;
    } tree;
    tree.resize(400, 400);
    tree.show();
    tree.FindNode(Home)->setExpanded(true);
    int asked = 0;
    bool handled = false;
    tree.OnShDragDrop = [&](const QMimeData*, TShellTreeNode* node, Qt::KeyboardModifiers, QPoint,
                            bool& defaultAction) {
        ++asked;
        EXPECT_EQ(node->Absolute(), InHome({"target"}));
        defaultAction = !handled;
    };
    auto drop = [&](std::initializer_list<const char*> names, Qt::KeyboardModifiers mods) {
        QMimeData data;
        QList<QUrl> urls;
        for (const char* n : names)
            urls.push_back(
                QUrl::fromLocalFile(QString::fromStdString((Box.Home / "src" / n).string())));
        data.setUrls(urls);
        const QPoint p = tree.visualItemRect(tree.FindNode(InHome({"target"}))).center();
        QDropEvent ev(p, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, mods);
        tree.dropEvent(&ev); // Qt delivers drops only inside a real drag loop
    };
    handled = true; // the owner did it: nothing happens here
    drop({"new.jpg"}, Qt::NoModifier);
    EXPECT_FALSE(fs::exists(Box.Home / "target/new.jpg"));
    handled = false;
    drop({"pic.jpg", "new.jpg"}, Qt::NoModifier); // same file system: a move
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(pictor_test::ReadFile(Box.Home / "target/pic.jpg"), "older") << "never replaced";
    EXPECT_TRUE(fs::exists(Box.Home / "src/pic.jpg"));
    EXPECT_EQ(pictor_test::ReadFile(Box.Home / "target/new.jpg"), "new");
    EXPECT_FALSE(fs::exists(Box.Home / "src/new.jpg"));
}

TEST_F(ShellTreeTest, WatchesExpandedFoldersAndRegistersForDevices) {
    Dirs({"a"});
    const int before = TShellCtrlList::Instance().Count();
    {
        TShellTreeView tree;
        ASSERT_TRUE(tree.DeviceWatcher());
        EXPECT_EQ(TShellCtrlList::Instance().Count(), before + 1);
        tree.FindNode(Home)->setExpanded(true);
        EXPECT_EQ(tree.DeviceWatcher()->Folders(),
                  (std::vector<std::string>{Box.Home.string() + "/", Box.Desktop.string() + "/"}));
        tree.FindNode(Home)->setExpanded(false);
        EXPECT_EQ(tree.DeviceWatcher()->Folders(),
                  (std::vector<std::string>{Box.Desktop.string() + "/"}));
    }
    EXPECT_EQ(TShellCtrlList::Instance().Count(), before);
}
