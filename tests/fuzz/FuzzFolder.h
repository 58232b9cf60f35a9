// A folder of its own for a fuzz target's files, made once for the process and removed when it
// ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

struct FuzzFolder {
    std::filesystem::path dir;

    FuzzFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnel-fuzz-XXXXXX");
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data()))
            std::abort();
        dir = name.data();
    }
    ~FuzzFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;
};
