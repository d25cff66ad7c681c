#pragma once

// Fixtures for the archiver library tests: archives built at test time (libarchive's writer,
// hand-made LHA headers for names no tool would write), the loaded shared objects, and small
// file helpers.

#include "ArchiverExtras.h"
#include "archives/ArchiverApi.h"
#include "support/TempDir.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdint>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace arctest {

namespace fs = std::filesystem;
using pictor_test::ReadFile;
using pictor_test::TempDir;
using pictor_test::WriteFile;

inline const std::string kTestData = std::string(PICTOR_TESTDATA) + "/archives";

// ---- archives written with libarchive -------------------------------------------------------

struct TEntry {
    std::string Name;
    std::string Data;
    unsigned Type = AE_IFREG;
    unsigned Mode = 0644;
    std::string Link; // symlink target or hard link name
    int64_t MTime = 1700000000;
    int64_t Size = -1; // -1: Data.size()
    bool Hardlink = false;
};

inline TEntry File(std::string name, std::string data, int64_t mtime = 1700000000) {
    TEntry e;
    e.Name = std::move(name);
    e.Data = std::move(data);
    e.MTime = mtime;
    return e;
}
inline TEntry Dir(std::string name) {
    TEntry e;
    e.Name = std::move(name);
    e.Type = AE_IFDIR;
    e.Mode = 0755;
    return e;
}
inline TEntry Symlink(std::string name, std::string target) {
    TEntry e;
    e.Name = std::move(name);
    e.Type = AE_IFLNK;
    e.Mode = 0777;
    e.Link = std::move(target);
    return e;
}
inline TEntry Hardlink(std::string name, std::string target) {
    TEntry e;
    e.Name = std::move(name);
    e.Link = std::move(target);
    e.Hardlink = true;
    return e;
}

// format: ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FORMAT_ZIP ...;
// filter: ARCHIVE_FILTER_NONE, ARCHIVE_FILTER_GZIP ...
inline void WriteArchive(const fs::path& path, int format, const std::vector<TEntry>& entries,
                         int filter = ARCHIVE_FILTER_NONE, const char* options = nullptr) {
    archive* a = archive_write_new();
    ASSERT_EQ(archive_write_set_format(a, format), ARCHIVE_OK);
    if (filter != ARCHIVE_FILTER_NONE) {
        ASSERT_EQ(archive_write_add_filter(a, filter), ARCHIVE_OK);
    }
    if (options) {
        ASSERT_EQ(archive_write_set_options(a, options), ARCHIVE_OK);
    }
    ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
    for (const TEntry& t : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_copy_pathname(e, t.Name.c_str());
        archive_entry_set_mtime(e, t.MTime, 0);
        if (t.Hardlink) {
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_copy_hardlink(e, t.Link.c_str());
            archive_entry_set_size(e, 0);
        } else {
            archive_entry_set_filetype(e, t.Type);
            if (t.Type == AE_IFLNK) archive_entry_copy_symlink(e, t.Link.c_str());
            archive_entry_set_size(
                e, t.Type == AE_IFREG ? (t.Size >= 0 ? t.Size : int64_t(t.Data.size())) : 0);
        }
        archive_entry_set_perm(e, t.Mode);
        ASSERT_GE(archive_write_header(a, e), ARCHIVE_WARN) << archive_error_string(a);
        if (!t.Data.empty()) {
            ASSERT_EQ(archive_write_data(a, t.Data.data(), t.Data.size()),
                      la_ssize_t(t.Data.size()));
        }
        archive_entry_free(e);
    }
    ASSERT_EQ(archive_write_close(a), ARCHIVE_OK);
    archive_write_free(a);
}

// ---- hand-made LHA archives (names as raw bytes, -lh0- data) ----------------------------------

