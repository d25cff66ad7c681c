#pragma once

#include <string>

namespace pictor {

// The help book is an HTML file beside the program with the program's base name: the program
// path with its extension replaced by ".html" ("pictor" gives "pictor.html").
std::string HelpBookPath(const std::string& programPath);

// The book of the running program (needs the application object).
std::string ProgramHelpBookPath();

// The text shown when the book is not where it should be.
std::string MissingHelpBookMessage(const std::string& bookPath);

} // namespace pictor
