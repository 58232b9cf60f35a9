#include "app/platform/Profile.h"
#include "support/OrdinaryUser.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("profile-" + std::to_string(::getpid()) + "-" +
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
    std::string Get() const {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
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

TEST_F(ProfileTest, MissingFileGivesDefaultsAndFirstWriteCreatesOneCrLfSection) {
    EXPECT_EQ(Int("COM", "COM"), 77);
    EXPECT_EQ(Str("COM", "COM"), "<none>");
    EXPECT_FALSE(fs::exists(file_));
    EXPECT_TRUE(WritePrivateProfileStringA("COM", "COM", "4", file_.c_str()));
    EXPECT_EQ(Get(), "[COM]\r\nCOM=4\r\n");
}

TEST_F(ProfileTest, ReadingRulesCaseBlanksQuotesCommentsAndMixedLineEnds) {
    Put("; comment\r\n[system]\nhex = 0 \r\n  [ Socket ]  \r\nserverip=\"10.0.0.1\"\nPORT=8000\r\n"
        "[Other]\nPORT=1\n");
    EXPECT_EQ(Int("SYSTEM", "HEX"), 0);
    EXPECT_EQ(Str("Socket", "ServerIP"), "10.0.0.1");
    EXPECT_EQ(Str("SOCKET", "port"), "8000");
    EXPECT_EQ(Str("Socket", "Missing"), "<none>");
    EXPECT_EQ(Int("Nowhere", "PORT"), 77);
}

TEST_F(ProfileTest, IntegerReaderOnJunk) {
    Put("[S]\na=abc\nb=-1\nc=99999999999\nd=12abc\ne=\nf=+5\ng=-99999999999\n");
    EXPECT_EQ(Int("S", "a"), 0);
    EXPECT_EQ(Int("S", "b"), -1);
    EXPECT_EQ(Int("S", "c"), 2147483647);
    EXPECT_EQ(Int("S", "d"), 12);
    EXPECT_EQ(Int("S", "e"), 0);
    EXPECT_EQ(Int("S", "f"), 5);
    EXPECT_EQ(Int("S", "g"), -2147483647 - 1);
}

TEST_F(ProfileTest, LongValuesAreCutToTheBufferAndAlwaysTerminated) {
    std::string big(1 << 20, '7');
    Put("[Socket]\r\nPORT=" + big + "\r\nServerIP=1.2.3.4\r\n");
    EXPECT_EQ(Str("Socket", "PORT", 6), "77777");
    EXPECT_EQ(Str("Socket", "ServerIP", 16), "1.2.3.4");
    char one[1] = {'x'};
    EXPECT_EQ(GetPrivateProfileStringA("Socket", "PORT", "", one, 1, file_.c_str()), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(ProfileTest, WritesKeepEveryOtherKeyCommentAndTheFilesLineEnding) {
    std::string junk("\x01\xff\xfe\x00zz", 6);
    Put("; keep "
        "me\n[COM]\nCOM=2\nBaudRate=5\n\n[SYSTEM]\nREOPEN=0\nHEX=1\n[Ports]\nCOM3=/dev/pts/9\n" +
        junk + "\n");
    ASSERT_TRUE(WritePrivateProfileStringA("system", "hex", "0", file_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("COM", "COM", "4", file_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Socket", "PORT", "9000", file_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("SYSTEM", "Single", "1", file_.c_str()));
    EXPECT_EQ(Get(), "; keep me\n[COM]\nCOM=4\nBaudRate=5\n\n[SYSTEM]\nREOPEN=0\nhex=0\nSingle=1\n"
                     "[Ports]\nCOM3=/dev/pts/9\n" +
                         junk + "\n\n[Socket]\nPORT=9000\n");
    EXPECT_EQ(Str("Ports", "com3"), "/dev/pts/9");
}

TEST_F(ProfileTest, UnwritableTargetsFailWithoutChangingAnything) {
    // A settings path that is a directory reads as missing and cannot be written.
    fs::create_directories(file_);
    EXPECT_EQ(Int("COM", "COM"), 77);
    EXPECT_FALSE(WritePrivateProfileStringA("COM", "COM", "1", file_.c_str()));
    EXPECT_TRUE(fs::is_directory(file_));
    fs::remove(file_);

    // A device behind a link is written in place, and a full device reports the failure.
    fs::create_symlink("/dev/full", file_);
    EXPECT_FALSE(WritePrivateProfileStringA("COM", "COM", "1", file_.c_str()));
    EXPECT_TRUE(fs::is_symlink(file_));
    fs::remove(file_);

    // A link to a regular file is written through and stays a link.
    std::string real = (dir_ / "real.ini").string();
    std::ofstream(real) << "[A]\nb=1\n";
    fs::create_symlink(real, file_);
    EXPECT_TRUE(WritePrivateProfileStringA("A", "c", "2", file_.c_str()));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(Str("A", "c"), "2");

    // A folder that cannot be written, around a file that can: a write in place would succeed,
    // but a write that replaces the file fails, the old file is untouched and no temporary file
    // is left behind. Root ignores modes, so an ordinary user tries it.
    fs::remove(file_);
    Put("[A]\nb=1\n");
    fs::permissions(file_, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                              fs::perms::others_exec));
    fs::permissions(dir_, fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                             fs::perms::others_write));
    EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
        EXPECT_FALSE(WritePrivateProfileStringA("A", "b", "2", file_.c_str()));
        EXPECT_EQ(Get(), "[A]\nb=1\n");
        return !::testing::Test::HasFailure();
    }));
    EXPECT_EQ(Get(), "[A]\nb=1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(ProfileTest, BackslashNameMeansTheCurrentDirectory) {
    auto old = fs::current_path();
    fs::current_path(dir_);
    EXPECT_TRUE(WritePrivateProfileStringA("COM", "BaudRate", "2", ".\\VarnelConfig.ini"));
    EXPECT_EQ(GetPrivateProfileIntA("com", "baudrate", 5, ".\\VarnelConfig.ini"), 2);
    fs::current_path(old);
    EXPECT_EQ(Get(), "[COM]\r\nBaudRate=2\r\n");
}

} // namespace
