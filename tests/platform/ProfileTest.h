// The fixture of the profile tests: a fresh folder with VarnelConfig.ini in it, and readers.
#pragma once

#include "app/platform/Profile.h"
#include "support/FileText.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("profile-" + std::to_string(std::random_device{}()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = (dir_ / "VarnelConfig.ini").string();
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    void Put(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
    std::string Get() const { return testing_support::ReadFile(file_); }
    std::string Str(const char* section, const char* key, std::uint32_t size = 64) {
        std::string buf(size, 'x');
        GetPrivateProfileStringA(section, key, "<none>", buf.data(), size, file_.c_str());
        return buf.c_str();
    }
    int Int(const char* section, const char* key) {
        return GetPrivateProfileIntA(section, key, 77, file_.c_str());
    }

    fs::path dir_;
    std::string file_;
};
