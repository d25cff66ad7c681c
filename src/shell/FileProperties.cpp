#include "shell/FileProperties.h"

#include "core/Exception.h"
#include "core/NumberFormat.h"

#include <QDateTime>
#include <QMimeDatabase>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <utility>

namespace pictor {

namespace {

constexpr std::int64_t kNs = 1000000000;

std::int64_t Ns(const struct statx_timestamp& t) {
    return static_cast<std::int64_t>(t.tv_sec) * kNs + t.tv_nsec;
}

TFileKind KindOf(std::uint32_t mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return TFileKind::File;
    case S_IFDIR:
        return TFileKind::Folder;
    case S_IFLNK:
        return TFileKind::Symlink;
    case S_IFIFO:
        return TFileKind::Fifo;
    case S_IFSOCK:
        return TFileKind::Socket;
    case S_IFCHR:
        return TFileKind::CharDevice;
    case S_IFBLK:
        return TFileKind::BlockDevice;
    default:
        return TFileKind::Other;
    }
}

// Only regular files are sniffed by content; opening a FIFO or a device to read it could
// block or have side effects, so the others are named from their kind alone.
void FillType(TFileFacts& f) {
    static const QMimeDatabase db;
    const char* inode = nullptr;
    const char* fallback = nullptr;
    switch (f.Kind) {
    case TFileKind::Folder:
        inode = "inode/directory";
        fallback = "フォルダ";
        break;
    case TFileKind::Symlink:
        inode = "inode/symlink";
        fallback = "シンボリックリンク";
        break;
    case TFileKind::Fifo:
        inode = "inode/fifo";
        fallback = "名前付きパイプ";
        break;
    case TFileKind::Socket:
        inode = "inode/socket";
        fallback = "ソケット";
        break;
    case TFileKind::CharDevice:
        inode = "inode/chardevice";
        fallback = "キャラクタデバイス";
        break;
    case TFileKind::BlockDevice:
        inode = "inode/blockdevice";
        fallback = "ブロックデバイス";
        break;
    case TFileKind::File:
        fallback = "ファイル";
        break;
    case TFileKind::Other:
        fallback = "不明";
        break;
    }
    QMimeType mime;
    if (inode)
        mime = db.mimeTypeForName(QString::fromLatin1(inode));
    else if (f.Kind == TFileKind::File)
        mime = db.mimeTypeForFile(QString::fromStdString(f.Path));
    f.MimeName = mime.isValid() ? mime.name() : QString::fromLatin1(inode ? inode : "");
    f.TypeName =
        mime.isValid() && !mime.comment().isEmpty() ? mime.comment() : QString::fromUtf8(fallback);
}

std::string UserName(std::uint32_t uid) {
    struct passwd pw {
    }, *res = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_name)
        return res->pw_name;
    return std::to_string(uid);
}

std::string GroupName(std::uint32_t gid) {
    struct group gr {
    }, *res = nullptr;
    std::vector<char> buf(16384);
    if (getgrgid_r(gid, &gr, buf.data(), buf.size(), &res) == 0 && res && res->gr_name)
        return res->gr_name;
    return std::to_string(gid);
}

// The stored text of a link; targets longer than any path the system allows are cut there.
std::string ReadLinkText(const std::string& path) {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
        if (buf.size() >= 65536) return std::string(buf.data(), buf.size());
        buf.resize(buf.size() * 2);
    }
}

// Walks a folder without following links, summing sizes and counting entries, until the
// shared budget runs out. Hard-linked files are counted once.
class TWalker {
public:
    explicit TWalker(const TWalkBound& bound)
        : FMaxEntries(bound.MaxEntries),
          FDeadline(std::chrono::steady_clock::now() + bound.MaxTime) {}

    void Walk(const std::string& root, TFileFacts& out) {
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            const std::string dir = std::move(pending.back());
            pending.pop_back();
            DIR* d = ::opendir(dir.c_str());
            if (!d) continue; // unreadable: its contents stay unknown
            const int dfd = ::dirfd(d);
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                if (Exhausted()) {
                    out.Cut = true;
                    ::closedir(d);
                    return;
                }
                ++FEntries;
                struct stat st {};
                if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                if (S_ISDIR(st.st_mode)) {
                    ++out.Folders;
                    out.DiskSize += static_cast<std::uint64_t>(st.st_blocks) * 512;
                    pending.push_back(dir == "/" ? "/" + name : dir + "/" + name);
                    continue;
                }
                ++out.Files;
                if (st.st_nlink > 1 && !FSeen.insert({st.st_dev, st.st_ino}).second) continue;
                out.Size += static_cast<std::uint64_t>(st.st_size);
                out.DiskSize += static_cast<std::uint64_t>(st.st_blocks) * 512;
            }
            ::closedir(d);
        }
    }

