// Real-window check under Xvfb: the main window browses a prepared folder in the details view
// with a selection, and a screenshot is saved for review (argv[1]: the PNG to write).
#include "app/MainFormSandbox.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellListView.h"

#include <QImage>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

using namespace pictor;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    TApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    pictor_test::TShellSandbox box;
    const fs::path photos = box.Home / "写真";
    fs::create_directories(photos / "旅行 2026");
    fs::create_directories(photos / "sub");
    for (int i : {1, 2, 10, 20})
        pictor_test::WriteFile(photos / ("IMG_" + std::to_string(i) + ".jpg"),
                               std::string(1500 * i, 'x'));
    pictor_test::WriteFile(photos / "memo.txt", "memo");
    ::mkfifo((photos / "pipe").c_str(), 0600);

    TMainForm form(pictor_test::SandboxFormOptions(box, {photos.string()}));
    form.show();
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "FAIL: %s\n", what);
            ++failures;
        }
    };
    QTimer::singleShot(300, [&] {
        form.resize(1000, 620); // wider than the first-start default, so the details fit
        form.Report1->trigger();
        TShellFileList& list = form.ShellListView->FileList();
        for (int i = 0; i < list.Count(); ++i)
            if (list.Item(i)->DisplayName().startsWith("IMG_1"))
                form.ShellListView->SelectionModel()->select(
                    form.ShellListView->ItemModel()->index(i, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
        check(list.Count() == 8, "eight entries listed");
    });
    QTimer::singleShot(1200, [&] {
        check(form.windowTitle().toStdString() == photos.string(), "caption is the folder");
        check(form.ShellStatusBar->PanelText(0) == QStringLiteral("2 個のオブジェクトを選択"),
              "selection count");
        const QPixmap shot = form.screen()->grabWindow(form.winId());
        check(!shot.isNull() && shot.width() == form.width(), "window grabbed");
        check(shot.save(QString::fromLocal8Bit(argv[1])), "screenshot saved");
        // Not a blank window: the list paints more than one colour.
        const QImage image = shot.toImage();
        QRgb first = image.pixel(500, 300);
        bool varied = false;
        for (int x = 250; x < 700 && !varied; x += 3)
            for (int y = 120; y < 400 && !varied; y += 3)
                varied = image.pixel(x, y) != first;
        check(varied, "the window is drawn");
        app.quit();
    });
    app.exec();
    return failures ? 1 : 0;
}
