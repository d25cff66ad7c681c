#pragma once

#include <array>
#include <string>
#include <vector>

namespace pictor {

class TIniFile;

// The 23 file kinds of the display settings, in the order the settings file stores them.
inline constexpr std::array<const char*, 23> FileKindKeys = {
    "dwg", "jpg", "jpeg", "bmp", "dib", "ico", "wmf", "emf", "txt", "log", "ini", "htm",
    "html", "gif", "lzh", "zip", "cab", "tar", "avi", "mpg", "wav", "mid", "mp3"};
constexpr int FileKindCount = int(FileKindKeys.size());
// Index of a kind key ("jpg") in FileKindKeys, or -1.
int FileKindIndex(const std::string& key);

enum TPluginDirSwitch { pdSusie, pdApp, pdCurrent, pdSystem, pdWindows, pdCount };
inline constexpr std::array<const char*, pdCount> PluginDirKeys = {"sus", "viw", "cur", "sys", "win"};

// Everything the main window keeps in the settings file, apart from the file list's own
// section. The window and the display-settings dialog copy their state into and out of it.
struct TSettings {
    int Width = 800;
    int Height = 600;
    int Top = 0;
    int Left = 0;
    std::array<bool, FileKindCount> FileKinds = DefaultFileKinds();
    std::string IntervalText = "2000"; // the interval edit's text, milliseconds
    bool LastDir = false;
    std::string LastDirPath;
    std::array<bool, 4> Pics = {false, true, false, false};
    int TreeWidth = 225;
    int ListWidth = 361;
    std::array<bool, pdCount> PluginDirs = {true, true, false, false, false};
    // Raw "path=value" lines of section "Plug-in" as read.
    std::vector<std::string> PluginSwitches;
    // Rows of the plug-in list to store: path and check mark, in list order.
    std::vector<std::pair<std::string, bool>> PluginRows;

    static std::array<bool, FileKindCount> DefaultFileKinds();
};

// Reads every key (defaults for missing or unreadable values).
TSettings ReadSettings(const TIniFile& ini);

// Writes every key in the table's order and rewrites section "Plug-in" whole. An interval text
// that is not a number leaves the stored interval as it was: the edit can be left empty by a
// cancelled dialog, and that must not stop the program from saving on close.
void WriteSettings(TIniFile& ini, const TSettings& settings);

// The dialog's apply rule for the interval: above 100000 becomes "100000", below 500 becomes
// "500", otherwise the text stays. Raises EConvertError "'%s' は整数ではありません".
std::string BoundInterval(const std::string& text);

// Where the settings live: beside the program (same base name, ".ini") when the program's
// folder is writable, else $XDG_CONFIG_HOME/pictor/pictor.ini.
std::string SettingsFilePath(const std::string& programPath);

// Plug-in rows of the display-settings dialog.
struct TPluginInfo {
    std::string FileName;
    std::string FirstPattern;     // empty when the plug-in names none
    std::string FirstDescription; // likewise
    std::string About;
};
struct TPluginRow {
    TPluginInfo Info;
    bool Checked = true;
};
// One row per plug-in, in order; a row is unchecked when section "Plug-in" names its path
// (ignoring case) on a line ending in "0". Each checked row adds the extension of its first
// pattern (text from the pattern's last '.', case kept) to pluginExts.
std::vector<TPluginRow> BuildPluginRows(const std::vector<TPluginInfo>& plugins,
                                        const std::vector<std::string>& pluginSwitches,
                                        std::vector<std::string>& pluginExts);

// Whether a candidate plug-in file may be loaded: on a major system version 5 the file
// "ifgif.spi" (any case) is refused.
bool AcceptPluginFile(unsigned osMajorVersion, const std::string& fileName);

// Media switches the system cannot serve are unchecked and disabled for the rest of the run.
struct TMediaSupport {
    bool WaveOutput = true; // an audio output device exists
    bool Mp3 = true;        // the media backend can decode MP3
};
// Indexes of the kinds that must be disabled (wav, mid, mp3 without audio output; mp3 alone
// without an MP3 decoder).
std::vector<int> DisabledMediaKinds(const TMediaSupport& media);

} // namespace pictor
