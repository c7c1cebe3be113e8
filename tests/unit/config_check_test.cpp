#include <gtest/gtest.h>

#include <filesystem>

#include "schedule/config_check.h"
#include "test_support.h"

namespace {

using testing_support::ServiceTest;
using testing_support::WriteFile;

class ConfigCheckTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        WriteFile(hostPath("curl.exe"), "stand-in");
    }
    int check(const std::string& config) {
        WriteFile(hostPath("downloader.conf"), config);
        return checkExisting();
    }
    int checkExisting() {
        ::testing::internal::CaptureStdout();
        const int result = CheckConfiguration();
        output = ::testing::internal::GetCapturedStdout();
        return result;
    }
    bool printed(const std::string& text) const { return output.find(text) != std::string::npos; }
    std::string output;
};

TEST_F(ConfigCheckTest, ExplainsEveryLineAndEntryOfAGoodConfiguration) {
    platform().services["spooler"];
    EXPECT_EQ(check("# nightly\n"
                    "\n"
                    "intv = 300\n"
                    "Intv=5\n"
                    "just text\n"
                    "clientid=site7\n"
                    "url=app@@app.bin@@restart:spooler@@@@http://h/app\n"),
              0);
    const char* const expected[] = {
        "  line 1: skipped (comment)\n",
        "  line 2: skipped (empty)\n",
        "  line 3: intv = 300\n",
        "  line 4: skipped (unknown key \"Intv\"; keys are intv, url, clientid)\n",
        "  line 5: skipped (no \"=\")\n",
        "  line 6: clientid = \"site7\"\n",
        "  line 7: url entry\n",
        "Interval: 300 seconds\n",
        "Default client id: \"site7\"\n",
        "  action:      restart the service \"spooler\"\n",
        "  url:         http://h/app?downloaderclientid=site7\n",
        "Result: downloads run every 300 seconds (1 of 1 entries usable).\n",
    };
    for (const char* text : expected) EXPECT_TRUE(printed(text)) << text << "\n--- in ---\n" << output;
    EXPECT_TRUE(printed("  curl.exe     --stderr \"logs\\curlerrors_app.txt\" -o \"" + exeDirectory() +
                        "app.bin.tempdownloader\" -f -k \"http://h/app?downloaderclientid=site7\"\n"));
    EXPECT_FALSE(printed("warning:")) << output;
    EXPECT_TRUE(platform().launches.empty());
    EXPECT_TRUE(platform().removedFiles.empty());
}

TEST_F(ConfigCheckTest, WarningsAndExitCode) {
    struct Case {
        const char* what;
        std::string config;
        const char* removed;  // a file or directory taken away first
        int result;
        std::string warning;
    };
    const std::vector<Case> cases = {
        {"no intv", "url=a@@a.bin@@@@@@http://h/a\n", nullptr, 1, "warning: no \"intv\" line"},
        {"intv below 5", "intv=4\nurl=a@@a.bin@@@@@@http://h/a\n", nullptr, 1,
         "warning: intv is below 5"},
        {"no url", "intv=60\n", nullptr, 1, "warning: no \"url\" line"},
        {"only format errors", "intv=60\nurl=a@@b\n", nullptr, 1,
         "Entry 1: FORMAT ERROR, skipped at every run: only 1 of the four"},
        {"quote", "intv=60\nurl=a@@a.bin@@@@@@http://h/\"x\n", nullptr, 1, "a double quote"},
        {"curl missing", "intv=60\nurl=a@@a.bin@@@@@@http://h/a\n",
         "curl.exe", 1,
         "warning: curl.exe is missing"},
        {"logs missing", "intv=60\nurl=a@@a.bin@@@@@@http://h/a\n",
         "logs", 0,
         "warning: the logs directory is missing"},
        {"target directory missing", "intv=60\nurl=a@@nodir\\a.bin@@@@@@http://h/a\n", nullptr, 0,
         "warning: Entry 1: the target directory"},
        {"shared error file", "intv=60\nurl=a@@a.bin@@@@@@http://h/a\nurl=a@@b.bin@@@@@@http://h/b\n",
         nullptr, 0, "warning: Entry 2 shares the error file logs\\curlerrors_a.txt with entry 1"},
        {"unknown service", "intv=60\nurl=a@@a.bin@@restart:nosuch@@@@http://h/a\n", nullptr, 0,
         "warning: Entry 1: the service control manager knows no service \"nosuch\""},
    };
    for (const Case& c : cases) {
        std::filesystem::create_directories(hostPath("logs"));
        WriteFile(hostPath("curl.exe"), "stand-in");
        if (c.removed != nullptr) std::filesystem::remove_all(hostPath(c.removed));
        EXPECT_EQ(check(c.config), c.result) << c.what << "\n" << output;
        EXPECT_TRUE(printed(c.warning)) << c.what << "\n" << output;
    }
}

TEST_F(ConfigCheckTest, MissingConfigurationNeverRuns) {
    EXPECT_EQ(checkExisting(), 1);
    EXPECT_TRUE(printed("error: the file is missing"));
}

}  // namespace
