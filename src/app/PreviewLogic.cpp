#include "app/PreviewLogic.h"

#include "app/Settings.h"
#include "core/Exception.h"
#include "core/FileIO.h"
#include "core/NumberFormat.h"
#include "core/PathRules.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

namespace pictor {

namespace {
constexpr int Key(const char* key) {
    for (int i = 0; i < int(FileKindKeys.size()); ++i)
        if (std::string_view(FileKindKeys[size_t(i)]) == key) return i;
    throw "unknown file-kind key"; // a compile-time error inside the constant table below
}
using K = TPreviewKind;
using L = TArchiveLib;
} // namespace

// Rows in the order they are tried; ".jpeg" has its own switch, ".mpeg" shares ".mpg"'s and
// ".tbz"/".tgz" share ".tar"'s.
constexpr std::array<TFileKindRow, 26> FileKindTable = {{
    {".dwg", Key("dwg"), K::Dwg, L::Lha},      {".jpg", Key("jpg"), K::Jpeg, L::Lha},
    {".jpeg", Key("jpeg"), K::Jpeg, L::Lha},   {".bmp", Key("bmp"), K::Bitmap, L::Lha},
    {".dib", Key("dib"), K::Bitmap, L::Lha},   {".ico", Key("ico"), K::Icon, L::Lha},
    {".wmf", Key("wmf"), K::Metafile, L::Lha}, {".emf", Key("emf"), K::Metafile, L::Lha},
    {".txt", Key("txt"), K::Text, L::Lha},     {".log", Key("log"), K::Text, L::Lha},
    {".ini", Key("ini"), K::Text, L::Lha},     {".htm", Key("htm"), K::Html, L::Lha},
    {".html", Key("html"), K::Html, L::Lha},   {".gif", Key("gif"), K::Gif, L::Lha},
    {".lzh", Key("lzh"), K::Archive, L::Lha},  {".zip", Key("zip"), K::Archive, L::Zip},
    {".cab", Key("cab"), K::Archive, L::Cab},  {".tar", Key("tar"), K::Archive, L::Tar},
    {".tbz", Key("tar"), K::Archive, L::Tar},  {".tgz", Key("tar"), K::Archive, L::Tar},
    {".avi", Key("avi"), K::Media, L::Lha},    {".mpg", Key("mpg"), K::Media, L::Lha},
    {".mpeg", Key("mpg"), K::Media, L::Lha},   {".wav", Key("wav"), K::Media, L::Lha},
    {".mid", Key("mid"), K::Media, L::Lha},    {".mp3", Key("mp3"), K::Media, L::Lha},
}};

TPreviewChoice ChoosePreview(const std::string& path, const std::array<bool, 23>& switches,
                             const std::vector<std::string>& pluginExts) {
    TPreviewChoice choice;
    choice.Ext = AsciiLower(ExtractFileExt(path));
    if (choice.Ext.empty()) return choice;
    for (size_t i = 0; i < FileKindTable.size(); ++i) {
        const TFileKindRow& row = FileKindTable[i];
        if (choice.Ext == row.Ext && switches[size_t(row.Switch)]) {
            choice.Kind = row.Kind;
            choice.Lib = row.Lib;
            choice.Row = int(i);
            return choice;
        }
    }
    for (const std::string& ext : pluginExts)
        if (SameTextAscii(ext, choice.Ext)) {
            choice.Kind = TPreviewKind::Plugin;
            break;
        }
    return choice;
}

TBoxSize PictureBoxSize(int width, int height) {
    if (width < 1 || height < 1) return {};
    if (width <= 200 && height <= 150) return {width, height};
    const long long h = static_cast<long long>(height) * 200 / width;
    return {200, int(std::min<long long>(h, INT_MAX))};
}

std::string DimensionText(int width, int height) {
    return "W " + std::to_string(width) + " × H " + std::to_string(height) + " pixel";
}

TBoxSize GifDisplaySize(int width, int height, int clientWidth) {
    const int w = std::max(width, 0), h = std::max(height, 0);
    const int cw = std::max(clientWidth, 1);
    if (w <= 200 && h <= 200) return {w, h};
    if (w < cw && h < cw) return {w, h};
    const double r = std::max(double(w) / cw, double(h) / cw);
    return {int(std::trunc(w / r)), int(std::trunc(h / r))};
}

TBoxSize WebCaptureSize(int scrollWidth, int scrollHeight) {
    if (scrollWidth < 500 || scrollHeight < 500) return {600, 600};
    // Both are at least 500 here, so the sums are positive; long long keeps them exact.
    const long long w = static_cast<long long>(scrollWidth) + 100;
    const long long h = static_cast<long long>(std::min(scrollWidth, scrollHeight)) + 100;
    return {int(std::min<long long>(w, WebCaptureMaxSide)),
            int(std::min<long long>(h, WebCaptureMaxSide))};
}

TMediaControls MediaControlsFor(const std::string& path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    return {true, true, ext == ".avi" || ext == ".mpg" || ext == ".mpeg"};
}

std::optional<int> TrackBarJumpPosition(const TTrackBarGeometry& bar, int x) {
    if (x > bar.ThumbLeft && x < bar.ThumbRight) return std::nullopt;
    const long long room =
        static_cast<long long>(bar.ChannelRight) - bar.ThumbWidth / 2 - bar.ChannelLeft;
    if (room <= 0) return std::nullopt;
    const float offset = float(static_cast<long long>(x) - bar.ChannelLeft);
    const float range = float(static_cast<long long>(bar.Maximum) - bar.Minimum);
    const float pos = std::nearbyint(offset * range / float(room));
    // Held in the float domain first: converting an out-of-range float to int is undefined.
    const float lo = float(bar.Minimum), hi = float(bar.Maximum);
    if (!(pos > lo)) return bar.Minimum;
    if (!(pos < hi)) return bar.Maximum;
    return int(pos);
}

std::optional<std::pair<int, int>> GifLogicalScreenSize(std::string_view bytes) {
    if (bytes.size() < 10) return std::nullopt;
    const std::string_view sig = bytes.substr(0, 6);
    if (sig != "GIF87a" && sig != "GIF89a") return std::nullopt;
    auto u16 = [&](size_t at) {
        return int(static_cast<unsigned char>(bytes[at])) |
               int(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    const int w = u16(6), h = u16(8);
    if (w == 0 || h == 0) return std::nullopt;
    return std::pair{w, h};
}

namespace {

unsigned char Byte(std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}

// Whether bytes are strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
// tail receives the length of a sequence cut off by the end of the bytes (0 when none); such
// bytes do not count as invalid.
bool CheckUtf8(std::string_view s, size_t& tail) {
    tail = 0;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = Byte(s, i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        for (size_t k = 1; k < len; ++k) {
            if (i + k == s.size()) {
                tail = k;
                return true;
            }
            const unsigned char t = Byte(s, i + k);
            if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

// Whether bytes follow the structure of code page 932: single bytes 00–7F and A1–DF, double
// bytes with a lead of 81–9F or E0–FC and a trail of 40–7E or 80–FC. tail is 1 when the
// bytes end with a lead byte.
bool CheckCp932Structure(std::string_view s, size_t& tail) {
    tail = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = Byte(s, i);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) continue;
        if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) return false;
        if (i + 1 == s.size()) {
            tail = 1;
            return true;
        }
        const unsigned char t = Byte(s, ++i);
        if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
    }
    return true;
}

// "\r\n" and "\r" become "\n"; NUL becomes U+FFFD so binary content stays visible text.
QString NormaliseText(const QString& in) {
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < in.size() && in[i + 1] == u'\n') ++i;
        } else if (c.unicode() == 0) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

// UTF-16 after its byte order mark; `s` loses a unit (or surrogate half) cut by the limit.
QString DecodeUtf16(std::string_view& s, bool bigEndian, bool truncated) {
    if (truncated) {
        if (s.size() % 2) s.remove_suffix(1);
        if (s.size() >= 2) {
            const unsigned high = bigEndian ? Byte(s, s.size() - 2) : Byte(s, s.size() - 1);
            if (high >= 0xD8 && high <= 0xDB) s.remove_suffix(2);
        }
    }
    QStringDecoder dec(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                       QStringConverter::Flag::Stateless);
    return dec.decode(QByteArrayView(s.data(), qsizetype(s.size())));
}

} // namespace

TTextPreview DecodeTextPreview(std::string_view bytes, bool truncated) {
    TTextPreview p;
    p.FileSize = bytes.size();
    p.Truncated = truncated;
    auto finish = [&](TTextEncoding enc, std::string_view used, const QString& text) {
        p.Encoding = enc;
        p.Text = NormaliseText(text);
        p.ShownBytes = used.size();
        return p;
    };
    const auto view = [](std::string_view s) {
        return QByteArrayView(s.data(), qsizetype(s.size()));
    };

    if (bytes.starts_with("\xEF\xBB\xBF")) {
        std::string_view s = bytes.substr(3);
        size_t tail = 0;
        CheckUtf8(s, tail);
        if (truncated) s.remove_suffix(tail);
        return finish(TTextEncoding::Utf8, bytes.substr(0, 3 + s.size()),
                      QString::fromUtf8(view(s)));
    }
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        const bool be = Byte(bytes, 0) == 0xFE;
        std::string_view s = bytes.substr(2);
        const QString text = DecodeUtf16(s, be, truncated);
        return finish(be ? TTextEncoding::Utf16BE : TTextEncoding::Utf16LE,
                      bytes.substr(0, 2 + s.size()), text);
    }
    size_t tail = 0;
    if (CheckUtf8(bytes, tail) && (tail == 0 || truncated)) {
        const std::string_view s = bytes.substr(0, bytes.size() - tail);
        return finish(TTextEncoding::Utf8, s, QString::fromUtf8(view(s)));
    }
    if (CheckCp932Structure(bytes, tail) && (tail == 0 || truncated)) {
        const std::string_view s = bytes.substr(0, bytes.size() - tail);
        // ICU's table also refuses the unassigned codes within the structure.
        QStringDecoder dec("windows-31j", QStringConverter::Flag::Stateless);
        if (dec.isValid()) {
            const QString text = dec.decode(view(s));
            if (!dec.hasError()) return finish(TTextEncoding::ShiftJis, s, text);
        }
    }
    return finish(TTextEncoding::Latin1, bytes, QString::fromLatin1(view(bytes)));
}

QString TTextPreview::MemoText() const {
    return Note.isEmpty() ? Text : Note + u'\n' + Text;
}

TTextPreview LoadTextPreview(const std::string& path, std::size_t limit) {
    const TFileHead head = ReadFileHead(path, limit);
    TTextPreview p = DecodeTextPreview(head.Bytes, head.Truncated);
    p.FileSize = head.FileSize;
    if (p.Truncated) {
        const long double totalKb = static_cast<long double>((head.FileSize + 1023) / 1024);
        const long double shownKb = static_cast<long double>(head.Bytes.size() / 1024);
        p.Note = QString::fromUtf8("（全 " + FormatFloat("#,##0", totalKb) + " KB のうち先頭 " +
                                   FormatFloat("#,##0", shownKb) + " KB を表示）");
    }
    return p;
}

std::optional<std::pair<int, int>> ReadGifLogicalScreenSize(const std::string& path) {
    return GifLogicalScreenSize(ReadFileHead(path, 10).Bytes);
}

} // namespace pictor
