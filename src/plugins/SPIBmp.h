#pragma once

// Decoding pictures through the picture plug-ins of the registry (plugins/SPIs.h).
//
// Summary of the public API (stable; other code reaches it mostly through the registry):
//
//   InitSPIGraphics();                 // DefaultSPIGraphicClass() = SPIBitmapGraphicClass()
//   DoneSPIGraphics();                 // removes that class from TPictureFormats again
//   const TGraphicClass* SPIBitmapGraphicClass();
//       LoadFromFile(name) / LoadFromMemory(bytes, name) run a TSPIBitmap and return its
//       Bitmap; they raise EInvalidGraphic("Susie Plugins could not decode") when neither the
//       plug-ins nor the BMP reader can read the data.
//
//   TSPIBitmap b;                      // plug-ins and the plain BMP reader, order by extension
//   b.OnProgress = ...;                // optional
//   b.LoadFromFile(path);  b.LoadFromStreamWithName(stream, name);  b.LoadFromStream(stream);
//   const Bitmap& bmp = b.GetBitmap();  Bitmap owned = b.TakeBitmap();
//
//   TSPIGraphic g;  g.LoadFromFile(path);   // the plug-in DIB itself (no BMP fallback)
//   g.Width(), g.Height(), g.Palette(), g.Empty(), g.SaveToStream(stream), g.ToBitmap()
//
//   Streams: TStream (Size, Position, SetPosition, Read, Write), TMemoryStream (owned buffer,
//   or a read-only view of caller memory), TFileStream (a file opened for reading).
//   Progress: TProgressEvent (sender, stage, percent, redraw, rectangle, message); a handler
//   throwing EAbort inside a plug-in's progress callback stops that plug-in quietly.
//
// Everything runs synchronously on the calling (user-interface) thread.

#include "core/Bitmap.h"
#include "core/Exception.h"
#include "plugins/SPIs.h"
#include "plugins/spi_abi.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pictor {

struct TGraphicClass;

// The silent abort signal: a progress handler raises it to stop a plug-in without an error.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};

// ---------------------------------------------------------------------------------------------
// Streams: just what the plug-in classes need. Positions and sizes are byte counts from the
// first byte.

class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    // Raises EInOutError for a position outside 0 .. Size().
    virtual void SetPosition(int64_t position) = 0;
    // Reads up to count bytes at the position and advances it; returns how many were read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes at the position (growing the stream) and advances it; raises
    // EInOutError when the stream cannot be written.
    virtual void Write(const void* buffer, size_t count) = 0;
};

// Bytes in memory: either an owned, growable buffer (default constructor) or a read-only view
// of memory that the caller keeps alive for the stream's lifetime.
class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::span<const uint8_t> view);

    int64_t Size() const override { return int64_t(Data().size()); }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;

    // All bytes of the stream, whatever the position.
    std::span<const uint8_t> Data() const;
    // The owned buffer (empty for a view); the stream is left empty.
    std::vector<uint8_t> TakeBytes();

private:
    std::vector<uint8_t> FOwned;
    std::optional<std::span<const uint8_t>> FView;
    int64_t FPosition = 0;
};

// A file opened for reading (EInOutError when it cannot be opened). Write raises EInOutError.
class TFileStream final : public TStream {
public:
    explicit TFileStream(const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Size() const override;
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;

private:
    int FFd = -1;
    std::string FFileName;
    int64_t FPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// Progress reports

enum class TProgressStage { psStarting, psRunning, psEnding };

// Left, top, right, bottom; right and bottom exclusive.
struct TProgressRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const TProgressRect&) const = default;
};

// Anything that reports loading progress: TSPIGraphic and TSPIBitmap.
class TProgressSender {
public:
    virtual ~TProgressSender() = default;
    using TProgressEvent =
        std::function<void(TProgressSender& sender, TProgressStage stage, uint8_t percentDone,
                           bool redrawNow, const TProgressRect& rect, const std::string& message)>;
    TProgressEvent OnProgress;

protected:
    void Progress(TProgressStage stage, uint8_t percent, bool redraw, const TProgressRect& rect,
                  const std::string& message) {
        if (OnProgress) OnProgress(*this, stage, percent, redraw, rect, message);
    }
};

// The percentage reported for a plug-in's progress call (num of denom done): num × 97 / denom
// computed as 32-bit integers (the product wraps, the quotient truncates towards zero), plus 2,
// modulo 256. A denominator of 0 counts as nothing done yet (quotient 0); INT32_MIN / -1 wraps.
uint8_t SpiProgressPercent(int32_t numerator, int32_t denominator);

// ---------------------------------------------------------------------------------------------
// The DIB a plug-in hands over, checked

// What the header of a plug-in's info block says, once checked against both block sizes.
struct TSPIDibLayout {
    int32_t Width = 0;
    int32_t Height = 0; // as in the header: positive for bottom-up rows
    int BitCount = 0;
    uint32_t Compression = 0; // 0 (BI_RGB) or 3 (BI_BITFIELDS, 16 and 32 bpp only)
    uint32_t ColorCount = 0;  // biClrUsed, or 2 / 16 / 256 for 1 / 4 / 8 bpp when that is 0
    size_t InfoSize = 0;      // 40, + 12 for the three masks of BI_BITFIELDS, + 4 × ColorCount
    size_t Stride = 0;        // ((Width × BitCount + 31) / 32) × 4
    size_t ImageSize = 0;     // Stride × |Height|
};

