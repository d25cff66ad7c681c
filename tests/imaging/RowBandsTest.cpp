#include "imaging/RowBands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace pictor {
namespace {

TEST(RowBands, EveryRowOnceInContiguousBands) {
    for (int threads : {1, 2, 3, 7}) {
        TRowBandThreads setting(threads);
        for (int rows : {1, 2, 5, 1000}) {
            std::vector<std::atomic<int>> seen(rows);
            std::atomic<int> bands{0};
            ForEachRowBand(rows, ParallelThreshold, [&](int first, int end) {
                ASSERT_LT(first, end);
                ++bands;
                for (int r = first; r < end; ++r)
                    ++seen[r];
            });
            for (int r = 0; r < rows; ++r)
                EXPECT_EQ(seen[r], 1) << "row " << r << " threads " << threads;
            EXPECT_EQ(bands, std::min(threads, rows));
        }
    }
}

TEST(RowBands, SmallJobsStayOnOneBand) {
    TRowBandThreads setting(4);
    int bands = 0;
    ForEachRowBand(100, 16, [&](int first, int end) {
        ++bands;
        EXPECT_EQ(first, 0);
        EXPECT_EQ(end, 100);
    });
    EXPECT_EQ(bands, 1);
    ForEachRowBand(0, ParallelThreshold, [&](int, int) { ++bands; });
    EXPECT_EQ(bands, 1);
}

TEST(RowBands, ErrorOfAnyBandReachesTheCaller) {
    TRowBandThreads setting(2);
    EXPECT_THROW(ForEachRowBand(10, ParallelThreshold,
                                [](int first, int) {
                                    if (first > 0)
                                        throw std::runtime_error("band");
                                }),
                 std::runtime_error);
}

} // namespace
} // namespace pictor
