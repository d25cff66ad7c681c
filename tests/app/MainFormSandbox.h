#pragma once

// Main-window options for tests in a sandboxed home: the settings file in the sandbox, media
// assumed present, no plug-ins of the machine, and the folder to start in.
#include "app/forms/Main.h"
#include "shell/ShellTestSupport.h"

#include <string>
#include <vector>

namespace pictor_test {

inline pictor::TMainFormOptions SandboxFormOptions(const TShellSandbox& box,
                                                   std::vector<std::string> args) {
    pictor::TMainFormOptions o;
    o.SettingsPath = (box.Root.path / "pictor.ini").string();
    o.MediaProbe = [] { return pictor::TMediaSupport{true, true}; };
    o.AppDir = o.SystemDir = o.WindowsDir = (box.Root.path / "none").string();
    o.Arguments = std::move(args);
    return o;
}

} // namespace pictor_test