// Checks an info block and the size of its pixel block the way the host checks what a plug-in
// returns: a 40-byte header, width > 0, height neither 0 nor INT32_MIN, 1 plane, 1/4/8/16/24/32
// bits, no compression other than BI_BITFIELDS at 16/32 bits, at most 256 colours, a picture
// within Bitmap::MaxSide / MaxPixels, and both blocks at least as large as the header says.
// Raises EInvalidGraphic saying what is wrong. Reads only info.
TSPIDibLayout AnalyseSPIDib(std::span<const uint8_t> info, size_t pixelBlockSize);

// Writes the BMP file image of a checked DIB: the 14-byte file header, the first InfoSize
// bytes of info and the first ImageSize bytes of pixels.
void WriteSPIDibBmp(const TSPIDibLayout& layout, std::span<const uint8_t> info,
                    std::span<const uint8_t> pixels, TStream& stream);

// AnalyseSPIDib, WriteSPIDibBmp and the BMP reader in one: the bitmap a plug-in's blocks give.
// This is the conversion path of TSPIGraphic (and the fuzz target's entry).
Bitmap SPIDibToBitmap(std::span<const uint8_t> info, std::span<const uint8_t> pixels);

// ---------------------------------------------------------------------------------------------
// Decode sources

class TSPIGraphic;

// Holds the data being decoded and, after a successful Decode, the two blocks of the plug-in
// that decoded it. Blocks are malloc'd by the plug-in and freed here, exactly once. The owner
// is the sender of the progress reports; without one nothing is reported.
class TInSPIAbleData {
public:
    TInSPIAbleData(TSPIGraphic* owner, std::string fileName);
    virtual ~TInSPIAbleData();
    TInSPIAbleData(const TInSPIAbleData&) = delete;
    TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

    // Frees both blocks and the picture info's text.
    void Release();

    // Copies up to size bytes of the data's beginning into buffer; leaves the rest as it was.
    virtual void ReadHeader(uint8_t* buffer, size_t size) = 0;
    // The plug-in calls for the data starting at offset.
    virtual void GetPictureInfo(TInSPI& spi, int64_t offset) = 0;
    virtual void GetPreview(TInSPI& spi, int64_t offset) = 0;
    virtual void GetPicture(TInSPI& spi, int64_t offset) = 0;

    // Asks the candidate plug-ins in turn; true when one returned a picture that passed the
    // checks of AnalyseSPIDib. Raises what a progress handler raised (other than EAbort in a
    // plug-in's progress callback).
    bool Decode();

    // Both blocks present.
    bool HasPicture() const { return FInfo && FPixels; }
    const std::string& FileName() const { return FFileName; }
    const PictorPictureInfo& PictureInfo() const { return FPictureInfo; }
    bool InfoValid() const { return FInfoValid; }
    // The checked layout and the blocks; only while HasPicture().
    const TSPIDibLayout& Layout() const { return FLayout; }
    std::span<const uint8_t> InfoBlock() const;
    std::span<const uint8_t> PixelBlock() const;

    TProgressSender::TProgressEvent OnProgress;

protected:
    using TPictureCall = int32_t (*)(const char*, intptr_t, uint32_t, void**, void**,
                                     PictorSpiProgressCallback, intptr_t);
    // Calls one of GetPicture / GetPreview and keeps its blocks when the result is 0, both are
    // set and they pass the checks; otherwise frees whatever was set.
    void CallPicture(TPictureCall fn, const char* buf, intptr_t len, uint32_t flag);
    void CallPictureInfo(PictorGetPictureInfoFn fn, const char* buf, intptr_t len, uint32_t flag);

private:
    static int32_t ProgressCallback(int32_t num, int32_t denom, intptr_t data);
    void Report(TProgressStage stage, uint8_t percent, const std::string& message);

    void* FInfo = nullptr;
    void* FPixels = nullptr;
    size_t FInfoSize = 0; // usable sizes of the blocks
    size_t FPixelSize = 0;
    TSPIDibLayout FLayout;
    std::string FFileName;
    PictorPictureInfo FPictureInfo{};
    TSPIGraphic* FOwner = nullptr;
    bool FInfoValid = false;
    std::exception_ptr FHandlerError; // raised by a handler inside a plug-in call
};

// Data in a file: the plug-ins get the file name and the offset.
class TInSPIAbleFromFile final : public TInSPIAbleData {
public:
    using TInSPIAbleData::TInSPIAbleData;
    void ReadHeader(uint8_t* buffer, size_t size) override;
    void GetPictureInfo(TInSPI& spi, int64_t offset) override;
    void GetPreview(TInSPI& spi, int64_t offset) override;
    void GetPicture(TInSPI& spi, int64_t offset) override;
};

