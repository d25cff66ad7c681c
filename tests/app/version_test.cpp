// The version dialog: its memory and version texts, and the dialog itself offscreen.
#include "app/VersionInfo.h"
#include "app/forms/Ver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace pictor;

namespace {
constexpr std::uint64_t MiB = 1024 * 1024, GiB = 1024 * MiB;
}

TEST(VersionInfo, MemoryTexts) {
    struct Case {
        std::uint64_t total, avail;
        const char* physical; // total line with the physical picture
        const char* used;
    } cases[] = {
        {512 * MiB, 300 * MiB, "物理メモリ      524,288 KB", "41% ( 217,088 KB使用)"},
        {16 * GiB, 4 * GiB, "物理メモリ      16,777,216 KB", "75% ( 12,582,912 KB使用)"},
        {5 * GiB, 0, "物理メモリ      5,242,880 KB", "100% ( 5,242,880 KB使用)"},
        {1024 * GiB, 1023 * GiB, "物理メモリ      1,073,741,824 KB", "% ( 1,048,576 KB使用)"},
        {200, 199, "物理メモリ      0 KB", "1% ( 0 KB使用)"}, // 0.5% rounds away, 1 byte
        {1024, 1024 - 1536 / 3, "物理メモリ      1 KB", "50% ( 1 KB使用)"}, // 512 B rounds up
        {4096, 4096, "物理メモリ      4 KB", "% ( 0 KB使用)"},              // "##" prints no zero
        {0, 0, "物理メモリ      0 KB", "% ( 0 KB使用)"},                    // no division by zero
        {1000, 5000, "物理メモリ      1 KB", "% ( 0 KB使用)"},              // avail beyond total
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PhysicalTotalText(c.total), c.physical) << c.total;
        EXPECT_EQ(MemoryUsedText(c.total, c.avail), c.used) << c.total << " " << c.avail;
    }
    EXPECT_EQ(VirtualTotalText(3 * GiB), "仮想メモリ      3,145,728 KB");
    EXPECT_EQ(MemoryUsePercent(3, 1), 67);
    EXPECT_EQ(MemoryUsePercent(8, 7), 13); // 12.5 away from zero
}

