#include "lha/MemberWriter.h"

#include "lha/Crc16.h"
#include "lha/NameCodec.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace pictor::lha {

THeaderFields MakeNameFields(const std::string& storedName, bool directory) {
    std::string name = storedName;
    if (directory)
        while (name.size() > 1 && name.back() == '/') name.pop_back();
    auto refuse = [&](const std::string& why) -> THeaderFields {
        throw ELhaError("Cannot store the name \"" + storedName + "\" in an LHA archive: " + why);
    };
    if (name.empty()) return refuse("the name is empty");
    if (name.front() == '/') return refuse("it is an absolute path");
    if (name.find('\\') != std::string::npos)
        return refuse("LHA readers take '\\' for a folder separator");
    if (name.find('\0') != std::string::npos) return refuse("it contains a NUL character");
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return refuse("it has an empty, \".\" or \"..\" part");
        start = end + 1;
    }
    const auto encoded = EncodeName(name);
    if (!encoded) return refuse("it is not valid UTF-8");
    THeaderFields f;
    f.CodePage = encoded->CodePage;
    // '/' never occurs inside a CP932 or UTF-8 multi-byte character, so the encoded bytes
    // split where the text does.
    if (directory) {
        f.Directory = encoded->Bytes;
    } else {
        const size_t slash = encoded->Bytes.rfind('/');
        if (slash != std::string::npos) {
            f.Directory = encoded->Bytes.substr(0, slash);
            f.Name = encoded->Bytes.substr(slash + 1);
        } else {
            f.Name = encoded->Bytes;
        }
    }
    BuildLevel2Header(f); // raises when the names do not fit a header
    return f;
}

TMemberResult WriteFileMember(TArchiveOutput& out, THeaderFields fields, TMemberSource& source,
                              const Lh5Options& options, bool allowStored) {
    constexpr uint64_t kMaxSize = 0xFFFFFFFFu; // 32-bit size fields of the level-2 header
    constexpr size_t kChunk = 1 << 18;
    const uint64_t start = out.Size();
    fields.Method = "-lh5-";
    const std::vector<uint8_t> placeholder = BuildLevel2Header(fields);
    out.Append(placeholder.data(), placeholder.size());
    const uint64_t dataStart = out.Size();
    auto tooLarge = [] {
        throw ESourceError("File too large for an LHA archive (the limit is 4 GiB)");
    };

    // First pass: compress. Once the compressed bytes outgrow the source, storing wins for
    // sure; stop then rather than compress the rest for nothing.
    const uint64_t hint = source.SizeHint();
    uint64_t total = 0;
    uint16_t crc = 0;
    bool givenUp = false;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    {
        Lh5Encoder encoder(
            [&](const uint8_t* p, size_t n) {
                if (givenUp) return;
                if (allowStored && out.Size() - dataStart + n > std::max(hint, total)) {
                    givenUp = true;
                    return;
                }
                out.Append(p, n);
            },
            options);
        while (!givenUp) {
            const size_t n = source.Read(buffer.get(), kChunk);
            if (n == 0) break;
            total += n;
            if (total > kMaxSize) tooLarge();
            crc = Crc16(buffer.get(), n, crc);
            encoder.Write(buffer.get(), n);
        }
        if (!givenUp) encoder.Finish();
    }
    TMemberResult r;
    r.PackedSize = out.Size() - dataStart;
    // Empty data is always stored: decoders disagree about an empty -lh5- stream.
    if (!givenUp && total > 0 && (!allowStored || r.PackedSize < total)) {
        r.Method = "-lh5-";
        r.OriginalSize = total;
        r.Crc = crc;
    } else {
        // Second pass: store the bytes as they are.
        out.Truncate(dataStart);
        source.Rewind();
        uint64_t stored = 0;
        uint16_t storedCrc = 0;
        for (;;) {
            const size_t n = source.Read(buffer.get(), kChunk);
            if (n == 0) break;
            stored += n;
            if (stored > kMaxSize) tooLarge();
            storedCrc = Crc16(buffer.get(), n, storedCrc);
            out.Append(buffer.get(), n);
        }
        if (!givenUp && (stored != total || storedCrc != crc))
            throw ESourceError("The file changed while it was being read");
        r.Method = "-lh0-";
        r.OriginalSize = r.PackedSize = stored;
        r.Crc = storedCrc;
    }
    fields.Method = r.Method;
    fields.PackedSize = uint32_t(r.PackedSize);
    fields.OriginalSize = uint32_t(r.OriginalSize);
    fields.DataCrc = r.Crc;
    const std::vector<uint8_t> header = BuildLevel2Header(fields);
    if (header.size() != placeholder.size()) throw ELhaError("LHA header size changed");
    out.Overwrite(start, header.data(), header.size());
    return r;
}

void WriteDirectoryMember(TArchiveOutput& out, THeaderFields fields) {
    fields.Method = "-lhd-";
    fields.PackedSize = fields.OriginalSize = 0;
    fields.DataCrc = 0;
    fields.Name.clear();
    const std::vector<uint8_t> header = BuildLevel2Header(fields);
    out.Append(header.data(), header.size());
}

} // namespace pictor::lha
