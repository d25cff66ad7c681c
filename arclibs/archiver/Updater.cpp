#include "Updater.h"

#include "NameText.h"
#include "OutputText.h"
#include "SafePath.h"
#include "Wildcard.h"
#include "archives/ArchiverApi.h"
#include "lha/LhaWriter.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace pictor::arc {

namespace {

struct TCollector {
    lha::TLhaWriter& Writer;
    TOutputText& Out;
    std::string Base; // ends in '/'
    bool StorePaths = false, Recurse = false, Hidden = false;
    struct stat Archive {};
    bool HaveArchive = false;
    int Queued = 0, Failed = 0;

    void Fail(const std::string& name, const std::string& why) {
        ++Failed;
        Out.Line("failed: " + PrintableName(name) + " (" + why + ")");
    }

    std::string Stored(const TSafePath& p) const {
        return StorePaths ? p.Joined() : p.Parts.back();
    }

    bool IsArchive(const struct stat& st) const {
        return HaveArchive && st.st_dev == Archive.st_dev && st.st_ino == Archive.st_ino;
    }

    // rel: '/' separated, relative to the base folder, already checked.
    void Add(const TSafePath& rel, bool fromWalk) {
        const std::string disk = Base + rel.Joined();
        struct stat st;
        if (::stat(disk.c_str(), &st) != 0) return Fail(rel.Joined(), "not found");
        if (IsArchive(st)) return; // never the archive into itself
        try {
            if (S_ISREG(st.st_mode)) {
                Writer.AddFile(disk, Stored(rel));
                ++Queued;
            } else if (S_ISDIR(st.st_mode)) {
                if (!Recurse) {
                    Out.Line("skipped folder: " + PrintableName(rel.Joined()));
                    return;
                }
                if (StorePaths) Writer.AddDirectory(disk, rel.Joined());
                Walk(rel);
            } else if (!fromWalk) {
                Fail(rel.Joined(), "not a file");
            }
        } catch (const lha::ELhaError& e) {
            Fail(rel.Joined(), e.what());
        }
    }

    void Walk(const TSafePath& folder) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir((Base + folder.Joined()).c_str()),
                                                ::closedir);
        if (!dir) return Fail(folder.Joined(), "cannot read the folder");
        std::vector<std::string> names;
        while (const dirent* d = ::readdir(dir.get())) {
            const std::string n = d->d_name;
            if (n == "." || n == ".." || (!Hidden && n[0] == '.')) continue;
            names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            TSafePath child = folder;
            child.Parts.push_back(n);
            struct stat st;
            // Linked folders are not entered (a link back up would never end).
            if (::lstat((Base + child.Joined()).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                struct stat target;
                if (::stat((Base + child.Joined()).c_str(), &target) == 0 &&
                    S_ISDIR(target.st_mode))
                    continue;
            }
            Add(child, true);
        }
    }

    // A listed name with '*' or '?' in its last part: the matching entries of its folder.
    void Expand(const TSafePath& pattern) {
        TSafePath folder = pattern;
        folder.Parts.pop_back();
        const std::string dirPath = Base + (folder.Parts.empty() ? "." : folder.Joined());
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(dirPath.c_str()), ::closedir);
        if (!dir) return Fail(pattern.Joined(), "cannot read the folder");
        std::vector<std::string> names;
        while (const dirent* d = ::readdir(dir.get())) {
            const std::string n = d->d_name;
            if (n == "." || n == ".." || (!Hidden && n[0] == '.')) continue;
            if (MatchWildcard(pattern.Parts.back(), n)) names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            TSafePath child = folder;
            child.Parts.push_back(n);
            Add(child, true);
        }
    }
};

const char* ResultText(lha::TEntryResult r) {
    switch (r) {
    case lha::TEntryResult::Added:
        return "added";
    case lha::TEntryResult::Replaced:
        return "replaced";
    case lha::TEntryResult::Kept:
        return "kept";
    case lha::TEntryResult::Failed:
        return "failed";
    }
    return "";
}

bool SwitchOn(const TCommandLine& cmd, const char* name) {
    const TSwitch* s = cmd.Find(name);
    return s && s->Value != "0" && s->Value != "-";
}

} // namespace

int UpdateArchive(const TCommandLine& cmd, TOutputText& out) {
    lha::TLhaWriter writer(cmd.Archive);
    TCollector c{writer, out, cmd.BaseFolder.empty() ? std::string("./") : cmd.BaseFolder};
    c.StorePaths = SwitchOn(cmd, "x");
    c.Recurse = cmd.Find("r") && cmd.Recurse;
    c.Hidden = SwitchOn(cmd, "a");
    c.HaveArchive = ::stat(cmd.Archive.c_str(), &c.Archive) == 0;

    for (const std::string& name : cmd.Patterns) {
        std::string why;
        auto rel = SanitiseMemberPath(name, why);
        if (!rel) {
            c.Fail(name, why.empty() ? "not a file name" : "refused: " + why);
            continue;
        }
        if (rel->Parts.back().find_first_of("*?") != std::string::npos)
            c.Expand(*rel);
        else
            c.Add(*rel, false);
    }
    if (c.Queued == 0) {
        out.Line("nothing to add");
        return c.Failed ? ARC_ERROR_CANNOT_READ : ARC_ERROR_COMMAND_NAME;
    }
    lha::TLhaReport report;
    try {
        report = writer.Finish();
    } catch (const lha::ELhaError& e) {
        out.Line(std::string("the archive was not written: ") + e.what());
        return ARC_ERROR_CANNOT_WRITE;
    }
    for (const lha::TLhaEntryReport& e : report.Entries) {
        std::string line = std::string(ResultText(e.Result)) + ": " + PrintableName(e.StoredName);
        if (e.Result == lha::TEntryResult::Failed) {
            ++c.Failed;
            line += " (" + e.Error + ")";
        } else {
            line += " (" + std::to_string(e.OriginalSize) + " -> " + std::to_string(e.PackedSize) +
                    " " + e.Method + ")";
        }
        out.Line(line);
    }
    return c.Failed ? ARC_ERROR_CANNOT_READ : 0;
}

} // namespace pictor::arc
