// Files on the clipboard: what we write, and what the desktop's file managers write.

#include "shell/FileClipboard.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

using namespace pictor;

namespace {

std::string Bytes(const QMimeData& data, const char* type) {
    return data.data(type).toStdString();
}

// A clipboard holding exactly the given (type, bytes) pairs.
std::unique_ptr<QMimeData> Clip(std::initializer_list<std::pair<const char*, std::string>> items) {
    auto data = std::make_unique<QMimeData>();
    for (const auto& [type, bytes] : items)
        data->setData(type, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return data;
}

} // namespace

TEST(FileClipboard, WritesEveryFormatExactly) {
    const std::vector<std::string> paths = {"/a b/1%.png", "/x"};
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut);
        const auto data = MakeFileClipboard(paths, cut);
        const std::string list = "file:///a%20b/1%25.png\nfile:///x";
        EXPECT_EQ(Bytes(*data, "text/uri-list"), "file:///a%20b/1%25.png\r\nfile:///x\r\n");
        EXPECT_EQ(Bytes(*data, "x-special/gnome-copied-files"), (cut ? "cut\n" : "copy\n") + list);
        EXPECT_EQ(Bytes(*data, "x-special/mate-copied-files"), (cut ? "cut\n" : "copy\n") + list);
        EXPECT_EQ(Bytes(*data, "application/x-kde-cutselection"), cut ? "1" : "0");
        EXPECT_EQ(Bytes(*data, "text/plain"), "/a b/1%.png\n/x");
        // Qt's own reading of the list agrees.
        ASSERT_EQ(data->urls().size(), 2);
        EXPECT_EQ(data->urls()[0].toLocalFile(), QString("/a b/1%.png"));
    }
}

TEST(FileClipboard, RoundTripsAwkwardPaths) {
    const std::vector<std::string> paths = {"/home/u/My Pictures/100% #1;[x].png",
                                            "/home/u/写真/夏.jpg", "/tmp/bad\xff\xfe name",
                                            "/tmp/line\nbreak", "/"};
    for (const bool cut : {false, true}) {
        const auto back = ReadFileClipboard(*MakeFileClipboard(paths, cut));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Paths, paths);
        EXPECT_EQ(back->Cut, cut);
    }
    EXPECT_EQ(FileUriFromPath("/tmp/bad\xff"), "file:///tmp/bad%FF");
}

TEST(FileClipboard, RefusesBadPaths) {
    for (const std::vector<std::string>& paths :
         {std::vector<std::string>{}, {"relative/a.png"}, {"/ok", ""}, {std::string("/a\0b", 4)}})
        EXPECT_THROW(MakeFileClipboard(paths, false), EFileClipboardError);
}

TEST(FileClipboard, ReadsWhatFileManagersWrite) {
    struct Case {
        const char* name;
        std::unique_ptr<QMimeData> data;
        std::vector<std::string> paths;
        bool cut;
    };
    Case cases[] = {
        {"nautilus cut, no trailing newline",
         Clip({{"x-special/gnome-copied-files",
                "cut\nfile:///home/u/My%20Pics/a.png\nfile:///home/u/b.jpg"}}),
         {"/home/u/My Pics/a.png", "/home/u/b.jpg"},
         true},
        {"nautilus copy, trailing newline",
         Clip({{"x-special/gnome-copied-files", "copy\nfile:///home/u/a.png\n"}}),
         {"/home/u/a.png"},
         false},
        {"newer nautilus text form",
         Clip(
             {{"text/plain", "x-special/nautilus-clipboard\ncut\nfile:///home/u/%E5%86%99.png\n"}}),
         {"/home/u/\xE5\x86\x99.png"},
         true},
        {"dolphin cut",
         Clip({{"text/uri-list", "file:///home/u/a%25b.png\r\nfile:///home/u/c%20d.png\r\n"},
               {"application/x-kde-cutselection", "1"},
               {"text/plain", "/home/u/a%b.png\n/home/u/c d.png"}}),
         {"/home/u/a%b.png", "/home/u/c d.png"},
         true},
        {"dolphin copy",
         Clip({{"text/uri-list", "file:///home/u/a.png\r\n"}}),
         {"/home/u/a.png"},
         false},
        {"caja cut",
         Clip({{"x-special/mate-copied-files", "cut\nfile:///home/u/x.png\n"}}),
         {"/home/u/x.png"},
         true},
        {"thunar cut with CR LF",
         Clip({{"x-special/gnome-copied-files", "cut\nfile:///home/u/x%20y.png\r\n"},
               {"text/uri-list", "file:///home/u/x%20y.png\r\n"}}),
         {"/home/u/x y.png"},
         true},
        {"kde 0 does not undo a gnome cut",
         Clip({{"x-special/gnome-copied-files", "cut\nfile:///a\n"},
               {"application/x-kde-cutselection", "0"}}),
         {"/a"},
         true},
        {"malformed gnome list is ignored",
         Clip({{"x-special/gnome-copied-files", "move\nfile:///b\n"},
               {"text/uri-list", "file:///a\r\n"}}),
         {"/a"},
         false},
        {"comments, blanks, other schemes and hosts skipped",
         Clip({{"text/uri-list", "# comment\r\n\r\nhttps://example.org/a.png\r\n"
                                 "smb://host/share/x\r\nfile://other.example/y\r\n"
                                 "FILE://localhost/ok\r\nfile:/short\r\n"}}),
         {"/ok", "/short"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = ReadFileClipboard(*c.data);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->Paths, c.paths);
        EXPECT_EQ(got->Cut, c.cut);
        EXPECT_TRUE(ClipboardHasFiles(*c.data));
    }
}

TEST(FileClipboard, NothingWithoutAFileUrl) {
    std::unique_ptr<QMimeData> cases[] = {
        Clip({}),
        Clip({{"text/plain", "just some text"}}),
        Clip({{"text/plain", "file:///looks/like/a/url"}}),
        Clip({{"text/uri-list", "https://example.org/a.png\r\n# file:///x\r\n"}}),
        Clip({{"x-special/gnome-copied-files", "copy\nsftp://host/x\n"}}),
        Clip({{"x-special/gnome-copied-files", "file:///no/header\n"}}),
        Clip({{"application/x-kde-cutselection", "1"}}),
    };
    for (const auto& data : cases) {
        EXPECT_FALSE(ReadFileClipboard(*data));
        EXPECT_FALSE(ClipboardHasFiles(*data));
    }
}

TEST(FileClipboard, DecodesFileUris) {
    const std::pair<const char*, std::string> good[] = {
        {"file:///a%20b", "/a b"},
        {"file:///a#f", "/a"},
        {"file:///a%23b?q", "/a#b"},
        {"file:///%E5%86%99%ff", "/\xE5\x86\x99\xff"}};
    for (const auto& [uri, path] : good)
        EXPECT_EQ(PathFromFileUri(uri), path) << uri;
    for (const char* bad :
         {"file:///a%2fb", "file:///a%2Fb", "file:///a%00", "file:///a%4", "file:///a%zz",
          "file:///a%", "file://", "file://localhost", "file:rel", "http:///x", "file"})
        EXPECT_EQ(PathFromFileUri(bad), std::nullopt) << bad;
}
