#include "lha/NameCodec.h"

#include <cerrno>
#include <iconv.h>

// Why glibc iconv and not ICU: the archives we write are read back on this system through
// libarchive (our own archiver libraries, bsdtar), and libarchive converts CP932 names with
// iconv. ICU's CP932 table differs from glibc's for a few characters (WAVE DASH and its
// neighbours map to different code points), so an ICU-encoded name could come back as a
// different name. Checking the round trip with the same tables the readers use guarantees
// that a name we store as CP932 is extracted exactly as it was given.

namespace pictor::lha {

namespace {

std::optional<std::string> Convert(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const size_t flushed = r == size_t(-1) ? r : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    // Irreversible conversions (r > 0) mean a character was substituted: not a faithful name.
    if (r != 0 || flushed == size_t(-1) || srcLeft != 0) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace

bool IsValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= size_t(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + size_t(k)] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (p[i + size_t(k)] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += size_t(extra) + 1;
    }
    return true;
}

std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
    return Convert("UTF-8", "CP932", bytes);
}

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return Convert("CP932", "UTF-8", utf8);
}

std::optional<TEncodedName> EncodeName(const std::string& utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    bool ascii = true;
    for (unsigned char c : utf8) ascii = ascii && c < 0x80;
    if (ascii) return TEncodedName{utf8, 0};
    if (auto cp932 = Utf8ToCp932(utf8)) {
        const auto back = Cp932ToUtf8(*cp932);
        if (back && *back == utf8) return TEncodedName{std::move(*cp932), kCodePageCp932};
    }
    return TEncodedName{utf8, kCodePageUtf8};
}

} // namespace pictor::lha
