// Fuzz target for the GIF logical-screen reader and the GIF sizing that follows it. The same
// bytes also go through the memo's text decoding, since a ".txt" can hold anything (a GIF
// included). Oracles: the header result agrees with a plain reading of the bytes; the shown
// GIF size never grows and fills the view when shrunk; decoded text round-trips where the
// encoding allows it and never carries NUL or CR.
#include "app/PreviewLogic.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_gif oracle failed: %s\n", what);
    std::abort();
}

void CheckHeader(std::string_view bytes) {
    const auto size = GifLogicalScreenSize(bytes);
    const bool signature =
        bytes.size() >= 10 && (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a"));
    if (!signature) {
        if (size) Broken("size without a whole header");
        return;
    }
    const auto b = [&](size_t i) { return int(static_cast<unsigned char>(bytes[i])); };
    const int w = b(6) + 256 * b(7), h = b(8) + 256 * b(9);
    if ((w == 0 || h == 0) != !size) Broken("zero side accepted or good header refused");
    if (!size) return;
    if (size->first != w || size->second != h) Broken("size differs from the header");
    // The view's width from the next bytes when there are some, else the panel's 200.
    const int cw = bytes.size() >= 12 ? b(10) + 256 * b(11) : 200;
    const TBoxSize shown = GifDisplaySize(w, h, cw);
    if (shown.Width < 0 || shown.Height < 0 || shown.Width > w || shown.Height > h)
        Broken("shown GIF larger than its screen");
    if (shown.Width != w || shown.Height != h) {
        // Shrunk: the larger side fills the view, give or take the truncation.
        const int side = std::max(shown.Width, shown.Height), view = std::max(cw, 1);
        if (side > view || side < view - 1) Broken("shrunk GIF does not fill the view");
    }
    const TBoxSize box = PictureBoxSize(w, h);
    if (box.Width > 200 || (w > 200 && box.Width != 200)) Broken("picture box wider than 200");
}

// The input with the decoder's line and NUL rules applied, for comparing round trips.
std::string Normalised(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else if (s[i] == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            out += s[i];
        }
    }
    return out;
}

QString ExpectedLatin1(std::string_view s) {
    QString out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += u'\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else if (s[i] == '\0') {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += QChar(static_cast<unsigned char>(s[i]));
        }
    }
    return out;
}

void CheckText(std::string_view bytes, bool truncated) {
    const TTextPreview p = DecodeTextPreview(bytes, truncated);
    if (p.ShownBytes > bytes.size()) Broken("shown more bytes than given");
    if (!truncated && p.Encoding != TTextEncoding::Utf16LE &&
        p.Encoding != TTextEncoding::Utf16BE && p.ShownBytes != bytes.size())
        Broken("an untruncated text lost bytes");
    if (p.Text.contains(QChar(0)) || p.Text.contains(u'\r')) Broken("NUL or CR left in the text");
    std::string_view used = bytes.substr(0, size_t(p.ShownBytes));
    switch (p.Encoding) {
    case TTextEncoding::Utf8:
        if (used.starts_with("\xEF\xBB\xBF")) break; // a marked file may still be broken
        if (p.Text.toUtf8().toStdString() != Normalised(used)) Broken("UTF-8 does not round-trip");
        break;
    case TTextEncoding::Latin1:
        if (p.Text != ExpectedLatin1(used)) Broken("Latin-1 text is not byte for byte");
        break;
    case TTextEncoding::ShiftJis:
        if (p.Text.count(QChar(QChar::ReplacementCharacter)) !=
            qsizetype(std::count(used.begin(), used.end(), '\0')))
            Broken("Shift_JIS accepted bytes it cannot decode");
        break;
    default:
        break;
    }
    // Another decoder chosen over UTF-8 only for bytes that really are not UTF-8.
    if (!truncated && p.Encoding != TTextEncoding::Utf8 && !bytes.starts_with("\xEF\xBB\xBF")) {
        const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
        if (QString::fromUtf8(raw).toUtf8() == raw) Broken("valid UTF-8 refused");
    }
    const TTextPreview again = DecodeTextPreview(bytes, truncated);
    if (again.Text != p.Text || again.Encoding != p.Encoding) Broken("second decode differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckHeader(bytes);
    CheckText(bytes, false);
    CheckText(bytes, true);
    return 0;
}
