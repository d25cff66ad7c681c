#include "app/LongPath.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

// A scratch tree: <root>/Photos/Img.JPG, <root>/dir.d/file, <root>/link -> Photos,
// <root>/dangling -> missing.
class LongPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        Temp.emplace("pictor-longpath");
        Root = Temp->path.string();
        fs::create_directories(Root + "/Photos");
        fs::create_directories(Root + "/dir.d");
        std::ofstream(Root + "/Photos/Img.JPG") << "x";
        std::ofstream(Root + "/dir.d/file") << "x";
        fs::create_directory_symlink("Photos", Root + "/link");
        fs::create_symlink("missing", Root + "/dangling");
    }
    void TearDown() override { Temp.reset(); }
    std::optional<pictor_test::TempDir> Temp;
    std::string Root;
};

struct TCase {
    std::string Arg;
    std::string Expected;
};

} // namespace

TEST_F(LongPathTest, ExpandLongPath) {
    const std::vector<TCase> cases = {
        {"", ""},
        {"/", "/"},
        {"C:", "C:"},
        {"C:/", "C:"},
        {"/no/such/dir/", "/no/such/dir"},
        {"/no//such", "/no//such"}, // missing: only the trailing '/' rule applies
        {Root + "/Photos", Root + "/Photos"},
        {Root + "/Photos/", Root + "/Photos"},
        {Root + "/Photos/Img.JPG", Root + "/Photos/Img.JPG"},
        {Root + "//Photos///Img.JPG", Root + "/Photos/Img.JPG"},
        {Root + "/photos/img.jpg", Root + "/photos/img.jpg"}, // no case folding
        {Root + "/link/Img.JPG", Root + "/link/Img.JPG"},     // links not resolved
        {Root + "//dangling", Root + "/dangling"},            // a dangling link exists
        {Root + "/Photos/../dir.d", Root + "/Photos/../dir.d"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ExpandLongPath(c.Arg), c.Expected) << c.Arg;
}

TEST_F(LongPathTest, StartFolderFromArgument) {
    const std::vector<TCase> cases = {
        {Root + "/Photos/Img.JPG", Root + "/Photos"},
        {Root + "//Photos//Img.JPG", Root + "/Photos"},
        {Root + "/Photos/Missing.png", Root + "/Photos"},
        {Root + "/Photos/", Root + "/Photos"},
        {Root + "/Photos", Root + "/Photos"},
        {Root + "/dir.d/file", Root + "/dir.d/file"}, // the dot is in a folder name
        {Root + "/dir.d/", Root + "/dir.d"},
        {"/no/such/img.jpg", "/no/such"},
        {"/img.jpg", "/"},
        {"img.jpg", ""},
        {"C:\\PHOTO~1\\IMG.JPG", "C:\\PHOTO~1\\"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(StartFolderFromArgument(c.Arg), c.Expected) << c.Arg;
}
