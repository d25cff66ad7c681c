// System icons: theme names to icons, and the link overlay drawn into them.
#include "shell/ShellImages.h"
#include "shell/forms/ShellIcons.h"

#include <QApplication>
#include <QImage>
#include <QStyle>

#include <gtest/gtest.h>

using namespace pictor;

TEST(SystemIcon, LinksCarryAnOverlayAndUnknownNamesFallBack) {
    const QStyle* style = QApplication::style();
    const int file = TSystemImageList::Instance().IndexOf({QStringLiteral("no-such-icon-xyz")});
    const QImage plain = SystemIcon(file, style).pixmap(32, 32).toImage();
    const QImage link = SystemIcon(file, style, 2).pixmap(32, 32).toImage();
    ASSERT_FALSE(plain.isNull()) << "a name the theme lacks still gives the style's icon";
    ASSERT_FALSE(link.isNull());
    EXPECT_NE(plain, link) << "the link emblem is drawn in";
    EXPECT_EQ(SystemIcon(file, style, 2).cacheKey(), SystemIcon(file, style, 2).cacheKey())
        << "made once, then cached";
    EXPECT_TRUE(SystemIcon(-1, nullptr).isNull());
}
