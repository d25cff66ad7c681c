#pragma once

// The command lines of the archiver API family:
//   [command] [switches...] archive [base_folder/] [patterns... | @listfile ...]
// See README.md for the words and switches each library understands.

#include "ArcKind.h"

#include <string>
#include <string_view>
#include <vector>

namespace pictor::arc {

// One token, and how it was quoted. A token that begins inside quotes is never a switch: it
// is a path or a name ("-x.bmp" quoted is a file).
struct TToken {
    std::string Text;
    bool Quoted = false;       // some part stood between quotes
    bool StartsQuoted = false; // the first character did
};

// Splits on blanks, tabs, CR and LF outside quotes. A double quote toggles quoting and is
// dropped; quoted blanks stay in the token; CR and LF end a token even inside quotes, so one
// quoted argument may carry a whole CR LF separated list of names. A backslash is an ordinary
// character (paths end in '\' right before the closing quote).
std::vector<TToken> SplitCommandLine(std::string_view line);

enum class TCommandKind {
    Extract,     // with stored folders
    ExtractFlat, // folders dropped (LHA "e", ZIP "-j")
    List,
    Test,
    Update, // LHA "u" and "a": create or update an archive
    Unsupported,
};

enum class TOverwrite {
    Update, // replace an existing file only when the member is newer (the default)
    Always,
    Never,
};

struct TSwitch {
    std::string Name;  // lower case letters: "jf", "a", "w"
    std::string Value; // the rest of the token: "1", "+", a folder for "w"
};

struct TCommandLine {
    TCommandKind Command = TCommandKind::List;
    char Letter = 0; // the command letter as given, lower case (0 when implied)
    std::vector<TSwitch> Switches;
    std::string Archive;
    std::string BaseFolder; // '/' separated, ends in '/'; empty when none was given
    std::vector<std::string> Patterns;
    TOverwrite Overwrite = TOverwrite::Update;
    bool Recurse = true; // for "u": descend into folders named in the list

    const TSwitch* Find(std::string_view name) const;
};

// Reads a command line for the given library. Throws EArcError (ARC_ERROR_COMMAND_NAME) when
// the line names no archive. "@file" tokens are replaced by the file's lines (at most 1 MiB).
TCommandLine ParseCommandLine(TArcKind kind, std::string_view line);

// The base folder token: '\' and '/' both separate folders there; the result ends in '/'.
std::string NormaliseBaseFolder(std::string_view token);

// A path the caller gave (archive, listed file): used as it is when it exists; otherwise, if
// it holds '\', the same with '/' (a program written for Windows separates with '\').
std::string ResolveGivenPath(const std::string& path);

} // namespace pictor::arc
