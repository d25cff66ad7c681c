#include "app/SystemInfo.h"

#include <climits>
#include <sys/utsname.h>
#include <unistd.h>

namespace pictor {

TOsVersion ParseOsRelease(const std::string& release) {
    unsigned parts[3] = {0, 0, 0};
    size_t i = 0;
    for (int n = 0; n < 3 && i < release.size(); ++n) {
        unsigned long v = 0;
        bool any = false;
        while (i < release.size() && release[i] >= '0' && release[i] <= '9') {
            v = v * 10 + unsigned(release[i] - '0');
            if (v > UINT_MAX) v = UINT_MAX;
            any = true;
            ++i;
        }
        if (!any) break;
        parts[n] = unsigned(v);
        if (i < release.size() && release[i] == '.') ++i;
        else break;
    }
    return {parts[0], parts[1], parts[2]};
}

TOsVersion ReadOsVersion() {
    struct utsname u{};
    if (::uname(&u) != 0) return {};
    return ParseOsRelease(u.release);
}

} // namespace pictor
