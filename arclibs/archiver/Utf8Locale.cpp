#include "Utf8Locale.h"

#include <initializer_list>

namespace pictor::arc {

namespace {

locale_t Utf8() {
    // Made once and kept: a locale object in use by a thread must stay alive.
    static const locale_t loc = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
            if (locale_t l = newlocale(LC_ALL_MASK, name, locale_t(0))) return l;
        return locale_t(0);
    }();
    return loc;
}

} // namespace

TUtf8Locale::TUtf8Locale() {
    if (locale_t l = Utf8()) FPrevious = uselocale(l);
}

TUtf8Locale::~TUtf8Locale() {
    if (FPrevious) uselocale(FPrevious);
}

} // namespace pictor::arc
