#pragma once

// The picture plug-in host: loading ".spi" shared objects (plugins/spi_abi.h), classifying them
// by their type code, and the process-wide registry TSPIs that finds them in the plug-in
// folders and announces their picture formats to TPictureFormats.

#include "core/Exception.h"
#include "plugins/spi_abi.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace pictor {

struct TGraphicClass;

// A required export is missing, or an entry point that is null was asked for:
// "%sは[%s]では使えないSusie Plugin APIです" (export name, plug-in file).
class ESPIInvalidAPI : public Exception {
public:
    using Exception::Exception;
};

// The library cannot be loaded: "%s:Susie Pluginがロードできませんでした".
class ESPIFOpenErrorSPI : public Exception {
public:
    using Exception::Exception;
};

// A second TSPIs while one exists: "TSPIs は複数生成できません".
class ESPIDupCreateSPIs : public Exception {
public:
    using Exception::Exception;
};

// Caught by CreateSPI like ESPIFOpenErrorSPI; nothing in the host raises it, it is there for
// checks that reject a library after loading it.
class ESPIInvalidSPI : public Exception {
public:
    using Exception::Exception;
};

// One loaded plug-in library; the object owns it and unloads it when destroyed. The class tells
// the plug-in's kind (TInSPI, TAmSPI, TXnSPI, or TSPI for an unknown type code). Objects are
// made by TSPI::Load<T> (or CreateSPI, which picks T), never half-built: loading, the export
// check of the class and reading the information texts all happen there. Plug-ins run in the
// process: one that crashes or hangs takes the program with it; the host only makes sure
// that what it hands over and reads back stays within bounds.
class TSPI {
    // Lets only Load<T> construct, while the constructors stay callable through T.
    class LoadKey {
        friend class TSPI;
        LoadKey() = default;
    };

public:
    // Loads fileName as a T: raises ESPIFOpenErrorSPI when the file is not a loadable plug-in
    // library, ESPIInvalidAPI when an export that T requires is missing.
    template <class T = TSPI> static std::unique_ptr<T> Load(const std::string& fileName) {
        static_assert(std::is_base_of_v<TSPI, T>);
        std::unique_ptr<T> spi(new T(fileName, LoadKey{}));
        spi->ReadPlugin();
        return spi;
    }

    // Steps of loading that do not depend on the class: the library is mapped and its exports
    // resolved. Use Load<T>.
    TSPI(const std::string& fileName, LoadKey);
    virtual ~TSPI();
    TSPI(const TSPI&) = delete;
    TSPI& operator=(const TSPI&) = delete;

    // Raises ESPIInvalidAPI for the first missing export that this kind requires.
    virtual void CheckAPI() const;
    // Whether this kind reads pictures or archives (the stored answer is IsLoaderFlag()).
    virtual bool IsLoader() const { return false; }

    void* Handle() const { return FHandle; }
    // Absolute path under which the library was loaded.
    const std::string& FileName() const { return FFileName; }
    // Information number 0 (the type code), empty if the plug-in gave none.
    const std::string& APIVersion() const { return FAPIVersion; }
    // Information number 1, empty if none.
    const std::string& About() const { return FAbout; }
    // Pattern lists (information 2, 4, 6 ...) and their descriptions (3, 5, 7 ...); entry i of
    // one belongs to entry i of the other.
    const std::vector<std::string>& Extensions() const { return FExtensions; }
    const std::vector<std::string>& Descriptions() const { return FDescriptions; }
    bool IsLoaderFlag() const { return FIsLoader; }

    // The nine entry points, null when the library does not export the name.
    PictorGetPluginInfoFn GetPluginInfo() const { return FGetPluginInfo; }
    PictorIsSupportedFn IsSupported() const { return FIsSupported; }
    PictorGetPictureInfoFn GetPictureInfo() const { return FGetPictureInfo; }
    PictorGetPictureFn GetPicture() const { return FGetPicture; }
    PictorGetPreviewFn GetPreview() const { return FGetPreview; }
    PictorGetArchiveInfoFn GetArchiveInfo() const { return FGetArchiveInfo; }
    PictorGetFileInfoFn GetFileInfo() const { return FGetFileInfo; }
    PictorGetFileFn GetFile() const { return FGetFile; }
    PictorConfigurationDlgFn ConfigurationDlg() const { return FConfigurationDlg; }

    // entry unchanged, or ESPIInvalidAPI naming exportName and this plug-in when it is null:
    // Required(spi.GetPreview(), "GetPreview")(...).
    template <class Fn> Fn Required(Fn entry, const char* exportName) const {
        if (!entry) RaiseInvalidAPI(exportName);
        return entry;
    }
    [[noreturn]] void RaiseInvalidAPI(const std::string& exportName) const;

