#include "plugins/SPIs.h"

#include "core/IniFile.h"
#include "core/PathRules.h"
#include "core/PictureFormats.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

const char* const OpenErrorMessage = "%s:Susie Pluginがロードできませんでした";
const char* const InvalidAPIMessage = "%sは[%s]では使えないSusie Plugin APIです";

#if defined(__x86_64__)
constexpr uint16_t HostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t HostMachine = EM_AARCH64;
#elif defined(__riscv)
constexpr uint16_t HostMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr uint16_t HostMachine = EM_PPC64;
#else
constexpr uint16_t HostMachine = EM_NONE; // unknown here: the loader alone decides
#endif

constexpr unsigned char HostData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

// Only a shared object built for this machine goes to dlopen. Windows DLLs, text files and the
// like in a plug-in folder are skipped quietly this way, and a FIFO or device named "*.spi"
// cannot block or disturb the loader (hence O_NONBLOCK and the regular-file check).
bool IsLoadableElf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    Elf64_Ehdr header{};
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        size_t got = 0;
        auto* bytes = reinterpret_cast<unsigned char*>(&header);
        while (got < sizeof header) {
            const ssize_t n = ::read(fd, bytes + got, sizeof header - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += size_t(n);
        }
        ok = got == sizeof header;
    }
    ::close(fd);
    return ok && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == HostData &&
           header.e_type == ET_DYN && (HostMachine == EM_NONE || header.e_machine == HostMachine);
}

std::string CurrentFolder() {
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    return ec ? std::string() : cwd;
}

// name made absolute against the current folder, with "." segments and doubled slashes
// removed. ".." stays: resolving it by text could name another file than the kernel would
// when a symbolic link precedes it. The same form is used for FileName and for the paths the
// search builds, so IndexOf compares like with like.
std::string AbsolutePath(const std::string& name) {
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        const std::string cwd = CurrentFolder();
        // Without a '/' dlopen would search the library path instead of opening the file.
        path = (cwd.empty() ? std::string(".") : cwd) + "/" + path;
    }
    std::string out;
    out.reserve(path.size());
    size_t i = 0;
    while (i < path.size()) {
        const size_t end = std::min(path.find('/', i), path.size());
        const std::string_view seg(path.data() + i, end - i);
        if (i == 0 && !seg.empty())
            out += seg; // "./" prefix kept when cwd was unknown
        else if (!seg.empty() && seg != ".")
            (out += '/') += seg;
        i = end + 1;
    }
    if (out.empty()) out = "/";
    return out;
}

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// Splits UTF-8 text into characters (a lead byte with its continuation bytes), so that '?'
// in a mask stands for one character as it did for the Windows search.
std::vector<std::string_view> Characters(const std::string& text) {
    std::vector<std::string_view> chars;
    for (size_t i = 0; i < text.size();) {
        size_t j = i + 1;
        if (static_cast<unsigned char>(text[i]) >= 0xC0)
            while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80)
                ++j;
        chars.emplace_back(text.data() + i, j - i);
        i = j;
    }
    return chars;
}

// '*' matches any run of characters, '?' exactly one; ASCII letters match either case.
bool MatchesMask(const std::string& fileName, const std::string& mask) {
    const std::string lowerName = AsciiLower(fileName), lowerMask = AsciiLower(mask);
    const auto name = Characters(lowerName);
    const auto pat = Characters(lowerMask);
    size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (m < pat.size() && pat[m] == "*") {
            starM = m++;
            starN = n;
        } else if (m < pat.size() && (pat[m] == "?" || pat[m] == name[n])) {
            ++n;
            ++m;
        } else if (starM != std::string::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < pat.size() && pat[m] == "*")
        ++m;
    return m == pat.size();
}

