#include "shell/ShellEnv.h"

#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace pictor {

namespace {

std::mutex EnvLock;
TShellEnvironment* Current = nullptr;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

} // namespace

TShellEnvironment TShellEnvironment::FromProcess() {
    TShellEnvironment env;
    env.HomeDir = EnvOr("HOME", "/");
    env.DataHome = EnvOr("XDG_DATA_HOME", env.HomeDir + "/.local/share");
    // Reads user-dirs.dirs (localised names such as デスクトップ) and falls back to ~/Desktop.
    env.DesktopDir = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                         .toLocal8Bit()
                         .toStdString();
    if (env.DesktopDir.empty()) env.DesktopDir = env.HomeDir + "/Desktop";
    env.Uid = ::getuid();
    return env;
}

const TShellEnvironment& ShellEnvironment() {
    std::lock_guard lock(EnvLock);
    if (!Current) Current = new TShellEnvironment(TShellEnvironment::FromProcess());
    return *Current;
}

void SetShellEnvironment(const TShellEnvironment& env) {
    std::lock_guard lock(EnvLock);
    if (!Current)
        Current = new TShellEnvironment(env);
    else
        *Current = env;
}

} // namespace pictor
