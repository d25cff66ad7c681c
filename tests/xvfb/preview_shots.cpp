// Real-window check under Xvfb: each kind of file previews in the panel; one screenshot per
// kind is saved for review (argv[1]: the folder for the PNGs).
#include "app/MainFormSandbox.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "app/forms/kind.h"
#include "core/BmpCodec.h"
#include "core/JpegCodec.h"
#include "shell/ShellTestSupport.h"
#include "shell/forms/ShellListView.h"
#include <QPushButton>
#include <QSlider>

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

Bitmap Gradient(int w, int h) {
    Bitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<uint8_t*>(b.ScanLine(y));
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / w);
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / h);
            row[3 * x + 2] = 160;
        }
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    TApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    pictor_test::TShellSandbox box;
    const fs::path dir = box.Home / "kinds";
    fs::create_directories(dir);
    const fs::path data = PICTOR_TESTDATA;
    SaveBmpFile(Gradient(201, 150), (dir / "a.bmp").string());
    SaveJpegFile(Gradient(640, 480), (dir / "b.jpg").string(), 90);
    fs::copy_file(data / "gif/pillow/chi.gif", dir / "c.gif");
    fs::copy_file(data / "png/pngsuite/basn2c08.png", dir / "d.png");
    pictor_test::WriteFile(dir / "e.txt", "日本語のテキスト\nsecond line\n");
    for (const auto& entry : fs::directory_iterator(data / "dwg/libredwg")) {
        if (entry.path().extension() == ".dwg") {
            fs::copy_file(entry.path(), dir / "f.dwg");
            break;
        }
    }
    pictor_test::WriteFile(
        dir / "h.html",
        "<html><body style='margin:0'><h1>Pictor</h1>"
        "<div style='width:300px;height:300px;background:#3a6'></div></body></html>");
    {
        // Half a second of 8-bit mono silence at 8 kHz.
        std::string wav;
        auto put = [&](std::uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        wav += "RIFF";
        put(36 + 4000, 4);
        wav += "WAVEfmt ";
        put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(8000, 4), put(1, 2), put(8, 2);
        wav += "data";
        put(4000, 4);
        wav.append(4000, '\x80');
        pictor_test::WriteFile(dir / "i.wav", wav);
    }
    fs::copy_file(data / "ico/pillow/python.ico", dir / "j.ico");
    for (const auto& entry : fs::recursive_directory_iterator(data / "emf/pillow")) {
        if (entry.path().extension() == ".emf") {
            fs::copy_file(entry.path(), dir / "k.emf");
            break;
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(data / "wmf")) {
        if (entry.path().extension() == ".wmf") {
            fs::copy_file(entry.path(), dir / "g.wmf");
            break;
        }
    }

    TMainFormOptions options = pictor_test::SandboxFormOptions(box, {dir.string()});
    options.AppDir = PICTOR_BIN_DIR; // the bundled plug-ins (PNG, TIFF, WebP)
    TMainForm form(options);
    form.show();
    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) {
            std::fprintf(stderr, "FAIL: %s\n", what.c_str());
            ++failures;
        }
    };
    struct TKind {
        const char* Name;
        const char* Label5; // expected dimension or version text ("" : not checked)
    };
    const std::vector<TKind> kinds = {{"a.bmp", "W 201 × H 150 pixel"},
                                      {"b.jpg", "W 640 × H 480 pixel"},
                                      {"c.gif", "W 320 × H 240 pixel"},
                                      {"d.png", "W 32 × H 32 pixel"},
                                      {"e.txt", ""},
                                      {"f.dwg", ""},
                                      {"g.wmf", ""},
                                      {"h.html", ""},
                                      {"i.wav", ""},
                                      {"j.ico", ""},
                                      {"k.emf", ""}};
    std::size_t next = 0;
    int waited = 0;
    QTimer timer;
    timer.setInterval(700);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (next == 0) {
            form.resize(1000, 640);
            for (QCheckBox* box :
                 {form.Fkind->cbgif, form.Fkind->cbtxt, form.Fkind->cbhtml, form.Fkind->cbwav})
                box->setChecked(true);
        }
        if (next > 0) {
            // The previous selection has been previewed: check and photograph it. A web page
            // renders off-screen first; give it up to 20 s.
            const TKind& kind = kinds[next - 1];
            if (std::string(kind.Name) == "h.html" &&
                form.Image->pixmap(Qt::ReturnByValue).isNull() && ++waited < 30)
                return;
            if (*kind.Label5)
                check(form.Label5->text() == QString::fromUtf8(kind.Label5),
                      std::string(kind.Name) + " dimensions");
            if (std::string(kind.Name) == "i.wav")
                check(!form.MediaPlayer->isHidden() && !form.TrackBar->isHidden() &&
                          form.bPictor->isHidden(),
                      "sound: player and position bar, no Pictor button");
            else if (std::string(kind.Name) == "e.txt")
                check(form.Memo->isVisible() && form.Memo->toPlainText().startsWith("日本語"),
                      "text in the memo");
            else if (std::string(kind.Name) != "c.gif")
                check(!form.Image->pixmap(Qt::ReturnByValue).isNull(),
                      std::string(kind.Name) + " picture shown");
            const QPixmap shot = form.screen()->grabWindow(form.winId());
            check(shot.save(QString::fromLocal8Bit(argv[1]) + "/preview-" +
                            QString::fromUtf8(kind.Name).section('.', 1) + ".png"),
                  "screenshot saved");
        }
        if (next == kinds.size()) {
            app.quit();
            return;
        }
        TShellFileList& list = form.ShellListView->FileList();
        for (int i = 0; i < list.Count(); ++i)
            if (list.Item(i)->DisplayName() == QString::fromUtf8(kinds[next].Name))
                form.ShellListView->SelectionModel()->select(
                    form.ShellListView->ItemModel()->index(i, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ++next;
    });
    timer.start();
    app.exec();
    return failures ? 1 : 0;
}