inline uint16_t Crc16(const std::string& data, uint16_t crc = 0) {
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

inline void Put16(std::string& s, unsigned v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A level-0 member: the whole path in one field, '\' or '/' as the maker wrote it.
inline std::string LhaLevel0(const std::string& rawName, const std::string& data,
                             uint32_t dosStamp = 0x58657000) {
    std::string h = "-lh0-";
    Put32(h, uint32_t(data.size()));
    Put32(h, uint32_t(data.size()));
    Put32(h, dosStamp);
    h += char(0x20); // attribute
    h += char(0);    // level
    h += char(rawName.size());
    h += rawName;
    Put16(h, Crc16(data));
    unsigned sum = 0;
    for (unsigned char c : h)
        sum += c;
    std::string out;
    out += char(h.size());
    out += char(sum & 0xFF);
    return out + h + data;
}

// A level-2 member with a Unix mtime; folder parts go into extension 0x02.
inline std::string LhaLevel2(const std::string& rawDir, const std::string& rawName,
                             const std::string& data, uint32_t mtime = 1700000000,
                             bool directory = false) {
    std::string ext;
    auto item = [&](unsigned type, const std::string& payload) {
        std::string i;
        Put16(i, unsigned(payload.size() + 3));
        i += char(type);
        i += payload;
        return i;
    };
    std::string crcItem = item(0x00, std::string(2, '\0'));
    ext += crcItem;
    ext += item(0x01, rawName);
    if (!rawDir.empty()) {
        std::string d = rawDir;
        for (char& c : d)
            if (c == '/') c = char(0xFF);
        if (d.back() != char(0xFF)) d += char(0xFF);
        ext += item(0x02, d);
    }
    std::string h = "??" + std::string(directory ? "-lhd-" : "-lh0-");
    Put32(h, uint32_t(data.size()));
    Put32(h, uint32_t(data.size()));
    Put32(h, mtime);
    h += char(0x20);
    h += char(2);
    Put16(h, Crc16(data));
    h += 'U';
    h += ext;
    Put16(h, 0); // end of extensions
    if ((h.size() & 0xFF) == 0) h += char(0);
    h[0] = char(h.size() & 0xFF);
    h[1] = char(h.size() >> 8);
    // The header CRC covers the whole header with the CRC field zero: the payload of the
    // first extension, which starts at offset 24 (size 2, type 1).
    const uint16_t crc = Crc16(h);
    const size_t at = 24 + 3;
    h[at] = char(crc & 0xFF);
    h[at + 1] = char(crc >> 8);
    return h + data;
}

inline std::string LhaArchive(const std::vector<std::string>& members) {
    std::string out;
    for (const std::string& m : members)
        out += m;
    return out + std::string(1, '\0');
}

// ---- the shared objects ------------------------------------------------------------------------

// One loaded library and its entry points, looked up by their exported names.
struct TLib {
    void* Handle = nullptr;
    std::string Prefix;
    TArcCommandFn Command = nullptr;
    TArcCheckArchiveFn CheckArchive = nullptr;
    TArcOpenArchiveFn OpenArchive = nullptr;
    TArcCloseArchiveFn CloseArchive = nullptr;
    TArcFindFirstFn FindFirst = nullptr;
    TArcFindNextFn FindNext = nullptr;

    TLib(const std::string& file, const std::string& prefix) : Prefix(prefix) {
        Handle = dlopen((std::string(PICTOR_BIN_DIR) + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle) return;
        Command = reinterpret_cast<TArcCommandFn>(Sym(""));
        CheckArchive = reinterpret_cast<TArcCheckArchiveFn>(Sym("CheckArchive"));
        OpenArchive = reinterpret_cast<TArcOpenArchiveFn>(Sym("OpenArchive"));
        CloseArchive = reinterpret_cast<TArcCloseArchiveFn>(Sym("CloseArchive"));
        FindFirst = reinterpret_cast<TArcFindFirstFn>(Sym("FindFirst"));
        FindNext = reinterpret_cast<TArcFindNextFn>(Sym("FindNext"));
    }
    ~TLib() {
        if (Handle) dlclose(Handle);
    }
    TLib(const TLib&) = delete;
    TLib& operator=(const TLib&) = delete;

    void* Sym(const std::string& name) const { return dlsym(Handle, (Prefix + name).c_str()); }
    template <typename F> F Fn(const std::string& name) const {
        return reinterpret_cast<F>(Sym(name));
    }

    // Runs a command line; the output buffer's text in out.
    int Run(const std::string& line, std::string* out = nullptr) const {
        std::vector<char> buf(1 << 16, '\x7F');
        const int r = Command(nullptr, line.c_str(), buf.data(), ARC_DWORD(buf.size()));
        if (out) *out = buf.data();
        return r;
    }

    struct TListed {
        std::string Name;
        uint32_t Size = 0, Packed = 0, Crc = 0;
        std::string Method;
    };
    // The members through OpenArchive/FindFirst/FindNext, as the program lists them; -1 in
    // *result when OpenArchive failed.
    std::vector<TListed> List(const std::string& path, const char* pattern = "*.*",
                              int* findResult = nullptr) const {
        std::vector<TListed> out;
        HARC h = OpenArchive(nullptr, path.c_str(), 0);
        if (!h) {
            if (findResult) *findResult = -2;
            return out;
        }
        INDIVIDUALINFO info;
        int r = FindFirst(h, pattern, &info);
        while (r == 0) {
            out.push_back({std::string(info.szFileName, strnlen(info.szFileName, 513)),
                           info.dwOriginalSize, info.dwCompressedSize, info.dwCRC,
                           std::string(info.szMode, strnlen(info.szMode, 8))});
            r = FindNext(h, &info);
        }
        if (findResult) *findResult = r;
        CloseArchive(h);
        return out;
    }
};

struct TLibSpec {
    const char* File;
    const char* Prefix;
};
inline const TLibSpec kLibs[] = {
    {"UNLHA32.so", "Unlha"}, {"UnZip32.so", "UnZip"}, {"Cab32.so", "Cab"}, {"Tar32.so", "Tar"}};

// ---- the file tree ---------------------------------------------------------------------------

// Every entry below root ("a/b" -> "file" / "dir" / "link:<target>" / "other"), for checking
// what an extraction made.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = it->path().lexically_relative(root).string();
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode))
            out[rel] = "link:" + fs::read_symlink(it->path()).string();
        else if (S_ISDIR(st.st_mode))
            out[rel] = "dir";
        else if (S_ISREG(st.st_mode))
            out[rel] = "file";
        else
            out[rel] = "other";
    }
    return out;
}

inline int64_t MTimeOf(const fs::path& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0 ? int64_t(st.st_mtim.tv_sec) : -1;
}

inline void SetMTime(const fs::path& p, int64_t t) {
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, p.c_str(), times, 0);
}

} // namespace arctest