TEST(VersionInfo, FiguresFromCountsAndProgress) {
    // 6 GiB of 4 KiB pages must not wrap at 32 bits.
    const TMemoryStatus s = MemoryStatusFromCounts(6 * GiB / 4096, GiB / 4096, GiB / 4096,
                                                   2 * GiB / 4096, GiB / 4096, 4096);
    EXPECT_EQ(s.TotalPhys, 6 * GiB);
    EXPECT_EQ(s.AvailPhys, 2 * GiB);
    EXPECT_EQ(s.TotalVirtual, 8 * GiB);
    EXPECT_EQ(s.AvailVirtual, 3 * GiB);
    const TMemoryStatus bytes = MemoryStatusFromCounts(100, 80, 40, 0, 0, 0); // unit 0: bytes
    EXPECT_EQ(bytes.TotalPhys, 100u);
    EXPECT_EQ(bytes.AvailPhys, 100u); // free + buffers capped at the total
    const TMemoryStatus huge = MemoryStatusFromCounts(UINT64_MAX / 2, 0, 0, UINT64_MAX, 0, 4);
    EXPECT_EQ(huge.TotalPhys, UINT64_MAX);
    EXPECT_EQ(huge.TotalVirtual, UINT64_MAX);

    struct Case {
        std::uint64_t total, avail;
        int maximum, position;
    } cases[] = {
        {512 * MiB, 300 * MiB, 512 * MiB, 212 * MiB},
        {16 * GiB, 4 * GiB, 1 * GiB, 768 * MiB}, // scaled by 16
        {UINT64_MAX, 0, INT_MAX, INT_MAX},
        {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const TProgressRange r = MemoryProgress(c.total, c.avail);
        EXPECT_EQ(r.Maximum, c.maximum) << c.total;
        EXPECT_EQ(r.Position, c.position) << c.total;
    }

    const TMemoryStatus live = ReadMemoryStatus();
    EXPECT_GT(live.TotalPhys, 0u);
    EXPECT_LE(live.AvailPhys, live.TotalPhys);
    EXPECT_GE(live.TotalVirtual, live.TotalPhys);
    EXPECT_LE(live.AvailVirtual, live.TotalVirtual);
}

TEST(VersionInfo, ProgramAndOsTexts) {
    EXPECT_EQ(OsVersionText("Linux", {6, 1, 76}), "Linux Version 6.1  (Build 76)");
    EXPECT_EQ(OsVersionText("Linux", {4294967295u, 0, 0}), "Linux Version 4294967295.0  (Build 0)");
    const TAboutTexts with = AboutTexts("/opt/pictor/bin/pictor.bin", std::string("1.2.3"));
    EXPECT_EQ(with.Name, "pictor");
    EXPECT_EQ(with.Version, "製品バージョン　1.2.3");
    EXPECT_FALSE(with.Credit1.empty());
    EXPECT_FALSE(with.Credit2.empty());
    // Without a version: the name still, the design texts for the rest.
    const TAboutTexts without = AboutTexts("/usr/bin/pictor", std::nullopt);
    const TAboutTexts design = DesignAboutTexts();
    EXPECT_EQ(without.Name, "pictor");
    EXPECT_EQ(without.Version, design.Version);
    EXPECT_EQ(without.Credit1, design.Credit1);
    EXPECT_EQ(without.Credit2, design.Credit2);
    EXPECT_EQ(AboutTexts("a.b/c", "1").Name, "c");
    EXPECT_EQ(ProgramVersion(), PICTOR_VERSION);
    EXPECT_FALSE(ReadOsName().empty());
}

TEST(VersionDialog, ShowsTextsRefreshesAndStopsWhenClosed) {
    TMemoryStatus figures{512 * MiB, 300 * MiB, 16 * GiB, 4 * GiB};
    int reads = 0;
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    TVForm form(&owner, [&] {
        ++reads;
        return figures;
    });
    EXPECT_EQ(form.windowTitle(), "バージョン情報");
    EXPECT_TRUE(form.isModal());
    EXPECT_EQ(form.size(), QSize(369, 229));
    EXPECT_EQ(form.Label1->text(), QFileInfo(QCoreApplication::applicationFilePath()).baseName());
    EXPECT_EQ(form.Label2->text().toStdString(), "製品バージョン　" PICTOR_VERSION);
    EXPECT_EQ(form.Label5->text().toStdString(), OsVersionText(ReadOsName(), ReadOsVersion()));
    EXPECT_EQ(form.Label6->text().toStdString(), "物理メモリ      524,288 KB");
    EXPECT_EQ(form.Label7->text().toStdString(), "41% ( 217,088 KB使用)");
    EXPECT_EQ(form.Label8->text().toStdString(), "仮想メモリ      16,777,216 KB");
    EXPECT_EQ(form.Label9->text().toStdString(), "75% ( 12,582,912 KB使用)");
    EXPECT_EQ(form.ProgressBar1->maximum(), int(512 * MiB));
    EXPECT_EQ(form.ProgressBar1->value(), int(212 * MiB));
    EXPECT_EQ(form.ProgressBar2->value(), int(768 * MiB));
    // At its place, or moved left so that the figure ends inside the dialog.
    EXPECT_LE(form.Label7->x(), 232);
    EXPECT_EQ(form.Label7->y(), 80);
    EXPECT_LE(form.Label7->x() + form.Label7->width(), 361);
    EXPECT_LE(form.Label9->x() + form.Label9->width(), 361);
    EXPECT_EQ(form.ProgressBar2->geometry(), QRect(8, 144, 353, 15));
    EXPECT_EQ(form.Button1->geometry(), QRect(276, 185, 75, 25));
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_FALSE(form.Label3->text().isEmpty());
    EXPECT_FALSE(form.Image1->pixmap().isNull());
    EXPECT_EQ(reads, 1);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);
    EXPECT_LE((form.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(),
              40);
    if (const QByteArray dir = qgetenv("PICTOR_SHOTS"); !dir.isEmpty()) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        form.grab().save(QString::fromLocal8Bit(dir) + "/version-dialog.png");
    }

    // A tick reads the figures again.
    figures.AvailPhys = 0;
    form.Timer1Timer();
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(form.Label7->text().toStdString(), "100% ( 524,288 KB使用)");

    // The link opens the home page, not a browser here.
    QUrl opened;
    form.OpenUrl = [&](const QUrl& url) { opened = url; };
    QTest::mouseClick(form.URLEdit, Qt::LeftButton);
    EXPECT_EQ(opened, QUrl(HomePageUrl));

    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(VersionDialog, ClosingOtherwiseAlsoStopsTheTimer) {
    TVForm form(nullptr, [] { return TMemoryStatus{}; });
    EXPECT_EQ(form.Label7->text().toStdString(), "% ( 0 KB使用)");
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    form.close(); // the window's close button
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}
