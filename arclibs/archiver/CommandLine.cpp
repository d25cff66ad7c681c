#include "CommandLine.h"

#include "ArcError.h"
#include "archives/ArchiverApi.h"

#include <fstream>
#include <sys/stat.h>

namespace pictor::arc {

namespace {

constexpr size_t kMaxListFile = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

// Only '-' introduces a switch: the '/' form of Windows would swallow every absolute path
// ("/data" read as "-d" "-a" ...).
bool IsSwitch(const TToken& t) {
    return !t.StartsQuoted && !t.Text.empty() && t.Text[0] == '-';
}

bool EndsInSeparator(const std::string& s) {
    return !s.empty() && (s.back() == '\\' || s.back() == '/');
}

// Names from an "@listfile", one a line.
void ReadListFile(const std::string& path, std::vector<std::string>& out) {
    std::ifstream in(ResolveGivenPath(path), std::ios::binary);
    if (!in) throw EArcError(ARC_ERROR_CANNOT_READ, "cannot read the list file " + path);
    std::string text(kMaxListFile + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    if (text.size() > kMaxListFile) throw EArcError(ARC_ERROR_CANNOT_READ, "list file too long");
    for (const TToken& t : SplitCommandLine(text))
        out.push_back(t.Text);
}

// LHA switches: one letter, or "j" plus a letter; "w" takes the rest as a folder.
TSwitch LhaSwitch(std::string_view body) {
    TSwitch s;
    size_t n = 1;
    if (!body.empty() && Lower(body[0]) == 'j' && body.size() >= 2) n = 2;
    if (body.empty()) return s;
    s.Name = LowerText(body.substr(0, n));
    s.Value = std::string(body.substr(n));
    return s;
}

void ApplyLhaSwitch(TCommandLine& cmd, const TSwitch& s) {
    if (s.Name == "c") cmd.Overwrite = TOverwrite::Always; // no time-stamp comparison
    if (s.Name == "r") cmd.Recurse = s.Value != "0" && s.Value != "-";
}

// Letters that may be bundled ("-jo"); "d" and "w" take the rest of the token (or, for "d",
// the next token) as a folder.
void ZipOrCabSwitches(TArcKind kind, TCommandLine& cmd, std::string_view body,
                      bool& wantFolderNext) {
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = Lower(body[i]);
        if (c == 'w' || (c == 'd' && kind == TArcKind::Zip)) {
            TSwitch s{std::string(1, c), std::string(body.substr(i + 1))};
            if (c == 'd') {
                if (s.Value.empty())
                    wantFolderNext = true;
                else
                    cmd.BaseFolder = NormaliseBaseFolder(s.Value);
            }
            cmd.Switches.push_back(std::move(s));
            return;
        }
        cmd.Switches.push_back({std::string(1, c), ""});
        switch (c) {
        case 'l':
        case 'v':
            cmd.Command = TCommandKind::List;
            break;
        case 't':
            cmd.Command = TCommandKind::Test;
            break;
        case 'x':
            cmd.Command = TCommandKind::Extract;
            break;
        case 'j':
            cmd.Command = TCommandKind::ExtractFlat;
            break;
        case 'o':
            cmd.Overwrite = TOverwrite::Always;
            break;
        case 'u':
        case 'f':
            cmd.Overwrite = TOverwrite::Update;
            break;
        case 'n':
            // unzip: never overwrite. Cab32's "-n" is given by the system with "-x"; no meaning
            // of it is known, so it changes nothing there.
            if (kind == TArcKind::Zip) cmd.Overwrite = TOverwrite::Never;
            break;
        default:
            break;
        }
    }
}

// A tar command word: "x", "xvf", "-xvf", "t", "tf" ...
bool TarCommandWord(TCommandLine& cmd, const TToken& t) {
    if (t.Quoted) return false;
    std::string_view w = t.Text;
    if (!w.empty() && w[0] == '-') w.remove_prefix(1);
    if (w.empty()) return false;
    char command = 0;
    for (char c : w) {
        c = Lower(c);
        if (c < 'a' || c > 'z') return false;
        if (c == 'x' || c == 't' || c == 'c' || c == 'r' || c == 'u') {
            if (command) return false;
            command = c;
        }
    }
    if (!command) return false;
    cmd.Letter = command;
    cmd.Command = command == 'x'   ? TCommandKind::Extract
                  : command == 't' ? TCommandKind::List
                                   : TCommandKind::Unsupported;
    for (char c : w) {
        c = Lower(c);
        if (c == 'k') cmd.Overwrite = TOverwrite::Never;
        if (c == 'u' && command != 'u') cmd.Overwrite = TOverwrite::Update;
    }
    return true;
}

} // namespace

const TSwitch* TCommandLine::Find(std::string_view name) const {
    for (const TSwitch& s : Switches)
        if (s.Name == name) return &s;
    return nullptr;
}

std::vector<TToken> SplitCommandLine(std::string_view line) {
    std::vector<TToken> out;
    TToken cur;
    bool inToken = false, quoted = false;
    auto finish = [&] {
        if (inToken && !cur.Text.empty()) out.push_back(std::move(cur)); // "" alone: nothing
        cur = TToken{};
        inToken = false;
    };
    for (char c : line) {
        if (c == '"') {
            if (!inToken) cur.StartsQuoted = true;
            inToken = true;
            cur.Quoted = true;
            quoted = !quoted;
        } else if (IsLineBreak(c) || (!quoted && IsBlank(c))) {
            finish(); // a quoted line break ends a name but leaves the quote open
        } else {
            if (!inToken) cur.StartsQuoted = quoted;
            inToken = true;
            cur.Quoted = cur.Quoted || quoted;
            cur.Text += c;
        }
    }
    finish();
    return out;
}

std::string NormaliseBaseFolder(std::string_view token) {
    std::string s(token);
    for (char& c : s)
        if (c == '\\') c = '/';
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

std::string ResolveGivenPath(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) == 0 || path.find('\\') == std::string::npos)
        return path;
    std::string alt = path;
    for (char& c : alt)
        if (c == '\\') c = '/';
    return ::lstat(alt.c_str(), &st) == 0 ? alt : path;
}

