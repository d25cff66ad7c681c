#pragma once

#include <string>

namespace pictor {

// The extension of a file name: the text from the last '.' when no '/', '\' or ':' follows
// that dot, including the dot; empty otherwise. "a/b.c/d" has none, ".bashrc" is ".bashrc".
std::string ExtractFileExt(const std::string& path);

// The name after the last '/', '\' or ':'.
std::string ExtractFileName(const std::string& path);

// Everything up to and including the last '/', '\' or ':' (empty when there is none).
std::string ExtractFilePath(const std::string& path);

// path with its extension (as ExtractFileExt finds it) replaced by ext; ext carries its dot.
std::string ChangeFileExt(const std::string& path, const std::string& ext);

// ASCII-only case folding and comparison, as the Windows-born file rules use them.
std::string AsciiLower(std::string text);
std::string AsciiUpper(std::string text);
bool SameTextAscii(const std::string& a, const std::string& b);

} // namespace pictor
