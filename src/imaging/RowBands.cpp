#include "imaging/RowBands.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace pictor {

namespace {

std::atomic<int> GThreadSetting{0};

int HardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

} // namespace

int SetRowBandThreads(int threads) {
    return GThreadSetting.exchange(std::max(0, threads));
}

int RowBandThreads() {
    const int setting = GThreadSetting.load();
    return setting > 0 ? setting : HardwareThreads();
}

void ForEachRowBand(int rows, int64_t bytesPerRow, const std::function<void(int, int)>& body) {
    if (rows <= 0)
        return;
    int threads = RowBandThreads();
    if (int64_t(rows) * std::max<int64_t>(bytesPerRow, 1) < ParallelThreshold)
        threads = 1;
    threads = std::min(threads, rows);
    if (threads <= 1) {
        body(0, rows);
        return;
    }
    std::vector<std::exception_ptr> errors(threads);
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    auto bandStart = [&](int band) { return int(int64_t(rows) * band / threads); };
    for (int band = 1; band < threads; ++band) {
        workers.emplace_back([&, band] {
            try {
                body(bandStart(band), bandStart(band + 1));
            } catch (...) {
                errors[band] = std::current_exception();
            }
        });
    }
    try {
        body(0, bandStart(1));
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (auto& worker : workers)
        worker.join();
    for (auto& error : errors)
        if (error)
            std::rethrow_exception(error);
}

} // namespace pictor