private:
    bool Exhausted() {
        if (FEntries >= FMaxEntries) return true;
        // The clock is read now and then only; it is the cheaper bound to forget.
        if ((FEntries & 255) == 0 && std::chrono::steady_clock::now() > FDeadline) {
            FMaxEntries = FEntries;
            return true;
        }
        return false;
    }

    std::uint64_t FMaxEntries;
    std::uint64_t FEntries = 0;
    std::chrono::steady_clock::time_point FDeadline;
    std::set<std::pair<dev_t, ino_t>> FSeen;
};

TFileFacts Describe(const std::string& given, TWalker& walker) {
    if (given.empty()) throw Exception("パスが空です");
    std::string path = std::filesystem::absolute(given).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();

    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                &sx) != 0)
        throw EInOutError(FormatMessage("'%s' が見つかりません", {given}));

    TFileFacts f;
    f.Path = path;
    const auto slash = path.rfind('/');
    if (path == "/") {
        f.Name = "/";
    } else {
        f.Name = path.substr(slash + 1);
        f.Location = slash == 0 ? "/" : path.substr(0, slash);
    }
    f.Mode = sx.stx_mode;
    f.Kind = KindOf(sx.stx_mode);
    f.Uid = sx.stx_uid;
    f.Gid = sx.stx_gid;
    f.Owner = UserName(f.Uid);
    f.Group = GroupName(f.Gid);
    if (sx.stx_mask & STATX_BTIME) f.Created = Ns(sx.stx_btime);
    f.Modified = Ns(sx.stx_mtime);
    f.Accessed = Ns(sx.stx_atime);
    FillType(f);
    if (f.Kind == TFileKind::Folder) {
        walker.Walk(path, f);
    } else {
        f.Size = sx.stx_size;
        f.DiskSize = sx.stx_blocks * 512;
    }
    if (f.Kind == TFileKind::Symlink) {
        f.LinkTarget = ReadLinkText(path);
        struct stat st {};
        f.LinkBroken = ::stat(path.c_str(), &st) != 0;
    }
    return f;
}

} // namespace

TFileProperties TFileProperties::Gather(const std::vector<std::string>& paths,
                                        const TWalkBound& bound) {
    if (paths.empty()) throw Exception("プロパティを表示する項目がありません");
    TWalker walker(bound);
    TFileProperties p;
    for (const std::string& path : paths) {
        TFileFacts f = Describe(path, walker);
        p.TotalSize += f.Size;
        p.TotalDiskSize += f.DiskSize;
        if (f.Kind == TFileKind::Folder) {
            p.TotalFolders += 1 + f.Folders;
            p.TotalFiles += f.Files;
        } else {
            p.TotalFiles += 1;
        }
        p.Cut = p.Cut || f.Cut;
        p.Items.push_back(std::move(f));
    }
    return p;
}

std::string PermissionText(std::uint32_t mode) {
    std::string t = "---------";
    const char letters[] = "rwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i)) t[i] = letters[i % 3];
    auto special = [&](std::uint32_t bit, int at, char on, char off) {
        if (mode & bit) t[at] = t[at] == 'x' ? on : off;
    };
    special(S_ISUID, 2, 's', 'S');
    special(S_ISGID, 5, 's', 'S');
    special(S_ISVTX, 8, 't', 'T');
    return t;
}

std::string OctalModeText(std::uint32_t mode) {
    std::string t(4, '0');
    const std::uint32_t m = mode & 07777;
    for (int i = 0; i < 4; ++i)
        t[i] = static_cast<char>('0' + ((m >> (3 * (3 - i))) & 7));
    return t;
}

QString SizeText(std::uint64_t bytes) {
    const std::string exact = FormatFloat("#,##0", static_cast<long double>(bytes)) + " バイト";
    if (bytes < 1024) return QString::fromStdString(exact);
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    long double v = static_cast<long double>(bytes) / 1024;
    int u = 0;
    while (v >= 1024 && u < 5) {
        v /= 1024;
        ++u;
    }
    // Three significant digits, as far as the integer part allows.
    const char* picture = v < 10 ? "0.##" : v < 100 ? "0.#" : "#,##0";
    return QString::fromStdString(FormatFloat(picture, v) + " " + units[u] + " (" + exact + ")");
}

QString DateTimeText(std::int64_t nanoseconds) {
    return QDateTime::fromMSecsSinceEpoch(nanoseconds / 1000000)
        .toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

} // namespace pictor
