#pragma once

#include <locale.h>

namespace pictor::arc {

// libarchive converts names to the calling thread's locale; under "C" it refuses every
// non-ASCII name (an LHA archive with a CP932 name then fails as a whole). While one of these
// lives, the thread runs in C.UTF-8, so names come out as UTF-8 whatever the program's locale.
class TUtf8Locale {
public:
    TUtf8Locale();
    ~TUtf8Locale();
    TUtf8Locale(const TUtf8Locale&) = delete;
    TUtf8Locale& operator=(const TUtf8Locale&) = delete;

private:
    locale_t FPrevious = nullptr;
};

} // namespace pictor::arc
