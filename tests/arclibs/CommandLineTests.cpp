// The command lines of the API family, wildcard matching and the member-name rules.
#include "ArcError.h"
#include "ArcTestSupport.h"
#include "CommandLine.h"
#include "NameText.h"
#include "SafePath.h"
#include "Wildcard.h"

using namespace pictor::arc;
using namespace arctest;

namespace {

std::vector<std::string> Texts(const std::vector<TToken>& tokens) {
    std::vector<std::string> out;
    for (const TToken& t : tokens)
        out.push_back(t.Text);
    return out;
}

std::vector<std::string> SwitchNames(const TCommandLine& c) {
    std::vector<std::string> out;
    for (const TSwitch& s : c.Switches)
        out.push_back(s.Name + s.Value);
    return out;
}

} // namespace

TEST(ArchiverCommandLine, TheSystemsExtractionLines) {
    // Each kind's line as the program builds it, with '\' (Windows form) and with '/'.
    struct Case {
        TArcKind Kind;
        std::string Line;
        TCommandKind Command;
    };
    const Case cases[] = {
        {TArcKind::Lha, R"(x -jf1 "/p s/a.lzh" "/out dir\a\" *.* -w/out dir)",
         TCommandKind::Extract},
        {TArcKind::Zip, R"(-u "/p s/a.lzh" "/out dir/a/" *.* -w/out dir)", TCommandKind::Extract},
        {TArcKind::Cab, R"(-x -n "/p s/a.lzh" "/out dir\a\" *.* /out dir)", TCommandKind::Extract},
        {TArcKind::Tar, R"(x -f "/p s/a.lzh" "/out dir/a\" *.* /out dir)", TCommandKind::Extract},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        const TCommandLine cmd = ParseCommandLine(c.Kind, c.Line);
        EXPECT_EQ(cmd.Command, c.Command);
        EXPECT_EQ(cmd.Archive, "/p s/a.lzh");
        EXPECT_EQ(cmd.BaseFolder, "/out dir/a/");
        EXPECT_EQ(cmd.Overwrite, TOverwrite::Update);
        ASSERT_FALSE(cmd.Patterns.empty());
        EXPECT_EQ(cmd.Patterns[0], "*.*");
        // The trailing bare destination (and a -w folder split at its blank) only adds
        // patterns that name nothing in an archive; they never move the base folder.
        for (size_t i = 1; i < cmd.Patterns.size(); ++i)
            EXPECT_NE(cmd.Patterns[i], "*.*");
    }
    // A one-part destination such as "/data" is not a switch ("-d" would move the target).
    const TCommandLine cab =
        ParseCommandLine(TArcKind::Cab, R"(-x -n "/data/a.cab" "/data\a\" *.* /data)");
    EXPECT_EQ(cab.BaseFolder, "/data/a/");
    EXPECT_EQ(cab.Patterns, (std::vector<std::string>{"*.*", "/data"}));
}

TEST(ArchiverCommandLine, TheSystemsCompressLine) {
    // u, quoted blank, the switches, closing quote, quoted blank ...: the literal text.
    const std::string line = "u\" \"-a1 -r2 -x1 -l1 -jp1 -o2\"\" \"/x/NewFile.LZH\" \"/pics\\\" "
                             "\"a.bmp\r\nb b.bmp\r\n\"";
    EXPECT_EQ(Texts(SplitCommandLine(line)),
              (std::vector<std::string>{"u -a1", "-r2", "-x1", "-l1", "-jp1", "-o2",
                                        "/x/NewFile.LZH", "/pics\\", "a.bmp", "b b.bmp"}));
    const TCommandLine cmd = ParseCommandLine(TArcKind::Lha, line);
    EXPECT_EQ(cmd.Command, TCommandKind::Update);
    EXPECT_EQ(SwitchNames(cmd), (std::vector<std::string>{"a1", "r2", "x1", "l1", "jp1", "o2"}));
    EXPECT_EQ(cmd.Archive, "/x/NewFile.LZH");
    EXPECT_EQ(cmd.BaseFolder, "/pics/");
    EXPECT_EQ(cmd.Patterns, (std::vector<std::string>{"a.bmp", "b b.bmp"}));
    // A quoted first token that holds a blank is a path, not glued words.
    const TCommandLine zip = ParseCommandLine(TArcKind::Zip, R"("my pics.zip" "/o/")");
    EXPECT_EQ(zip.Archive, "my pics.zip");
    EXPECT_EQ(zip.BaseFolder, "/o/");
}

