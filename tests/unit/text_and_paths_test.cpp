#include <gtest/gtest.h>

#include <filesystem>

#include "common/common.h"
#include "test_support.h"

namespace {

using testing_support::ServiceTest;

TEST(TrimBlanks, RemovesOnlyOuterBlanks) {
    struct Case { const char* input; const char* expected; };
    const Case cases[] = {
        {"  key  ", "key"},
        {"a b", "a b"},
        {"    ", ""},
        {"", ""},
        {"\tkey\t", "\tkey\t"},      // tabs stay
        {" \r\nvalue\r ", "\r\nvalue\r"},  // so do CR and LF
    };
    for (const Case& c : cases) EXPECT_EQ(TrimBlanks(c.input), c.expected) << c.input;
}

TEST(DirectoryOfPath, SplitsDriveAndDirectory) {
    struct Case { const char* path; const char* expected; };
    const Case cases[] = {
        {"D:\\svc\\tool.exe", "D:\\svc\\"},
        {"C:\\Program Files\\Kelvoran\\kelvoran.exe", "C:\\Program Files\\Kelvoran\\"},
        {"C:/mixed\\dir/kelvoran.exe", "C:/mixed\\dir/"},  // last separator of either kind
        {"\\\\server\\share\\dir\\kelvoran.exe", "\\\\server\\share\\dir\\"},  // UNC: no drive
        {"Z:\\tmp\\x\\kelvoran.exe", "Z:\\tmp\\x\\"},
        {"kelvoran.exe", ""},
        {"C:kelvoran.exe", "C:"},
    };
    for (const Case& c : cases) EXPECT_EQ(DirectoryOfPath(c.path), c.expected) << c.path;
}

class HelpersOnDisk : public ServiceTest {};

TEST_F(HelpersOnDisk, GetExeDirectoryFollowsTheModulePath) {
    platform().modulePath = "D:\\svc\\tool.exe";
    EXPECT_EQ(GetExeDirectory(), "D:\\svc\\");
    platform().modulePath = "E:\\other\\tool.exe";  // nothing is cached
    EXPECT_EQ(GetExeDirectory(), "E:\\other\\");
}

TEST_F(HelpersOnDisk, FileExistsIsFalseForDirectoriesAndMissingFiles) {
    testing_support::WriteFile(hostPath("present.txt"), "x");
    std::filesystem::create_directories(hostPath("folder"));
    EXPECT_TRUE(FileExists(exeDirectory() + "present.txt"));
    EXPECT_FALSE(FileExists(exeDirectory() + "folder"));
    EXPECT_FALSE(FileExists(exeDirectory() + "missing.txt"));
}

}  // namespace
