#include "Listing.h"

#include "ArcError.h"
#include "NameText.h"
#include "OutputText.h"
#include "Wildcard.h"
#include "archives/ArchiverApi.h"

#include <archive.h>
#include <cstdio>
#include <ctime>

namespace pictor::arc {

namespace {

// Reads the current member's data to its end; false on any problem, warnings included.
bool ReadAllData(TArchiveReader& reader) {
    for (;;) {
        const void* buf;
        size_t size;
        int64_t offset;
        const int r = reader.ReadBlock(&buf, &size, &offset);
        if (r == ARCHIVE_EOF) return true;
        if (r != ARCHIVE_OK) return false;
    }
}

std::string DateText(const TMember& m) {
    if (!m.HasMTime) return "                   ";
    const time_t t = time_t(m.MTime);
    struct tm tm {};
    char buf[32];
    if (!localtime_r(&t, &tm) || !std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm))
        return "                   ";
    return buf;
}

std::string RatioText(int64_t packed, int64_t size) {
    char buf[16];
    if (size <= 0) return "  0.0%";
    std::snprintf(buf, sizeof buf, "%5.1f%%", double(packed) * 100.0 / double(size));
    return buf;
}

} // namespace

TArchiveIndex ScanArchive(TArcKind kind, const std::string& path, size_t maxMembers) {
    TArchiveReader reader(kind);
    reader.Open(path);
    TArchiveIndex index;
    index.Path = path;
    index.FileStat = reader.FileStat();
    try {
        for (;;) {
            TMember m;
            const TNext next = reader.Next(m);
            if (next == TNext::End) break;
            if (index.Members.size() >= maxMembers) {
                index.StopCode = ARC_ERROR_MORE_HEAP_MEMORY;
                index.StopText = "too many members";
                break;
            }
            reader.Skip(m);
            index.Members.push_back(std::move(m));
        }
    } catch (const EArcError& e) {
        if (index.Members.empty()) throw;
        index.StopCode = e.Code();
        index.StopText = e.what();
    }
    return index;
}

namespace {

// One pass over the archive: headers only (data skipped), or headers and every member's data.
bool CheckPass(TArcKind kind, const std::string& path, int level) {
    try {
        TArchiveReader reader(kind);
        reader.Open(path);
        size_t count = 0;
        for (;;) {
            TMember m;
            const TNext next = reader.Next(m);
            if (next == TNext::End) return true;
            if (next == TNext::BadMember) return false;
            if (level >= 2) {
                if (m.Encrypted || !ReadAllData(reader)) return false;
            } else {
                reader.Skip(m);
            }
            if (++count >= (level == 0 ? 3 : kMaxIndexMembers)) return level == 0;
        }
    } catch (const EArcError&) {
        return false;
    }
}

} // namespace

bool CheckArchive(TArcKind kind, const std::string& path, int mode) {
    const int level = mode & 3;
    // libarchive's LHA reader can end up elsewhere after skipping a damaged member than after
    // decoding it, so a full check of LHA and ZIP (where skipping costs only a seek) also
    // walks the headers the way the listing does: what checks, lists to its end.
    if (level >= 2 && (kind == TArcKind::Lha || kind == TArcKind::Zip) && !CheckPass(kind, path, 1))
        return false;
    return CheckPass(kind, path, level);
}

int ListArchive(TArcKind kind, const std::string& path, const std::vector<std::string>& patterns,
                TOutputText& out) {
    const TArchiveIndex index = ScanArchive(kind, path);
    out.Line("   Original      Packed  Ratio  Date       Time     Method  Name");
    out.Line("----------- ----------- ------ ------------------- ------- ----");
    int64_t size = 0, packed = 0, count = 0;
    char buf[96];
    for (const TMember& m : index.Members) {
        if (!MatchAny(patterns, m.Name)) continue;
        std::snprintf(buf, sizeof buf, "%11lld %11lld %s %s %-7.7s ", (long long)m.Size,
                      (long long)m.Packed, RatioText(m.Packed, m.Size).c_str(), DateText(m).c_str(),
                      m.Method.c_str());
        out.Line(buf + PrintableName(m.Name));
        size += m.Size;
        packed += m.Packed;
        ++count;
    }
    out.Line("----------- ----------- ------ ------------------- ------- ----");
    std::snprintf(buf, sizeof buf, "%11lld %11lld %s %lld files", (long long)size,
                  (long long)packed, RatioText(packed, size).c_str(), (long long)count);
    out.Line(buf);
    if (index.StopCode) out.Line("error: " + index.StopText);
    return index.StopCode;
}

int TestArchive(TArcKind kind, const std::string& path, const std::vector<std::string>& patterns,
                TOutputText& out) {
    TArchiveReader reader(kind);
    reader.Open(path);
    int code = 0, failed = 0, tested = 0;
    try {
        for (;;) {
            TMember m;
            const TNext next = reader.Next(m);
            if (next == TNext::End) break;
            if (!MatchAny(patterns, m.Name)) continue;
            ++tested;
            if (next == TNext::Member && !m.Encrypted && ReadAllData(reader)) {
                out.Line("ok: " + PrintableName(m.Name));
                continue;
            }
            const std::string why = m.Encrypted ? "encrypted" : reader.ErrorText();
            out.Line("failed: " + PrintableName(m.Name) + " (" + why + ")");
            ++failed;
            if (!code)
                code = why.find("CRC") != std::string::npos ? ARC_ERROR_FILE_CRC
                                                            : ARC_ERROR_CANNOT_READ;
        }
    } catch (const EArcError& e) {
        out.Line(std::string("stopped: broken archive (") + e.what() + ")");
        if (!code) code = e.Code();
    }
    out.Line(std::to_string(tested) + " tested, " + std::to_string(failed) + " failed");
    return code;
}

void DosDateTime(int64_t unixTime, uint16_t& date, uint16_t& time) {
    const time_t t = time_t(unixTime);
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        date = (0 << 9) | (1 << 5) | 1; // 1980-01-01
        time = 0;
        return;
    }
    if (tm.tm_year > 207) {
        date = uint16_t((127 << 9) | (12 << 5) | 31);
        time = uint16_t((23 << 11) | (59 << 5) | 29);
        return;
    }
    date = uint16_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

int DosAttributes(const TMember& m) {
    int a = 0;
    if (m.IsDir()) a |= 0x10;
    if (m.Perm && !(m.Perm & 0200)) a |= 0x01;
    const size_t slash = m.Name.find_last_of('/', m.Name.size() > 1 ? m.Name.size() - 2 : 0);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (start < m.Name.size() && m.Name[start] == '.') a |= 0x02;
    if (m.Type != 0 && m.Type != S_IFREG && m.Type != S_IFDIR) a |= 0x04;
    if (m.Type == 0 || m.Type == S_IFREG) a |= 0x20;
    return a;
}

std::string AttributeText(const TMember& m) {
    const int a = DosAttributes(m);
    std::string s = "-----";
    if (a & 0x10) s[0] = 'd';
    if (a & 0x01) s[1] = 'r';
    if (a & 0x02) s[2] = 'h';
    if (a & 0x04) s[3] = 's';
    if (a & 0x20) s[4] = 'a';
    return s;
}

} // namespace pictor::arc
