// The profile writer against links, devices and folders it may not write, on POSIX.
#include "platform/ProfileTest.h"
#include "support/OrdinaryUser.h"

namespace {

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

} // namespace
