#pragma once

// The file list's layout in the settings file: column order and widths, view style and sort
// state, one integer per key.

#include "core/IniFile.h"

#include <string_view>
#include <vector>

namespace pictor {

struct TListLayout {
    std::vector<int> Order;  // the column at each display position
    std::vector<int> Widths; // the width of each column, by column number
    int ViewStyle = 0;       // 0 large icons, 1 small icons, 2 list, 3 details
    int SortOrder[5] = {1, 1, 1, 1, 1};
    int SortType = 0;
};

// Writes "ColumnsCount", "Columns"i, "ColumnsWidth"i, "ViewStyle", "SortOrder"0..4 and
// "SortType" into the section (in memory; the owner writes the file).
void SaveListLayout(TIniFile& ini, std::string_view section, const TListLayout& layout);

// Reads a layout over the current one, whose Order size is the number of columns the view has.
// A "ColumnsCount" of 0 (or less) reads nothing else and returns false. Otherwise a count above
// the current one is bounded to it, unusable column numbers (out of range, repeated) give way to
// the unused columns in ascending order so the order stays a permutation, widths default to 30
// (a negative width too), the view style to 0, directions to +1; the sort key then becomes
// ascending whatever direction was stored for it.
bool LoadListLayout(const TIniFile& ini, std::string_view section, TListLayout& layout);

} // namespace pictor
