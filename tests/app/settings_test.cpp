#include "app/Settings.h"
#include "core/Exception.h"
#include "core/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pictor;

namespace {
TIniFile Parse(const std::string& text) {
    TIniFile ini("/nonexistent/pictor.ini");
    ini.SetText(text);
    return ini;
}

// Keys of the file in the order they stand, as "Section/Key".
std::vector<std::string> KeyOrder(const std::string& text) {
    std::vector<std::string> keys;
    std::string section;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.starts_with("[")) section = line.substr(1, line.size() - 2);
        else if (line.find('=') != std::string::npos)
            keys.push_back(section + "/" + line.substr(0, line.find('=')));
    }
    return keys;
}
} // namespace

TEST(Settings, FirstStartDefaults) {
    const TSettings s = ReadSettings(Parse(""));
    EXPECT_EQ(s.Width, 800);
    EXPECT_EQ(s.Height, 600);
    EXPECT_EQ(s.TreeWidth, 225);
    EXPECT_EQ(s.ListWidth, 361);
    EXPECT_EQ(s.IntervalText, "2000");
    EXPECT_FALSE(s.LastDir);
    EXPECT_EQ(s.Pics, (std::array<bool, 4>{false, true, false, false}));
    EXPECT_EQ(s.PluginDirs, (std::array<bool, pdCount>{true, true, false, false, false}));
    for (const char* on : {"dwg", "jpg", "jpeg", "bmp", "dib", "ico", "wmf", "emf"})
        EXPECT_TRUE(s.FileKinds[size_t(FileKindIndex(on))]) << on;
    for (const char* off : {"txt", "log", "ini", "htm", "html", "gif", "lzh", "zip", "cab", "tar",
                            "avi", "mpg", "wav", "mid", "mp3"})
        EXPECT_FALSE(s.FileKinds[size_t(FileKindIndex(off))]) << off;
}

TEST(Settings, WrittenInTheTableOrderAndReadBack) {
    TSettings s;
    s.Width = 1000;
    s.Left = -5;
    s.FileKinds[size_t(FileKindIndex("gif"))] = true;
    s.FileKinds[size_t(FileKindIndex("jpg"))] = false;
    s.IntervalText = "99999";
    s.LastDir = true;
    s.LastDirPath = "/home/user/写真";
    s.Pics = {false, false, false, true};
    s.PluginDirs[pdCurrent] = true;
    s.PluginRows = {{"/opt/b.spi", true}, {"/opt/a.spi", false}};
    TIniFile ini = Parse("[Plug-in]\n/opt/old.spi=1\n");
    WriteSettings(ini, s);

    std::vector<std::string> expected = {"WindowPosition/Width", "WindowPosition/Height",
                                         "WindowPosition/Top", "WindowPosition/Left"};
    for (const char* k : FileKindKeys) expected.push_back(std::string("ViewFileSelect/") + k);
    expected.insert(expected.end(), {"ViewFileSelect/LastDir", "ViewFileSelect/LastDirPath"});
    expected.insert(expected.end(), {"Interval/Interval", "WindowsSizeSelect/Pics1",
                                     "WindowsSizeSelect/Pics2", "WindowsSizeSelect/Pics3",
                                     "WindowsSizeSelect/Pics4", "View/TreeWidth", "View/ListWidth",
                                     "Plug-in Dir/sus", "Plug-in Dir/viw", "Plug-in Dir/cur",
                                     "Plug-in Dir/sys", "Plug-in Dir/win", "Plug-in//opt/b.spi",
                                     "Plug-in//opt/a.spi"});
    // "Plug-in" was erased and written again after the others.
    EXPECT_EQ(KeyOrder(ini.Text()), expected);

    const TSettings back = ReadSettings(Parse(ini.Text()));
    EXPECT_EQ(back.Width, 1000);
    EXPECT_EQ(back.Left, -5);
    EXPECT_EQ(back.FileKinds, s.FileKinds);
    EXPECT_EQ(back.IntervalText, "99999");
    EXPECT_EQ(back.LastDirPath, "/home/user/写真");
    EXPECT_EQ(back.Pics, s.Pics);
    EXPECT_EQ(back.PluginDirs, s.PluginDirs);
    EXPECT_EQ(back.PluginSwitches, (std::vector<std::string>{"/opt/b.spi=1", "/opt/a.spi=0"}));
}

TEST(Settings, IntervalBoundsAndEmptyText) {
    EXPECT_EQ(BoundInterval("300"), "500");
    EXPECT_EQ(BoundInterval("499"), "500");
    EXPECT_EQ(BoundInterval("500"), "500");
    EXPECT_EQ(BoundInterval("99999"), "99999");
    EXPECT_EQ(BoundInterval("100001"), "100000");
    EXPECT_EQ(BoundInterval("0"), "500");
    try {
        BoundInterval("");
        FAIL() << "empty interval accepted";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' は整数ではありません");
    }
    // A save with an empty interval keeps the stored one instead of failing.
    TIniFile ini = Parse("[Interval]\nInterval=3000\n");
    TSettings s;
    s.IntervalText = "";
    WriteSettings(ini, s);
    EXPECT_EQ(ini.ReadInteger("Interval", "Interval", 0), 3000);
}

TEST(Settings, PluginRowsFollowTheSwitches) {
    const std::vector<TPluginInfo> plugins = {
        {"/p/ifpng.spi", "*.png", "PNG", "png 1.0"},
        {"/p/IFJPEG.spi", "*.jpg;*.jpeg", "JPEG", "jpeg"},
        {"/p/ifnone.spi", "", "", "no patterns"},
        {"/p/ifoff.spi", "*.tif", "TIFF", "tiff"}};
    std::vector<std::string> exts;
    const auto rows = BuildPluginRows(
        plugins, {"/P/IFJPEG.SPI=1", "/p/ifoff.spi=0", "/p/ifoff.spi=1"}, exts);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_TRUE(rows[0].Checked) << "a plug-in not listed at all is checked";
    EXPECT_TRUE(rows[1].Checked);
    EXPECT_TRUE(rows[2].Checked);
    EXPECT_FALSE(rows[3].Checked) << "value 0 unchecks, the first line decides";
    // One extension per checked plug-in: the last one of its first pattern, case kept.
    EXPECT_EQ(exts, (std::vector<std::string>{".png", ".jpeg"}));
}

TEST(Settings, PluginAndMediaRules) {
    EXPECT_FALSE(AcceptPluginFile(5, "/x/IFGIF.SPI"));
    EXPECT_TRUE(AcceptPluginFile(6, "/x/IFGIF.SPI"));
    EXPECT_TRUE(AcceptPluginFile(5, "/x/ifgif2.spi"));
    const auto none = DisabledMediaKinds({false, true});
    EXPECT_EQ(none, (std::vector<int>{FileKindIndex("wav"), FileKindIndex("mid"), FileKindIndex("mp3")}));
    EXPECT_EQ(DisabledMediaKinds({true, false}), std::vector<int>{FileKindIndex("mp3")});
    EXPECT_TRUE(DisabledMediaKinds({true, true}).empty());
}

TEST(Settings, FileLocationPrefersTheProgramFolder) {
    const pictor_test::TempDir temp;
    const std::filesystem::path& dir = temp.path;
    EXPECT_EQ(SettingsFilePath((dir / "pictor").string()), (dir / "pictor.ini").string());
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    EXPECT_EQ(SettingsFilePath("/nonexistent-folder/pictor"), (dir / "cfg/pictor/pictor.ini").string());
    ::unsetenv("XDG_CONFIG_HOME");
}
