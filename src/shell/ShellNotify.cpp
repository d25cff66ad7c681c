#include "shell/ShellNotify.h"

#include "shell/ShellDbt.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pictor {

namespace notify_detail {

using TClock = std::chrono::steady_clock;

// Events that tell the watched folder itself has gone, moved or been unmounted.
constexpr uint32_t SelfMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr uint32_t NameMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t WriteMask = IN_MODIFY | IN_CLOSE_WRITE;

uint32_t InotifyMask(unsigned filter) {
    uint32_t mask = SelfMask | IN_ONLYDIR;
    if (filter & (FileNotifyFileName | FileNotifyDirName)) mask |= NameMask;
    if (filter & FileNotifyAttributes) mask |= IN_ATTRIB;
    if (filter & (FileNotifySize | FileNotifyLastWrite)) mask |= WriteMask;
    return mask;
}

// Whether an event inside a watched folder is a change the filter asks for. The kernel sends
// name events for files and folders alike, so the file/folder split is made here.
bool Matches(unsigned filter, uint32_t mask) {
    if (mask & NameMask)
        return (mask & IN_ISDIR) ? (filter & FileNotifyDirName) : (filter & FileNotifyFileName);
    if (mask & IN_ATTRIB) return filter & FileNotifyAttributes;
    if (mask & WriteMask) return filter & (FileNotifySize | FileNotifyLastWrite);
    return false;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WatchError(int err) {
    switch (err) {
    case ENOSPC:
        return "inotify の監視数が上限に達しました";
    case EMFILE:
        return "inotify のインスタンス数が上限に達しました";
    case ENFILE:
        return "開いているファイルの数がシステムの上限に達しました";
    default:
        return std::string("フォルダを監視できません: ") + std::strerror(err);
    }
}

std::mutex HookLock;
std::function<void()> BeforeReadHook;

void RunBeforeReadHook() {
    std::function<void()> hook;
    {
        std::lock_guard lock(HookLock);
        hook = BeforeReadHook;
    }
    if (hook) hook();
}

// What both watchers share: the lock, the wake-up descriptor, the inotify descriptor, the stop
// flag and the handing of a report to the UI thread.
struct TWatchCore {
    mutable std::mutex Lock;
    std::condition_variable Cond;
    int WakeFd = -1;
    int Fd = -1; // inotify; opened once, closed only when the state goes (after the thread)
    bool Stopped = false;
    bool Ended = false;
    uint64_t Posted = 0; // reports handed to the UI thread
    uint64_t Done = 0;   // reports that have run (or were dropped)
    QObject* Context = nullptr;
    std::string LastError;
    std::atomic<int> Overflows{0};
    int SettleMs = 0;
    int MaxWaitMs = 0;

    TWatchCore(QObject* context, int settleMs, int maxWaitMs)
        : Context(context ? context : QCoreApplication::instance()),
          SettleMs(std::max(settleMs, 0)), MaxWaitMs(std::max(maxWaitMs, 1)) {
        WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (WakeFd < 0) {
            LastError = WatchError(errno);
            Ended = true; // no thread can run without a way to wake it
        }
    }
    ~TWatchCore() {
        if (Fd >= 0) ::close(Fd);
        if (WakeFd >= 0) ::close(WakeFd);
    }
    TWatchCore(const TWatchCore&) = delete;
    TWatchCore& operator=(const TWatchCore&) = delete;

    void Wake() const {
        const uint64_t one = 1;
        // A failed write means the counter is full, so a wake-up is pending anyway.
        if (WakeFd >= 0 && ::write(WakeFd, &one, sizeof one) < 0) return;
    }

    // Under the lock.
    bool OpenInotifyLocked() {
        if (Fd >= 0) return true;
        Fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Fd < 0) LastError = WatchError(errno);
        return Fd >= 0;
    }

    void StopAndWake() {
        {
            std::lock_guard lock(Lock);
            Stopped = true;
            Cond.notify_all();
        }
        Wake();
    }

    void MarkEnded() {
        std::lock_guard lock(Lock);
        Ended = true;
        Cond.notify_all();
    }

    bool WaitForEnd(int ms) {
        std::unique_lock lock(Lock);
        return Cond.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                             [&] { return Ended; });
    }
};

