#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictor::arc {

// MS-DOS style matching, case-insensitive for ASCII: '*' any run of characters, '?' one
// character. "*" and "*.*" match every name, also names without a dot; "name." matches
// "name". A pattern without '/' (or '\') is compared with the last part of the member's path,
// a pattern with one with the whole path; a pattern ending in '/' matches everything below
// that folder.
bool MatchWildcard(std::string_view pattern, std::string_view memberPath);

// True when any pattern matches; an empty list matches everything.
bool MatchAny(const std::vector<std::string>& patterns, std::string_view memberPath);

} // namespace pictor::arc
