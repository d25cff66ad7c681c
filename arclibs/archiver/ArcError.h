#pragma once

#include <stdexcept>
#include <string>

namespace pictor::arc {

// An operation of an archiver library failed with one of the API's result codes
// (ARC_ERROR_...). Never leaves the library: the entry points turn it into the code.
class EArcError : public std::runtime_error {
public:
    EArcError(int code, const std::string& message) : std::runtime_error(message), FCode(code) {}
    int Code() const { return FCode; }

private:
    int FCode;
};

} // namespace pictor::arc
