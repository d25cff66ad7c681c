#include "core/Exception.h"
#include "shell/forms/PropertiesDialog.h"
#include "support/TempDir.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace pictor;
using pictor_test::TempDir;
using pictor_test::WriteFile;

namespace {

// The text a row's label really shows.
QString Shown(const TPropertiesDialog& d, const char* caption) {
    const auto* label = d.findChild<QLabel*>(QString::fromUtf8(caption));
    return label ? label->text() : QStringLiteral("<none>");
}

} // namespace

TEST(PropertiesDialog, OneFileShowsItsFacts) {
    TempDir dir;
    const fs::path file = dir.path / "photo.bin";
    WriteFile(file, std::string(1572864, '\0'));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TPropertiesDialog d(nullptr, {file.string()});
    EXPECT_TRUE(d.isModal());
    struct {
        const char* caption;
        QString text;
    } rows[] = {{"名前", "photo.bin"},
                {"場所", QString::fromStdString(dir.path.string())},
                {"サイズ", "1.5 MB (1,572,864 バイト)"},
                {"アクセス権", "rw-r----- (0640)"},
                {"リンク先", "<none>"},
                {"内容", "<none>"}};
    for (const auto& r : rows)
        EXPECT_EQ(Shown(d, r.caption), r.text) << r.caption;
    EXPECT_EQ(Shown(d, "更新日時"), DateTimeText(d.Properties().Items[0].Modified));
    EXPECT_TRUE(d.Captions().contains(QStringLiteral("作成日時")));
    EXPECT_TRUE(d.Captions().contains(QStringLiteral("所有者")));
    // Read-only: no editor anywhere, one OK button that closes with acceptance.
    EXPECT_TRUE(d.findChildren<QLineEdit*>().isEmpty());
    auto* box = d.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 1);
    d.show();
    QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.isVisible());
}

TEST(PropertiesDialog, FolderLinkAndSeveral) {
    TempDir dir;
    fs::create_directories(dir.path / "f" / "sub");
    for (int i = 0; i < 5; ++i)
        WriteFile(dir.path / "f" / ("x" + std::to_string(i)), "abc");
    fs::create_symlink("f/x0", dir.path / "ln");

    TPropertiesDialog folder(nullptr, {(dir.path / "f").string()});
    EXPECT_EQ(Shown(folder, "内容"), "ファイル 5 個、フォルダ 1 個");
    EXPECT_EQ(Shown(folder, "サイズ"), "15 バイト");

    TWalkBound small;
    small.MaxEntries = 3;
    TPropertiesDialog cut(nullptr, {(dir.path / "f").string()}, small);
    EXPECT_TRUE(Shown(cut, "内容").endsWith(QStringLiteral(" 以上")));
    EXPECT_TRUE(Shown(cut, "サイズ").endsWith(QStringLiteral(" 以上")));

    TPropertiesDialog link(nullptr, {(dir.path / "ln").string()});
    EXPECT_EQ(Shown(link, "リンク先"), "f/x0");

    TPropertiesDialog several(nullptr,
                              {(dir.path / "f" / "x1").string(), (dir.path / "f" / "x2").string(),
                               (dir.path / "f").string()});
    EXPECT_EQ(Shown(several, "名前"), "3 個のファイル");
    EXPECT_EQ(Shown(several, "サイズ"), "21 バイト");
    EXPECT_EQ(Shown(several, "内容"), "ファイル 7 個、フォルダ 2 個");
    EXPECT_EQ(Shown(several, "種類"), "複数の種類");

    EXPECT_THROW(TPropertiesDialog(nullptr, std::vector<std::string>{(dir.path / "gone").string()}),
                 EInOutError);
}
