#pragma once

// The command function's output buffer: the log a console archiver would print, UTF-8, one
// line per '\n'. Collected up to the buffer's size (so a listing of a million members costs
// nothing when no buffer is given) and copied in cut at a character boundary, always
// zero-terminated.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pictor::arc {

class TOutputText {
public:
    explicit TOutputText(size_t capacity) : FCapacity(capacity) {}

    void Line(std::string_view text);
    const std::string& Text() const { return FText; }
    bool Truncated() const { return FTruncated; }
    // Copies into buf (size bytes, may be null with 0) with a terminating zero.
    void CopyTo(char* buf, uint32_t size) const;

private:
    size_t FCapacity;
    std::string FText;
    bool FTruncated = false;
};

} // namespace pictor::arc
