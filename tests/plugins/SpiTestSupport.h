#pragma once

// A temporary folder per test into which the test copies the fixture plug-ins it needs under
// the names it needs, plus the fixtures' load log (see tests/fixtures/plugins/test_plugin.c).

#include "core/PathRules.h"
#include "core/PictureFormats.h"
#include "plugins/SPIs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace pictor_test {

namespace fs = std::filesystem;

class SpiTest : public ::testing::Test {
protected:
    void SetUp() override {
        FTemp.emplace("pictor-spi");
        FRoot = FTemp->path.string();
        FLog = FRoot + "/fixture.log";
        ::setenv("PICTOR_TEST_SPI_LOG", FLog.c_str(), 1);
        FCwd = fs::current_path().string();
    }

    void TearDown() override {
        fs::current_path(FCwd);
        ::unsetenv("PICTOR_TEST_SPI_LOG");
        pictor::DefaultSPIGraphicClass() = nullptr;
        pictor::TPictureFormats::Instance().Unregister(&TestClass);
        pictor::TPictureFormats::Instance().Unregister(&OtherClass);
        FTemp.reset();
    }

    // A new folder under the test's root (absolute, no trailing '/').
    std::string Folder(const std::string& name) {
        const std::string dir = FRoot + "/" + name;
        fs::create_directories(dir);
        return dir;
    }

    static std::string Fixture(const std::string& variant) {
        return std::string(PICTOR_SPI_FIXTURES) + "/" + variant + ".spi";
    }

    // Copies fixture plug-in variant into folder as name; returns its path.
    static std::string Put(const std::string& folder, const std::string& variant,
                           const std::string& name) {
        const std::string path = folder + "/" + name;
        fs::copy_file(Fixture(variant), path, fs::copy_options::overwrite_existing);
        return path;
    }

    static std::string Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Lines the fixture plug-ins logged so far, e.g. "load in_good", "info in_good 0".
    int LogCount(const std::string& line) const {
        std::ifstream in(FLog);
        int count = 0;
        for (std::string l; std::getline(in, l);)
            count += l == line;
        return count;
    }

    // Whether the dynamic loader has the file mapped now.
    static bool IsMapped(const std::string& path) {
        void* h = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (h) ::dlclose(h);
        return h != nullptr;
    }

    static std::vector<std::string> Names(const pictor::TSPIs& spis) {
        std::vector<std::string> names;
        for (int i = 0; i < spis.Count(); ++i)
            names.push_back(pictor::ExtractFileName(spis.Items(i).FileName()));
        return names;
    }

    static std::vector<std::string> Names(const std::vector<pictor::TSPI*>& list) {
        std::vector<std::string> names;
        for (const pictor::TSPI* spi : list)
            names.push_back(pictor::ExtractFileName(spi->FileName()));
        return names;
    }

    static inline const pictor::TGraphicClass TestClass{"test graphic", {}, {}};
    static inline const pictor::TGraphicClass OtherClass{"other graphic", {}, {}};

    std::optional<TempDir> FTemp;
    std::string FRoot;
    std::string FLog;
    std::string FCwd;
};

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old, FHadOld = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (FHadOld)
            ::setenv(FName.c_str(), FOld.c_str(), 1);
        else
            ::unsetenv(FName.c_str());
    }

private:
    std::string FName, FOld;
    bool FHadOld = false;
};

} // namespace pictor_test
