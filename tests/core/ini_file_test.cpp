#include "core/Exception.h"
#include "core/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

// In a child process set up by prepare, writes value to key k of section A of the file and
// saves; true when that save raised EInOutError.
bool SaveFailsInChild(const std::string& path, const std::string& value,
                      const std::function<bool()>& prepare) {
    const pid_t child = fork();
    if (child == 0) {
        if (!prepare()) _exit(3);
        TIniFile ini(path);
        ini.WriteString("A", "k", value);
        try {
            ini.UpdateFile();
        } catch (const EInOutError&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TIniFile Parse(const std::string& text) {
    TIniFile ini("/nonexistent/never.ini");
    ini.SetText(text);
    return ini;
}

} // namespace

TEST(IniFile, ReadsProfileValuesWithDefaults) {
    const TIniFile ini = Parse("\xEF\xBB\xBF[WindowPosition]\r\n"
                               "Width = 1024 \r\n"
                               "height=0x20\r\n"
                               "Top=abc\r\n"
                               "Left=-5\n"
                               "Big=99999999999\n"
                               "Hex=0xFFFFFFFF\n"
                               "Quoted=\"a b\"\n"
                               "NoEquals\n"
                               "[view]\n"
                               "TreeWidth=300\n");
    EXPECT_EQ(ini.ReadInteger("windowposition", "WIDTH", 800), 1024);
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Height", 600), 32);
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Top", 7), 7) << "non-numeric reads as default";
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Left", 0), -5);
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Big", 800), 800) << "out of int range";
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Hex", 0), -1);
    EXPECT_EQ(ini.ReadInteger("WindowPosition", "Missing", 42), 42);
    EXPECT_EQ(ini.ReadInteger("Nowhere", "Width", 42), 42);
    EXPECT_EQ(ini.ReadString("WindowPosition", "Quoted", ""), "a b");
    EXPECT_EQ(ini.ReadString("WindowPosition", "NoEquals", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("View", "TreeWidth", 225), 300);
    EXPECT_TRUE(ini.ReadBool("View", "TreeWidth", false)) << "any non-zero integer is true";
    EXPECT_FALSE(ini.ReadBool("WindowPosition", "Top", false));
    EXPECT_TRUE(ini.ReadBool("WindowPosition", "Top", true));
}

TEST(IniFile, FirstSectionAndFirstKeyWin) {
    const TIniFile ini = Parse("[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nonly=5\n");
    EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
    EXPECT_EQ(ini.ReadInteger("A", "only", 0), 0) << "the duplicate section is not merged";
    EXPECT_EQ(ini.ReadSectionValues("a"), (std::vector<std::string>{"k=1", "k=2"}));
}

TEST(IniFile, WritesKeepOrderAndUnknownContent) {
    TIniFile ini = Parse("; comment\r\n[Keep]\r\nx=1\r\n\r\n[Plug-in]\r\n/a.spi=1\r\n/b.spi=0\r\n");
    ini.WriteInteger("Keep", "y", 2);
    ini.WriteInteger("Keep", "X", 3);
    ini.EraseSection("plug-in");
    ini.WriteBool("Plug-in", "/c.spi", false);
    ini.WriteString("New", "v", "line\nbreak");
    EXPECT_EQ(ini.Text(), "; comment\r\n[Keep]\r\nX=3\r\ny=2\r\n\r\n[Plug-in]\r\n/c.spi=0\r\n"
                          "\r\n[New]\r\nv=line break\r\n");
    // What was written reads back the same way.
    const TIniFile again = Parse(ini.Text());
    EXPECT_EQ(again.ReadInteger("keep", "x", 0), 3);
    EXPECT_EQ(again.ReadSection("Plug-in"), std::vector<std::string>{"/c.spi"});
}

TEST(IniFile, OddFilesReadAsDefaults) {
    TempDir dir;
    // A folder, an empty file and a file larger than any settings file all read as defaults.
    fs::create_directory(dir.path / "folder.ini");
    WriteFile(dir.path / "empty.ini", "");
    {
        std::ofstream big(dir.path / "big.ini", std::ios::binary);
        big << "[A]\nk=1\n" << std::string(TIniFile::MaxFileSize, 'x');
    }
    fs::create_symlink("/dev/zero", dir.path / "zero.ini");
    for (const char* name : {"folder.ini", "empty.ini", "big.ini", "zero.ini", "missing.ini"}) {
        TIniFile ini((dir.path / name).string());
        EXPECT_EQ(ini.ReadInteger("A", "k", 9), 9) << name;
    }
    EXPECT_FALSE(TIniFile((dir.path / "missing.ini").string()).FileExisted());
    EXPECT_TRUE(TIniFile((dir.path / "empty.ini").string()).FileExisted());
}

TEST(IniFile, NulBytesAndLongLinesDoNotConfuseTheParser) {
    std::string text = "[A]\nk=1\n";
    text += std::string("x\0y=2\n", 6);
    text += "long=" + std::string(1 << 20, 'z') + "\n[B]\nk=2\n";
    const TIniFile ini = Parse(text);
    EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
    EXPECT_EQ(ini.ReadString("A", "long", "").size(), size_t(1) << 20);
    EXPECT_EQ(ini.ReadInteger("B", "k", 0), 2);
}

TEST(IniFile, SaveReplacesWholeFileAndFollowsSymlinks) {
    TempDir dir;
    const fs::path real = dir.path / "real.ini";
    const fs::path link = dir.path / "link.ini";
    WriteFile(real, "[A]\nk=1\n");
    fs::permissions(real, fs::perms(0640));
    fs::create_symlink(real, link);
    TIniFile ini(link.string());
    ini.WriteInteger("A", "k", 2);
    ini.UpdateFile();
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(ReadFile(real), "[A]\nk=2\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0640));
    // Nothing but the two names is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);
}

TEST(IniFile, RefusedWriteRaisesTheMessageAndKeepsTheOldFile) {
    TempDir dir;
    // A parent that is a file fails even for root.
    WriteFile(dir.path / "file", "x");
    TIniFile blocked((dir.path / "file" / "pictor.ini").string());
    blocked.WriteInteger("A", "k", 1);
    try {
        blocked.UpdateFile();
        FAIL() << "save into a non-folder succeeded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  (dir.path / "file" / "pictor.ini").string() + " に書き込めません");
    }

    // A read-only folder, checked as an unprivileged user (root ignores mode bits).
    const fs::path ro = dir.path / "ro";
    fs::create_directory(ro);
    WriteFile(ro / "pictor.ini", "[A]\nk=1\n");
    fs::permissions(ro, fs::perms(0555));
    fs::permissions(dir.path, fs::perms(0755));
    EXPECT_TRUE(SaveFailsInChild((ro / "pictor.ini").string(), "2", [] {
        // As an unprivileged user (root ignores mode bits).
        return getuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
    })) << "the save into a read-only folder did not fail";
    EXPECT_EQ(ReadFile(ro / "pictor.ini"), "[A]\nk=1\n");
}

TEST(IniFile, DiskFullLeavesTheOldFile) {
    TempDir dir;
    const fs::path p = dir.path / "pictor.ini";
    WriteFile(p, "[A]\nk=1\n");
    EXPECT_TRUE(SaveFailsInChild(p.string(), std::string(4096, 'v'), [] {
        // Every write past 1 KiB fails with EFBIG, as on a full disk.
        struct rlimit lim {
            1024, 1024
        };
        signal(SIGXFSZ, SIG_IGN);
        return setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }));
    EXPECT_EQ(ReadFile(p), "[A]\nk=1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1)
        << "a failed save left a temporary file";
}

// A save killed at any moment leaves either the old or the new complete file.
TEST(IniFile, SaveKilledAtRandomMomentsNeverTearsTheFile) {
    TempDir dir;
    const fs::path p = dir.path / "pictor.ini";
    auto content = [](int version) {
        std::string text;
        for (int s = 0; s < 7; ++s) {
            text += "[Section" + std::to_string(s) + "]\n";
            for (int i = 0; i < 600; ++i)
                text += "Key" + std::to_string(i) + "=" + std::to_string(version) +
                        std::string(40, char('a' + version % 26)) + "\n";
        }
        return text;
    };
    WriteFile(p, content(0));
    auto save = [&](const std::string& text) {
        const pid_t child = fork();
        if (child == 0) {
            TIniFile ini(p.string());
            ini.SetText(text);
            ini.UpdateFile();
            _exit(0);
        }
        return child;
    };
    // Kill moments spread over about twice the length of one whole save on this machine (and
    // build), so that some kills land before, during and after the write.
    const auto start = std::chrono::steady_clock::now();
    waitpid(save(content(0)), nullptr, 0);
    const auto span =
        std::max<long long>(2000, 2 * std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
    std::mt19937 rng(12345);
    std::string current = content(0);
    for (int run = 1; run <= 100; ++run) {
        const std::string next = content(run);
        const pid_t child = save(next);
        ASSERT_GE(child, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % span));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = ReadFile(p);
        ASSERT_TRUE(now == current || now == next) << "torn file after run " << run;
        current = now;
    }
    // A killed save leaves no temporary file behind (it is unnamed until complete); at most
    // a complete one killed between naming and renaming.
    for (const auto& e : fs::directory_iterator(dir.path)) {
        if (e.path() != p) {
            EXPECT_GT(fs::file_size(e.path()), 100000u) << e.path();
        }
    }
}
