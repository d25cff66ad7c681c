#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pictor::lha {

// Code page numbers of header extension 0x46.
constexpr uint32_t kCodePageCp932 = 932;
constexpr uint32_t kCodePageUtf8 = 65001;

// A stored name as header bytes. CodePage is 0 for plain ASCII (no 0x46 extension needed),
// kCodePageCp932 or kCodePageUtf8.
struct TEncodedName {
    std::string Bytes;
    uint32_t CodePage = 0;
};

// Chooses the bytes for a UTF-8 name: ASCII as it is; otherwise CP932 when the name survives
// the trip to CP932 and back unchanged (what Windows LHA tools expect to read); otherwise
// UTF-8. Nothing for a text that is not valid UTF-8.
std::optional<TEncodedName> EncodeName(const std::string& utf8);

// CP932 bytes as UTF-8; nothing when they are not valid CP932.
std::optional<std::string> Cp932ToUtf8(const std::string& bytes);
// UTF-8 as CP932 bytes; nothing when a character has no CP932 form or the text is not UTF-8.
std::optional<std::string> Utf8ToCp932(const std::string& utf8);

bool IsValidUtf8(const std::string& text);

} // namespace pictor::lha
