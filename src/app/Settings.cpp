#include "app/Settings.h"

#include "core/Exception.h"
#include "core/IniFile.h"
#include "core/PathRules.h"

#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

namespace pictor {

namespace {
constexpr const char* secPosition = "WindowPosition";
constexpr const char* secKinds = "ViewFileSelect";
constexpr const char* secInterval = "Interval";
constexpr const char* secPics = "WindowsSizeSelect";
constexpr const char* secView = "View";
constexpr const char* secPluginDir = "Plug-in Dir";
constexpr const char* secPlugin = "Plug-in";

std::string PicsKey(int i) { return "Pics" + std::to_string(i + 1); }
} // namespace

int FileKindIndex(const std::string& key) {
    for (int i = 0; i < FileKindCount; ++i)
        if (key == FileKindKeys[size_t(i)]) return i;
    return -1;
}

std::array<bool, FileKindCount> TSettings::DefaultFileKinds() {
    std::array<bool, FileKindCount> kinds{};
    for (int i = 0; i < FileKindCount; ++i) kinds[size_t(i)] = i <= FileKindIndex("emf");
    return kinds;
}

TSettings ReadSettings(const TIniFile& ini) {
    TSettings s;
    s.Width = ini.ReadInteger(secPosition, "Width", s.Width);
    s.Height = ini.ReadInteger(secPosition, "Height", s.Height);
    s.Top = ini.ReadInteger(secPosition, "Top", s.Top);
    s.Left = ini.ReadInteger(secPosition, "Left", s.Left);
    for (size_t i = 0; i < FileKindKeys.size(); ++i)
        s.FileKinds[i] = ini.ReadBool(secKinds, FileKindKeys[i], s.FileKinds[i]);
    s.IntervalText = std::to_string(ini.ReadInteger(secInterval, "Interval", 2000));
    s.LastDir = ini.ReadBool(secKinds, "LastDir", false);
    s.LastDirPath = ini.ReadString(secKinds, "LastDirPath", "");
    for (int i = 0; i < 4; ++i) s.Pics[size_t(i)] = ini.ReadBool(secPics, PicsKey(i), s.Pics[size_t(i)]);
    s.TreeWidth = ini.ReadInteger(secView, "TreeWidth", s.TreeWidth);
    s.ListWidth = ini.ReadInteger(secView, "ListWidth", s.ListWidth);
    for (size_t i = 0; i < PluginDirKeys.size(); ++i)
        s.PluginDirs[i] = ini.ReadBool(secPluginDir, PluginDirKeys[i], s.PluginDirs[i]);
    s.PluginSwitches = ini.ReadSectionValues(secPlugin);
    return s;
}

void WriteSettings(TIniFile& ini, const TSettings& s) {
    ini.WriteInteger(secPosition, "Width", s.Width);
    ini.WriteInteger(secPosition, "Height", s.Height);
    ini.WriteInteger(secPosition, "Top", s.Top);
    ini.WriteInteger(secPosition, "Left", s.Left);
    for (size_t i = 0; i < FileKindKeys.size(); ++i)
        ini.WriteBool(secKinds, FileKindKeys[i], s.FileKinds[i]);
    try {
        ini.WriteInteger(secInterval, "Interval", StrToInt(s.IntervalText));
    } catch (const EConvertError&) {
        // keep what is stored; see the header
    }
    ini.WriteBool(secKinds, "LastDir", s.LastDir);
    ini.WriteString(secKinds, "LastDirPath", s.LastDirPath);
    for (int i = 0; i < 4; ++i) ini.WriteBool(secPics, PicsKey(i), s.Pics[size_t(i)]);
    ini.WriteInteger(secView, "TreeWidth", s.TreeWidth);
    ini.WriteInteger(secView, "ListWidth", s.ListWidth);
    for (size_t i = 0; i < PluginDirKeys.size(); ++i)
        ini.WriteBool(secPluginDir, PluginDirKeys[i], s.PluginDirs[i]);
    ini.EraseSection(secPlugin);
    for (const auto& [path, checked] : s.PluginRows) ini.WriteBool(secPlugin, path, checked);
}

std::string BoundInterval(const std::string& text) {
    const long long value = StrToInt(text);
    if (value > 100000) return "100000";
    if (value < 500) return "500";
    return text;
}

std::string SettingsFilePath(const std::string& programPath) {
    const std::string folder = ExtractFilePath(programPath);
    if (!folder.empty() && ::access(folder.c_str(), W_OK) == 0)
        return ChangeFileExt(programPath, ".ini");
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
    return (config + "/pictor/pictor.ini").toStdString();
}

std::vector<TPluginRow> BuildPluginRows(const std::vector<TPluginInfo>& plugins,
                                        const std::vector<std::string>& pluginSwitches,
                                        std::vector<std::string>& pluginExts) {
    std::vector<TPluginRow> rows;
    for (const TPluginInfo& info : plugins) {
        TPluginRow row{info, true};
        for (const std::string& line : pluginSwitches) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos || !SameTextAscii(line.substr(0, eq), info.FileName))
                continue;
            row.Checked = line.back() != '0';
            break; // the first line naming the plug-in decides
        }
        if (row.Checked) {
            const size_t dot = info.FirstPattern.rfind('.');
            if (dot != std::string::npos) pluginExts.push_back(info.FirstPattern.substr(dot));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool AcceptPluginFile(unsigned osMajorVersion, const std::string& fileName) {
    return !(osMajorVersion == 5 && SameTextAscii(ExtractFileName(fileName), "ifgif.spi"));
}

std::vector<int> DisabledMediaKinds(const TMediaSupport& media) {
    std::vector<int> kinds;
    if (!media.WaveOutput)
        kinds = {FileKindIndex("wav"), FileKindIndex("mid"), FileKindIndex("mp3")};
    else if (!media.Mp3)
        kinds = {FileKindIndex("mp3")};
    return kinds;
}

} // namespace pictor