// One report on its way to the UI thread. Whether it runs or is thrown away unrun (the
// context object died, the application quit), its end releases the waiting watcher thread.
struct TDelivery {
    std::shared_ptr<TWatchCore> Core;
    uint64_t Seq;
    std::function<void()> Run;
    TDelivery(std::shared_ptr<TWatchCore> core, uint64_t seq, std::function<void()> run)
        : Core(std::move(core)), Seq(seq), Run(std::move(run)) {}
    ~TDelivery() {
        std::lock_guard lock(Core->Lock);
        Core->Done = std::max(Core->Done, Seq);
        Core->Cond.notify_all();
    }
};

// Runs run on the UI thread and waits until it has run or the watcher is stopped.
void Deliver(const std::shared_ptr<TWatchCore>& core, std::function<void()> run) {
    uint64_t seq;
    {
        std::lock_guard lock(core->Lock);
        if (core->Stopped) return;
        seq = ++core->Posted;
    }
    auto delivery = std::make_shared<TDelivery>(core, seq, std::move(run));
    if (core->Context) {
        QMetaObject::invokeMethod(
            core->Context, [delivery] { delivery->Run(); }, Qt::QueuedConnection);
    } else {
        delivery->Run();
    }
    delivery.reset(); // only the queued call may keep it alive now
    std::unique_lock lock(core->Lock);
    core->Cond.wait(lock, [&] { return core->Stopped || core->Done >= seq; });
}

// One poll on the wake descriptor and the inotify descriptor.
struct TPollResult {
    bool Failed = false;
    bool Woken = false;
    bool Readable = false;
};

TPollResult PollOnce(TWatchCore& core, int timeoutMs) {
    int fd;
    {
        std::lock_guard lock(core.Lock);
        fd = core.Fd;
    }
    pollfd fds[2] = {{core.WakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    TPollResult result;
    const int n = ::poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) {
        if (errno == EINTR) return result;
        std::lock_guard lock(core.Lock);
        core.LastError = WatchError(errno);
        result.Failed = true;
        return result;
    }
    if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) {
        std::lock_guard lock(core.Lock);
        core.LastError = WatchError(EBADF);
        result.Failed = true;
        return result;
    }
    if (fds[0].revents & POLLIN) {
        uint64_t count;
        [[maybe_unused]] ssize_t r = ::read(core.WakeFd, &count, sizeof count);
        result.Woken = true;
    }
    result.Readable = fd >= 0 && (fds[1].revents & POLLIN);
    return result;
}

// Reads what is queued (up to a bound per call, so a flood cannot keep the thread here) and
// passes each event to classify under the lock; returns true when classify found a change.
template <typename F> bool ReadEvents(TWatchCore& core, F classify) {
    RunBeforeReadHook();
    int fd;
    {
        std::lock_guard lock(core.Lock);
        fd = core.Fd;
    }
    if (fd < 0) return false;
    alignas(inotify_event) char buf[64 * 1024];
    bool changed = false;
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // EAGAIN: the queue is empty
        std::lock_guard lock(core.Lock);
        for (size_t off = 0; off + sizeof(inotify_event) <= size_t(n);) {
            inotify_event ev;
            std::memcpy(&ev, buf + off, sizeof ev);
            const size_t next = off + sizeof(inotify_event) + ev.len;
            if (next > size_t(n)) break;
            off = next;
            if (ev.mask & IN_Q_OVERFLOW) {
                // Events were dropped: anything may have changed.
                ++core.Overflows;
                changed = true;
                continue;
            }
            if (classify(ev)) changed = true;
        }
    }
    return changed;
}

// Starts a watcher's thread; without one the watcher simply reports nothing.
template <typename TState, typename TRun>
void StartThread(std::thread& thread, const std::shared_ptr<TState>& state, TRun run) {
    try {
        thread = std::thread(run, state);
    } catch (const std::system_error& e) {
        std::lock_guard lock(state->Lock);
        state->LastError = WatchError(e.code().value());
        state->Ended = true;
    }
}

