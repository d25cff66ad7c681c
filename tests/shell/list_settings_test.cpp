// The file list's layout in a settings section.
#include "shell/ListViewSettings.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pictor;
using namespace pictor_test;

namespace {

TListLayout Current() {
    TListLayout l;
    l.Order = {0, 1, 2, 3, 4};
    l.Widths = {100, 60, 120, 110, 40};
    l.ViewStyle = 3;
    l.SortType = 1;
    l.SortOrder[1] = -1;
    return l;
}

TIniFile Ini(const std::string& text) {
    TIniFile ini("/nonexistent/pictor-test.ini");
    ini.SetText(text);
    return ini;
}

} // namespace

TEST(ListSettings, RoundTrip) {
    TListLayout saved = Current();
    saved.Order = {2, 0, 4, 1, 3};
    saved.Widths = {11, 22, 33, 44, 55};
    saved.ViewStyle = 2;
    saved.SortOrder[3] = -1;
    saved.SortType = 3;
    TIniFile ini = Ini("");
    SaveListLayout(ini, "ShellFileSetting", saved);
    const std::string text = ini.Text();
    for (const char* line : {"ColumnsCount=5", "Columns0=2", "Columns4=3", "ColumnsWidth1=22",
                             "ViewStyle=2", "SortOrder3=-1", "SortOrder0=1", "SortType=3"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    TListLayout loaded = Current();
    ASSERT_TRUE(LoadListLayout(Ini(text), "shellfilesetting", loaded));
    EXPECT_EQ(loaded.Order, saved.Order);
    EXPECT_EQ(loaded.Widths, saved.Widths);
    EXPECT_EQ(loaded.ViewStyle, 2);
    EXPECT_EQ(loaded.SortType, 3);
    // The sort key is restored ascending whatever was stored; the others keep their direction.
    EXPECT_EQ(loaded.SortOrder[3], 1);
    EXPECT_EQ(loaded.SortOrder[1], -1);
}

TEST(ListSettings, LoadRules) {
    struct Case {
        const char* name;
        std::string text;
        bool read;
        std::vector<int> order, widths;
        int style, sortType;
        std::vector<int> sortOrder;
    } cases[] = {
        {"count 0 leaves everything",
         "[S]\nColumnsCount=0\nViewStyle=1\nSortType=4\n",
         false,
         {0, 1, 2, 3, 4},
         {100, 60, 120, 110, 40},
         3,
         1,
         {1, -1, 1, 1, 1}},
        {"empty section: defaults",
         "",
         true,
         {0, 1, 2, 3, 4},
         {30, 30, 30, 30, 30},
         0,
         0,
         {1, 1, 1, 1, 1}},
        {"date descending stored, ascending loaded",
         "[S]\nColumnsCount=5\nSortType=3\nSortOrder3=-1\nSortOrder2=-1\n",
         true,
         {0, 1, 2, 3, 4},
         {30, 30, 30, 30, 30},
         0,
         3,
         {1, 1, -1, 1, 1}},
        {"count 9 bounded to 5",
         "[S]\nColumnsCount=9\nColumns0=4\nColumns7=1\nColumnsWidth8=99\nColumnsWidth4=70\n",
         true,
         {4, 1, 2, 3, 0},
         {30, 30, 30, 30, 70},
         0,
         0,
         {1, 1, 1, 1, 1}},
        {"duplicates and out of range",
         "[S]\nColumns0=3\nColumns1=3\nColumns2=-1\nColumns3=17\nColumns4=0\nViewStyle=7\n"
         "SortType=9\nColumnsWidth0=-5\nColumnsWidth1=0x20\n",
         true,
         {3, 1, 2, 4, 0},
         {30, 32, 30, 30, 30},
         0,
         0,
         {1, 1, 1, 1, 1}},
        {"fewer stored columns keep the rest",
         "[S]\nColumnsCount=2\nColumns0=1\nColumns1=0\n",
         true,
         {1, 0, 2, 3, 4},
         {30, 30, 120, 110, 40},
         0,
         0,
         {1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TListLayout l = Current();
        EXPECT_EQ(LoadListLayout(Ini(c.text), "S", l), c.read);
        EXPECT_EQ(l.Order, c.order);
        EXPECT_EQ(l.Widths, c.widths);
        EXPECT_EQ(l.ViewStyle, c.style);
        EXPECT_EQ(l.SortType, c.sortType);
        EXPECT_EQ(std::vector<int>(l.SortOrder, l.SortOrder + 5), c.sortOrder);
    }
}
