// A fresh directory that is the current one for the life of the object, so that the settings
// file in the current directory (".\VarnelConfig.ini") is the test's own.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testing_support {

class TempWorkDir {
public:
    TempWorkDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        previous_ = fs::current_path(ec).string();
        const fs::path base = fs::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path dir = base / ("varnel-test-" + std::to_string(std::random_device{}()));
            if (fs::create_directory(dir, ec)) {
                // Only its owner reaches into it, as with a directory from mkdtemp.
                fs::permissions(dir, fs::perms::owner_all, ec);
                path_ = dir.string();
            }
        }
        if (!path_.empty()) {
            fs::current_path(path_, ec);
            if (ec)
                path_.clear();
        }
    }
    ~TempWorkDir() {
        std::error_code ec;
        if (!previous_.empty())
            std::filesystem::current_path(previous_, ec);
        if (!ec && !path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

} // namespace testing_support