// After Stop: joins the thread, or lets it finish on its own when a handler running on it
// destroys its own watcher.
void EndThread(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

int MsUntil(TClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
    return int(std::clamp<long long>(left.count(), 0, INT_MAX));
}

} // namespace notify_detail

using namespace notify_detail;

// ---------------------------------------------------------------------------------------------
// TShFilesWatcher

struct TShFilesWatcher::TState : TWatchCore {
    unsigned Filter = 0;
    std::string Path; // empty when not watching
    int Wd = -1;
    bool PathChanged = false;
    bool SelfGone = false; // the watched folder was deleted, moved or unmounted
    THandler Handler;
    TShFilesWatcher* Owner = nullptr;

    using TWatchCore::TWatchCore;

    // Watches path instead of the current folder. Under the lock.
    void ArmLocked(const std::string& path) {
        if (Wd >= 0 && Fd >= 0) ::inotify_rm_watch(Fd, Wd);
        Wd = -1;
        SelfGone = false;
        Path = IsDirectory(path) ? path : std::string();
        if (Path.empty()) return;
        if (!OpenInotifyLocked()) {
            Path.clear();
            return;
        }
        Wd = ::inotify_add_watch(Fd, Path.c_str(), InotifyMask(Filter));
        if (Wd < 0) {
            LastError = WatchError(errno);
            Path.clear();
            return;
        }
        LastError.clear();
    }

    // Under the lock.
    bool Classify(const inotify_event& ev) {
        if (Wd < 0 || ev.wd != Wd) return false; // an old watch's leftovers
        if (ev.mask & IN_IGNORED) {
            Wd = -1; // the kernel dropped the watch already
            SelfGone = true;
            return true;
        }
        if (ev.mask & SelfMask) {
            SelfGone = true;
            return true;
        }
        return Matches(Filter, ev.mask);
    }
};

namespace {

enum class TFilesWake { Stop, PathChanged, Change, Nothing };

TFilesWake WaitFiles(TShFilesWatcher::TState& s, int timeoutMs) {
    {
        std::lock_guard lock(s.Lock);
        if (s.Stopped) return TFilesWake::Stop;
        if (s.PathChanged) {
            s.PathChanged = false;
            return TFilesWake::PathChanged;
        }
    }
    const TPollResult r = PollOnce(s, timeoutMs);
    if (r.Failed) return TFilesWake::Stop;
    if (r.Woken) {
        std::lock_guard lock(s.Lock);
        if (s.Stopped) return TFilesWake::Stop;
        if (s.PathChanged) {
            s.PathChanged = false;
            return TFilesWake::PathChanged;
        }
    }
    if (r.Readable && ReadEvents(s, [&](const inotify_event& ev) { return s.Classify(ev); }))
        return TFilesWake::Change;
    return TFilesWake::Nothing;
}

void RunFilesWatcher(std::shared_ptr<TShFilesWatcher::TState> s) {
    const auto settle = std::chrono::milliseconds(s->SettleMs);
    const auto maxWait = std::chrono::milliseconds(s->MaxWaitMs);
    for (;;) {
        TFilesWake w = WaitFiles(*s, -1);
        if (w == TFilesWake::Stop) break;
        if (w != TFilesWake::Change) continue;
        // Collect the burst: until it has been quiet for the settle time, or at the latest
        // maxWait after its first change, so a never-pausing stream still gets reported.
        const auto first = TClock::now();
        auto last = first;
        bool report = false;
        while (!report) {
            const int left = MsUntil(std::min(last + settle, first + maxWait));
            if (left <= 0) {
                report = true;
                break;
            }
            w = WaitFiles(*s, left);
            if (w == TFilesWake::Stop || w == TFilesWake::PathChanged) break;
            if (w == TFilesWake::Change) last = TClock::now();
        }
        if (w == TFilesWake::Stop) break;
        if (!report) continue; // the path changed: the owner re-reads its folder anyway
        Deliver(s, [s] {
            TShFilesWatcher::THandler handler;
            std::string path;
            TShFilesWatcher* owner;
            {
                std::lock_guard lock(s->Lock);
                handler = s->Handler;
                path = s->Path;
                owner = s->Owner;
            }
            if (handler) handler(owner, path);
        });
        std::lock_guard lock(s->Lock);
        if (s->Stopped) break;
        // The folder went away (or moved): watch whatever the path names now, if anything.
        if (s->SelfGone) {
            const std::string path = s->Path;
            s->ArmLocked(path);
        }
    }
    s->MarkEnded();
}

} // namespace

