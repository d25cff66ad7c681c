#include "core/ClampByte.h"
#include "core/PathRules.h"

#include <gtest/gtest.h>

using namespace pictor;

TEST(PathRules, ExtensionIsTextFromLastDotWithoutLaterDelimiter) {
    EXPECT_EQ(ExtractFileExt("C:\\PHOTO~1\\IMG.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileExt("/home/a.b/file"), "");
    EXPECT_EQ(ExtractFileExt("dir\\a.b\\file"), "");
    EXPECT_EQ(ExtractFileExt("x:"), "");
    EXPECT_EQ(ExtractFileExt("a.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("/x/.bashrc"), ".bashrc");
    EXPECT_EQ(ExtractFileExt("*.jpg;*.jpeg"), ".jpeg");
    EXPECT_EQ(ChangeFileExt("/opt/pictor/pictor", ".ini"), "/opt/pictor/pictor.ini");
    EXPECT_EQ(ChangeFileExt("/opt/p.d/Pictor.exe", ".ini"), "/opt/p.d/Pictor.ini");
}

TEST(ClampByte, LimitsToAChannel) {
    static_assert(ClampByte(-1) == 0 && ClampByte(0) == 0 && ClampByte(255) == 255);
    static_assert(ClampByte(256) == 255 && ClampByte(-2147483647 - 1) == 0);
    EXPECT_EQ(ClampByte(128), 128);
}
