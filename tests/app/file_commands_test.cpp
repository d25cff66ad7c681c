// Rename targets and proposals of the main window's file commands.
#include "app/FileCommands.h"

#include <gtest/gtest.h>

using namespace pictor;

TEST(FileCommands, RenameKeepsTheExtension) {
    struct Case {
        const char* path;
        const char* entered;
        const char* target;
    } cases[] = {
        {"/p/b.jpg", "a.txt", "/p/a.jpg"}, // an entered extension is replaced
        {"/p/b.jpg", "a", "/p/a.jpg"},     // none entered: the old one is added
        {"/p/README", "c", "/p/c"},        // no extension before, none after
        {"/p/README", "c.txt", "/p/c"},    // ... even when one is entered
        {"/p/x.tar.gz", "y", "/p/y.gz"},   // only the last extension counts
        {"/p/b.jpg", "写真", "/p/写真.jpg"}, {"/p/b.jpg", "", ""}, // not a name
        {"/p/b.jpg", "../evil", ""},         {"/p/b.jpg", "..", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RenameTargetPath(c.path, c.entered), c.target) << c.path << " " << c.entered;
    EXPECT_EQ(RenameProposal("/p/b.jpg"), "b");
    EXPECT_EQ(RenameProposal("/p/README"), "README");
    EXPECT_EQ(ExistsMessage("NewFolder"), "すでにNewFolderは、存在しています。");
}