TShFilesWatcher::TShFilesWatcher(const std::string& path, unsigned filter, THandler handler,
                                 QObject* context, int settleMs, int maxWaitMs)
    : FState(std::make_shared<TState>(context, settleMs, maxWaitMs)) {
    FState->Filter = filter;
    FState->Handler = std::move(handler);
    FState->Owner = this;
    if (FState->Ended) return; // no wake-up descriptor: LastError tells why
    {
        std::lock_guard lock(FState->Lock);
        // Opened even for an empty path, so a lack of inotify instances shows at once.
        FState->OpenInotifyLocked();
        FState->ArmLocked(path);
    }
    StartThread(FThread, FState, RunFilesWatcher);
}

TShFilesWatcher::~TShFilesWatcher() {
    Stop();
    EndThread(FThread);
}

void TShFilesWatcher::SetPath(const std::string& path) {
    {
        std::lock_guard lock(FState->Lock);
        if (FState->Stopped || FState->Ended || path == FState->Path) return;
        FState->ArmLocked(path);
        FState->PathChanged = true;
    }
    FState->Wake();
}

std::string TShFilesWatcher::Path() const {
    std::lock_guard lock(FState->Lock);
    return FState->Path;
}

void TShFilesWatcher::Stop() {
    {
        std::lock_guard lock(FState->Lock);
        FState->Handler = nullptr;
    }
    FState->StopAndWake();
}

bool TShFilesWatcher::WaitForEnd(int ms) {
    return FState->WaitForEnd(ms);
}

bool TShFilesWatcher::Watching() const {
    std::lock_guard lock(FState->Lock);
    return !FState->Ended && FState->Wd >= 0;
}

std::string TShFilesWatcher::LastError() const {
    std::lock_guard lock(FState->Lock);
    return FState->LastError;
}

int TShFilesWatcher::OverflowCount() const {
    return FState->Overflows.load();
}

void TShFilesWatcher::SetBeforeReadHook(std::function<void()> hook) {
    std::lock_guard lock(HookLock);
    BeforeReadHook = std::move(hook);
}

// ---------------------------------------------------------------------------------------------
// TShDirWatcher

struct TShDirWatcher::TState : TWatchCore {
    unsigned Filter = 0;
    std::vector<std::string> Folders;    // sorted, each with a trailing "/"
    std::map<std::string, int> FolderWd; // folder -> its watch
    std::map<int, int> WdUsers;          // watch -> folders using it (links, bind mounts)
    bool Busy = false;
    bool FoldersChanged = false;
    bool DeviceEvent = false;
    std::unique_ptr<TDeviceChangeData> Pending;
    TDeviceHandler DeviceHandler;
    TFolderHandler FolderHandler;
    TShDirWatcher* Owner = nullptr;
    int DeviceSettleMs = 0;

    using TWatchCore::TWatchCore;

    // Under the lock.
    bool WatchLocked(const std::string& folder) {
        if (!OpenInotifyLocked()) return false;
        const int wd = ::inotify_add_watch(Fd, folder.c_str(), InotifyMask(Filter));
        if (wd < 0) {
            LastError = WatchError(errno);
            return false;
        }
        FolderWd[folder] = wd;
        ++WdUsers[wd];
        return true;
    }

