#include "app/DwgPreview.h"

#include "core/BmpCodec.h"
#include "core/ByteOrder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace pictor {

namespace {

// The fuzzer runs many inputs per second; a smaller picture cap keeps each one quick.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxPngPixels = int64_t(1) << 20;
#else
constexpr int64_t MaxPngPixels = int64_t(1) << 24;
#endif

constexpr uint64_t VersionAt = 2;
constexpr uint64_t SeekerAt = 13;
constexpr uint64_t CountFromSeeker = 20;
constexpr uint64_t SecondEntryFromSeeker = 30;
constexpr uint64_t EntrySize = 9;
constexpr uint64_t InfoHeaderSize = 40;
constexpr uint64_t FileHeaderSize = 14;
constexpr long long FirstReleaseWithPreview = 1012;

enum : uint8_t { CodeWmf = 3, CodePng = 6 };

// Random access to the drawing's bytes; Read raises EDwgReadError for anything past the end.
class TSource {
public:
    virtual ~TSource() = default;
    virtual uint64_t Size() const = 0;
    std::vector<uint8_t> Read(uint64_t at, uint64_t count) const {
        if (at > Size() || count > Size() - at) throw EDwgReadError();
        std::vector<uint8_t> out(static_cast<size_t>(count));
        if (count) Fill(at, out);
        return out;
    }

private:
    virtual void Fill(uint64_t at, std::span<uint8_t> out) const = 0;
};

class TMemorySource : public TSource {
public:
    explicit TMemorySource(std::span<const uint8_t> data) : FData(data) {}
    uint64_t Size() const override { return FData.size(); }

private:
    void Fill(uint64_t at, std::span<uint8_t> out) const override {
        std::copy_n(FData.begin() + static_cast<ptrdiff_t>(at), out.size(), out.begin());
    }
    std::span<const uint8_t> FData;
};

// Reads only the ranges asked for; drawings of recent releases run to tens of megabytes.
class TFileSource : public TSource {
public:
    // False when the path is not a regular file that can be opened for reading.
    bool Open(const std::string& path) {
        // Non-blocking, so a FIFO named *.dwg cannot stall the open; it is refused below.
        FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (FFd < 0) return false;
        struct stat st {};
        if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        FSize = static_cast<uint64_t>(st.st_size);
        return true;
    }
    ~TFileSource() override {
        if (FFd >= 0) ::close(FFd);
    }
    uint64_t Size() const override { return FSize; }

private:
    void Fill(uint64_t at, std::span<uint8_t> out) const override {
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n =
                ::pread(FFd, out.data() + done, out.size() - done, static_cast<off_t>(at + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw EDwgReadError(); // an I/O error, or the file shrank meanwhile
            done += static_cast<size_t>(n);
        }
    }
    int FFd = -1;
    uint64_t FSize = 0;
};

// The version characters for a message: printable ASCII as is, anything else as U+FFFD, so
// the message stays valid UTF-8 and shows no control characters.
std::string Printable(std::string_view raw) {
    std::string out;
    for (const char c : raw) {
        if (c >= 0x20 && c < 0x7F)
            out += c;
        else
            out += "\xEF\xBF\xBD";
    }
    return out;
}

Bitmap DecodePng(const std::vector<uint8_t>& entry) {
    auto fail = [](const std::string& why) -> Bitmap {
        throw EInvalidGraphic("The drawing's PNG preview cannot be decoded: " + why);
    };
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(entry.data()),
                                               static_cast<qsizetype>(entry.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false); // PNG or nothing
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return fail("no valid PNG header");
    if (int64_t(size.width()) * size.height() > MaxPngPixels)
        return fail("the picture size " + std::to_string(size.width()) + "x" +
                    std::to_string(size.height()) + " exceeds the supported limit");
    const QImage image = reader.read();
    if (image.isNull()) return fail(reader.errorString().toStdString());
    return Bitmap::FromQImage(image);
}

// The DIB road: a bitmap file header goes in front of the entry, and black and white of its
// colour table change places so the drawing shows dark on light.
Bitmap DecodeDib(const std::vector<uint8_t>& entry) {
    // The header fields and the colour table must lie inside the entry.
    if (entry.size() < InfoHeaderSize) throw EDwgReadError();
    const uint16_t bitCount = U16(entry, 14);
    const uint32_t compression = U32(entry, 16);
    const uint32_t colorsUsed = U32(entry, 32);
    uint64_t paletteSize;
    if (colorsUsed != 0)
        paletteSize = colorsUsed;
    else if (bitCount <= 8)
        paletteSize = uint64_t(1) << bitCount;
    else
        paletteSize = 0; // 24 bits; 16 and 32 have no table either
    if (paletteSize * 4 > entry.size() - InfoHeaderSize) throw EDwgReadError();

    uint64_t bitsOffset = FileHeaderSize + InfoHeaderSize + 4 * paletteSize;
    // 16 and 32 bits with masks keep them after the 40-byte header, before any colour table.
    if ((bitCount == 16 || bitCount == 32) && U32(entry, 0) == InfoHeaderSize) {
        if (compression == 3) bitsOffset += 12;
        if (compression == 6) bitsOffset += 16;
    }

    std::vector<uint8_t> file(FileHeaderSize + entry.size());
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    Put32(file, 10, static_cast<uint32_t>(bitsOffset));
    std::copy(entry.begin(), entry.end(), file.begin() + FileHeaderSize);
    for (uint64_t i = 0; i < paletteSize; ++i) {
        const size_t at = static_cast<size_t>(FileHeaderSize + InfoHeaderSize + 4 * i);
        const uint32_t colour = U32(file, at);
        if (colour == 0x00FFFFFF)
            Put32(file, at, 0x00000000);
        else if (colour == 0x00000000)
            Put32(file, at, 0x00FFFFFF);
    }
    return ReadBmp(file);
}

TDwgPreview ReadFrom(const TSource& source, const TDwgVersionSink& showVersion) {
    TDwgPreview result;
    const std::vector<uint8_t> digits = source.Read(VersionAt, 4);
    result.Digits.assign(digits.begin(), digits.end());
    result.VersionText = DwgVersionText(result.Digits);
    if (showVersion) showVersion(result.VersionText);
    if (StrToInt(Printable(result.Digits)) < FirstReleaseWithPreview) return result;

    const uint64_t seeker = U32(source.Read(SeekerAt, 4), 0);
    if (source.Read(seeker + CountFromSeeker, 1)[0] != 2) return result;
    const std::vector<uint8_t> second = source.Read(seeker + SecondEntryFromSeeker, EntrySize);
    const uint8_t code = second[0];
    const uint64_t start = U32(second, 1);
    const uint64_t size = U32(second, 5);
    if (start > source.Size() || size > source.Size() - start) throw EDwgReadError();
    if (code == CodeWmf) {
        result.Kind = TDwgPreviewKind::Wmf;
        return result;
    }
    if (size > MaxDwgPreviewBytes)
        throw EInvalidGraphic("The drawing's preview image is too large (" + std::to_string(size) +
                              " bytes)");
    const std::vector<uint8_t> entry = source.Read(start, size);
    if (code == CodePng) {
        result.Picture = DecodePng(entry);
        result.Kind = TDwgPreviewKind::Png;
    } else {
        result.Picture = DecodeDib(entry);
        result.Kind = TDwgPreviewKind::Bmp;
    }
    return result;
}

} // namespace

EDwgReadError::EDwgReadError() : EInOutError("ストリームからの読み込みエラー") {}

std::string DwgVersionText(std::string_view digits) {
    static constexpr std::pair<std::string_view, const char*> Releases[] = {
        {"1004", "ACAD EX-II"},        {"1005", "ACAD GX-III"},   {"1006", "ACAD GX-5"},
        {"1009", "ACAD R12"},          {"1012", "ACAD R13,LT95"}, {"1014", "ACAD R14,LT97,LT98"},
        {"1015", "ACAD R2000,LT2000"},
    };
    for (const auto& [code, text] : Releases)
        if (digits == code) return text;
    return "unknon";
}

TDwgPreview ReadDwgPreview(const std::string& path, const TDwgVersionSink& showVersion) {
    TFileSource source;
    if (!source.Open(path)) return {};
    return ReadFrom(source, showVersion);
}

TDwgPreview ReadDwgPreview(std::span<const uint8_t> data, const TDwgVersionSink& showVersion) {
    return ReadFrom(TMemorySource(data), showVersion);
}

} // namespace pictor