template <class Fn> Fn Resolve(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TSPI

TSPI::TSPI(const std::string& fileName, LoadKey) {
    auto fail = [&] { throw ESPIFOpenErrorSPI(FormatMessage(OpenErrorMessage, {fileName})); };
    if (fileName.empty()) fail();
    // FileName is the absolute path handed to dlopen rather than what the loader reports for
    // the handle: for a file already mapped under another name (a link) the loader reports the
    // first name, which would break IndexOf for the name the search found.
    FFileName = AbsolutePath(fileName);
    if (!IsLoadableElf(FFileName)) fail();
    FHandle = ::dlopen(FFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) fail();

    // From here on a raise must unload again: the destructor does not run for a constructor
    // that throws.
    if (auto abi = Resolve<PictorSpiAbiFn>(FHandle, "PictorSpiAbi");
        abi && abi() != PICTOR_SPI_ABI_VERSION) {
        ::dlclose(FHandle);
        FHandle = nullptr;
        fail();
    }
    FGetPluginInfo = Resolve<PictorGetPluginInfoFn>(FHandle, "GetPluginInfo");
    FConfigurationDlg = Resolve<PictorConfigurationDlgFn>(FHandle, "ConfigurationDlg");
    FIsSupported = Resolve<PictorIsSupportedFn>(FHandle, "IsSupported");
    FGetPictureInfo = Resolve<PictorGetPictureInfoFn>(FHandle, "GetPictureInfo");
    FGetPicture = Resolve<PictorGetPictureFn>(FHandle, "GetPicture");
    FGetPreview = Resolve<PictorGetPreviewFn>(FHandle, "GetPreview");
    FGetArchiveInfo = Resolve<PictorGetArchiveInfoFn>(FHandle, "GetArchiveInfo");
    FGetFileInfo = Resolve<PictorGetFileInfoFn>(FHandle, "GetFileInfo");
    FGetFile = Resolve<PictorGetFileFn>(FHandle, "GetFile");
}

TSPI::~TSPI() {
    if (FHandle) ::dlclose(FHandle);
}

void TSPI::ReadPlugin() {
    CheckAPI();
    std::string text;
    if (ReadPluginInfo(0, text) > 0) FAPIVersion = text;
    if (ReadPluginInfo(1, text) > 0) FAbout = text;
    for (int pair = 0; pair < MaxFormatEntries; ++pair) {
        const int32_t n = 2 + 2 * pair;
        std::string pattern, description;
        const int32_t r1 = ReadPluginInfo(n, pattern);
        const int32_t r2 = ReadPluginInfo(n + 1, description);
        // A pattern without its description is not kept.
        if (r1 <= 0 || r2 <= 0) break;
        FExtensions.push_back(std::move(pattern));
        FDescriptions.push_back(std::move(description));
    }
    FIsLoader = IsLoader();
}

int32_t TSPI::ReadPluginInfo(int32_t infoNo, std::string& text) const {
    constexpr int32_t BufferSize = 256;
    text.clear();
    const PictorGetPluginInfoFn fn = Required(FGetPluginInfo, "GetPluginInfo");
    // The plug-in is told 255 bytes of a 256-byte buffer; the zeroed slack behind them absorbs
    // a plug-in that writes past what it was told instead of letting it hit the stack.
    char buffer[BufferSize * 2] = {};
    const int32_t result = fn(infoNo, buffer, BufferSize - 1);
    if (result > 0) {
        // The result is a length the plug-in may get wrong (with or without the NUL, or the
        // length of a text that did not fit): only the buffer's own text counts.
        buffer[BufferSize - 1] = '\0';
        text.assign(buffer, ::strnlen(buffer, BufferSize - 1));
    }
    return result;
}

void TSPI::RaiseInvalidAPI(const std::string& exportName) const {
    throw ESPIInvalidAPI(FormatMessage(InvalidAPIMessage, {exportName, FFileName}));
}

void TSPI::CheckAPI() const {
    Required(FGetPluginInfo, "GetPluginInfo");
}

void TLoaderSPI::CheckAPI() const {
    TSPI::CheckAPI();
    Required(IsSupported(), "IsSupported");
}

void TInSPI::CheckAPI() const {
    TLoaderSPI::CheckAPI();
    Required(GetPictureInfo(), "GetPictureInfo");
    Required(GetPicture(), "GetPicture");
}

void TAmSPI::CheckAPI() const {
    TLoaderSPI::CheckAPI();
    Required(GetArchiveInfo(), "GetArchiveInfo");
    Required(GetFileInfo(), "GetFileInfo");
    Required(GetFile(), "GetFile");
}

std::unique_ptr<TSPI> CreateSPI(const std::string& fileName) {
    try {
        // The temporary object keeps the library mapped until the chosen class has loaded it
        // again, as its information is read twice.
        const std::unique_ptr<TSPI> probe = TSPI::Load<TSPI>(fileName);
        const std::string& type = probe->APIVersion();
        if (type == "00IN") return TSPI::Load<TInSPI>(fileName);
        if (type == "00AM") return TSPI::Load<TAmSPI>(fileName);
        if (type == "00XN") return TSPI::Load<TXnSPI>(fileName);
        return TSPI::Load<TSPI>(fileName);
    } catch (const ESPIFOpenErrorSPI&) {
        return nullptr;
    } catch (const ESPIInvalidSPI&) {
        return nullptr;
    }
}

const TGraphicClass*& DefaultSPIGraphicClass() {
    static const TGraphicClass* graphicClass = nullptr;
    return graphicClass;
}

// ---------------------------------------------------------------------------------------------
// TSPIs

TSPIs* TSPIs::FCurrent = nullptr;

TSPIs::TSPIs()
    : AppDir(ProgramFolder()), SystemDir("/usr/lib/pictor/plugins"),
      WindowsDir("/usr/local/lib/pictor/plugins") {
    if (FCurrent) throw ESPIDupCreateSPIs("TSPIs は複数生成できません");
    FCurrent = this;
}

TSPIs::~TSPIs() {
    Clear();
    if (FCurrent == this) FCurrent = nullptr;
}

TSPIs* TSPIs::Current() {
    return FCurrent;
}

void TSPIs::Loaded() {
    if (AutoSearch) Search("*.spi");
}

std::string TSPIs::SusieDir() {
    std::string config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') { // relative values are invalid and ignored, as XDG says
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        config = std::string(home) + "/.config";
    }
    try {
        const TIniFile ini(config + "/Kestrin/Susie.ini");
        return ini.ReadString("Plug-in", "Path", "");
    } catch (const std::exception&) {
        return {}; // an unreadable setting just means no Susie folder
    }
}

