// The web page preview: generated pages are rendered off-screen, captured at the size their
// body asks for and shown in the 200 × 200 picture box; stale pages never land.
#include "app/forms/Main.h"
#include "shell/ShellCtrls.h"
#include "shell/forms/ShellListView.h"
#include "support/TempDir.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLibraryInfo>
#include <QTimer>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

constexpr int WaitBoundMs = 20000; // far beyond the preview's own 10 s bound

class WebPreviewTest : public testing::Test {
protected:
    static inline std::unique_ptr<pictor_test::TempDir> Dir;
    static inline std::unique_ptr<TMainForm> Form;

    static void SetUpTestSuite() {
        Dir = std::make_unique<pictor_test::TempDir>("pictor-web");
        TMainFormOptions o;
        o.SettingsPath = (Dir->path / "pictor.ini").string();
        o.MediaProbe = [] { return TMediaSupport{true, true}; };
        o.OsVersion = TOsVersion{6, 1, 0};
        o.AppDir = o.SystemDir = o.WindowsDir = (Dir->path / "none").string();
        Form = std::make_unique<TMainForm>(o);
        Form->show();
        QCoreApplication::processEvents();
    }
    static void TearDownTestSuite() {
        Form.reset();
        Dir.reset();
    }
    void SetUp() override {
        const QString helper =
            QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
        if (qEnvironmentVariableIsEmpty("QTWEBENGINE_PROCESS_PATH") &&
            !QFileInfo(helper).isExecutable())
            GTEST_SKIP() << "Qt WebEngine cannot start here: no " << helper.toStdString();
        Form->ResetPreview();
    }

    // A page whose body scrolls to exactly w × h, filled with one colour.
    static std::string Page(const std::string& name, int w, int h, const char* colour) {
        const fs::path path = Dir->path / name;
        std::ofstream(path) << "<!DOCTYPE html><html><body style=\"margin:0\"><div style=\"width:"
                            << w << "px;height:" << h << "px;background:" << colour
                            << "\"></div></body></html>";
        return path.string();
    }
    // Runs a real event loop until done() holds (QTest::qWaitFor sleeps between its rounds,
    // which starves the engine's message pump); false when the bound passes first.
    static bool Wait(const std::function<bool()>& done, int boundMs = WaitBoundMs) {
        QEventLoop loop;
        QTimer poll, bound;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done()) loop.quit();
        });
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        poll.start(5);
        bound.setSingleShot(true);
        bound.start(boundMs);
        if (!done()) loop.exec();
        return done();
    }
    static bool WaitDone() {
        return Wait([] { return !Form->WebPreview.Pending(); });
    }
    // Lets pending events run for a while (a late result would land here).
    static void Settle(int ms) {
        Wait([] { return false; }, ms);
    }
    static QRgb Shown(int x, int y) { return Form->Image->pixmap().toImage().pixel(x, y); }
};

TEST_F(WebPreviewTest, CapturesAtTheSizeTheBodyAsksFor) {
    struct Row {
        int w, h;
        QSize capture;
        const char* name;
        QRgb colour;
    };
    const Row rows[] = {
        {300, 2000, {600, 600}, "page.html", qRgb(0x33, 0x66, 0xcc)}, // narrow: the least size
        {800, 2000, {900, 900}, "page.htm", qRgb(0xcc, 0x33, 0x33)},  // tall: square on the width
        {1200, 700, {1300, 800}, "ページ #1.html", qRgb(0x33, 0x99, 0x33)}, // height smaller
        {700, 499, {600, 600}, "page.html", qRgb(0x99, 0x33, 0x99)},        // a side below 500
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
        const std::string path =
            Page(r.name, r.w, r.h, QColor(r.colour).name().toLatin1().constData());
        Form->ResetPreview();
        Form->ShowHtml(path);
        EXPECT_EQ(Form->Image->size(), QSize(200, 200));
        EXPECT_TRUE(Form->Image->pixmap().isNull()) << "nothing before the page has loaded";
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Form->WebPreview.Capture, r.capture);
        ASSERT_FALSE(Form->Image->pixmap().isNull());
        EXPECT_EQ(Form->Image->pixmap().size(), r.capture);
        EXPECT_EQ(Form->Image->size(), QSize(200, 200));
        EXPECT_TRUE(Form->Image->hasScaledContents());
        EXPECT_EQ(Shown(5, 5), r.colour) << "the page itself was drawn";
        EXPECT_EQ(Form->Label5->text(), "") << "no dimension text";
        EXPECT_NE(Form->Image->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_EQ(Form->WebBrowser->size(), QSize(0, 0)) << "the view shrinks back";
        EXPECT_FALSE(Form->WebBrowser->testAttribute(Qt::WA_Mapped)) << "never on screen";
    }
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    EXPECT_TRUE(flags.contains("--disable-gpu"));
    EXPECT_EQ(flags.contains("--no-sandbox"), ::geteuid() == 0);
}

