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
#include <ranges>
#include <string>
#include <vector>

namespace pictor_test {

namespace fs = std::filesystem;
using NameList = std::vector<std::string>;

class SpiTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("PICTOR_TEST_SPI_LOG", FLog.c_str(), 1); }

    void TearDown() override {
        fs::current_path(FCwd);
        for (const auto& [name, value] : FEnv | std::views::reverse)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        ::unsetenv("PICTOR_TEST_SPI_LOG");
        pictor::DefaultSPIGraphicClass() = nullptr;
        pictor::TPictureFormats::Instance().Unregister(&TestClass);
        pictor::TPictureFormats::Instance().Unregister(&OtherClass);
    }

    // Sets (or, for nullptr, unsets) an environment variable until the test ends.
    void SetEnv(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        FEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }

    // A new folder under the test's root (absolute, no trailing '/').
    std::string Folder(const std::string& name) const {
        fs::create_directories(FRoot + "/" + name);
        return FRoot + "/" + name;
    }

    // Copies fixture plug-in variant into folder as name; returns its path.
    static std::string Put(const std::string& folder, const std::string& variant,
                           const std::string& name) {
        fs::copy_file(std::string(PICTOR_SPI_FIXTURES) + "/" + variant + ".spi",
                      folder + "/" + name, fs::copy_options::overwrite_existing);
        return folder + "/" + name;
    }

    // Copies several: {variant, name} pairs.
    static void Put(const std::string& folder,
                    std::initializer_list<std::pair<const char*, const char*>> plugins) {
        for (auto [variant, name] : plugins)
            Put(folder, variant, name);
    }

    static std::string Write(const std::string& path, const std::string& bytes) {
        WriteFile(path, bytes);
        return path;
    }

    // What the E that f raises says; "" when it raises nothing.
    template <class E, class F> static std::string ErrorOf(F f) {
        try {
            f();
        } catch (const E& e) {
            return e.what();
        }
        return "";
    }

    // How often the fixtures logged line, e.g. "load in_good", "info in_good 0".
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

    static NameList Names(const std::vector<pictor::TSPI*>& list) {
        NameList names;
        for (const pictor::TSPI* spi : list)
            names.push_back(pictor::ExtractFileName(spi->FileName()));
        return names;
    }
    static NameList Names(const pictor::TSPIs& spis) {
        std::vector<pictor::TSPI*> list;
        for (int i = 0; i < spis.Count(); ++i)
            list.push_back(&spis.Items(i));
        return Names(list);
    }

    static inline const pictor::TGraphicClass TestClass{"test graphic", {}, {}};
    static inline const pictor::TGraphicClass OtherClass{"other graphic", {}, {}};

    TempDir FTemp{"pictor-spi"};
    const std::string FRoot = FTemp.path.string();
    const std::string FLog = FRoot + "/fixture.log";
    const fs::path FCwd = fs::current_path();
    std::vector<std::pair<std::string, std::optional<std::string>>> FEnv;
};

} // namespace pictor_test
