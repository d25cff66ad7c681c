#include "NameText.h"

#include <cstdint>
#include <iconv.h>

namespace pictor::arc {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) return 1;
    size_t extra;
    uint32_t min;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i <= extra) return 0;
    for (size_t k = 1; k <= extra; ++k) {
        const auto t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return extra + 1;
}

bool IsSjisLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::optional<std::string> Cp932ToUtf8(std::string_view bytes) {
    // glibc's table, the one libarchive uses for the LHA names, so every format agrees.
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(bytes.size() * 3 + 4, '\0');
    char* src = const_cast<char*>(bytes.data());
    size_t srcLeft = bytes.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r != 0 || srcLeft != 0) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

std::string DecodeRawName(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    if (auto cp932 = Cp932ToUtf8(bytes)) return *cp932;
    std::string out;
    out.reserve(bytes.size() + 8);
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8SequenceLength(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string DecodeLatin1LhaName(std::string_view utf8) {
    std::string raw;
    raw.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            raw += char(c);
            ++i;
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            raw += char(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            i += 2;
        } else {
            raw += char(c); // not ISO-8859-1 text after all; keep the byte
            ++i;
        }
    }
    if (IsValidUtf8(raw)) return raw;
    std::string repaired = raw;
    for (size_t i = 0; i + 1 < repaired.size(); ++i) {
        if (!IsSjisLead(static_cast<unsigned char>(repaired[i]))) continue;
        if (repaired[i + 1] == '/') repaired[i + 1] = '\\';
        ++i; // the trail byte
    }
    if (auto cp932 = Cp932ToUtf8(repaired)) return *cp932;
    return DecodeRawName(raw);
}

std::string SlashSeparators(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

size_t Utf8Prefix(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the sequence that would be cut.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

std::string PrintableName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

} // namespace pictor::arc
