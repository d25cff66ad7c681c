#include "plugins/SPIBmp.h"

#include "core/BmpCodec.h"
#include "core/ByteOrder.h"
#include "core/PathRules.h"
#include "core/PictureFormats.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pictor {

namespace {

const char* const CouldNotDecode = "Susie Plugins could not decode";

// Header bytes handed to IsSupported: 2048 for the plug-in plus room for a MacBinary header.
constexpr size_t HeaderBufferSize = 2048 + 128;
constexpr int64_t MacBinaryHeaderSize = 128;

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr size_t InfoHeaderSize = 40;
constexpr size_t MaskBytes = 12;
constexpr size_t FileHeaderSize = 14;

// The fuzzer runs many inputs per second; the BMP reader uses the same smaller cap there.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t MaxDibPixels = int64_t(1) << 20;
#else
constexpr int64_t MaxDibPixels = Bitmap::MaxPixels;
#endif

void Put32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(v >> (8 * i));
}

std::string ErrorText(int err) {
    return std::strerror(err);
}

[[noreturn]] void BadDib(const std::string& reason) {
    throw EInvalidGraphic("The plug-in's bitmap is not valid: " + reason);
}

// Reads the rest of a stream in chunks, so that a stream that lies about its size cannot make
// us allocate for the lie; more than limit bytes raise EInOutError.
std::vector<uint8_t> ReadRest(TStream& stream, uint64_t limit) {
    std::vector<uint8_t> bytes;
    constexpr size_t Chunk = 64 * 1024;
    for (;;) {
        const size_t at = bytes.size();
        bytes.resize(at + Chunk);
        const size_t n = stream.Read(bytes.data() + at, Chunk);
        bytes.resize(at + n);
        if (bytes.size() > limit)
            throw EInOutError("The stream is larger than " + std::to_string(limit >> 20) + " MiB");
        if (n == 0) return bytes;
    }
}

// Frees a block the plug-in allocated.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using TBlock = std::unique_ptr<void, FreeDeleter>;

} // namespace

// ---------------------------------------------------------------------------------------------
// Streams

TMemoryStream::TMemoryStream(std::span<const uint8_t> view) : FView(view) {}

std::span<const uint8_t> TMemoryStream::Data() const {
    return FView ? *FView : std::span<const uint8_t>(FOwned);
}

void TMemoryStream::SetPosition(int64_t position) {
    if (position < 0 || position > Size())
        throw EInOutError("Stream position " + std::to_string(position) + " is out of range");
    FPosition = position;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    const std::span<const uint8_t> data = Data();
    const size_t n = std::min(count, data.size() - size_t(FPosition));
    if (n) std::memcpy(buffer, data.data() + FPosition, n);
    FPosition += int64_t(n);
    return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
    if (FView) throw EInOutError("The memory stream is read-only");
    if (count == 0) return;
    const size_t end = size_t(FPosition) + count;
    if (end < count) throw EInOutError("The memory stream cannot grow that large");
    if (end > FOwned.size()) FOwned.resize(end);
    std::memcpy(FOwned.data() + FPosition, buffer, count);
    FPosition = int64_t(end);
}

std::vector<uint8_t> TMemoryStream::TakeBytes() {
    std::vector<uint8_t> bytes = std::move(FOwned);
    FOwned.clear();
    FView.reset();
    FPosition = 0;
    return bytes;
}

TFileStream::TFileStream(const std::string& fileName) : FFileName(fileName) {
    // Non-blocking open and the regular-file check keep a FIFO or device from stalling us.
    FFd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    int err = FFd < 0 ? errno : 0;
    struct stat st {};
    if (!err && ::fstat(FFd, &st) != 0) err = errno;
    if (!err && !S_ISREG(st.st_mode)) err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (err) {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
        throw EInOutError("Cannot open file \"" + fileName + "\": " + ErrorText(err));
    }
}

TFileStream::~TFileStream() {
    if (FFd >= 0) ::close(FFd);
}

int64_t TFileStream::Size() const {
    struct stat st {};
    if (::fstat(FFd, &st) != 0)
        throw EInOutError("Cannot read file \"" + FFileName + "\": " + ErrorText(errno));
    return int64_t(st.st_size);
}

