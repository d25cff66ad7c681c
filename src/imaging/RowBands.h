#pragma once

#include <cstdint>
#include <functional>

namespace pictor {

// Splits the rows [0, rows) into one contiguous band per core and runs body(first, end) on
// each band, the calling thread taking the first. Small jobs (rows * bytesPerRow below
// ParallelThreshold) run as a single band on the calling thread, where thread start-up would
// cost more than it saves. Bands never overlap, so kernels that write only their own rows give
// the same bytes whatever the split. An exception thrown by a band is rethrown here after all
// bands have finished.
void ForEachRowBand(int rows, int64_t bytesPerRow, const std::function<void(int, int)>& body);

// Below this many bytes of work a job stays on one thread.
inline constexpr int64_t ParallelThreshold = int64_t(1) << 21;

// Number of threads ForEachRowBand may use: the hardware's by default. Benchmarks and tests
// set 1 to measure or compare the single-threaded loop; 0 restores the default. Returns the
// previous setting.
int SetRowBandThreads(int threads);
int RowBandThreads();

// Sets the thread count for a scope and restores the previous setting at its end.
class TRowBandThreads {
public:
    explicit TRowBandThreads(int threads) : FOld(SetRowBandThreads(threads)) {}
    ~TRowBandThreads() { SetRowBandThreads(FOld); }
    TRowBandThreads(const TRowBandThreads&) = delete;
    TRowBandThreads& operator=(const TRowBandThreads&) = delete;

private:
    int FOld;
};

} // namespace pictor
