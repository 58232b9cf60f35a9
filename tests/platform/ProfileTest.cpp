// The profile reader and writer on every platform (the Windows build runs this file under Wine).
#include "platform/ProfileTest.h"

namespace {

TEST_F(ProfileTest, MissingFileGivesDefaultsAndFirstWriteCreatesOneCrLfSection) {
    EXPECT_EQ(Int("COM", "COM"), 77);
    EXPECT_EQ(Str("COM", "COM"), "<none>");
    EXPECT_FALSE(fs::exists(file_));
    EXPECT_TRUE(WritePrivateProfileStringA("COM", "COM", "4", file_.c_str()));
    EXPECT_EQ(Get(), "[COM]\r\nCOM=4\r\n");
}

TEST_F(ProfileTest, ReadingRulesCaseBlanksQuotesCommentsAndMixedLineEnds) {
    Put("; comment\r\n[system]\nhex = 0 \r\n  [ Socket ]  \r\nserverip=\"10.0.0.1\"\nPORT=8000\r\n"
        "[Other]\nPORT=1\n[Ports]\nCOM4=\"\"\nCOM5=''\nCOM6=\"\n");
    EXPECT_EQ(Int("SYSTEM", "HEX"), 0);
    EXPECT_EQ(Str("Socket", "ServerIP"), "10.0.0.1");
    EXPECT_EQ(Str("SOCKET", "port"), "8000");
    EXPECT_EQ(Str("Socket", "Missing"), "<none>");
    EXPECT_EQ(Int("Nowhere", "PORT"), 77);
    // Quoted empty values read back empty; a lone quote is the value itself.
    EXPECT_EQ(Str("Ports", "COM4"), "");
    EXPECT_EQ(Str("Ports", "COM5"), "");
    EXPECT_EQ(Str("Ports", "COM6"), "\"");
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

TEST_F(ProfileTest, BackslashNameMeansTheCurrentDirectory) {
    auto old = fs::current_path();
    fs::current_path(dir_);
    EXPECT_TRUE(WritePrivateProfileStringA("COM", "BaudRate", "2", ".\\VarnelConfig.ini"));
    EXPECT_EQ(GetPrivateProfileIntA("com", "baudrate", 5, ".\\VarnelConfig.ini"), 2);
    fs::current_path(old);
    EXPECT_EQ(Get(), "[COM]\r\nBaudRate=2\r\n");
}

} // namespace
