#include <gtest/gtest.h>

#include <filesystem>

#include "control/control.h"
#include "test_support.h"

namespace {

using testing_support::ServiceTest;
using testing_support::WriteFile;

class WrapperScriptsTest : public ServiceTest {
protected:
    std::vector<std::string> launchedFiles() const {
        std::vector<std::string> files;
        for (const fake::Launch& launch : fake::Get().launches) files.push_back(launch.file);
        return files;
    }
};

TEST_F(WrapperScriptsTest, NoScriptsLaunchNothing) {
    std::filesystem::create_directories(hostPath("startservicewrapper.cmd"));  // a directory
    EXPECT_FALSE(RunStartWrapper());
    EXPECT_FALSE(RunStopWrapper());
    EXPECT_TRUE(RestartWrapper());
    EXPECT_TRUE(platform().launches.empty());
}

TEST_F(WrapperScriptsTest, ScriptsRunHiddenFromTheExecutablesDirectoryWithoutArguments) {
    WriteFile(hostPath("startservicewrapper.cmd"), "@echo start");
    WriteFile(hostPath("stopservicewrapper.cmd"), "@echo stop");
    EXPECT_TRUE(RunStartWrapper());
    EXPECT_TRUE(RunStopWrapper());
    ASSERT_EQ(launchedFiles(), (std::vector<std::string>{exeDirectory() + "startservicewrapper.cmd",
                                                          exeDirectory() + "stopservicewrapper.cmd"}));
    for (const fake::Launch& launch : platform().launches) {
        EXPECT_FALSE(launch.parameters.has_value());
        EXPECT_EQ(launch.directory, exeDirectory());
        EXPECT_EQ(launch.show, 0);
    }
}

TEST_F(WrapperScriptsTest, RestartRunsStopThenStart) {
    WriteFile(hostPath("stopservicewrapper.cmd"), "@echo stop");
    EXPECT_TRUE(RestartWrapper());
    EXPECT_EQ(launchedFiles(), std::vector<std::string>{exeDirectory() + "stopservicewrapper.cmd"});
    WriteFile(hostPath("startservicewrapper.cmd"), "@echo start");
    platform().launches.clear();
    EXPECT_TRUE(RestartWrapper());
    EXPECT_EQ(launchedFiles(), (std::vector<std::string>{exeDirectory() + "stopservicewrapper.cmd",
                                                          exeDirectory() + "startservicewrapper.cmd"}));
}

}  // namespace
