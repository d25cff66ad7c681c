// Selecting a 12 MP JPEG in the main window (offscreen): the time from the selection to the
// picture shown in the preview panel, and the share of it spent decoding (the same file decoded
// alone right after).
//
// Pictures: $PICTOR_BENCH_DATA/jpeg12mp (made by the shared make-corpus.sh).
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "core/JpegCodec.h"
#include "shell/forms/ShellListView.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace pictor;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const char* data = std::getenv("PICTOR_BENCH_DATA");
    const std::string folder =
        std::string(data && *data ? data : "/tmp/pictor-bench-data") + "/jpeg12mp";
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "jpeg12mp missing: run make-corpus.sh and set PICTOR_BENCH_DATA\n");
        return 1;
    }
    const std::string settings =
        (std::filesystem::temp_directory_path() / "pictor-preview-bench.ini").string();
    std::filesystem::remove(settings);
    TMainFormOptions options;
    options.SettingsPath = settings;
    options.MediaProbe = [] { return TMediaSupport{true, true}; };
    options.Arguments = {folder};
    TMainForm form(options);
    form.show();
    QApplication::processEvents();
    TShellFileList& list = form.ShellListView->FileList();
    std::vector<double> shown, decoded;
    for (int round = 0; round < 10; ++round) {
        const int row = round % std::max(list.Count(), 1);
        QItemSelectionModel* sel = form.ShellListView->SelectionModel();
        QElapsedTimer t;
        t.start();
        sel->select(form.ShellListView->ItemModel()->index(row, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QApplication::processEvents(); // the preview runs once the queue is idle
        form.Image->repaint();
        shown.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        QElapsedTimer d;
        d.start();
        const Bitmap b = LoadJpegFile(list.Item(row)->Path());
        decoded.push_back(static_cast<double>(d.nsecsElapsed()) / 1e6);
        if (form.Label5->text().isEmpty())
            std::fprintf(stderr, "no picture shown for row %d\n", row);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::printf("selection -> picture shown: median %.1f ms over %zu selections\n", median(shown),
                shown.size());
    std::printf("decoding alone:             median %.1f ms (%.0f %% of the total)\n",
                median(decoded), 100.0 * median(decoded) / median(shown));
    std::filesystem::remove(settings);
    return 0;
}