    void UnwatchLocked(const std::string& folder) {
        const auto it = FolderWd.find(folder);
        if (it == FolderWd.end()) return;
        const int wd = it->second;
        FolderWd.erase(it);
        const auto users = WdUsers.find(wd);
        if (users != WdUsers.end() && --users->second <= 0) {
            WdUsers.erase(users);
            ::inotify_rm_watch(Fd, wd);
        }
    }

    // Under the lock.
    bool Classify(const inotify_event& ev) {
        const auto users = WdUsers.find(ev.wd);
        if (users == WdUsers.end()) return false;
        if (ev.mask & IN_IGNORED) {
            // The folder is gone; drop it, so setting it again later watches it afresh.
            WdUsers.erase(users);
            for (auto it = FolderWd.begin(); it != FolderWd.end();) {
                if (it->second == ev.wd) {
                    std::erase(Folders, it->first);
                    it = FolderWd.erase(it);
                } else {
                    ++it;
                }
            }
            return true;
        }
        if (ev.mask & SelfMask) return true;
        return Matches(Filter, ev.mask);
    }
};

namespace {

struct TDirWake {
    bool Stop = false;
    bool FoldersChanged = false;
    bool Device = false;
    bool Change = false;
};

TDirWake WaitDir(TShDirWatcher::TState& s, int timeoutMs) {
    TDirWake w;
    auto takeFlags = [&] {
        std::lock_guard lock(s.Lock);
        w.Stop = s.Stopped;
        w.FoldersChanged = std::exchange(s.FoldersChanged, false);
        w.Device = std::exchange(s.DeviceEvent, false);
        return w.Stop || w.FoldersChanged || w.Device;
    };
    if (takeFlags()) return w;
    const TPollResult r = PollOnce(s, timeoutMs);
    if (r.Failed) {
        w.Stop = true;
        return w;
    }
    if (r.Woken && takeFlags() && w.Stop) return w;
    if (r.Readable)
        w.Change = ReadEvents(s, [&](const inotify_event& ev) { return s.Classify(ev); });
    return w;
}

void RunDirWatcher(std::shared_ptr<TShDirWatcher::TState> s) {
    const auto settle = std::chrono::milliseconds(s->SettleMs);
    const auto maxWait = std::chrono::milliseconds(s->MaxWaitMs);
    const auto deviceSettle = std::chrono::milliseconds(s->DeviceSettleMs);
    // A burst is being collected while burst is set; a device notice waits while deviceWait is.
    bool burst = false, deviceWait = false;
    TClock::time_point burstFirst{}, burstLast{}, deviceDue{};
    for (;;) {
        const auto burstDue = std::min(burstLast + settle, burstFirst + maxWait);
        int timeout = -1;
        if (burst && deviceWait)
            timeout = MsUntil(std::min(burstDue, deviceDue));
        else if (burst)
            timeout = MsUntil(burstDue);
        else if (deviceWait)
            timeout = MsUntil(deviceDue);
        {
            std::lock_guard lock(s->Lock);
            s->Busy = burst;
        }
        const TDirWake w = WaitDir(*s, timeout);
        if (w.Stop) break;
        const auto now = TClock::now();
        // A further notice restarts the quiet time; the latest notice is the one reported.
        if (w.Device) {
            deviceWait = true;
            deviceDue = now + deviceSettle;
        }
        if (w.FoldersChanged) {
            // With no folder left the owner has stopped watching (a name is being edited, or
            // the window goes): what was collected is not reported. Otherwise the kept
            // folders' changes still count.
            std::lock_guard lock(s->Lock);
            if (s->Folders.empty()) burst = false;
        }
        if (w.Change) {
            if (!burst) burstFirst = now;
            burst = true;
            burstLast = now;
        }
        if (deviceWait && now >= deviceDue) {
            deviceWait = false;
            std::shared_ptr<TDeviceChangeData> data;
            {
                std::lock_guard lock(s->Lock);
                data = std::move(s->Pending);
            }
            if (data) {
                Deliver(s, [s, data] {
                    TShDirWatcher::TDeviceHandler handler;
                    TShDirWatcher* owner;
                    {
                        std::lock_guard lock(s->Lock);
                        handler = s->DeviceHandler;
                        owner = s->Owner;
                    }
                    if (handler) handler(owner, *data);
                });
            }
        }
        if (burst && now >= std::min(burstLast + settle, burstFirst + maxWait)) {
            Deliver(s, [s] {
                TShDirWatcher::TFolderHandler handler;
                TShDirWatcher* owner;
                {
                    std::lock_guard lock(s->Lock);
                    handler = s->FolderHandler;
                    owner = s->Owner;
                }
                if (handler) handler(owner);
            });
            burst = false;
        }
    }
    {
        std::lock_guard lock(s->Lock);
        s->Busy = false;
    }
    s->MarkEnded();
}

std::vector<std::string> ExistingFolders(const std::vector<std::string>& folders) {
    std::vector<std::string> list;
    for (const auto& f : folders) {
        if (!IsDirectory(f)) continue;
        list.push_back(f.back() == '/' ? f : f + "/");
    }
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

} // namespace

TShDirWatcher::TShDirWatcher(std::optional<std::vector<std::string>> folders, unsigned filter,
                             TDeviceHandler deviceHandler, TFolderHandler folderHandler,
                             QObject* context, int settleMs, int deviceSettleMs, int maxWaitMs)
    : FState(std::make_shared<TState>(context, settleMs, maxWaitMs)) {
    FState->Filter = filter;
    FState->DeviceHandler = std::move(deviceHandler);
    FState->FolderHandler = std::move(folderHandler);
    FState->Owner = this;
    FState->DeviceSettleMs = std::max(deviceSettleMs, 0);
    if (FState->Ended) return;
    {
        std::lock_guard lock(FState->Lock);
        FState->OpenInotifyLocked();
    }
    SetFolders(folders);
    StartThread(FThread, FState, RunDirWatcher);
}

TShDirWatcher::~TShDirWatcher() {
    Stop();
    EndThread(FThread);
}

void TShDirWatcher::SetFolders(const std::optional<std::vector<std::string>>& folders) {
    // Checked outside the lock: stat() may be slow on a network folder.
    const std::vector<std::string> list =
        folders ? ExistingFolders(*folders) : std::vector<std::string>{};
    {
        std::lock_guard lock(FState->Lock);
        if (FState->Stopped || FState->Ended) return;
        if (folders && list == FState->Folders) return;
        // Keep the watches of folders that stay (their queued changes still count).
        for (const auto& f : FState->Folders)
            if (!std::binary_search(list.begin(), list.end(), f)) FState->UnwatchLocked(f);
        std::vector<std::string> watched;
        for (const auto& f : list)
            if (FState->FolderWd.count(f) || FState->WatchLocked(f)) watched.push_back(f);
        FState->Folders = std::move(watched);
        FState->FoldersChanged = true;
    }
    FState->Wake();
}

std::vector<std::string> TShDirWatcher::Folders() const {
    std::lock_guard lock(FState->Lock);
    return FState->Folders;
}

void TShDirWatcher::PostDeviceNotice(std::unique_ptr<TDeviceChangeData> data) {
    if (!data) return;
    {
        std::lock_guard lock(FState->Lock);
        if (!FState->DeviceHandler || FState->Stopped || FState->Ended) return;
        FState->Pending = std::move(data);
        FState->DeviceEvent = true;
    }
    FState->Wake();
}

bool TShDirWatcher::Busy() const {
    std::lock_guard lock(FState->Lock);
    return FState->Busy;
}

void TShDirWatcher::Stop() {
    {
        std::lock_guard lock(FState->Lock);
        FState->DeviceHandler = nullptr;
        FState->FolderHandler = nullptr;
    }
    FState->StopAndWake();
}

bool TShDirWatcher::WaitForEnd(int ms) {
    return FState->WaitForEnd(ms);
}

std::string TShDirWatcher::LastError() const {
    std::lock_guard lock(FState->Lock);
    return FState->LastError;
}

int TShDirWatcher::OverflowCount() const {
    return FState->Overflows.load();
}

} // namespace pictor