    // Asks GetPluginInfo for one text the way the host always does (zeroed 256-byte buffer,
    // length 255). Returns the plug-in's result; text gets the buffer's text up to the first
    // NUL, at most 255 bytes, when the result is positive and is emptied otherwise.
    int32_t ReadPluginInfo(int32_t infoNo, std::string& text) const;

    // A plug-in that answers every information number is not asked beyond this many
    // pattern/description pairs.
    static constexpr int MaxFormatEntries = 1024;

private:
    void ReadPlugin();

    void* FHandle = nullptr;
    std::string FFileName;
    std::string FAPIVersion;
    std::string FAbout;
    std::vector<std::string> FExtensions;
    std::vector<std::string> FDescriptions;
    bool FIsLoader = false;
    PictorGetPluginInfoFn FGetPluginInfo = nullptr;
    PictorIsSupportedFn FIsSupported = nullptr;
    PictorGetPictureInfoFn FGetPictureInfo = nullptr;
    PictorGetPictureFn FGetPicture = nullptr;
    PictorGetPreviewFn FGetPreview = nullptr;
    PictorGetArchiveInfoFn FGetArchiveInfo = nullptr;
    PictorGetFileInfoFn FGetFileInfo = nullptr;
    PictorGetFileFn FGetFile = nullptr;
    PictorConfigurationDlgFn FConfigurationDlg = nullptr;
};

// Common base of the picture and archive plug-ins.
class TLoaderSPI : public TSPI {
public:
    using TSPI::TSPI;
    void CheckAPI() const override;
    bool IsLoader() const override { return true; }
};

// Type code "00IN": a picture plug-in.
class TInSPI : public TLoaderSPI {
public:
    using TLoaderSPI::TLoaderSPI;
    void CheckAPI() const override;
};

// Type code "00AM": an archive plug-in.
class TAmSPI : public TLoaderSPI {
public:
    using TLoaderSPI::TLoaderSPI;
    void CheckAPI() const override;
};

// Type code "00XN": another kind of plug-in.
class TXnSPI : public TSPI {
public:
    using TSPI::TSPI;
};

// Loads fileName once as a plain TSPI to read its type code, then again as the class the code
// selects (TInSPI, TAmSPI, TXnSPI, else TSPI) and returns that object. A file that is not a
// loadable plug-in library gives nullptr; a missing required export (ESPIInvalidAPI) and any
// other error reach the caller.
std::unique_ptr<TSPI> CreateSPI(const std::string& fileName);

// The graphic class TSPIs hands to OnPictureRegister for every picture-plug-in extension. It is
// nullptr until the plug-in graphic unit sets it; while it is nullptr, Insert registers no
// format, but OnPictureRegister still fires (with nullptr) so a handler can supply a class.
const TGraphicClass*& DefaultSPIGraphicClass();

enum TSPISearchOption { spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir };

// A set of TSPISearchOption values.
class TSPISearchOptions {
public:
    TSPISearchOptions() = default;
    TSPISearchOptions(std::initializer_list<TSPISearchOption> options) {
        for (TSPISearchOption o : options)
            Include(o);
    }
    bool Contains(TSPISearchOption o) const { return (FBits & Bit(o)) != 0; }
    void Include(TSPISearchOption o) { FBits |= Bit(o); }
    void Exclude(TSPISearchOption o) { FBits &= ~Bit(o); }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TSPISearchOptions&) const = default;

private:
    static unsigned Bit(TSPISearchOption o) { return 1u << unsigned(o); }
    unsigned FBits = 0;
};

// The plug-in registry: an ordered list of owned plug-ins, the folders to search and the
// decoding options the plug-in graphic reads. At most one exists at a time; Current() reaches
// it. All use is from the user-interface thread.
class TSPIs {
public:
    // Raises ESPIDupCreateSPIs while another TSPIs exists.
    TSPIs();
    // Unloads every plug-in.
    ~TSPIs();
    TSPIs(const TSPIs&) = delete;
    TSPIs& operator=(const TSPIs&) = delete;

    // The registry that exists now, or nullptr.
    static TSPIs* Current();

