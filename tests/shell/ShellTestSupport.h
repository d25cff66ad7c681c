#pragma once

// A temporary home, desktop, trash and mount table for the namespace, and a list view stand-in
// for the file-list model.

#include "shell/ShellCtrls.h"
#include "shell/ShellEnv.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace pictor_test {

struct TShellSandbox {
    TempDir Root{"pictor-shell"};
    std::filesystem::path Home, Desktop, DataHome, Volume;
    pictor::TShellEnvironment Saved = pictor::ShellEnvironment();

    TShellSandbox() {
        Home = Root.path / "home";
        Desktop = Home / "Desktop";
        DataHome = Home / ".local/share";
        Volume = Root.path / "vol";
        std::filesystem::create_directories(Desktop);
        std::filesystem::create_directories(DataHome);
        std::filesystem::create_directories(Volume);
        std::filesystem::create_directories(Root.path / "by-label");
        WriteMounts({});
        pictor::TShellEnvironment env;
        env.HomeDir = Home.string();
        env.DesktopDir = Desktop.string();
        env.DataHome = DataHome.string();
        env.MountInfoPath = (Root.path / "mountinfo").string();
        env.ByLabelDir = (Root.path / "by-label").string();
        env.SysDir = (Root.path / "sys").string();
        env.Uid = 1000;
        pictor::SetShellEnvironment(env);
    }
    ~TShellSandbox() { pictor::SetShellEnvironment(Saved); }

    // "/" plus the sandbox volume plus extra lines.
    void WriteMounts(const std::vector<std::string>& extra) {
        std::string text = "21 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                           "30 21 8:17 / " +
                           Volume.string() + " rw,relatime - ext4 /dev/sdb1 rw\n";
        for (const auto& line : extra)
            text += line + "\n";
        WriteFile(Root.path / "mountinfo", text);
    }
};

// The list view as the model sees it: rows, selection, focus and what was raised.
struct TFakeListView : pictor::IShellListOwner {
    int Rows = 0;
    std::vector<bool> Selected;
    int Focused = -1;
    int ListChanges = 0;
    std::vector<std::uint64_t> SelChanges;
    bool Hidden = true;
    pictor::TShVirtuaItems Virtual = pictor::DefaultShVirtuaItems;
    std::optional<pictor::TItemIDList> Tree;
    int Columns = 5;
    std::function<void(pictor::TShellFileItem&, bool&)> Filter;

    bool IncludeHidden() const override { return Hidden; }
    pictor::TShVirtuaItems ShVirtuaItems() const override { return Virtual; }
    void SetRowCount(int count) override {
        Rows = count;
        Selected.assign(static_cast<std::size_t>(count), false);
    }
    bool RowSelected(int row) const override { return Selected.at(static_cast<std::size_t>(row)); }
    void SetRowSelected(int row, bool s) override {
        Selected.at(static_cast<std::size_t>(row)) = s;
    }
    void SetAllRowsSelected(bool s) override { Selected.assign(Selected.size(), s); }
    int SelectedCount() const override {
        return static_cast<int>(std::count(Selected.begin(), Selected.end(), true));
    }
    int FocusedRow() const override { return Focused; }
    void SetFocusedRow(int row) override { Focused = row; }
    int ColumnCount() const override { return Columns; }
    void ShowNameColumnOnly() override { Columns = 1; }
    void RebuildColumns(const std::vector<int>&, const std::vector<int>&) override { Columns = 5; }
    std::optional<pictor::TItemIDList> TreeFolder() const override { return Tree; }
    void DoShFilter(pictor::TShellFileItem& item, bool& accept) override {
        if (Filter) Filter(item, accept);
    }
    void DoShListChange(pictor::TShellFileList&) override { ++ListChanges; }
    void DoShSelChange(std::uint64_t size) override { SelChanges.push_back(size); }
};

// Runs the event loop until done() holds or timeoutMs passes.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Runs the event loop for ms, so reports that should not come have had their chance.
inline void PumpFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The display names of the list in row order.
inline std::vector<std::string> Names(pictor::TShellFileList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        names.push_back(list.Item(i)->DisplayName().toStdString());
    return names;
}

} // namespace pictor_test
