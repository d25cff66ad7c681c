#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace pictor {

// Turns SIGTERM and SIGINT into a call on the event loop, so that a desktop session ending or
// a Ctrl+C closes the main window the normal way (and the settings get saved). The handler
// only writes a byte to a pipe; the work happens on the user-interface thread.
class TCloseSignals {
public:
    explicit TCloseSignals(std::function<void()> onCloseRequest);
    ~TCloseSignals();
    TCloseSignals(const TCloseSignals&) = delete;
    TCloseSignals& operator=(const TCloseSignals&) = delete;

private:
    std::function<void()> FOnCloseRequest;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

} // namespace pictor