// Data of a stream, from its first byte whatever its position: a TMemoryStream's bytes are used
// in place (the stream must outlive this object), any other stream is copied whole. The
// plug-ins get the bytes from the offset on. Raises EInOutError when the stream cannot be read
// or is larger than MaxStreamSize.
class TInSPIAbleFromStream final : public TInSPIAbleData {
public:
    TInSPIAbleFromStream(TSPIGraphic* owner, TStream& stream, std::string fileName);
    void ReadHeader(uint8_t* buffer, size_t size) override;
    void GetPictureInfo(TInSPI& spi, int64_t offset) override;
    void GetPreview(TInSPI& spi, int64_t offset) override;
    void GetPicture(TInSPI& spi, int64_t offset) override;

    static constexpr int64_t MaxStreamSize = int64_t(1) << 30;

private:
    std::vector<uint8_t> FCopy;
    std::span<const uint8_t> FData;
};

// ---------------------------------------------------------------------------------------------
// TSPIGraphic: the DIB one plug-in decoded

// A logical palette: version 0x300 and one entry per colour of the DIB's colour table.
struct TLogPalette {
    struct TEntry {
        uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
        bool operator==(const TEntry&) const = default;
    };
    uint16_t Version = 0x300;
    std::vector<TEntry> Entries;
};

class TSPIGraphic : public TProgressSender {
public:
    TSPIGraphic() = default;
    ~TSPIGraphic() override;
    TSPIGraphic(const TSPIGraphic&) = delete;
    TSPIGraphic& operator=(const TSPIGraphic&) = delete;

    // Each load releases the previous data first, then raises EInvalidGraphic("Susie Plugins
    // could not decode") when no plug-in decodes the data (the graphic stays empty).
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TStream& stream) { LoadFromStreamWithName(stream, ""); }
    void LoadFromStreamWithName(TStream& stream, const std::string& name);

    bool Empty() const { return !FData || !FData->HasPicture(); }
    // The header's width and (signed) height; 0 when empty.
    int32_t Width() const;
    int32_t Height() const;
    // The DIB's colour table as a logical palette, or nullptr when it has none.
    const TLogPalette* Palette() const;
    uint32_t ColorCount() const;
    size_t InfoSize() const;
    size_t ImageSize() const;

    // Stretches the picture onto canvas (24 or 32 bits per pixel, else EInvalidGraphic) into
    // rect, nearest pixel, clipped to the canvas; a negative extent mirrors. Nothing when empty.
    void Draw(Bitmap& canvas, const TProgressRect& rect) const;
    // The BMP file image of the DIB, rows exactly as the plug-in produced them. Raises
    // EInvalidGraphic when empty.
    void SaveToStream(TStream& stream) const;
    // The picture as a Bitmap (through SaveToStream and the BMP reader). With releaseData the
    // plug-in's blocks are freed as soon as they have been written, and the graphic is empty.
    Bitmap ToBitmap(bool releaseData = false);

    // Called after each successful load.
    std::function<void(TSPIGraphic& sender)> OnChange;

    // The decode source, or nullptr.
    const TInSPIAbleData* Data() const { return FData.get(); }

private:
    void Load();
    void Analyse() const;

    std::unique_ptr<TInSPIAbleData> FData;
    mutable bool FAnalysed = false;
    mutable std::optional<TLogPalette> FPalette;
};

// ---------------------------------------------------------------------------------------------
// TSPIBitmap: a bitmap loaded by the plug-ins or the plain BMP reader

class TSPIBitmap : public TProgressSender {
public:
    // ".BMP" (any case): the BMP reader first, then the plug-ins; other names the other way
    // round. Raises EInvalidGraphic("Susie Plugins could not decode") when both fail; the
    // bitmap then keeps its previous picture. Always ends with a progress report (psEnding,
    // 100 %, redraw, the bitmap's rectangle, "Loaded Graphic").
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TStream& stream) { LoadFromStreamWithName(stream, ""); }
    // As LoadFromFile with the extension of name; the stream's position is restored after
    // each failed reader. The plug-ins read the stream from its first byte, the BMP reader
    // from the position.
    void LoadFromStreamWithName(TStream& stream, const std::string& name);

    // Takes the converted picture of source (which keeps its data).
    void Assign(TSPIGraphic& source);
    void Assign(const Bitmap& source) { FBitmap = source.Copy(); }

    const Bitmap& GetBitmap() const { return FBitmap; }
    Bitmap TakeBitmap() { return std::move(FBitmap); }

private:
    template <class LoadGraphic, class LoadPlain>
    void LoadWithReaders(const std::string& name, LoadGraphic loadGraphic, LoadPlain loadPlain,
                         const std::function<void()>& afterFailure);

    Bitmap FBitmap;
};

// The graphic class that loads through TSPIBitmap.
const TGraphicClass* SPIBitmapGraphicClass();
// Makes SPIBitmapGraphicClass() the class the registry announces plug-in formats with.
void InitSPIGraphics();
// Removes SPIBitmapGraphicClass() from TPictureFormats (and as the registry's default).
void DoneSPIGraphics();

} // namespace pictor