void TFileStream::SetPosition(int64_t position) {
    if (position < 0 || position > Size())
        throw EInOutError("Stream position " + std::to_string(position) + " is out of range");
    FPosition = position;
}

size_t TFileStream::Read(void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(FFd, static_cast<char*>(buffer) + done, count - done,
                                  off_t(FPosition + int64_t(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EInOutError("Cannot read file \"" + FFileName + "\": " + ErrorText(errno));
        if (n == 0) break;
        done += size_t(n);
    }
    FPosition += int64_t(done);
    return done;
}

void TFileStream::Write(const void*, size_t) {
    throw EInOutError("Cannot write file \"" + FFileName + "\": it is open for reading");
}

// ---------------------------------------------------------------------------------------------
// Progress arithmetic and the DIB checks

uint8_t SpiProgressPercent(int32_t numerator, int32_t denominator) {
    // Unsigned multiplication wraps like the 32-bit machine product; the 64-bit division cannot
    // trap on INT32_MIN / -1, and its result is taken back modulo 2^32.
    const int32_t product = int32_t(uint32_t(numerator) * 97u);
    const int32_t quotient = denominator == 0 ? 0 : int32_t(int64_t(product) / denominator);
    return uint8_t(uint32_t(quotient) + 2u);
}

TSPIDibLayout AnalyseSPIDib(std::span<const uint8_t> info, size_t pixelBlockSize) {
    if (info.size() < InfoHeaderSize)
        BadDib("the info block has " + std::to_string(info.size()) +
               " bytes, too few for a 40-byte header");
    const uint32_t headerSize = U32(info, 0);
    if (headerSize != InfoHeaderSize)
        BadDib("the info header size is " + std::to_string(headerSize) + ", not 40");
    const int64_t width = int32_t(U32(info, 4));
    int64_t height = int32_t(U32(info, 8));
    const unsigned planes = U16(info, 12);
    const int bpp = U16(info, 14);
    const uint32_t compression = U32(info, 16);
    const uint32_t clrUsed = U32(info, 32);

    if (planes != 1) BadDib("the plane count is " + std::to_string(planes) + ", not 1");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        BadDib("unsupported bit count " + std::to_string(bpp));
    const bool bitfields = compression == BI_BITFIELDS && (bpp == 16 || bpp == 32);
    if (compression != BI_RGB && !bitfields)
        BadDib("compression type " + std::to_string(compression) + " with " + std::to_string(bpp) +
               " bits per pixel is not supported");
    if (width <= 0) BadDib("invalid width " + std::to_string(width));
    // INT32_MIN has no positive counterpart: the DIB rules exclude it.
    if (height == 0 || height == INT32_MIN) BadDib("invalid height " + std::to_string(height));
    const int64_t rows = height < 0 ? -height : height;
    if (width > Bitmap::MaxSide || rows > Bitmap::MaxSide || width * rows > MaxDibPixels)
        BadDib("the picture size " + std::to_string(width) + "x" + std::to_string(rows) +
               " exceeds the supported limit");

    const uint64_t colors = clrUsed ? clrUsed : bpp <= 8 ? uint64_t(1) << bpp : 0;
    if (colors > 256) BadDib(std::to_string(colors) + " colours are more than 256");
    const uint64_t infoSize = InfoHeaderSize + (bitfields ? MaskBytes : 0) + 4 * colors;
    if (infoSize > info.size())
        BadDib("the info block has " + std::to_string(info.size()) + " bytes, the header needs " +
               std::to_string(infoSize));
    const uint64_t stride = (uint64_t(width) * uint64_t(bpp) + 31) / 32 * 4;
    const uint64_t imageSize = stride * uint64_t(rows);
    if (imageSize > pixelBlockSize)
        BadDib("the pixel block has " + std::to_string(pixelBlockSize) +
               " bytes, the header needs " + std::to_string(imageSize));

    TSPIDibLayout layout;
    layout.Width = int32_t(width);
    layout.Height = int32_t(height);
    layout.BitCount = bpp;
    layout.Compression = compression;
    layout.ColorCount = uint32_t(colors);
    layout.InfoSize = size_t(infoSize);
    layout.Stride = size_t(stride);
    layout.ImageSize = size_t(imageSize);
    return layout;
}

void WriteSPIDibBmp(const TSPIDibLayout& layout, std::span<const uint8_t> info,
                    std::span<const uint8_t> pixels, TStream& stream) {
    if (info.size() < layout.InfoSize || pixels.size() < layout.ImageSize)
        throw EInvalidGraphic("The plug-in's bitmap blocks are smaller than their layout");
    // Both sizes are far below 4 GiB: the picture is capped at MaxPixels.
    const uint64_t fileSize = FileHeaderSize + uint64_t(layout.InfoSize) + layout.ImageSize;
    uint8_t header[FileHeaderSize] = {'B', 'M'};
    Put32(header + 2, uint32_t(fileSize));
    Put32(header + 10, uint32_t(FileHeaderSize + layout.InfoSize));
    stream.Write(header, sizeof header);
    stream.Write(info.data(), layout.InfoSize);
    stream.Write(pixels.data(), layout.ImageSize);
}

Bitmap SPIDibToBitmap(std::span<const uint8_t> info, std::span<const uint8_t> pixels) {
    const TSPIDibLayout layout = AnalyseSPIDib(info, pixels.size());
    TMemoryStream image;
    WriteSPIDibBmp(layout, info, pixels, image);
    return ReadBmp(image.Data());
}

// ---------------------------------------------------------------------------------------------
// TInSPIAbleData

TInSPIAbleData::TInSPIAbleData(TSPIGraphic* owner, std::string fileName)
    : FFileName(std::move(fileName)), FOwner(owner) {}

TInSPIAbleData::~TInSPIAbleData() {
    Release();
}

void TInSPIAbleData::Release() {
    std::free(FInfo);
    std::free(FPixels);
    std::free(FPictureInfo.info_text);
    FInfo = FPixels = nullptr;
    FInfoSize = FPixelSize = 0;
    FPictureInfo.info_text = nullptr;
    FLayout = {};
}

std::span<const uint8_t> TInSPIAbleData::InfoBlock() const {
    return {static_cast<const uint8_t*>(FInfo), FInfo ? FInfoSize : 0};
}

std::span<const uint8_t> TInSPIAbleData::PixelBlock() const {
    return {static_cast<const uint8_t*>(FPixels), FPixels ? FPixelSize : 0};
}

void TInSPIAbleData::Report(TProgressStage stage, uint8_t percent, const std::string& message) {
    // Only the ending report asks for a redraw; the rectangle is always empty.
    if (OnProgress && FOwner)
        OnProgress(*FOwner, stage, percent, stage == TProgressStage::psEnding, {}, message);
}

int32_t TInSPIAbleData::ProgressCallback(int32_t num, int32_t denom, intptr_t data) {
    // Runs inside the plug-in: nothing may propagate out of it. A handler's error other than
    // EAbort is kept and raised again once the plug-in has returned.
    auto* self = reinterpret_cast<TInSPIAbleData*>(data);
    if (!self || !self->OnProgress || !self->FOwner) return 0;
    if (self->FHandlerError) return 1;
    try {
        self->OnProgress(*self->FOwner, TProgressStage::psRunning, SpiProgressPercent(num, denom),
                         false, {}, "");
        return 0;
    } catch (const EAbort&) {
        return 1;
    } catch (...) {
        self->FHandlerError = std::current_exception();
        return 1;
    }
}

void TInSPIAbleData::CallPictureInfo(PictorGetPictureInfoFn fn, const char* buf, intptr_t len,
                                     uint32_t flag) {
    std::free(FPictureInfo.info_text);
    FPictureInfo = {};
    PictorPictureInfo record{};
    const int32_t result = fn(buf, len, flag, &record);
    FPictureInfo = record; // the text is ours to free whatever the result
    FInfoValid = result == 0;
}

void TInSPIAbleData::CallPicture(TPictureCall fn, const char* buf, intptr_t len, uint32_t flag) {
    void* info = nullptr;
    void* pixels = nullptr;
    FHandlerError = nullptr;
    const int32_t result = fn(buf, len, flag, &info, &pixels, &TInSPIAbleData::ProgressCallback,
                              reinterpret_cast<intptr_t>(this));
    // One block handed over twice must be freed once.
    if (info == pixels) pixels = nullptr;
    if (FPictureInfo.info_text == info || FPictureInfo.info_text == pixels)
        FPictureInfo.info_text = nullptr;
    TBlock infoBlock(info), pixelBlock(pixels);
    if (FHandlerError) std::rethrow_exception(std::exchange(FHandlerError, nullptr));
    if (result != 0 || !infoBlock || !pixelBlock) return;

    // The blocks come from malloc (the plug-in ABI), so their usable sizes bound what may be
    // read; the header must fit them, or the picture counts as not returned.
    const size_t infoSize = ::malloc_usable_size(infoBlock.get());
    const size_t pixelSize = ::malloc_usable_size(pixelBlock.get());
    TSPIDibLayout layout;
    try {
        layout = AnalyseSPIDib({static_cast<const uint8_t*>(infoBlock.get()), infoSize}, pixelSize);
    } catch (const EInvalidGraphic&) {
        return;
    }
    std::free(FInfo);
    std::free(FPixels);
    FInfo = infoBlock.release();
    FPixels = pixelBlock.release();
    FInfoSize = infoSize;
    FPixelSize = pixelSize;
    FLayout = layout;
}

namespace {

// Whether spi is still a plug-in of the registry spis (a progress handler may have removed it,
// or the registry itself, while the candidates were being tried).
bool StillRegistered(const TSPIs* spis, const TSPI* spi) {
    if (!spis || TSPIs::Current() != spis) return false;
    for (int i = 0; i < spis->Count(); ++i)
        if (&spis->Items(i) == spi) return true;
    return false;
}

} // namespace

bool TInSPIAbleData::Decode() {
    bool decoded = false;
    try {
        Report(TProgressStage::psStarting, 0, "Loading Graphic by Susie Plugin");
        Release();
        Report(TProgressStage::psRunning, 1, "Seeking enabled Susie Plugins");

        TSPIs* const spis = TSPIs::Current();
        std::vector<TSPI*> candidates;
        if (spis) {
            if (spis->GraphicForcedLoader)
                candidates.push_back(spis->GraphicForcedLoader);
            else
                spis->GetCandidates<TInSPI>(candidates, FFileName);
        }

        uint8_t header[HeaderBufferSize] = {};
        ReadHeader(header, sizeof header);

        std::vector<int64_t> offsets{0};
        if (spis && spis->MacBinary) offsets.push_back(MacBinaryHeaderSize);

        for (TSPI* candidate : candidates) {
            for (const int64_t offset : offsets) {
                if (!StillRegistered(spis, candidate)) break;
                auto& spi = static_cast<TInSPI&>(*candidate);
                Report(TProgressStage::psRunning, 1,
                       FormatMessage("Loading by [%s]", {ExtractFileName(spi.FileName())}));
                if (!StillRegistered(spis, candidate)) break;
                const PictorIsSupportedFn isSupported =
                    spi.Required(spi.IsSupported(), "IsSupported");
                if (isSupported(FFileName.c_str(), header + offset) == 0) continue;
                GetPictureInfo(spi, offset);
                bool done = false;
                if (spis->GraphicPreview) {
                    GetPreview(spi, offset);
                    done = HasPicture();
                }
                if (!done) GetPicture(spi, offset);
                if (HasPicture()) {
                    decoded = true;
                    break;
                }
                Release();
            }
            if (decoded) break;
        }
    } catch (...) {
        Release();
        Report(TProgressStage::psEnding, 100, "Loaded Graphic by Susie Plugin");
        throw;
    }
    Report(TProgressStage::psEnding, 100, "Loaded Graphic by Susie Plugin");
    return decoded;
}

// ---------------------------------------------------------------------------------------------
// Decode sources

void TInSPIAbleFromFile::ReadHeader(uint8_t* buffer, size_t size) {
    // A file that cannot be read leaves the buffer as it was; so does a FIFO or device, which
    // could otherwise block (hence O_NONBLOCK and the regular-file check).
    const int fd = ::open(FileName().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const size_t want = size_t(std::min<uint64_t>(uint64_t(st.st_size), size));
        std::vector<uint8_t> bytes(want);
        size_t got = 0;
        bool failed = false;
        while (got < want) {
            const ssize_t n = ::read(fd, bytes.data() + got, want - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failed = true;
            if (n <= 0) break;
            got += size_t(n);
        }
        // A file that shrank while being read gives what it still had.
        if (!failed) std::memcpy(buffer, bytes.data(), got);
    }
    ::close(fd);
}

void TInSPIAbleFromFile::GetPictureInfo(TInSPI& spi, int64_t offset) {
    CallPictureInfo(spi.Required(spi.GetPictureInfo(), "GetPictureInfo"), FileName().c_str(),
                    intptr_t(offset), PICTOR_SPI_INPUT_FILE);
}

void TInSPIAbleFromFile::GetPreview(TInSPI& spi, int64_t offset) {
    if (!spi.GetPreview()) return; // no preview export: GetPicture is used
    CallPicture(spi.GetPreview(), FileName().c_str(), intptr_t(offset), PICTOR_SPI_INPUT_FILE);
}

void TInSPIAbleFromFile::GetPicture(TInSPI& spi, int64_t offset) {
    CallPicture(spi.Required(spi.GetPicture(), "GetPicture"), FileName().c_str(), intptr_t(offset),
                PICTOR_SPI_INPUT_FILE);
}

TInSPIAbleFromStream::TInSPIAbleFromStream(TSPIGraphic* owner, TStream& stream,
                                           std::string fileName)
    : TInSPIAbleData(owner, std::move(fileName)) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        FData = memory->Data();
    } else {
        stream.SetPosition(0);
        FCopy = ReadRest(stream, MaxStreamSize);
        FData = FCopy;
    }
}

void TInSPIAbleFromStream::ReadHeader(uint8_t* buffer, size_t size) {
    const size_t n = std::min(size, FData.size());
    if (n) std::memcpy(buffer, FData.data(), n);
}

namespace {
// What the plug-in gets for data starting at offset; nothing when the offset lies beyond the
// data (a MacBinary try on data shorter than its header).
struct TMemoryArgs {
    const char* buf;
    intptr_t len;
};
std::optional<TMemoryArgs> MemoryArgs(std::span<const uint8_t> data, int64_t offset) {
    static const char NoData[1] = {};
    if (offset < 0 || uint64_t(offset) > data.size()) return std::nullopt;
    const char* start = data.empty() ? NoData : reinterpret_cast<const char*>(data.data());
    return TMemoryArgs{start + offset, intptr_t(data.size() - size_t(offset))};
}
} // namespace

void TInSPIAbleFromStream::GetPictureInfo(TInSPI& spi, int64_t offset) {
    const PictorGetPictureInfoFn fn = spi.Required(spi.GetPictureInfo(), "GetPictureInfo");
    if (const auto args = MemoryArgs(FData, offset))
        CallPictureInfo(fn, args->buf, args->len, PICTOR_SPI_INPUT_MEMORY);
}

void TInSPIAbleFromStream::GetPreview(TInSPI& spi, int64_t offset) {
    if (!spi.GetPreview()) return; // no preview export: GetPicture is used
    if (const auto args = MemoryArgs(FData, offset))
        CallPicture(spi.GetPreview(), args->buf, args->len, PICTOR_SPI_INPUT_MEMORY);
}

void TInSPIAbleFromStream::GetPicture(TInSPI& spi, int64_t offset) {
    const PictorGetPictureFn fn = spi.Required(spi.GetPicture(), "GetPicture");
    if (const auto args = MemoryArgs(FData, offset))
        CallPicture(fn, args->buf, args->len, PICTOR_SPI_INPUT_MEMORY);
}

// ---------------------------------------------------------------------------------------------
// TSPIGraphic

TSPIGraphic::~TSPIGraphic() = default;

void TSPIGraphic::LoadFromFile(const std::string& fileName) {
    FData.reset();
    FAnalysed = false;
    FData = std::make_unique<TInSPIAbleFromFile>(this, fileName);
    Load();
}

void TSPIGraphic::LoadFromStreamWithName(TStream& stream, const std::string& name) {
    FData.reset();
    FAnalysed = false;
    FData = std::make_unique<TInSPIAbleFromStream>(this, stream, name);
    Load();
}

void TSPIGraphic::Load() {
    FData->OnProgress = OnProgress;
    FAnalysed = false;
    if (!FData->Decode()) throw EInvalidGraphic(CouldNotDecode);
    if (OnChange) OnChange(*this);
}

void TSPIGraphic::Analyse() const {
    if (FAnalysed) return;
    FPalette.reset();
    if (!Empty()) {
        const TSPIDibLayout& layout = FData->Layout();
        if (layout.ColorCount > 0) {
            const std::span<const uint8_t> info = FData->InfoBlock();
            const size_t table =
                InfoHeaderSize + (layout.Compression == BI_BITFIELDS ? MaskBytes : 0);
            TLogPalette palette;
            palette.Entries.resize(layout.ColorCount);
            for (size_t i = 0; i < palette.Entries.size(); ++i) {
                const size_t at = table + 4 * i;
                palette.Entries[i] = {info[at + 2], info[at + 1], info[at], 0};
            }
            FPalette = std::move(palette);
        }
    }
    FAnalysed = true;
}

int32_t TSPIGraphic::Width() const {
    return Empty() ? 0 : FData->Layout().Width;
}

int32_t TSPIGraphic::Height() const {
    return Empty() ? 0 : FData->Layout().Height;
}

const TLogPalette* TSPIGraphic::Palette() const {
    Analyse();
    return FPalette ? &*FPalette : nullptr;
}

uint32_t TSPIGraphic::ColorCount() const {
    return Empty() ? 0 : FData->Layout().ColorCount;
}

size_t TSPIGraphic::InfoSize() const {
    return Empty() ? 0 : FData->Layout().InfoSize;
}

size_t TSPIGraphic::ImageSize() const {
    return Empty() ? 0 : FData->Layout().ImageSize;
}

void TSPIGraphic::SaveToStream(TStream& stream) const {
    if (Empty()) throw EInvalidGraphic("There is no decoded picture to save");
    WriteSPIDibBmp(FData->Layout(), FData->InfoBlock(), FData->PixelBlock(), stream);
}

Bitmap TSPIGraphic::ToBitmap(bool releaseData) {
    TMemoryStream image;
    SaveToStream(image);
    if (releaseData) {
        // The plug-in's memory goes before the bitmap is built: one copy less at the peak.
        FData->Release();
        FAnalysed = false;
    }
    return ReadBmp(image.Data());
}

void TSPIGraphic::Draw(Bitmap& canvas, const TProgressRect& rect) const {
    if (Empty()) return;
    const TPixelFormat format = canvas.PixelFormat();
    const int bytes = format == TPixelFormat::pf24bit                                       ? 3
                      : format == TPixelFormat::pf32bit || format == TPixelFormat::pfDevice ? 4
                                                                                            : 0;
    if (bytes == 0) throw EInvalidGraphic("The canvas must have 24 or 32 bits per pixel");
    const int64_t dw = int64_t(rect.Right) - rect.Left;
    const int64_t dh = int64_t(rect.Bottom) - rect.Top;
    if (dw == 0 || dh == 0) return;
    TMemoryStream image;
    SaveToStream(image);
    const Bitmap source = ReadBmp(image.Data());
    const int64_t w = dw < 0 ? -dw : dw, h = dh < 0 ? -dh : dh;
    const int64_t x0 = std::min<int64_t>(rect.Left, rect.Right);
    const int64_t y0 = std::min<int64_t>(rect.Top, rect.Bottom);
    const int64_t xFrom = std::max<int64_t>(x0, 0), xTo = std::min<int64_t>(x0 + w, canvas.Width());
    const int64_t yFrom = std::max<int64_t>(y0, 0),
                  yTo = std::min<int64_t>(y0 + h, canvas.Height());
    for (int64_t y = yFrom; y < yTo; ++y) {
        int64_t v = y - y0;
        if (dh < 0) v = h - 1 - v; // opposite signs mirror, as a stretched blit does
        const int sy = int(v * source.Height() / h);
        uint8_t* row = canvas.ScanLine(int(y));
        for (int64_t x = xFrom; x < xTo; ++x) {
            int64_t u = x - x0;
            if (dw < 0) u = w - 1 - u;
            const TRGBQuad c = source.PixelColor(int(u * source.Width() / w), sy);
            uint8_t* p = row + x * bytes;
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
            if (bytes == 4) p[3] = 0;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TSPIBitmap

template <class LoadGraphic, class LoadPlain>
void TSPIBitmap::LoadWithReaders(const std::string& name, LoadGraphic loadGraphic,
                                 LoadPlain loadPlain, const std::function<void()>& afterFailure) {
    auto ending = [this] {
        Progress(TProgressStage::psEnding, 100, true, {0, 0, FBitmap.Width(), FBitmap.Height()},
                 "Loaded Graphic");
    };
    try {
        const bool bmpFirst = AsciiUpper(ExtractFileExt(name)) == ".BMP";
        std::unique_ptr<TSPIGraphic> graphic;
        std::optional<Bitmap> plain;
        for (const bool useGraphic : {!bmpFirst, bmpFirst}) {
            try {
                if (useGraphic) {
                    auto reader = std::make_unique<TSPIGraphic>();
                    // Relay every report but the reader's ending; ours follows below.
                    reader->OnProgress =
                        [this](TProgressSender&, TProgressStage stage, uint8_t percent, bool redraw,
                               const TProgressRect& rect, const std::string& message) {
                            if (stage != TProgressStage::psEnding)
                                Progress(stage, percent, redraw, rect, message);
                        };
                    loadGraphic(*reader);
                    graphic = std::move(reader);
                } else {
                    plain = loadPlain();
                }
                break;
            } catch (...) {
                if (afterFailure) afterFailure();
            }
        }
        if (graphic)
            FBitmap = graphic->ToBitmap(true);
        else if (plain)
            FBitmap = std::move(*plain);
        else
            throw EInvalidGraphic(CouldNotDecode);
    } catch (...) {
        ending();
        throw;
    }
    ending();
}

void TSPIBitmap::LoadFromFile(const std::string& fileName) {
    LoadWithReaders(
        fileName, [&](TSPIGraphic& g) { g.LoadFromFile(fileName); },
        [&] { return LoadBmpFile(fileName); }, nullptr);
}

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const std::string& name) {
    const int64_t start = stream.Position();
    LoadWithReaders(
        name, [&](TSPIGraphic& g) { g.LoadFromStreamWithName(stream, name); },
        [&] { return ReadBmp(ReadRest(stream, MaxBmpFileSize)); },
        [&] { stream.SetPosition(start); });
}

void TSPIBitmap::Assign(TSPIGraphic& source) {
    FBitmap = source.ToBitmap(false);
}

// ---------------------------------------------------------------------------------------------
// Registration

const TGraphicClass* SPIBitmapGraphicClass() {
    static const TGraphicClass graphicClass{
        "TSPIBitmap",
        [](const std::string& fileName) {
            TSPIBitmap bitmap;
            bitmap.LoadFromFile(fileName);
            return bitmap.TakeBitmap();
        },
        [](std::span<const uint8_t> data, const std::string& name) {
            TMemoryStream stream(data);
            TSPIBitmap bitmap;
            bitmap.LoadFromStreamWithName(stream, name);
            return bitmap.TakeBitmap();
        }};
    return &graphicClass;
}

void InitSPIGraphics() {
    DefaultSPIGraphicClass() = SPIBitmapGraphicClass();
}

void DoneSPIGraphics() {
    TPictureFormats::Instance().Unregister(SPIBitmapGraphicClass());
    // Plug-ins registered later must not announce a class that is no longer in use.
    if (DefaultSPIGraphicClass() == SPIBitmapGraphicClass()) DefaultSPIGraphicClass() = nullptr;
}

} // namespace pictor
