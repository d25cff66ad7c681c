// The window system-menu component on a real (offscreen) main window.
#include "shell/forms/ShellAdditns.h"

#include <QContextMenuEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace pictor;

namespace {

// The menu's entries as text: captions, "-" for lines, "[x]" for a greyed entry.
std::vector<std::string> Entries(QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions()) {
        std::string text = a->isSeparator() ? "-" : a->text().toStdString();
        if (!a->isSeparator() && !a->isEnabled()) text = "[" + text + "]";
        out.push_back(text);
    }
    return out;
}

} // namespace

TEST(ShellSystemMenu, OnlyOnePerFormAndItemsLeaveWithTheComponent) {
    QMainWindow form;
    auto* menu = new TShellSystemMenu(&form);
    EXPECT_EQ(TShellSystemMenu::Of(&form), menu);
    try {
        TShellSystemMenu second(&form);
        ADD_FAILURE() << "a second component was made";
    } catch (const EShellSystemMenu& e) {
        EXPECT_STREQ(e.what(), "TShSystemMenu は同一フォーム上に1つ以上置けません。");
    }
    EXPECT_EQ(TShellSystemMenu::Of(&form), menu); // the failed one changed nothing
    // Another form may have its own.
    QMainWindow other;
    TShellSystemMenu otherMenu(&other);
    EXPECT_EQ(TShellSystemMenu::Of(&other), &otherMenu);

    delete menu;
    EXPECT_EQ(TShellSystemMenu::Of(&form), nullptr);
    TShellSystemMenu again(&form); // allowed once the first is gone
    EXPECT_EQ(TShellSystemMenu::Of(&form), &again);
}

TEST(ShellSystemMenu, OwnItemsAtInsertPosAndTheirCommandsRun) {
    QMainWindow form;
    form.resize(400, 300);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TShellSystemMenu menu(&form);
    int ran = 0;
    QObject::connect(menu.addAction("情報"), &QAction::triggered, [&] { ++ran; });

    EXPECT_EQ(Entries(menu.SystemMenu()),
              (std::vector<std::string>{"情報", "-", "[元のサイズに戻す(&R)]", "移動(&M)",
                                        "サイズ変更(&S)", "最小化(&N)", "最大化(&X)", "-",
                                        "閉じる(&C)"}));
    menu.SetInsertPos(TSysMenuPos::mpClose);
    EXPECT_EQ(Entries(menu.SystemMenu()),
              (std::vector<std::string>{"[元のサイズに戻す(&R)]", "移動(&M)", "サイズ変更(&S)",
                                        "最小化(&N)", "最大化(&X)", "-", "情報", "-",
                                        "閉じる(&C)"}));
    menu.SetInsertPos(TSysMenuPos::mpLast);
    auto entries = Entries(menu.SystemMenu());
    EXPECT_EQ(entries.back(), "情報");

    // Hints reach the status bar as status tips.
    QMenu* sys = menu.SystemMenu();
    for (QAction* a : sys->actions()) {
        if (a->data().toInt() == SysMinimize) {
            EXPECT_EQ(a->statusTip().toStdString(), "このウインドウを最小化します。");
        }
    }

    // The own item runs when chosen; maximise and restore act on the window.
    for (QAction* a : sys->actions())
        if (a->text() == "情報") a->trigger();
    EXPECT_EQ(ran, 1);
    for (QAction* a : menu.SystemMenu()->actions())
        if (a->data().toInt() == SysMaximize) a->trigger();
    EXPECT_TRUE(form.windowState() & Qt::WindowMaximized);
    entries = Entries(menu.SystemMenu());
    EXPECT_EQ(entries.front(), "元のサイズに戻す(&R)"); // enabled now
    EXPECT_EQ(entries[4], "[最大化(&X)]");
    menu.RunSystemCommand(SysRestore);
    EXPECT_FALSE(form.windowState() & Qt::WindowMaximized);
}

TEST(ShellSystemMenu, EnableCommandsShapesMenuAndTitleButtons) {
    QMainWindow form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TShellSystemMenu menu(&form);
    menu.SetEnableCommands(AllSysCommands & ~scMaximize & ~scClose);
    EXPECT_TRUE(form.isVisible()); // a shown window stays shown
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(Entries(menu.SystemMenu()),
              (std::vector<std::string>{"[元のサイズに戻す(&R)]", "移動(&M)", "サイズ変更(&S)",
                                        "最小化(&N)", "-", "[閉じる(&C)]"}));
    menu.RunSystemCommand(SysClose); // greyed: does nothing
    EXPECT_TRUE(form.isVisible());
    menu.SetEnableCommands(AllSysCommands);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    menu.RunSystemCommand(SysClose);
    EXPECT_FALSE(form.isVisible());
}

TEST(ShellSystemMenu, OpensFromTheMenuBarsEmptyPart) {
    QMainWindow form;
    form.menuBar()->addMenu("ファイル(&F)");
    form.resize(500, 300);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TShellSystemMenu menu(&form);
    QMenuBar* bar = form.menuBar();
    const QPoint empty(bar->width() - 10, bar->height() / 2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, empty, bar->mapToGlobal(empty));
    QCoreApplication::sendEvent(bar, &click);
    QMenu* sys = form.findChild<QMenu*>("SystemMenu");
    ASSERT_NE(sys, nullptr);
    EXPECT_TRUE(sys->isVisible());
    sys->close();
}
