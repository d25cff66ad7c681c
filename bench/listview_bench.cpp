// The file list view with 100,000 files (offscreen): the time from choosing the folder to the
// first screenful painted, and the longest single paint while scrolling the details view from
// top to bottom a page at a time. Every paint runs on the UI thread, so the longest paint is the
// longest time the UI is blocked after the enumeration.
//
// Folder: $PICTOR_BENCH_DATA/dir100k (made by the shared make-corpus.sh).
#include "shell/forms/ShellListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>

using namespace pictor;

namespace {

std::string Folder() {
    const char* data = std::getenv("PICTOR_BENCH_DATA");
    return std::string(data && *data ? data : "/tmp/pictor-bench-data") + "/dir100k";
}

double Ms(QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void BM_OpenAndScrollDetails(benchmark::State& state) {
    const TItemIDList folder = PathToIDList(Folder());
    if (!TShellFolder::Bind(folder)) {
        state.SkipWithError("dir100k missing: run make-corpus.sh and set PICTOR_BENCH_DATA");
        return;
    }
    double open = 0, firstPaint = 0, longest = 0;
    int pages = 0;
    for (auto _ : state) {
        TShellListView view(nullptr, false);
        view.resize(900, 700);
        view.SetViewStyle(vsReport);
        view.show();
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        view.SetFolder(folder);
        open = Ms(t);
        view.DetailView()->viewport()->repaint();
        firstPaint = Ms(t);
        QScrollBar* bar = view.DetailView()->verticalScrollBar();
        longest = 0;
        pages = 0;
        for (int v = 0; v < bar->maximum(); v += bar->pageStep()) {
            QElapsedTimer step;
            step.start();
            bar->setValue(v + bar->pageStep());
            view.DetailView()->viewport()->repaint();
            QApplication::processEvents();
            longest = std::max(longest, Ms(step));
            ++pages;
        }
    }
    state.counters["open_ms"] = open;
    state.counters["first_paint_ms"] = firstPaint;
    state.counters["longest_scroll_paint_ms"] = longest;
    state.counters["pages"] = pages;
}
BENCHMARK(BM_OpenAndScrollDetails)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
