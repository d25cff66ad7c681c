#pragma once

#include "core/PathRules.h"

#include <string>

namespace pictor {

struct TOsVersion {
    unsigned Major = 0, Minor = 0, Build = 0;
};

// The running kernel's version ("6.1.0-18-amd64" gives 6, 1, 0).
TOsVersion ReadOsVersion();
TOsVersion ParseOsRelease(const std::string& release);

} // namespace pictor