TEST(ArchiverCommandLine, SwitchesAndCommandWords) {
    EXPECT_EQ(ParseCommandLine(TArcKind::Lha, "a.lzh").Command, TCommandKind::List); // no command
    EXPECT_EQ(ParseCommandLine(TArcKind::Lha, "e a.lzh").Command, TCommandKind::ExtractFlat);
    EXPECT_EQ(ParseCommandLine(TArcKind::Lha, "d a.lzh x").Command, TCommandKind::Unsupported);
    EXPECT_EQ(ParseCommandLine(TArcKind::Lha, "x -c a.lzh").Overwrite, TOverwrite::Always);
    const TCommandLine zip = ParseCommandLine(TArcKind::Zip, "-o -j a.zip -d /tmp/t x.txt");
    EXPECT_EQ(zip.Command, TCommandKind::ExtractFlat);
    EXPECT_EQ(zip.Overwrite, TOverwrite::Always);
    EXPECT_EQ(zip.BaseFolder, "/tmp/t/");
    EXPECT_EQ(zip.Patterns, std::vector<std::string>{"x.txt"});
    EXPECT_EQ(ParseCommandLine(TArcKind::Zip, "-n a.zip").Overwrite, TOverwrite::Never);
    EXPECT_EQ(ParseCommandLine(TArcKind::Zip, "-l a.zip").Command, TCommandKind::List);
    // "-w" takes the rest of its token: the letters of the folder are not switches.
    EXPECT_EQ(ParseCommandLine(TArcKind::Zip, "-u a.zip -w/home/on").Overwrite, TOverwrite::Update);
    EXPECT_EQ(ParseCommandLine(TArcKind::Tar, "-xvf a.tgz").Command, TCommandKind::Extract);
    EXPECT_EQ(ParseCommandLine(TArcKind::Tar, "tvf a.tgz").Command, TCommandKind::List);
    EXPECT_EQ(ParseCommandLine(TArcKind::Tar, "xkf a.tgz").Overwrite, TOverwrite::Never);
    EXPECT_EQ(ParseCommandLine(TArcKind::Tar, "c a.tar x").Command, TCommandKind::Unsupported);
    EXPECT_EQ(ParseCommandLine(TArcKind::Cab, "-l a.cab").Command, TCommandKind::List);
    for (const char* bad : {"", "x", "x -jf1", "-u"}) {
        try {
            ParseCommandLine(TArcKind::Lha, bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const EArcError& e) {
            EXPECT_EQ(e.Code(), ARC_ERROR_COMMAND_NAME);
        }
    }
}

TEST(ArchiverCommandLine, ListFilesAndBackslashPaths) {
    TempDir dir("arc-cmd");
    WriteFile(dir.path / "list.txt", "one.bmp\r\n\"two words.bmp\"\r\nsub\\three.bmp\n");
    const TCommandLine cmd =
        ParseCommandLine(TArcKind::Lha, "u a.lzh \"/b\\\" @" + (dir.path / "list.txt").string());
    EXPECT_EQ(cmd.Patterns,
              (std::vector<std::string>{"one.bmp", "two words.bmp", "sub\\three.bmp"}));
    // An archive path written with '\' is found with '/' when only that exists.
    fs::create_directories(dir.path / "d");
    WriteFile(dir.path / "d" / "a.zip", "x");
    std::string windowsForm = (dir.path / "d").string() + "\\a.zip";
    EXPECT_EQ(ParseCommandLine(TArcKind::Zip, "\"" + windowsForm + "\"").Archive,
              (dir.path / "d" / "a.zip").string());
}

TEST(ArchiverWildcard, MsDosRules) {
    const std::string manyA(200, 'a');
    struct Case {
        const char* Pattern;
        const char* Name;
        bool Match;
    };
    const Case cases[] = {
        {"*.*", "noext", true},
        {"*.*", "dir/sub/file.txt", true},
        {"*", "dir/", true},
        {"*.jpg", "dir/A.JPG", true},
        {"*.jpg", "a.jpeg", false},
        {"a?c", "a表c", true},
        {"a?c", "abbc", false},
        {"dir/*.txt", "dir/x.txt", true},
        {"dir\\*.txt", "dir/x.txt", true},
        {"dir/*.txt", "other/x.txt", false},
        {"readme.", "readme", true},
        {"readme.", "readme.txt", false},
        {"sub/", "sub/a/b.bmp", true},
        {"sub/", "subway/b.bmp", false},
        {"s*/", "sub/a.bmp", true},
        {"*a*a*a*a*a*b", manyA.c_str(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchWildcard(c.Pattern, c.Name), c.Match) << c.Pattern << " / " << c.Name;
    EXPECT_TRUE(MatchAny({}, "anything"));
    EXPECT_FALSE(MatchAny({"*.bmp", "*.png"}, "a.jpg"));
}

TEST(ArchiverNames, DecodingRules) {
    EXPECT_EQ(DecodeRawName("表だよ/a.txt"), "表だよ/a.txt");       // UTF-8 stays
    EXPECT_EQ(DecodeRawName("\x95\x5C\x82\xBE\x82\xE6"), "表だよ"); // CP932, 0x5C inside
    EXPECT_EQ(SlashSeparators(DecodeRawName("\x8A\xBF\x8E\x9A\\\x95\x5C.txt")), "漢字/表.txt");
    EXPECT_EQ(DecodeRawName("a\xFF"
                            "b"),
              "a\xEF\xBF\xBD"
              "b"); // neither: U+FFFD
    // libarchive read "表" + "\b.txt" as ISO-8859-1 and turned every 0x5C into '/'.
    EXPECT_EQ(DecodeLatin1LhaName("\xC2\x95//b.txt"), "表/b.txt");
    EXPECT_EQ(DecodeLatin1LhaName("テスト/a.txt"), "テスト/a.txt");
    // Cutting never splits a character.
    EXPECT_EQ(Utf8Prefix("ab表", 4), 2u);
    EXPECT_EQ(Utf8Prefix("ab表", 5), 5u);
    EXPECT_EQ(PrintableName("a\x1B[2Jb\n"), "a?[2Jb?");
}

TEST(ArchiverSafePath, MemberPaths) {
    struct Case {
        std::string Name;
        std::string Joined; // "" = refused
    };
    const std::string longPart(256, 'n');
    std::string deep;
    for (int i = 0; i < 257; ++i)
        deep += "d/";
    const Case cases[] = {
        {"a/b.txt", "a/b.txt"},
        {"./a//b/./c", "a/b/c"},
        {"a\\b.txt", "a/b.txt"},
        {"../evil", ""},
        {"a/../../evil", ""},
        {"..\\..\\evil", ""},
        {"a/..", ""},
        {"/etc/passwd", ""},
        {"\\tmp\\x", ""},
        {"//host/share/x", ""},
        {"C:x", ""},
        {"c:\\x", ""},
        {"C:..\\x", ""},
        {"C:../x", ""},
        {longPart, ""},
        {std::string(255, 'n'), std::string(255, 'n')},
        {deep + "f", ""},
    };
    for (const Case& c : cases) {
        std::string why;
        const auto p = SanitiseMemberPath(c.Name, why);
        EXPECT_EQ(p ? p->Joined() : std::string(), c.Joined) << c.Name.substr(0, 40);
        if (!p) {
            EXPECT_FALSE(why.empty()) << c.Name.substr(0, 40);
        }
    }
    std::string why;
    EXPECT_FALSE(SanitiseMemberPath("./", why));
    EXPECT_TRUE(why.empty()); // the destination itself: nothing to refuse
}

// The link rule against the kernel: random trees of links the rule allows never resolve
// outside the root, however they chain.
TEST(ArchiverSafePath, AllowedLinksNeverLeaveTheRoot) {
    EXPECT_TRUE(SymlinkTargetAllowed("../file1", 1));
    EXPECT_FALSE(SymlinkTargetAllowed("../file1", 0));
    EXPECT_FALSE(SymlinkTargetAllowed("/etc/passwd", 5));
    EXPECT_FALSE(SymlinkTargetAllowed("s/../../x", 3));
    EXPECT_FALSE(SymlinkTargetAllowed("C:x", 1));
    EXPECT_FALSE(SymlinkTargetAllowed("", 1));

    // Every pair of links s and t (in any two of three folders) with targets of up to four
    // parts from {"..", "s"}: the chains "s -> ../..", "t -> s/../../.." are among them.
    std::vector<std::string> targets;
    for (int len = 1; len <= 4; ++len)
        for (int bits = 0; bits < (1 << len); ++bits) {
            std::string t;
            for (int k = 0; k < len; ++k)
                t += (k ? "/" : "") + std::string(bits >> k & 1 ? "s" : "..");
            targets.push_back(t);
        }
    const std::pair<std::string, size_t> dirs[] = {{"", 0}, {"a", 1}, {"a/b/c", 3}};
    TempDir tmp("arc-links");
    const fs::path root = tmp.path / "root";
    fs::create_directories(root / "a/b/c");
    const std::string canonicalRoot = fs::canonical(root).string() + "/";
    int allowedSeen = 0;
    for (const auto& [sDir, sDepth] : dirs)
        for (const auto& [tDir, tDepth] : dirs)
            for (const std::string& sTarget : targets)
                for (const std::string& tTarget : targets) {
                    const fs::path s = root / sDir / "s", t = root / tDir / "t";
                    unlink(s.c_str());
                    unlink(t.c_str());
                    if (SymlinkTargetAllowed(sTarget, sDepth)) symlink(sTarget.c_str(), s.c_str());
                    if (SymlinkTargetAllowed(tTarget, tDepth))
                        symlink(tTarget.c_str(), t.c_str()), ++allowedSeen;
                    for (const fs::path& link : {s, t}) {
                        char resolved[PATH_MAX];
                        if (!realpath(link.c_str(), resolved)) continue; // dangling or a loop
                        ASSERT_EQ((std::string(resolved) + "/").rfind(canonicalRoot, 0), 0u)
                            << link << " (s -> " << sTarget << ", t -> " << tTarget
                            << ") resolves to " << resolved;
                    }
                }
    EXPECT_GT(allowedSeen, 100);
}