TCommandLine ParseCommandLine(TArcKind kind, std::string_view line) {
    std::vector<TToken> tokens = SplitCommandLine(line);
    // `u" "-a1 ...` glues the command and the first switch into one token through the quoted
    // blank; a first token that began outside quotes is read as blank separated words.
    if (!tokens.empty() && !tokens[0].StartsQuoted &&
        tokens[0].Text.find_first_of(" \t") != std::string::npos) {
        std::vector<TToken> words = SplitCommandLine(tokens[0].Text);
        for (TToken& w : words)
            w.Quoted = w.StartsQuoted = false;
        tokens.erase(tokens.begin());
        tokens.insert(tokens.begin(), words.begin(), words.end());
    }

    TCommandLine cmd;
    size_t i = 0;
    switch (kind) {
    case TArcKind::Lha:
        if (i < tokens.size() && !tokens[i].Quoted && tokens[i].Text.size() == 1) {
            const char c = Lower(tokens[i].Text[0]);
            static const std::string kLetters = "aufmdexlvtps";
            if (kLetters.find(c) != std::string::npos) {
                cmd.Letter = c;
                cmd.Command = c == 'x'               ? TCommandKind::Extract
                              : c == 'e'             ? TCommandKind::ExtractFlat
                              : c == 'l' || c == 'v' ? TCommandKind::List
                              : c == 't'             ? TCommandKind::Test
                              : c == 'u' || c == 'a' ? TCommandKind::Update
                                                     : TCommandKind::Unsupported;
                ++i;
            }
        }
        break;
    case TArcKind::Zip:
        cmd.Command = TCommandKind::Extract;
        break;
    case TArcKind::Cab:
        cmd.Command = TCommandKind::List;
        break;
    case TArcKind::Tar:
        cmd.Command = TCommandKind::List;
        if (i < tokens.size() && TarCommandWord(cmd, tokens[i])) ++i;
        break;
    }
    if (cmd.Letter == 'a') cmd.Overwrite = TOverwrite::Always;

    bool haveArchive = false, baseDone = false, wantFolderNext = false;
    for (; i < tokens.size(); ++i) {
        const TToken& t = tokens[i];
        if (wantFolderNext) {
            cmd.BaseFolder = NormaliseBaseFolder(t.Text);
            wantFolderNext = false;
            baseDone = true;
            continue;
        }
        if (IsSwitch(t)) {
            const std::string_view body = std::string_view(t.Text).substr(1);
            if (body.empty() || body[0] == '-') continue; // "-" alone, "--long" options
            if (kind == TArcKind::Lha) {
                TSwitch s = LhaSwitch(body);
                ApplyLhaSwitch(cmd, s);
                cmd.Switches.push_back(std::move(s));
            } else if (kind == TArcKind::Tar) {
                // "-f" marks the archive, which is the first name anyway; "-k" keeps files.
                for (char c : body) {
                    c = Lower(c);
                    cmd.Switches.push_back({std::string(1, c), ""});
                    if (c == 'k') cmd.Overwrite = TOverwrite::Never;
                    if (c == 'x' || c == 't') {
                        cmd.Letter = c;
                        cmd.Command = c == 'x' ? TCommandKind::Extract : TCommandKind::List;
                    }
                }
            } else {
                ZipOrCabSwitches(kind, cmd, body, wantFolderNext);
            }
            continue;
        }
        if (!haveArchive) {
            cmd.Archive = t.Text;
            haveArchive = true;
            continue;
        }
        if (!baseDone && cmd.Patterns.empty() && EndsInSeparator(t.Text)) {
            cmd.BaseFolder = NormaliseBaseFolder(t.Text);
            baseDone = true;
            continue;
        }
        if (t.Text.size() > 1 && t.Text[0] == '@' && !t.Quoted) {
            ReadListFile(t.Text.substr(1), cmd.Patterns);
            continue;
        }
        cmd.Patterns.push_back(t.Text);
    }
    if (!haveArchive || cmd.Archive.empty())
        throw EArcError(ARC_ERROR_COMMAND_NAME, "the command line names no archive");
    cmd.Archive = ResolveGivenPath(cmd.Archive);
    return cmd;
}

} // namespace pictor::arc
