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

// Full path of the running program (from /proc/self/exe); empty when it cannot be read.
std::string ProgramPath();
// Its folder with a trailing '/': where the settings, help book, plug-ins and archiver
// libraries sit beside the program. Empty when unknown.
std::string ProgramFolder();

} // namespace pictor