void TSPIs::Search(const std::string& mask) {
    // Only '/' separates folders here; '\' and ':' are ordinary name characters on Linux.
    const size_t slash = mask.rfind('/');
    if (slash != std::string::npos) {
        SearchFolder(mask.substr(0, slash + 1), mask.substr(slash + 1));
        return;
    }
    // A folder named by several options is searched again; what it holds is registered by then.
    if (SearchOptions.Contains(spsSusieDir)) {
        const std::string dir = SusieDir();
        if (!dir.empty()) SearchFolder(dir, mask);
    }
    if (SearchOptions.Contains(spsAppDir) && !AppDir.empty()) SearchFolder(AppDir, mask);
    if (SearchOptions.Contains(spsCurrentDir)) {
        const std::string dir = CurrentFolder();
        if (!dir.empty()) SearchFolder(dir, mask);
    }
    if (SearchOptions.Contains(spsSystemDir) && !SystemDir.empty()) SearchFolder(SystemDir, mask);
    if (SearchOptions.Contains(spsWindowsDir) && !WindowsDir.empty())
        SearchFolder(WindowsDir, mask);
}

void TSPIs::SearchFolder(std::string folder, const std::string& pattern) {
    folder = WithTrailingSlash(AbsolutePath(folder));
    struct Candidate {
        std::string sortKey;
        std::string path;
    };
    std::vector<Candidate> candidates;
    {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
        if (!dir) return;
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            // Names starting with '.' are hidden files, which the Windows search left out too.
            if (name.empty() || name[0] == '.' || !MatchesMask(name, pattern)) continue;
            std::string path = folder + name;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (IndexOf(path) >= 0) continue;
            candidates.push_back({AsciiUpper(name), std::move(path)});
        }
    }
    // Directory order is arbitrary on Linux; name order (case ignored, as NTFS lists them)
    // makes the registration order, and with it the decoding order, reproducible.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.sortKey != b.sortKey ? a.sortKey < b.sortKey : a.path < b.path;
    });

    for (const Candidate& candidate : candidates) {
        // Checked again: names differing only in case can both be in one Linux folder.
        if (IndexOf(candidate.path) >= 0) continue;
        bool accept = true;
        if (OnSearching) OnSearching(*this, candidate.path, accept);
        if (!accept) continue;
        std::unique_ptr<TSPI> spi = CreateSPI(candidate.path);
        if (!spi) continue;
        try {
            accept = true;
            if (OnSearch) OnSearch(*this, *spi, accept);
            if (accept) Add(std::move(spi));
        } catch (...) {
            // A failing handler or registration costs this plug-in only; spi unloads it.
        }
    }
}