TEST_F(WebPreviewTest, ANewerPageWinsWhileTheFirstLoadsOrIsCaptured) {
    const std::string first = Page("first.html", 800, 2000, "#ff0000");
    const std::string second = Page("second.html", 300, 2000, "#00ff00");
    for (const bool duringCapture : {false, true}) {
        SCOPED_TRACE(duringCapture ? "during the capture" : "during the load");
        Form->ResetPreview();
        Form->WebPreview.Capture = QSize();
        if (Form->WebBrowser) Form->WebBrowser->resize(0, 0);
        Form->ShowHtml(first);
        if (!duringCapture) {
            Form->ShowHtml(second);
        } else {
            // The moment the view takes the first page's capture size, the second is chosen.
            struct Filter : QObject {
                bool fired = false;
                std::string next;
                bool eventFilter(QObject* o, QEvent* e) override {
                    if (e->type() == QEvent::Resize && static_cast<QWidget*>(o)->width() > 0 &&
                        !fired) {
                        fired = true;
                        QTimer::singleShot(0, [n = next] { Form->ShowHtml(n); });
                    }
                    return false;
                }
            } filter;
            filter.next = second;
            Form->WebBrowser->installEventFilter(&filter);
            ASSERT_TRUE(Wait([&] { return filter.fired; }));
            Form->WebBrowser->removeEventFilter(&filter);
        }
        ASSERT_TRUE(WaitDone());
        // Give a late first page every chance to land; it must not.
        Settle(300);
        EXPECT_EQ(Form->WebPreview.Capture, QSize(600, 600));
        ASSERT_FALSE(Form->Image->pixmap().isNull());
        EXPECT_EQ(Shown(5, 5), qRgb(0, 0xff, 0));
    }
}

TEST_F(WebPreviewTest, ANewerSelectionDropsThePageAndFailuresLeaveThePanelReset) {
    // A folder of its own: pages written later elsewhere do not refresh the list.
    const fs::path folder = Dir->path / "list";
    fs::create_directories(folder);
    const std::string page = Page("list/page.html", 800, 2000, "#ff0000");
    std::ofstream(folder / "note.xyz") << "no preview for this kind";
    Form->NavigateTo(folder.string());
    QCoreApplication::processEvents();
    TShellFileList& list = Form->ShellListView->FileList();
    int row = -1;
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i)->DisplayName() == "note.xyz") row = i;
    ASSERT_GE(row, 0);

    Form->WebPreview.Capture = QSize();
    Form->ShowHtml(page);
    Form->ShellListView->SelectionModel()->select(Form->ShellListView->ItemModel()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
    ASSERT_TRUE(WaitDone());
    Settle(300);
    EXPECT_TRUE(Form->Image->pixmap().isNull()) << "the selected file shows no picture";
    EXPECT_EQ(Form->WebPreview.Capture, QSize());

    // A page that cannot be loaded ends without a picture and without a message.
    Form->ResetPreview();
    Form->ShowHtml((Dir->path / "missing.html").string());
    ASSERT_TRUE(WaitDone());
    EXPECT_TRUE(Form->Image->pixmap().isNull());
    EXPECT_EQ(Form->Image->size(), QSize(200, 200));
    EXPECT_EQ(Form->WebPreview.Capture, QSize());
}

TEST_F(WebPreviewTest, AnEndlessPageIsGivenUpAndTheNextPageStillShows) {
    const fs::path endless = Dir->path / "endless.html";
    std::ofstream(endless) << "<html><body><script>for(;;){}</script></body></html>";
    Form->WebPreview.Capture = QSize();
    Form->ShowHtml(endless.string());
    ASSERT_TRUE(WaitDone()) << "the wait is bounded";
    EXPECT_TRUE(Form->Image->pixmap().isNull());
    EXPECT_EQ(Form->WebPreview.Capture, QSize());
    // The stuck page must not take the next one with it.
    Form->ResetPreview();
    Form->ShowHtml(Page("after.html", 100, 100, "#0000ff"));
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(Form->WebPreview.Capture, QSize(600, 600));
    ASSERT_FALSE(Form->Image->pixmap().isNull());
    EXPECT_EQ(Shown(5, 5), qRgb(0, 0, 0xff));
}

} // namespace
