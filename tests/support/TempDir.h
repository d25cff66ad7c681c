#pragma once

// Small file helpers shared by the test executables.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pictor_test {

// A fresh folder under the system's temporary folder, removed with everything in it (even
// read-only parts) when the object goes.
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& tag = "pictor") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder");
        path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

} // namespace pictor_test
