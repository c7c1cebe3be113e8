#include <gtest/gtest.h>

#include "schedule/schedule.h"
#include "test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::Records;
using testing_support::ServiceTest;
using testing_support::WriteFile;

const std::string kDir = "C:\\svc\\";

TEST(ParseDownloadEntry, SplitsFiveTrimmedFields) {
    const auto entry = ParseDownloadEntry(
        "  app  @@ D:\\data\\app.bin @@ none @@ client7 @@ http://h/f.bin  ", "default", kDir);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "app");
    EXPECT_EQ(entry->targetPath, "D:\\data\\app.bin");
    EXPECT_EQ(entry->action, "none");
    EXPECT_EQ(entry->clientId, "client7");
    EXPECT_EQ(entry->url, "http://h/f.bin?downloaderclientid=client7");
    EXPECT_EQ(entry->tempPath, "D:\\data\\app.bin.tempdownloader");
    EXPECT_EQ(entry->errorFile, "logs\\curlerrors_app.txt");
}

TEST(ParseDownloadEntry, SeparatorCount) {
    EXPECT_FALSE(ParseDownloadEntry("a@@b@@c@@http://h/", "default", kDir));  // three
    EXPECT_FALSE(ParseDownloadEntry("", "default", kDir));
    EXPECT_FALSE(ParseDownloadEntry("a@b@@c@@d@@e", "default", kDir));
    const auto six = ParseDownloadEntry("a@@b@@c@@d@@http://h/x@@y@@z", "default", kDir);
    ASSERT_TRUE(six);
    EXPECT_EQ(six->url, "http://h/x@@y@@z?downloaderclientid=d");
    // "@@@" holds one separator and then a lone "@" that belongs to the next field.
    const auto triple = ParseDownloadEntry("a@@@b@@c@@d@@e", "default", kDir);
    ASSERT_TRUE(triple);
    EXPECT_EQ(triple->targetPath, kDir + "@b");
}

TEST(ParseDownloadEntry, ClientIdQuery) {
    struct Case { const char* entry; const char* defaultId; const char* url; };
    const Case cases[] = {
        {"n@@t@@@@id@@http://h/f", "default", "http://h/f?downloaderclientid=id"},
        {"n@@t@@@@id@@http://h/f?a=1", "default", "http://h/f?a=1&downloaderclientid=id"},
        {"n@@t@@@@id@@http://h/?#x", "default", "http://h/?#x&downloaderclientid=id"},
        {"n@@t@@@@   @@http://h/f", "default", "http://h/f?downloaderclientid=default"},
        {"n@@t@@@@@@http://h/f", "site9", "http://h/f?downloaderclientid=site9"},
        {"n@@t@@@@@@http://h/f", "", "http://h/f?downloaderclientid="},
        {"n@@t@@@@a b&c@@http://h/f", "", "http://h/f?downloaderclientid=a b&c"},  // not encoded
    };
    for (const Case& c : cases) {
        const auto entry = ParseDownloadEntry(c.entry, c.defaultId, kDir);
        ASSERT_TRUE(entry) << c.entry;
        EXPECT_EQ(entry->url, c.url) << c.entry;
    }
}

TEST(ParseDownloadEntry, TargetResolution) {
    struct Case { const char* target; std::string resolved; };
    const Case cases[] = {
        {"D:\\data\\f.bin", "D:\\data\\f.bin"},
        {"f.bin", kDir + "f.bin"},
        {"sub\\f.bin", kDir + "sub\\f.bin"},
        {"\\root\\f.bin", kDir + "\\root\\f.bin"},  // no colon, so still under the directory
        {"x:y", "x:y"},
    };
    for (const Case& c : cases) {
        const auto entry =
            ParseDownloadEntry(std::string("n@@") + c.target + "@@@@@@http://h/", "d", kDir);
        ASSERT_TRUE(entry) << c.target;
        EXPECT_EQ(entry->targetPath, c.resolved);
        EXPECT_EQ(entry->tempPath, c.resolved + ".tempdownloader");
    }
    const auto unnamed = ParseDownloadEntry("@@t@@@@@@http://h/", "d", kDir);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->errorFile, "logs\\curlerrors_.txt");
}

