// Bounded file reading: kernel files that report no size, files past the limit, non-files.
#include "core/Exception.h"
#include "core/FileIO.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pictor;
using namespace pictor_test;

TEST(FileIO, ReadsToTheEndOrTheLimitWhateverTheFileReports) {
    // /proc files report size 0 but have content.
    const auto proc = ReadFileBytes("/proc/self/mountinfo", 1 << 20);
    ASSERT_TRUE(proc);
    EXPECT_FALSE(proc->empty());
    EXPECT_FALSE(ReadFileHead("/proc/self/mountinfo", 1 << 20).Bytes.empty());

    TempDir dir;
    WriteFile(dir.path / "ten", "0123456789");
    const std::string ten = (dir.path / "ten").string();
    struct Case {
        size_t limit;
        const char* bytes;
        bool truncated;
    } cases[] = {
        {4, "0123", true}, {10, "0123456789", false}, {64, "0123456789", false}, {0, "", true}};
    for (const Case& c : cases) {
        const TFileHead head = ReadFileHead(ten, c.limit);
        EXPECT_EQ(head.Bytes, c.bytes) << c.limit;
        EXPECT_EQ(head.Truncated, c.truncated) << c.limit;
        EXPECT_EQ(head.FileSize, 10u);
    }
    EXPECT_FALSE(ReadFileBytes(ten, 9)) << "larger than allowed";
    EXPECT_EQ(ReadFileBytes(ten, 10)->size(), 10u);

    // Not a file: a clear error, and a FIFO does not hang.
    ASSERT_EQ(::mkfifo((dir.path / "fifo").c_str(), 0600), 0);
    for (const std::string& bad :
         {(dir.path / "fifo").string(), dir.path.string(), (dir.path / "missing").string()}) {
        EXPECT_THROW(ReadFileHead(bad, 16), EInOutError) << bad;
        EXPECT_THROW(ReadFileBytes(bad, 16), EInOutError) << bad;
    }
}
