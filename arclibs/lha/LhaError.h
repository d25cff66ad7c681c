#pragma once

#include "core/Exception.h"

namespace pictor::lha {

// Creating or updating an LHA archive failed: the archive on disk is as it was before.
class ELhaError : public Exception {
public:
    using Exception::Exception;
};

} // namespace pictor::lha
