#pragma once

// Member names and texts: archives store names as bytes in whatever code page their maker
// used; the libraries give them out as UTF-8 with '/' separators.

#include <optional>
#include <string>
#include <string_view>

namespace pictor::arc {

bool IsValidUtf8(std::string_view text);

// CP932 (Windows Shift_JIS) bytes as UTF-8; nothing when the bytes are not valid CP932.
std::optional<std::string> Cp932ToUtf8(std::string_view bytes);

// A name whose encoding is not recorded: kept when it is valid UTF-8 (flagged ZIP names,
// pax names, names made on Linux), else decoded as CP932 when that is valid (Japanese
// Windows), else each byte that does not form UTF-8 becomes U+FFFD.
std::string DecodeRawName(std::string_view bytes);

// An LHA name that libarchive read as ISO-8859-1 (our last resort when a name is neither
// CP932 nor UTF-8 as a whole): back to the original bytes, then DecodeRawName. libarchive has
// already turned '\' into '/', which breaks Shift_JIS characters whose second byte is 0x5C;
// a Shift_JIS lead byte followed by '/' can only have been such a character, so it is
// restored first.
std::string DecodeLatin1LhaName(std::string_view utf8);

// '\' becomes '/': archives made on Windows separate folders with '\'.
std::string SlashSeparators(std::string name);

// The longest prefix of at most maxBytes that does not cut a UTF-8 sequence.
size_t Utf8Prefix(std::string_view text, size_t maxBytes);

// A name for a log line: control characters (terminal escapes, line breaks) become '?'.
std::string PrintableName(std::string_view name);

} // namespace pictor::arc
