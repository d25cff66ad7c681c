// The status bar's size texts.
#include "app/SizeTexts.h"

#include <gtest/gtest.h>

using namespace pictor;

TEST(SizeTexts, FolderTotalsAndFreeSpace) {
    struct Case {
        std::uint64_t total, free;
        const char* text;
    } cases[] = {
        {1048064, 2048 * 1024, "1.00MB (空ディスク領域 :2MB)"}, // 1023.5 KB rounds to even 1024
        {1047552, 0, "1,023KB (空ディスク領域 :0KB)"},
        {1024 * 1000, 1024 * 1024, "1,000KB (空ディスク領域 :1024KB)"}, // exactly 1024 KB free: KB
        {512, 1025 * 1024, "0KB (空ディスク領域 :1MB)"},                // one KB more: MB
        {1536, 0, "2KB (空ディスク領域 :0KB)"},                         // 1.5 to even 2
        {2560, 0, "2KB (空ディスク領域 :0KB)"},                         // 2.5 to even 2
        {2621440, 8ull << 40, "2.50MB (空ディスク領域 :8388608MB)"},    // 8 TiB free needs 64 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderSizeText(c.total, c.free), c.text) << c.total;
}

TEST(SizeTexts, SelectionTotals) {
    struct Case {
        std::uint64_t size;
        const char* text;
    } cases[] = {
        {0, "0バイト"},
        {1023, "1023バイト"},
        {1024, "1KB"},
        {1536, "1.5KB"},
        {16383, "16KB"},
        {20000, "19.5KB"},
        {200000, "195KB"},
        {1048575, "1,024KB"},
        {3145728, "3MB"},
        {1572864, "1.5MB"},
        {5000000000ull, "4,768.37MB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SelectionSizeText(c.size), c.text) << c.size;
    EXPECT_EQ(ObjectCountText(3), "3 個のオブジェクト");
    EXPECT_EQ(SelectedCountText(1), "1 個のオブジェクトを選択");
}
