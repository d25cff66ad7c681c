// Real-window check under Xvfb: the main window browses a prepared folder in the details view
// with a selection, and a screenshot is saved for review (argv[1]: the PNG to write). Then the
// menus, context menus and the properties, version and progress windows are opened for real
// and each is saved beside it (commands-*.png).
#include "app/MainFormSandbox.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellListView.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <sys/stat.h>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

// The screen around a rectangle (a popup menu, a dialog), with a margin of the window behind.
bool SaveScreen(const QRect& area, const fs::path& file) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect shot = area.adjusted(-40, -40, 40, 40).intersected(screen->geometry());
    const QPixmap pixels =
        screen->grabWindow(0, shot.x(), shot.y(), shot.width(), shot.height());
    return !pixels.isNull() && pixels.save(QString::fromStdString(file.string()));
}

// Runs the steps one after another, each given time to paint.
void RunSteps(std::shared_ptr<std::vector<std::function<void()>>> steps, size_t next = 0) {
    if (next >= steps->size()) return;
    QTimer::singleShot(400, [steps, next] {
        (*steps)[next]();
        RunSteps(steps, next + 1);
    });
}

template <typename Check>
void ShootCommands(TMainForm& form, const fs::path& dir, const fs::path& photos, Check& check,
                   std::function<void()> done) {
    auto steps = std::make_shared<std::vector<std::function<void()>>>();
    auto menuShot = [&form, dir, &check](QMenu* menu, QPoint at, const std::string& name) {
        return std::vector<std::function<void()>>{
            [menu, at] { menu->popup(at); },
            [menu, dir, name, &check] {
                check(menu->isVisible(), ("menu shown: " + name).c_str());
                QRect area = menu->geometry();
                for (QMenu* sub : menu->findChildren<QMenu*>())
                    if (sub->isVisible()) area |= sub->geometry();
                check(SaveScreen(area, dir / ("commands-" + name + ".png")),
                      ("saved: " + name).c_str());
                menu->close();
            }};
    };
    auto add = [&](std::vector<std::function<void()>> more) {
        for (auto& f : more) steps->push_back(std::move(f));
    };
    // The menu bar's menus, each under its title.
    for (QAction* title : form.menuBar()->actions()) {
        QMenu* menu = title->menu();
        if (!menu) continue;
        const QRect r = form.menuBar()->actionGeometry(title);
        const std::string name = "menu-" + std::to_string(steps->size() / 2);
        add(menuShot(menu, form.menuBar()->mapToGlobal(r.bottomLeft()), name));
    }
    const QPoint middle = form.ShellListView->mapToGlobal(form.ShellListView->rect().center());
    add(menuShot(form.ViewPopup, middle, "list-empty-space"));
    add(menuShot(form.DrowPopupMenu, middle, "thumbnail-grid"));
    add({[&form] { form.ShellSystemMenu->PopupSystemMenu(form.mapToGlobal(QPoint(0, 0))); },
         [&form, dir, &check] {
             QMenu* sys = form.findChild<QMenu*>("SystemMenu");
             check(sys && sys->isVisible(), "system menu shown");
             if (sys) {
                 check(SaveScreen(sys->geometry(), dir / "commands-system-menu.png"),
                       "system menu saved");
                 sys->close();
             }
         }});
    // Modal windows: a timer takes the picture and closes them from inside their loop.
    auto modalShot = [dir, &check](const std::string& name) {
        QTimer::singleShot(600, [dir, name, &check] {
            QWidget* modal = QApplication::activeModalWidget();
            check(modal != nullptr, ("window shown: " + name).c_str());
            if (!modal) return;
            check(SaveScreen(modal->frameGeometry(), dir / ("commands-" + name + ".png")),
                  ("saved: " + name).c_str());
            modal->close();
        });
    };
    add({[&form, modalShot] {
        modalShot("properties");
        form.Property1->trigger();
    }});
    add({[&form, modalShot] {
        modalShot("version");
        form.About1Click();
    }});
    add({[&form, photos, dir, &check] {
        // A copy long enough to show its progress window, cancelled once it has been seen.
        const fs::path big = photos.parent_path() / "big.bin";
        pictor_test::WriteFile(big, std::string(64u << 20, 'p'));
        form.ShellListView->ProgressDelayMs = 0;
        bool saved = false;
        form.ShellListView->OnTransferProgress = [&](QProgressDialog& dialog) {
            if (saved || dialog.value() <= 0) return;
            QApplication::processEvents();
            saved = SaveScreen(dialog.frameGeometry(), dir / "commands-progress.png");
            dialog.cancel();
        };
        const auto result = form.ShellListView->TransferInto({big.string()}, photos.string(), false);
        check(saved, "progress window saved");
        check(result.Cancelled && !fs::exists(photos / "big.bin") && fs::exists(big),
              "a cancelled copy leaves only the source");
        form.ShellListView->OnTransferProgress = nullptr;
    }});
    steps->push_back(std::move(done));
    RunSteps(steps);
}

} // namespace

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
        ShootCommands(form, fs::path(argv[1]).parent_path(), photos, check, [&] { app.quit(); });
    });
    app.exec();
    return failures ? 1 : 0;
}