TSPI& TSPIs::Items(int index) const {
    if (index < 0 || index >= Count())
        throw Exception(FormatMessage("List index out of bounds (%s)", {std::to_string(index)}));
    return *FItems[size_t(index)];
}

int TSPIs::IndexOf(const std::string& fileName) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameTextAscii(FItems[i]->FileName(), fileName)) return int(i);
    return -1;
}

bool TSPIs::Holds(const TSPI* spi) const {
    return std::any_of(FItems.begin(), FItems.end(), [&](const auto& p) { return p.get() == spi; });
}

void TSPIs::Add(std::unique_ptr<TSPI>&& spi) {
    Insert(Count(), std::move(spi));
}

void TSPIs::Insert(int index, std::unique_ptr<TSPI>&& spi) {
    if (!spi) throw Exception("TSPIs: no plug-in to insert");
    if (index < 0 || index > Count())
        throw Exception(FormatMessage("List index out of bounds (%s)", {std::to_string(index)}));
    TSPI* const raw = spi.get();
    FItems.insert(FItems.begin() + index, std::move(spi));
    try {
        AnnounceFormats(raw);
    } catch (...) {
        // Hand the plug-in back unless the failing handler already removed it.
        const auto it = std::find_if(FItems.begin(), FItems.end(),
                                     [&](const auto& p) { return p.get() == raw; });
        if (it != FItems.end()) {
            spi = std::move(*it);
            FItems.erase(it);
        }
        throw;
    }
}

void TSPIs::AnnounceFormats(TSPI* spi) {
    auto* in = dynamic_cast<TInSPI*>(spi);
    if (!in) return;
    // Copies: a handler may delete the plug-in.
    const std::vector<std::string> patterns = in->Extensions();
    const std::vector<std::string> descriptions = in->Descriptions();
    for (size_t i = 0; i < patterns.size() && i < descriptions.size(); ++i) {
        std::string rest = patterns[i];
        const std::string& description = descriptions[i];
        while (!rest.empty()) {
            // Afresh for every extension: a handler that keeps one extension of "*.jpg;*.lzh"
            // away from the picture formats must not take the others with it.
            const TGraphicClass* graphicClass = DefaultSPIGraphicClass();
            std::string ext;
            const size_t semicolon = rest.rfind(';');
            if (semicolon != std::string::npos) {
                ext = rest.substr(semicolon + 1);
                rest.erase(semicolon);
            } else {
                ext = std::move(rest);
                rest.clear();
            }
            if (const size_t dot = ext.find('.'); dot != std::string::npos) ext.erase(0, dot + 1);
            if (OnPictureRegister) OnPictureRegister(*this, *in, ext, description, graphicClass);
            // "*.jpg;" would otherwise claim every file without an extension.
            if (graphicClass && !ext.empty())
                TPictureFormats::Instance().Register(ext, description, graphicClass);
            if (!Holds(in)) return;
        }
    }
}

void TSPIs::Delete(int index) {
    if (index < 0 || index >= Count())
        throw Exception(FormatMessage("List index out of bounds (%s)", {std::to_string(index)}));
    std::unique_ptr<TSPI> victim = std::move(FItems[size_t(index)]);
    FItems.erase(FItems.begin() + index);
    if (GraphicForcedLoader == victim.get()) GraphicForcedLoader = nullptr;
}

void TSPIs::Clear() {
    while (!FItems.empty())
        Delete(0);
}

void TSPIs::GetCandidates(const std::function<bool(const TSPI&)>& classFilter,
                          std::vector<TSPI*>& list, const std::string& fileName) const {
    const std::string ext = ExtractFileExt(fileName);
    for (const auto& item : FItems) {
        if (classFilter && !classFilter(*item)) continue;
        // The whole pattern text's extension counts: for "*.jpg;*.jpeg" that is ".jpeg".
        const bool matches =
            !ext.empty() && std::any_of(item->Extensions().begin(), item->Extensions().end(),
                                        [&](const std::string& pattern) {
                                            return SameTextAscii(ExtractFileExt(pattern), ext);
                                        });
        if (matches)
            list.insert(list.begin(), item.get());
        else
            list.push_back(item.get());
    }
}

} // namespace pictor
