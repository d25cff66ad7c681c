// Fuzz target for the drawing reader. Besides "no crash", it checks that the label is reported
// exactly when the version characters exist, that reading is repeatable, that the result is
// consistent (a picture only for the BMP and PNG roads), and that the picture survives a BMP
// write and read unchanged, so what the reader hands out is a well-formed bitmap.
#include "app/DwgPreview.h"
#include "core/BmpCodec.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_dwg oracle failed: %s\n", what);
    std::abort();
}

struct TRun {
    std::optional<TDwgPreview> preview;
    std::string error;        // the message when it raised
    std::string label = "\n"; // "\n": the label was never reported
    int reports = 0;
};

// The reader's own errors are the acceptable refusals; anything else escapes as a crash.
TRun Run(std::span<const uint8_t> bytes) {
    TRun run;
    try {
        run.preview = ReadDwgPreview(bytes, [&](const std::string& text) {
            run.label = text;
            ++run.reports;
        });
    } catch (const EDwgReadError& e) {
        run.error = e.what();
    } catch (const EConvertError& e) {
        run.error = e.what();
    } catch (const EInvalidGraphic& e) {
        run.error = e.what();
    }
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        // libpng complaints about broken PNG entries are expected; keep the log readable.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    const std::span<const uint8_t> bytes(data, size);
    const TRun a = Run(bytes);
    const TRun b = Run(bytes);

    if (a.reports > 1) Broken("the label was reported more than once");
    if ((a.reports == 1) != (size >= 6)) Broken("label reported without version characters");
    if (a.reports == 1 &&
        a.label != DwgVersionText(std::string_view(reinterpret_cast<const char*>(data) + 2, 4)))
        Broken("label is not the version text of bytes 2..5");
    if (a.error != b.error || a.label != b.label || a.preview.has_value() != b.preview.has_value())
        Broken("second read disagrees");
    if (!a.preview) return 0;

    const TDwgPreview& p = *a.preview;
    if (p.Digits.size() != 4 || p.VersionText != a.label) Broken("result disagrees with label");
    if (p.Kind != b.preview->Kind || !(p.Picture == b.preview->Picture))
        Broken("second read gives another picture");
    const bool shown = p.Kind == TDwgPreviewKind::Bmp || p.Kind == TDwgPreviewKind::Png;
    if (shown == p.Picture.Empty()) Broken("picture presence does not match its kind");
    if (!shown) return 0;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (int64_t(p.Picture.Width()) * p.Picture.Height() > (int64_t(1) << 20))
        Broken("picture beyond the cap");
#endif
    if (!(ReadBmp(WriteBmp(p.Picture)) == p.Picture)) Broken("picture does not round-trip");
    return 0;
}
