// Fuzz target for our LHA writer: the input (after two option bytes) becomes one or two
// members of an archive built in memory, with encoder settings chosen by the option bytes
// (forced -lh5-, one-token blocks, greedy parsing ...). libarchive must read every member
// back identically, and our own header scan must list what was written. The raw input also
// goes through the scan as if it were an existing archive: it may only refuse, with
// ELhaError. In the replay build, lhasa must also test the archive (when installed).
#include "lha/LhaError.h"
#include "lha/LhaHeader.h"
#include "lha/LhaWriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace pictor::lha;

namespace {

[[noreturn]] void Broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_lha_roundtrip oracle failed: %s %s\n", what, detail.c_str());
    std::abort();
}

std::vector<TArchiveMember> Scan(const uint8_t* data, size_t size) {
    return ScanArchive(
        [&](uint64_t off, void* buf, size_t n) -> size_t {
            if (off >= size) return 0;
            n = std::min<size_t>(n, size - size_t(off));
            std::memcpy(buf, data + off, n);
            return n;
        },
        size);
}

struct Entry {
    std::string path, data;
};

std::vector<Entry> ReadBack(const std::vector<uint8_t>& archive) {
    struct archive* a = archive_read_new();
    archive_read_support_format_lha(a);
    if (archive_read_open_memory(a, archive.data(), archive.size()) != ARCHIVE_OK)
        Broken("libarchive cannot open", archive_error_string(a) ? archive_error_string(a) : "");
    std::vector<Entry> entries;
    struct archive_entry* e;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        Entry x;
        x.path = archive_entry_pathname(e) ? archive_entry_pathname(e) : "";
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0) x.data.append(buf, size_t(n));
        if (n < 0) Broken("libarchive data error:", archive_error_string(a) ? archive_error_string(a) : "");
        entries.push_back(std::move(x));
    }
    if (r != ARCHIVE_EOF)
        Broken("libarchive header error:", archive_error_string(a) ? archive_error_string(a) : "");
    archive_read_free(a);
    return entries;
}

#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// lhasa skips members it cannot read but still exits 0: count what it tested.
void CheckWithLhasa(const std::vector<uint8_t>& archive, size_t members) {
    static const bool have = std::system("command -v lhasa >/dev/null 2>&1") == 0;
    if (!have) return;
    char name[] = "/tmp/fuzz-lha-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    FILE* f = fdopen(fd, "wb");
    std::fwrite(archive.data(), 1, archive.size(), f);
    std::fclose(f);
    FILE* p = popen(("lhasa t " + std::string(name) + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = p ? pclose(p) : -1;
    std::remove(name);
    size_t tested = 0;
    for (size_t at = 0; (at = out.find("Tested", at)) != std::string::npos; ++at) ++tested;
    if (status != 0 || tested != members) Broken("lhasa disagrees:", out);
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool utf8 = std::setlocale(LC_ALL, "C.UTF-8") != nullptr; // names as UTF-8
    (void)utf8;
    // Any bytes as an existing archive: listed or refused, nothing else.
    try {
        Scan(data, size);
    } catch (const ELhaError&) {
    }
    if (size < 2) return 0;
    const uint8_t flags = data[0], cut = data[1];
    static const int kBlocks[8] = {1, 2, 3, 7, 300, 4096, 8192, 65535};
    static const int kChains[4] = {1, 4, 96, 1000};
    TBuildOptions o;
    o.AllowStored = flags & 1;
    o.Lh5.BlockTokens = kBlocks[(flags >> 1) & 7];
    o.Lh5.Lazy = !(flags & 0x10);
    o.Lh5.MaxChain = kChains[(flags >> 5) & 3];
    o.Lh5.NiceLength = (flags & 0x80) ? 3 + cut % 254 : 256;
    o.Lh5.MaxLazy = (flags & 0x80) ? cut % 40 : 64;
    const uint8_t* body = data + 2;
    const size_t n = size - 2;
    // Two members split at a point chosen by the second byte, so the encoder also starts
    // over inside one archive.
    const size_t split = cut & 1 ? n * cut / 256 : n;
    const std::span<const uint8_t> first(body, split), second(body + split, n - split);
    std::vector<TMemoryMember> members = {{"fuzz/first.bin", first, false, 1700000000, 0}};
    if (split < n) members.push_back({"二つ目.bin", second, false, 1700000001, 0});
    const std::vector<uint8_t> archive = BuildArchive(members, o);

    const std::vector<Entry> back = ReadBack(archive);
    if (back.size() != members.size()) Broken("member count differs");
    for (size_t i = 0; i < back.size(); ++i) {
        if (back[i].path != members[i].StoredName) Broken("name differs:", back[i].path);
        const auto& d = members[i].Data;
        if (back[i].data.size() != d.size() ||
            (d.size() && std::memcmp(back[i].data.data(), d.data(), d.size()) != 0))
            Broken("data differs in", back[i].path);
    }
    const std::vector<TArchiveMember> listed = Scan(archive.data(), archive.size());
    if (listed.size() != members.size()) Broken("scan lists another member count");
    for (size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].Path != members[i].StoredName) Broken("scan name differs");
        if (listed[i].OriginalSize != members[i].Data.size()) Broken("scan size differs");
        if (!o.AllowStored && !members[i].Data.empty() && listed[i].Method != "-lh5-")
            Broken("forced -lh5- was not used");
        if (o.AllowStored && listed[i].PackedSize > members[i].Data.size())
            Broken("stored member larger than its data");
    }
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    CheckWithLhasa(archive, members.size());
#endif
    return 0;
}
