// The help book's place, the help window, and the book that ships beside the program.
#include "app/HelpBook.h"
#include "app/forms/HelpWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace pictor;

namespace {

// The book as written (the build copies it beside the program, not beside the tests).
std::string BuiltBook() {
    const std::string here = __FILE__;
    return here.substr(0, here.rfind("tests/app/")) + "docs/help/pictor.html";
}

// Anchors and internal link targets of a loaded document.
struct TLinks {
    std::set<std::string> Anchors, Targets;
};

TLinks CollectLinks(const QTextDocument* doc) {
    TLinks links;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            for (const QString& name : f.anchorNames())
                links.Anchors.insert(name.toStdString());
            const QString href = f.anchorHref();
            if (href.startsWith('#')) links.Targets.insert(href.mid(1).toStdString());
        }
    return links;
}

int HelpWindowsOf(const QWidget& owner) {
    int n = 0;
    for (QObject* child : owner.children())
        n += dynamic_cast<THelpWindow*>(child) != nullptr;
    return n;
}

struct MessageCatcher {
    std::vector<std::string> Messages;
    std::function<void(const QString&)> Saved = THelpWindow::MessageHook();
    MessageCatcher() {
        THelpWindow::MessageHook() = [this](const QString& m) {
            Messages.push_back(m.toStdString());
        };
    }
    ~MessageCatcher() { THelpWindow::MessageHook() = Saved; }
};

} // namespace

TEST(HelpBook, PathIsTheProgramWithHtmlExtension) {
    const struct {
        const char *Program, *Book;
    } cases[] = {
        {"pictor", "pictor.html"},
        {"/usr/local/bin/pictor", "/usr/local/bin/pictor.html"},
        {"/opt/pictor-1.2/bin/pictor", "/opt/pictor-1.2/bin/pictor.html"},
        {"C:\\Program Files\\Pictor\\Pictor.exe", "C:\\Program Files\\Pictor\\Pictor.html"},
        {"./pictor.bin", "./pictor.html"},
        {"", ".html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpBookPath(c.Program), c.Book) << c.Program;
    EXPECT_EQ(ProgramHelpBookPath(),
              (QCoreApplication::applicationFilePath() + ".html").toStdString());
}

TEST(HelpBook, ShippedBookCoversEveryWindowAndHasNoDeadLinks) {
    QFile file(QString::fromStdString(BuiltBook()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << BuiltBook();
    const QString raw = QString::fromUtf8(file.readAll());
    // Self-contained: nothing is fetched or run when the book is shown.
    for (const char* banned : {"<script", "src=", "http:", "https:", "@import"})
        EXPECT_FALSE(raw.contains(banned, Qt::CaseInsensitive)) << banned;

    THelpWindow window;
    ASSERT_TRUE(window.OpenBook(BuiltBook()));
    const QTextDocument* doc = window.Browser->document();
    EXPECT_EQ(doc->metaInformation(QTextDocument::DocumentTitle), "Pictor ヘルプ");
    const TLinks links = CollectLinks(doc);
    for (const char* anchor :
         {"contents",   "main",      "tree",    "combo",      "list",      "views",
          "sort",       "statusbar", "menus",   "preview",    "kinds",     "media",
          "settings",   "filecmds",  "image",   "imagetools", "sizemodes", "selection",
          "thumbnails", "slideshow", "effects", "color",      "compose",   "print",
          "convert",    "rename",    "archive", "plugins",    "version",   "helpmenu"})
        EXPECT_TRUE(links.Anchors.count(anchor)) << "no section " << anchor;
    EXPECT_GE(links.Targets.size(), 25u);
    for (const std::string& target : links.Targets)
        EXPECT_TRUE(links.Anchors.count(target)) << "dead link #" << target;
}

TEST(HelpWindow, OpensAtAnchorAndStaysSingle) {
    MessageCatcher catcher;
    QWidget owner;
    THelpWindow* help = THelpWindow::ShowHelp(&owner, BuiltBook(), "print");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal());
    EXPECT_EQ(help->Browser->source().fragment(), "print");
    QCoreApplication::processEvents();
    QScrollBar* bar = help->Browser->verticalScrollBar();
    const int atPrint = bar->value();
    EXPECT_GT(atPrint, 0);

    // A second request reuses the window and moves it to the new place.
    EXPECT_EQ(THelpWindow::ShowHelp(&owner, BuiltBook(), "version"), help);
    EXPECT_GT(bar->value(), atPrint);
    help->ShowTopic("contents");
    EXPECT_LT(bar->value(), 50);
    help->BackButton->click();
    EXPECT_EQ(help->Browser->source().fragment(), "version");
    EXPECT_TRUE(catcher.Messages.empty());
    EXPECT_EQ(HelpWindowsOf(owner), 1);
    delete help;
}

TEST(HelpWindow, MissingBookIsReportedAndChangesNothing) {
    MessageCatcher catcher;
    const std::string missing = "/nonexistent-pictor-dir/pictor.html";
    QWidget owner;
    EXPECT_EQ(THelpWindow::ShowHelp(&owner, missing, "print"), nullptr);
    EXPECT_EQ(HelpWindowsOf(owner), 0);

    // An open window keeps its page when asked for a book that is gone.
    THelpWindow* help = THelpWindow::ShowHelp(&owner, BuiltBook(), "rename");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(THelpWindow::ShowHelp(&owner, missing), nullptr);
    EXPECT_EQ(help->Browser->source().fragment(), "rename");
    EXPECT_EQ(help->BookPath(), BuiltBook());
    EXPECT_FALSE(help->OpenBook(""));
    const std::vector<std::string> expected = {"ヘルプファイルが見つかりません: " + missing,
                                               "ヘルプファイルが見つかりません: " + missing,
                                               "ヘルプファイルが見つかりません: "};
    EXPECT_EQ(catcher.Messages, expected);
    delete help;
}
