#include "core/Exception.h"

#include <cerrno>
#include <cstdlib>

namespace pictor {

std::string FormatMessage(const std::string& templ, std::initializer_list<std::string> args) {
    std::string out;
    auto it = args.begin();
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 's' && it != args.end()) {
            out += *it++;
            ++i;
        } else {
            out += templ[i];
        }
    }
    return out;
}

long long StrToInt(const std::string& text) {
    auto fail = [&]() -> long long {
        throw EConvertError(FormatMessage("'%s' は整数ではありません", {text}));
    };
    if (text.empty()) return fail();
    size_t i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    bool hex = false;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return fail();
    unsigned long long value = 0;
    const unsigned base = hex ? 16 : 10;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned d;
        if (c >= '0' && c <= '9') d = unsigned(c - '0');
        else if (hex && c >= 'a' && c <= 'f') d = unsigned(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F') d = unsigned(c - 'A' + 10);
        else return fail();
        if (value > (0xFFFFFFFFFFFFFFFFull - d) / base) return fail();
        value = value * base + d;
    }
    if (!hex && value > (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull)) return fail();
    return negative ? static_cast<long long>(0 - value) : static_cast<long long>(value);
}

} // namespace pictor