    TSPISearchOptions SearchOptions{spsSusieDir, spsAppDir};
    // Whether Loaded() searches.
    bool AutoSearch = true;
    // The plug-in graphic also tries every file with a 128-byte MacBinary header skipped.
    bool MacBinary = true;
    // The plug-in graphic asks for the preview picture before the full one.
    bool GraphicPreview = false;
    // When set, the only plug-in used for decoding; Delete clears it when it removes that one.
    TInSPI* GraphicForcedLoader = nullptr;

    // Folders of spsAppDir (the running program's, from /proc/self/exe), spsSystemDir
    // (/usr/lib/pictor/plugins) and spsWindowsDir (/usr/local/lib/pictor/plugins). Settable so
    // that an installation or a test can point them elsewhere; an empty text skips the option.
    std::string AppDir;
    std::string SystemDir;
    std::string WindowsDir;

    // Before loading a candidate file (its absolute path); Accept false skips it unloaded.
    std::function<void(TSPIs& sender, const std::string& fileName, bool& accept)> OnSearching;
    // After loading a plug-in; Accept false destroys it instead of adding it.
    std::function<void(TSPIs& sender, TSPI& aspi, bool& accept)> OnSearch;
    // For every extension of a picture plug-in being inserted; setting graphicClass to nullptr
    // keeps the extension out of TPictureFormats.
    std::function<void(TSPIs& sender, TInSPI& aspi, const std::string& extension,
                       const std::string& description, const TGraphicClass*& graphicClass)>
        OnPictureRegister;

    // Stands in for the moment a designed component has its properties set: searches "*.spi"
    // when AutoSearch is true. The owner calls it once after configuring the registry.
    void Loaded();

    // Finds and loads plug-ins. mask is a file-name pattern ('*' and '?', ASCII case ignored);
    // with a folder part ("dir/*.spi") only that folder is searched, otherwise every folder of
    // SearchOptions in the order Susie folder, program folder, current folder, system folder,
    // Windows folder. Within a folder, regular files (or links to them) whose names do not start
    // with '.' are tried in name order (ASCII case ignored), files already registered are
    // skipped, files that are not loadable plug-ins are skipped silently, and an error of
    // OnSearch or Add drops that plug-in. ESPIInvalidAPI of a plug-in lacking a required export,
    // or an error of OnSearching, ends the search; the plug-ins found before stay registered.
    void Search(const std::string& mask);

    // The folder named by key Path of section [Plug-in] in $XDG_CONFIG_HOME/Kestrin/Susie.ini
    // (XDG_CONFIG_HOME defaulting to ~/.config); empty when absent or unreadable.
    static std::string SusieDir();

    int Count() const { return int(FItems.size()); }
    // Raises pictor::Exception for an index outside 0 .. Count()-1.
    TSPI& Items(int index) const;
    // Index of the first plug-in whose FileName equals fileName ignoring ASCII case, or -1.
    int IndexOf(const std::string& fileName) const;

    // Takes the plug-in and places it at Count() / at index (0 .. Count()), then, for a TInSPI,
    // announces each extension of its patterns through OnPictureRegister and TPictureFormats.
    // Errors (a null plug-in, a bad index, a handler raising) leave spi with the caller and the
    // list as it was; formats announced before the error stay registered.
    void Add(std::unique_ptr<TSPI>&& spi);
    void Insert(int index, std::unique_ptr<TSPI>&& spi);
    // Removes and destroys (unloads) the plug-in at index.
    void Delete(int index);
    void Clear();

    // Appends to list the registered plug-ins of the given classes (or classes derived from
    // them) to try for fileName: those with a pattern whose extension equals fileName's
    // extension (ASCII case ignored) first, in reverse registration order, then all others in
    // registration order. A name without extension gives all of them in registration order.
    // Matching entries go to the front of list, so callers pass an empty one. With TInSPI
    // alone every entry is a TInSPI: GetCandidates<TInSPI>(list, fileName).
    template <class... Classes>
    void GetCandidates(std::vector<TSPI*>& list, const std::string& fileName) const {
        static_assert(sizeof...(Classes) > 0 && (std::is_base_of_v<TSPI, Classes> && ...));
        GetCandidates(
            [](const TSPI& spi) {
                return ((dynamic_cast<const Classes*>(&spi) != nullptr) || ...);
            },
            list, fileName);
    }
    void GetCandidates(const std::function<bool(const TSPI&)>& classFilter,
                       std::vector<TSPI*>& list, const std::string& fileName) const;

private:
    void SearchFolder(std::string folder, const std::string& pattern);
    void AnnounceFormats(TSPI* spi);
    bool Holds(const TSPI* spi) const;

    std::vector<std::unique_ptr<TSPI>> FItems;
    static TSPIs* FCurrent;
};

} // namespace pictor
