// The status bar: long hints across the whole bar, panels restored, height from the font.
#include "shell/forms/ShellAdditns.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusTipEvent>

#include <gtest/gtest.h>

using namespace pictor;

TEST(ShellStatusBar, LongHintCoversThePanelsAndGoes) {
    QMainWindow window;
    auto* bar = new TShellStatusBar(&window);
    window.setStatusBar(bar);
    bar->SetPanels({250, 50});
    bar->SetPanelText(0, QStringLiteral("3 個のオブジェクト"));
    bar->SetPanelText(1, QStringLiteral("1KB"));
    auto* button = new QPushButton(QStringLiteral("x"), &window);
    button->setStatusTip(QStringLiteral("画像一覧表示を切り替えます"));
    window.resize(800, 600);
    window.show();
    QApplication::processEvents();
    auto* panel0 = bar->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    ASSERT_TRUE(panel0);
    EXPECT_EQ(bar->PanelWidth(0), 250);
    EXPECT_GE(bar->PanelWidth(1), 50);

    QStatusTipEvent enter(button->statusTip());
    QApplication::sendEvent(button, &enter); // what hovering the button sends
    EXPECT_TRUE(bar->HintShown());
    EXPECT_EQ(bar->currentMessage(), button->statusTip());
    EXPECT_FALSE(panel0->isVisible());

    QStatusTipEvent leave{QString()}; // a control without hint
    QApplication::sendEvent(&window, &leave);
    EXPECT_FALSE(bar->HintShown());
    EXPECT_TRUE(panel0->isVisible());
    EXPECT_EQ(bar->PanelText(0).toStdString(), "3 個のオブジェクト");
    EXPECT_EQ(bar->PanelWidth(0), 250);
}

TEST(ShellStatusBar, HeightFollowsTheFont) {
    TShellStatusBar bar;
    QFont small = bar.font();
    small.setPointSize(9);
    bar.setFont(small);
    EXPECT_EQ(bar.height(), 23);
    EXPECT_EQ(TShellStatusBar::HeightForFont(small), 23);
    QFont large = small;
    large.setPointSize(12);
    bar.setFont(large);
    EXPECT_EQ(bar.height(), QFontMetrics(large).height() + 6);

    auto* embedded = new QLabel(QStringLiteral("e"));
    bar.SetPanels({250, 50});
    bar.SetEmbedded(embedded);
    EXPECT_EQ(embedded->geometry().top(), 2);
    delete embedded; // the bar forgets a control that goes
    bar.resize(400, bar.height());
}
