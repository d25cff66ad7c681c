#pragma once

// Change watching for the file list and the folder tree.
//
// Each watcher runs one thread with its own inotify descriptor and sleeps in poll() on it and
// on an eventfd that carries stop and "path/folders changed". A burst of changes is collected
// until it has been quiet for the settle time (or, for a change stream that never pauses, until
// the longest wait has passed since the burst began), then the owner's handler runs on the UI
// thread through a queued call and the watcher thread waits until it has returned.
//
// Lifetime: the object and its thread share a state. Stop() clears the handlers and wakes every
// wait of the thread (including the wait for a handler to run), so the destructor can join the
// thread without deadlocking even when it is called from inside the handler. The context object
// given at construction must outlive the watcher.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QObject;

namespace pictor {

struct TDeviceChangeData;

// Change-filter bits (the values the owners pass).
constexpr unsigned FileNotifyFileName = 0x01;   // entries created, deleted, renamed (not folders)
constexpr unsigned FileNotifyDirName = 0x02;    // folders created, deleted, renamed
constexpr unsigned FileNotifyAttributes = 0x04; // permissions, owner, times set explicitly
constexpr unsigned FileNotifySize = 0x08;       // contents written
constexpr unsigned FileNotifyLastWrite = 0x10;  // contents written

// Watches one folder (not its subfolders) for the file list.
class TShFilesWatcher {
public:
    using THandler = std::function<void(TShFilesWatcher* sender, const std::string& path)>;

    // Starts the thread at once. context: a QObject of the UI thread on which the handler runs
    // (null: QCoreApplication::instance(); when there is no application either, the handler
    // runs on the watcher thread). settleMs: quiet time that ends a burst; maxWaitMs: a burst
    // is reported at the latest this long after its first change.
    TShFilesWatcher(const std::string& path, unsigned filter, THandler handler,
                    QObject* context = nullptr, int settleMs = 2000, int maxWaitMs = 10000);
    ~TShFilesWatcher();
    TShFilesWatcher(const TShFilesWatcher&) = delete;
    TShFilesWatcher& operator=(const TShFilesWatcher&) = delete;

    // When path differs from the current one: watches it if it names an existing folder,
    // otherwise stops watching (the current path becomes empty). A burst being collected for
    // the old path is dropped.
    void SetPath(const std::string& path);
    std::string Path() const;
    // Clears the handler and ends the thread; a burst being collected is not reported.
    void Stop();
    // True when the thread has ended within ms milliseconds.
    bool WaitForEnd(int ms);

    // Whether a folder is being watched right now.
    bool Watching() const;
    // Why the last attempt to watch failed (one line for the user), empty after a success.
    std::string LastError() const;
    // Number of queue-overflow events seen (each counts as a change).
    int OverflowCount() const;

    // For tests only: called on the watcher thread just before it reads queued events, so a
    // test can hold the thread while the queue fills. Applies to every files watcher.
    static void SetBeforeReadHook(std::function<void()> hook);

    struct TState;

private:
    std::shared_ptr<TState> FState;
    std::thread FThread;
};

// Watches a set of folders (each non-recursively) for the folder tree, and carries device
// notices to it.
class TShDirWatcher {
public:
    using TDeviceHandler = std::function<void(TShDirWatcher* sender, const TDeviceChangeData&)>;
    using TFolderHandler = std::function<void(TShDirWatcher* sender)>;

    // Starts the thread at once; see TShFilesWatcher for context, settleMs and maxWaitMs.
    // deviceSettleMs: quiet time after a device notice before it is reported.
    TShDirWatcher(std::optional<std::vector<std::string>> folders, unsigned filter,
                  TDeviceHandler deviceHandler, TFolderHandler folderHandler,
                  QObject* context = nullptr, int settleMs = 1500, int deviceSettleMs = 1000,
                  int maxWaitMs = 10000);
    ~TShDirWatcher();
    TShDirWatcher(const TShDirWatcher&) = delete;
    TShDirWatcher& operator=(const TShDirWatcher&) = delete;

    // Watches the entries that name existing folders (none: watches nothing). A folder that
    // cannot be watched (inotify limits) is left out of the set silently.
    void SetFolders(const std::optional<std::vector<std::string>>& folders);
    // The watched folders, sorted, each with a trailing "/".
    std::vector<std::string> Folders() const;
    // Queues a device notice when a device handler is assigned (a pending notice is replaced).
    // The notice is reported once no further notice has come for the device settle time, so
    // of a quick series only the last is reported, and it is never dropped.
    void PostDeviceNotice(std::unique_ptr<TDeviceChangeData> data);
    // True while a burst of folder changes is being collected.
    bool Busy() const;
    void Stop();
    bool WaitForEnd(int ms);
    std::string LastError() const;
    int OverflowCount() const;

    struct TState;

private:
    std::shared_ptr<TState> FState;
    std::thread FThread;
};

} // namespace pictor