TEST(ParseDownloadEntry, DoubleQuoteInACurlArgumentIsAFormatError) {
    const char* const entries[] = {
        "n\"@@t@@@@@@http://h/",
        "n@@t\"x@@@@@@http://h/",
        "n@@t@@@@id\" -K \"evil@@http://h/",
        "n@@t@@@@@@http://h/\" -o \"C:\\x",
        "n@@t@@@@@@http://h/", /* default id below holds the quote */
    };
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(ParseDownloadEntry(entries[i], "d", kDir)) << entries[i];
    EXPECT_FALSE(ParseDownloadEntry(entries[4], "bad\"id", kDir));
    // The action never reaches curl's command line, so a quote there is fine.
    EXPECT_TRUE(ParseDownloadEntry("n@@t@@\"C:\\a b\\reload.cmd\"@@@@http://h/", "d", kDir));
}

TEST(ComposeCurlParameters, ExactText) {
    const auto entry = ParseDownloadEntry("app@@data\\a.bin@@@@c1@@http://h/a?x=1", "d", kDir);
    ASSERT_TRUE(entry);
    EXPECT_EQ(ComposeCurlParameters(*entry),
              "--stderr \"logs\\curlerrors_app.txt\" -o \"C:\\svc\\data\\a.bin.tempdownloader\" "
              "-f -k \"http://h/a?x=1&downloaderclientid=c1\"");
}

TEST(FormatTimeText, CtimeShapeWithLeadingZeros) {
    std::tm t{};
    t.tm_year = 2020 - 1900; t.tm_mon = 2; t.tm_mday = 5;
    t.tm_hour = 14; t.tm_min = 7; t.tm_sec = 9; t.tm_wday = 4;
    EXPECT_EQ(FormatTimeText(t), "Thu Mar 05 14:07:09 2020\n");
    t.tm_mon = 11; t.tm_mday = 31; t.tm_hour = 0; t.tm_min = 0; t.tm_sec = 0; t.tm_wday = 0;
    EXPECT_EQ(FormatTimeText(t), "Sun Dec 31 00:00:00 2020\n");
}

class RunCurlTest : public ServiceTest {};

TEST_F(RunCurlTest, DeletesStaleFilesLaunchesHiddenAndWaits) {
    const auto entry = ParseDownloadEntry("app@@a.bin@@@@@@http://h/a", "d", exeDirectory());
    ASSERT_TRUE(entry);
    WriteFile(hostPath("logs/curlerrors_app.txt"), "old error");
    WriteFile(hostPath("a.bin.tempdownloader"), "stale");
    bool staleGoneAtLaunch = false;
    platform().onProcess = [&](const fake::Launch&) {
        staleGoneAtLaunch = !PathExists(hostPath("logs/curlerrors_app.txt")) &&
                            !PathExists(hostPath("a.bin.tempdownloader"));
        return true;
    };
    openRunLog();
    RunCurl(*entry, exeDirectory());

    EXPECT_TRUE(staleGoneAtLaunch);
    ASSERT_EQ(platform().launches.size(), 1u);
    const fake::Launch& launch = platform().launches[0];
    EXPECT_EQ(launch.file, "curl.exe");
    EXPECT_EQ(launch.parameters, ComposeCurlParameters(*entry));
    EXPECT_EQ(launch.directory, exeDirectory());
    EXPECT_EQ(launch.show, 0);
    EXPECT_TRUE(launch.waitedFor);
    EXPECT_EQ(platform().openHandles, 0);
    EXPECT_EQ(runLog(), Records({"\r\nRun Schedule Start! Thu Mar 05 14:07:09 2020\n",
                                 "\r\nRun Schedule End! Thu Mar 05 14:07:09 2020\n"}));
}

TEST_F(RunCurlTest, FailedLaunchStillReportsStartAndEnd) {
    const auto entry = ParseDownloadEntry("app@@a.bin@@@@@@http://h/a", "d", exeDirectory());
    platform().onProcess = [](const fake::Launch&) { return false; };
    openRunLog();
    RunCurl(*entry, exeDirectory());
    EXPECT_FALSE(platform().launches.at(0).waitedFor);
    EXPECT_EQ(runLog(), Records({"\r\nRun Schedule Start! Thu Mar 05 14:07:09 2020\n",
                                 "\r\nRun Schedule End! Thu Mar 05 14:07:09 2020\n"}));
}

}  // namespace
