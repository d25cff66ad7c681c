#include "shell/ListViewSettings.h"

#include <algorithm>
#include <string>

namespace pictor {

namespace {

std::string Key(const char* text, int index) {
    return text + std::to_string(index);
}

constexpr int DefaultWidth = 30;
constexpr int MaxWidth = 10000;

} // namespace

void SaveListLayout(TIniFile& ini, std::string_view section, const TListLayout& layout) {
    const int count = static_cast<int>(layout.Order.size());
    ini.WriteInteger(section, "ColumnsCount", count);
    for (int i = 0; i < count; ++i) {
        ini.WriteInteger(section, Key("Columns", i), layout.Order[static_cast<size_t>(i)]);
        const int width = i < static_cast<int>(layout.Widths.size())
                              ? layout.Widths[static_cast<size_t>(i)]
                              : DefaultWidth;
        ini.WriteInteger(section, Key("ColumnsWidth", i), width);
    }
    ini.WriteInteger(section, "ViewStyle", layout.ViewStyle);
    for (int k = 0; k < 5; ++k)
        ini.WriteInteger(section, Key("SortOrder", k), layout.SortOrder[k] < 0 ? -1 : 1);
    ini.WriteInteger(section, "SortType", layout.SortType);
}

bool LoadListLayout(const TIniFile& ini, std::string_view section, TListLayout& layout) {
    const int columns = static_cast<int>(layout.Order.size());
    int n = ini.ReadInteger(section, "ColumnsCount", columns);
    if (n <= 0) return false;
    n = std::min(n, columns);

    // The stored order for the first n positions, then whatever columns are left unused.
    std::vector<int> order(static_cast<size_t>(columns), -1);
    std::vector<bool> used(static_cast<size_t>(columns), false);
    for (int i = 0; i < n; ++i) {
        const int c = ini.ReadInteger(section, Key("Columns", i), i);
        if (c >= 0 && c < columns && !used[static_cast<size_t>(c)]) {
            order[static_cast<size_t>(i)] = c;
            used[static_cast<size_t>(c)] = true;
        }
    }
    for (int i = n; i < columns; ++i) {
        // Positions not read keep their column when it is still free.
        const int c = layout.Order[static_cast<size_t>(i)];
        if (c >= 0 && c < columns && !used[static_cast<size_t>(c)]) {
            order[static_cast<size_t>(i)] = c;
            used[static_cast<size_t>(c)] = true;
        }
    }
    int next = 0;
    for (int& slot : order) {
        if (slot >= 0) continue;
        while (used[static_cast<size_t>(next)])
            ++next;
        slot = next;
        used[static_cast<size_t>(next)] = true;
    }
    layout.Order = std::move(order);

    layout.Widths.resize(static_cast<size_t>(columns), DefaultWidth);
    for (int i = 0; i < n; ++i) {
        const int w = ini.ReadInteger(section, Key("ColumnsWidth", i), DefaultWidth);
        layout.Widths[static_cast<size_t>(i)] = w < 0 ? DefaultWidth : std::min(w, MaxWidth);
    }
    const int style = ini.ReadInteger(section, "ViewStyle", 0);
    layout.ViewStyle = style >= 0 && style <= 3 ? style : 0;
    for (int k = 0; k < 5; ++k)
        layout.SortOrder[k] = ini.ReadInteger(section, Key("SortOrder", k), 1) < 0 ? -1 : 1;
    const int type = ini.ReadInteger(section, "SortType", 0);
    layout.SortType = type >= 0 && type <= 4 ? type : 0;
    layout.SortOrder[layout.SortType] = 1;
    return true;
}

} // namespace pictor
